// Parsing of the setup library's attribute list; see attributes.h for the
// grammar.
#include "driver/attributes.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace hvq::driver {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsKeyStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsKeyChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool EndsWithWordIgnoreCase(std::string_view text, std::string_view word) {
  if (text.size() <= word.size()) return false;
  std::string_view tail = text.substr(text.size() - word.size());
  return IsBlank(text[text.size() - word.size() - 1]) &&
         EqualsIgnoreCase(tail, word);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The collating orders a compaction request may name.
constexpr std::array<std::string_view, 22> kSortOrders = {
    "General",
    "Traditional Spanish",
    "Dutch",
    "Swedish/Finnish",
    "Norwegian/Danish",
    "Icelandic",
    "Czech",
    "Hungarian",
    "Polish",
    "Russian",
    "Turkish",
    "Arabic",
    "Hebrew",
    "Greek",
    "Thai",
    "Japanese",
    "Chinese Punctuation",
    "Chinese Stroke Count",
    "Korean",
    "Slovenian",
    "Chinese Stroke",
    "Traditional Chinese"};

constexpr std::array<std::string_view, 5> kCreateRequests = {
    "CREATE_DB", "CREATE_V2DB", "CREATE_SYSDB", "CREATE_V2SYSDB",
    "COMPACT_V2DB"};

// Keys that end a path value when they follow a ';'. Other `;x=` text is
// taken as part of the path.
constexpr std::array<std::string_view, 34> kKnownKeys = {"COMPACT_DB",
                                                         "REPAIR_DB",
                                                         "CREATE_DB",
                                                         "CREATE_V2DB",
                                                         "CREATE_SYSDB",
                                                         "CREATE_V2SYSDB",
                                                         "COMPACT_V2DB",
                                                         "PWD",
                                                         "UID",
                                                         "DataDirectory",
                                                         "MaxScanRows",
                                                         "DSN",
                                                         "DBQ",
                                                         "DRIVER",
                                                         "Description",
                                                         "DefaultDir",
                                                         "DriverId",
                                                         "FIL",
                                                         "SystemDB",
                                                         "PageTimeout",
                                                         "Threads",
                                                         "ReadOnly",
                                                         "Exclusive",
                                                         "UserCommitSync",
                                                         "ImplicitCommitSync",
                                                         "MaxBufferSize",
                                                         "SafeTransactions",
                                                         "ExtendedAnsiSQL",
                                                         "Statistics",
                                                         "FileType",
                                                         "JetIniPath",
                                                         "Deleted",
                                                         "DATABASE",
                                                         "COLLATINGSEQUENCE"};

// True when `entry` at `pos` starts another attribute: optional blanks, a
// key, optional blanks, '='. With `known_only` the key must be one of
// kKnownKeys.
bool StartsAttribute(std::string_view entry, size_t pos, bool known_only) {
  while (pos < entry.size() && IsBlank(entry[pos])) ++pos;
  if (pos >= entry.size() || !IsKeyStart(entry[pos])) return false;
  size_t key_start = pos;
  while (pos < entry.size() && IsKeyChar(entry[pos])) ++pos;
  std::string_view key = entry.substr(key_start, pos - key_start);
  while (pos < entry.size() && IsBlank(entry[pos])) ++pos;
  if (pos >= entry.size() || entry[pos] != '=') return false;
  if (!known_only) return true;
  for (std::string_view known : kKnownKeys) {
    if (EqualsIgnoreCase(key, known)) return true;
  }
  return false;
}

// True when nothing but blanks follows `pos`.
bool OnlyBlanksFrom(std::string_view entry, size_t pos) {
  for (; pos < entry.size(); ++pos) {
    if (!IsBlank(entry[pos])) return false;
  }
  return true;
}

// The end of the value that starts at `from`: the first ';' that starts
// another attribute (of a known key, for paths) or is followed by blanks
// only, else the entry's end.
size_t ValueEnd(std::string_view entry, size_t from, bool is_path) {
  for (size_t i = from; i < entry.size(); ++i) {
    if (entry[i] == ';' && (StartsAttribute(entry, i + 1, is_path) ||
                            OnlyBlanksFrom(entry, i + 1))) {
      return i;
    }
  }
  return entry.size();
}

// Reads a double-quoted path at `pos` (which holds '"'); sets `end` past the
// closing quote.
Result<std::string> ReadQuoted(std::string_view entry, size_t pos,
                               size_t* end) {
  size_t close = entry.find('"', pos + 1);
  if (close == std::string_view::npos) {
    return Status::InvalidArgument("unterminated quoted path in \"" +
                                   std::string(entry.substr(pos)) + "\"");
  }
  *end = close + 1;
  return std::string(entry.substr(pos + 1, close - pos - 1));
}

// Splits the destination part "<dst>[ <sort order>][ ENCRYPT]".
Status ParseDestination(std::string_view text, DriverRequest* req) {
  text = TrimBlanks(text);
  size_t quoted_end = 0;
  std::string quoted;
  bool is_quoted = !text.empty() && text.front() == '"';
  if (is_quoted) {
    HVQ_ASSIGN_OR_RETURN(quoted, ReadQuoted(text, 0, &quoted_end));
  }
  // Trailing words are looked for only after a quoted path.
  std::string_view rest = is_quoted ? text.substr(quoted_end) : text;
  if (EndsWithWordIgnoreCase(rest, "ENCRYPT")) {
    req->encrypt = true;
    rest = TrimBlanks(rest.substr(0, rest.size() - 7));
  }
  for (std::string_view order : kSortOrders) {
    if (EndsWithWordIgnoreCase(rest, order) ||
        (is_quoted && EqualsIgnoreCase(TrimBlanks(rest), order))) {
      req->sort_order = std::string(order);
      rest = TrimBlanks(rest.substr(0, rest.size() - order.size()));
      break;
    }
  }
  if (is_quoted) {
    if (!TrimBlanks(rest).empty()) {
      return Status::InvalidArgument(
          "unexpected text after the destination: \"" + std::string(rest) +
          "\"");
    }
    req->destination = quoted;
  } else {
    req->destination = std::string(rest);
  }
  bool only_words =
      req->destination.empty() || EqualsIgnoreCase(req->destination, "ENCRYPT");
  for (std::string_view order : kSortOrders) {
    only_words = only_words || EqualsIgnoreCase(req->destination, order);
  }
  if (req->destination.empty() || (only_words && !is_quoted)) {
    return Status::InvalidArgument("COMPACT_DB names no destination file");
  }
  return Status::Ok();
}

// Parses the value of COMPACT_DB starting at `pos`; returns the position at
// which the value ended.
Result<size_t> ParseCompact(std::string_view entry, size_t pos,
                            const FileProbe& is_file, DriverRequest* req) {
  while (pos < entry.size() && IsBlank(entry[pos])) ++pos;
  size_t dst_start = 0;
  if (pos < entry.size() && entry[pos] == '"') {
    size_t end = 0;
    HVQ_ASSIGN_OR_RETURN(req->source, ReadQuoted(entry, pos, &end));
    dst_start = end;
  } else {
    std::vector<size_t> splits;
    for (size_t i = pos + 1; i < entry.size(); ++i) {
      if (entry[i] == ' ' && is_file(std::string(entry.substr(pos, i - pos)))) {
        splits.push_back(i);
      }
    }
    std::string shown(entry.substr(pos, ValueEnd(entry, pos, true) - pos));
    if (splits.empty() && is_file(shown)) {
      return Status::InvalidArgument("COMPACT_DB names no destination after " +
                                     shown);
    }
    if (splits.empty()) {
      return Status::NotFound(
          "COMPACT_DB: the source database does not exist (no existing "
          "file starts the text \"" +
          shown + "\"; expected: source path, one blank, destination path)");
    }
    if (splits.size() > 1) {
      return Status::InvalidArgument(
          "COMPACT_DB is ambiguous: both \"" +
          std::string(entry.substr(pos, splits[0] - pos)) + "\" and \"" +
          std::string(entry.substr(pos, splits[1] - pos)) +
          "\" are existing files; enclose the paths in double quotes");
    }
    req->source = std::string(entry.substr(pos, splits[0] - pos));
    dst_start = splits[0] + 1;
  }
  size_t end = ValueEnd(entry, dst_start, true);
  HVQ_RETURN_IF_ERROR(
      ParseDestination(entry.substr(dst_start, end - dst_start), req));
  return end;
}

// Parses the value of REPAIR_DB starting at `pos`.
Result<size_t> ParseRepair(std::string_view entry, size_t pos,
                           const FileProbe& is_file, DriverRequest* req) {
  while (pos < entry.size() && IsBlank(entry[pos])) ++pos;
  if (pos < entry.size() && entry[pos] == '"') {
    size_t end = 0;
    HVQ_ASSIGN_OR_RETURN(req->source, ReadQuoted(entry, pos, &end));
    size_t value_end = ValueEnd(entry, end, true);
    if (!TrimBlanks(entry.substr(end, value_end - end)).empty()) {
      return Status::InvalidArgument(
          "unexpected text after the REPAIR_DB path");
    }
    return value_end;
  }
  // The path may hold ';': it ends at a ';' (or the entry's end) before
  // which the text names an existing file.
  std::vector<size_t> ends;
  for (size_t i = pos + 1; i <= entry.size(); ++i) {
    if ((i == entry.size() || entry[i] == ';') &&
        is_file(std::string(entry.substr(pos, i - pos)))) {
      ends.push_back(i);
    }
  }
  if (ends.size() > 1) {
    return Status::InvalidArgument(
        "REPAIR_DB is ambiguous: both \"" +
        std::string(entry.substr(pos, ends[0] - pos)) + "\" and \"" +
        std::string(entry.substr(pos, ends[1] - pos)) +
        "\" are existing files; enclose the path in double quotes");
  }
  size_t end = ends.empty() ? ValueEnd(entry, pos, true) : ends[0];
  req->source = std::string(TrimBlanks(entry.substr(pos, end - pos)));
  if (req->source.empty()) {
    return Status::InvalidArgument("REPAIR_DB names no file");
  }
  return end;
}

struct ParseState {
  DriverRequest req;
  int requests = 0;
};

Status ParseEntry(std::string_view entry, const FileProbe& is_file,
                  ParseState* state) {
  size_t pos = 0;
  while (pos < entry.size()) {
    while (pos < entry.size() && (IsBlank(entry[pos]) || entry[pos] == ';')) {
      ++pos;
    }
    if (pos >= entry.size()) break;
    size_t eq = entry.find('=', pos);
    std::string_view key = TrimBlanks(entry.substr(
        pos, eq == std::string_view::npos ? std::string_view::npos : eq - pos));
    bool key_ok =
        eq != std::string_view::npos && !key.empty() && IsKeyStart(key.front());
    for (char c : key) key_ok = key_ok && IsKeyChar(c);
    if (!key_ok) {
      return Status::InvalidArgument("malformed attribute \"" +
                                     std::string(entry.substr(pos)) +
                                     "\" (expected KEY=value)");
    }
    size_t value_start = eq + 1;
    if (EqualsIgnoreCase(key, "COMPACT_DB") ||
        EqualsIgnoreCase(key, "REPAIR_DB")) {
      if (++state->requests > 1) {
        return Status::InvalidArgument(
            "more than one COMPACT_DB/REPAIR_DB request in one call");
      }
      bool compact = EqualsIgnoreCase(key, "COMPACT_DB");
      state->req.kind = compact ? RequestKind::kCompact : RequestKind::kRepair;
      HVQ_ASSIGN_OR_RETURN(
          pos, compact ? ParseCompact(entry, value_start, is_file, &state->req)
                       : ParseRepair(entry, value_start, is_file, &state->req));
      continue;
    }
    for (std::string_view create : kCreateRequests) {
      if (EqualsIgnoreCase(key, create)) {
        return Status::NotSupported(
            std::string(create) +
            " is not supported: this driver only compacts (COMPACT_DB) and "
            "repairs (REPAIR_DB) existing databases");
      }
    }
    size_t end = ValueEnd(entry, value_start, false);
    std::string value(entry.substr(value_start, end - value_start));
    if (EqualsIgnoreCase(key, "PWD")) {
      state->req.password = value;
    } else if (EqualsIgnoreCase(key, "UID")) {
      state->req.uid = value;
    } else if (EqualsIgnoreCase(key, "DataDirectory")) {
      state->req.data_directory = value;
    } else if (EqualsIgnoreCase(key, "MaxScanRows")) {
      std::string_view digits = TrimBlanks(value);
      errno = 0;
      char* stop = nullptr;
      std::string copy(digits);
      long n = std::strtol(copy.c_str(), &stop, 10);
      if (copy.empty() || *stop != '\0' || errno != 0 || n < 0) {
        return Status::InvalidArgument("MaxScanRows is not a count: \"" +
                                       value + "\"");
      }
      state->req.max_scan_rows = n;
    }
    pos = end;
  }
  return Status::Ok();
}

}  // namespace

size_t AttributeListLength(const char* list) {
  if (list == nullptr) return 0;
  size_t n = 0;
  while (true) {
    if (list[n] == '\0') return n + 1;  // the empty entry ends the list
    while (list[n] != '\0') ++n;
    ++n;  // past the entry's NUL
  }
}

Result<DriverRequest> ParseAttributes(std::string_view list,
                                      const FileProbe& is_file) {
  ParseState state;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t nul = list.find('\0', pos);
    if (nul == std::string_view::npos) nul = list.size();
    if (nul == pos) break;  // the empty entry ends the list
    HVQ_RETURN_IF_ERROR(
        ParseEntry(list.substr(pos, nul - pos), is_file, &state));
    pos = nul + 1;
  }
  if (state.requests == 0) {
    return Status::NotSupported(
        "no COMPACT_DB or REPAIR_DB request: this driver only compacts and "
        "repairs databases, it does not set up data sources");
  }
  return state.req;
}

}  // namespace hvq::driver
