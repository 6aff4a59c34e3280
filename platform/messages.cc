#include "platform/messages.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace hvq {
namespace {

Result<std::string> Convert(const char* to, const char* from,
                            std::string_view in) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return Status::FromErrno(std::string("iconv_open ") + from + " -> " + to,
                             errno);
  }
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  size_t rc = ::iconv(cd, &src, &src_left, &dst, &dst_left);
  int err = errno;
  ::iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) {
    return Status::InvalidArgument(std::string("text is not valid ") + from +
                                   " (byte " +
                                   std::to_string(in.size() - src_left) +
                                   ", errno " + std::to_string(err) + ")");
  }
  out.resize(out.size() - dst_left);
  return out;
}

class ConsoleSink final : public MessageSink {
 public:
  void ShowMessage(std::string_view cp950_text) override {
    auto text = Cp950ToUtf8(cp950_text);
    std::printf("%s: %s\n", kApplicationTitle,
                text.ok() ? text->c_str() : "(undisplayable message)");
    std::fflush(stdout);
  }
};

}  // namespace

Result<std::string> Cp950ToUtf8(std::string_view cp950) {
  return Convert("UTF-8", "CP950", cp950);
}

Result<std::string> Utf8ToCp950(std::string_view utf8) {
  return Convert("CP950", "UTF-8", utf8);
}

MessageSink& ConsoleMessageSink() {
  static ConsoleSink sink;
  return sink;
}

}  // namespace hvq
