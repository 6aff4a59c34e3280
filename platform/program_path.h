// Where the running program lives.
//
// ExeName() is the absolute path of the running executable as the kernel
// knows it (/proc/self/exe), independent of the current directory and of
// argv[0]. ExtractFilePath() keeps everything up to and including the last
// '/', byte for byte; bytes of multi-byte encodings are never separators.
#ifndef HVQ_PLATFORM_PROGRAM_PATH_H_
#define HVQ_PLATFORM_PROGRAM_PATH_H_

#include <string>

#include "platform/status.h"

namespace hvq {

Result<std::string> ExeName();

// "/a/b/c.exe" -> "/a/b/"; "c.exe" -> "".
std::string ExtractFilePath(const std::string& file_name);

}  // namespace hvq

#endif  // HVQ_PLATFORM_PROGRAM_PATH_H_
