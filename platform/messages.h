// The message layer: how the program tells the user something.
//
// Texts arrive as code page 950 (Big5) bytes, the program's own encoding;
// sinks convert them for display. Every message carries the application
// title as its caption.
#ifndef HVQ_PLATFORM_MESSAGES_H_
#define HVQ_PLATFORM_MESSAGES_H_

#include <string>
#include <string_view>

#include "platform/status.h"

namespace hvq {

inline constexpr char kApplicationTitle[] = "HVQ_Repair";

// Converts code page 950 bytes to UTF-8. Fails on bytes that are not valid
// code page 950.
Result<std::string> Cp950ToUtf8(std::string_view cp950);
Result<std::string> Utf8ToCp950(std::string_view utf8);

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows `cp950_text` to the user and returns when the user has seen it.
  virtual void ShowMessage(std::string_view cp950_text) = 0;
};

// Prints "HVQ_Repair: <text>" in UTF-8 on standard output; used where no
// window exists.
MessageSink& ConsoleMessageSink();

}  // namespace hvq

#endif  // HVQ_PLATFORM_MESSAGES_H_
