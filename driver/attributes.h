// The setup library's attribute text, as an installer hands it to ConfigDSN.
//
// The list is a run of entries, each ended by a NUL, the whole ended by an
// empty entry (a second NUL). Within an entry, attributes are `KEY=value`
// pairs separated by ';'. A ';' ends a value only where it introduces
// another `KEY=` (letters, digits, '_' and blanks, then '='), so values may
// themselves hold ';'. Keys are compared without regard to case.
//
// Requests understood:
//   COMPACT_DB=<source> <destination>[ <sort order>][ ENCRYPT]
//   REPAIR_DB=<path>
// Paths are taken byte for byte (any byte but NUL; '\' has no meaning, so
// Big5 trail bytes pass untouched). A path may be enclosed in double quotes.
// An unquoted source may hold blanks and ';': it ends at the blank after
// which the text so far names an existing file; when more than one such
// split exists the request is refused as ambiguous. The destination runs to
// the end of the value, less an optional trailing ENCRYPT and sort order.
// PWD, UID, DataDirectory and MaxScanRows are accepted; other keys (DSN,
// DBQ, Description, ...) are accepted and ignored. CREATE_DB and the other
// creation requests are refused.
#ifndef HVQ_DRIVER_ATTRIBUTES_H_
#define HVQ_DRIVER_ATTRIBUTES_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hvq::driver {

enum class RequestKind {
  kCompact,  // write a compacted copy of `source` to `destination`
  kRepair,   // compact `source` in place
};

struct DriverRequest {
  RequestKind kind = RequestKind::kCompact;
  std::string source;
  std::string destination;  // empty for kRepair
  std::string sort_order;   // as written, e.g. "General"; empty: keep
  bool encrypt = false;
  std::string password;  // PWD; empty when absent
  std::string uid;
  std::string data_directory;
  std::optional<long> max_scan_rows;
};

// Answers whether `path` names an existing regular file.
using FileProbe = std::function<bool(const std::string& path)>;

// The byte length of the attribute list at `list`, including the final
// empty entry's NUL; 0 for a null pointer. Never reads past that NUL.
size_t AttributeListLength(const char* list);

// Parses an attribute list (see above). `list` holds the entries with their
// NULs; a missing final empty entry is tolerated. `is_file` is consulted to
// place the split between source and destination.
Result<DriverRequest> ParseAttributes(std::string_view list,
                                      const FileProbe& is_file);

}  // namespace hvq::driver

#endif  // HVQ_DRIVER_ATTRIBUTES_H_
