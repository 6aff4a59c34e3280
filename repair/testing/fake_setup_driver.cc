// A stand-in ODBC driver setup library for tests of the installer path.
//
// ConfigDSN records what it receives and answers what the test asks,
// steered by the environment:
//   HVQ_FAKE_RECORD       file receiving the request number, a newline, the
//                         driver name, a newline and the attribute list bytes
//                         up to and including the NUL that ends the list
//   HVQ_FAKE_RESULT       the value to return (decimal; default 0)
//   HVQ_FAKE_OUTPUT_PATH  a file to create before returning, with the
//   HVQ_FAKE_OUTPUT_DATA  given content
#include <odbcinst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" BOOL INSTAPI ConfigDSN(HWND /*parent*/, WORD request, LPCSTR driver,
                                  LPCSTR attributes) {
  try {
    if (const char* record = std::getenv("HVQ_FAKE_RECORD")) {
      std::string bytes =
          std::to_string(request) + "\n" + (driver ? driver : "(null)") + "\n";
      if (attributes) {
        const char* p = attributes;
        while (*p) p += std::strlen(p) + 1;  // walk entries to the empty one
        bytes.append(attributes, static_cast<size_t>(p - attributes) + 1);
      }
      if (FILE* f = std::fopen(record, "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
      }
    }
    if (const char* out = std::getenv("HVQ_FAKE_OUTPUT_PATH")) {
      const char* data = std::getenv("HVQ_FAKE_OUTPUT_DATA");
      if (FILE* f = std::fopen(out, "wb")) {
        if (data) std::fwrite(data, 1, std::strlen(data), f);
        std::fclose(f);
      }
    }
    const char* result = std::getenv("HVQ_FAKE_RESULT");
    return result ? static_cast<BOOL>(std::strtol(result, nullptr, 0)) : 0;
  } catch (...) {
    return 0;
  }
}
