// Test helpers for the index code: finding the shared corpus of real
// databases and reading raw pages of unencrypted files.
//
// The corpus folder is $HVQ_CORPUS_DIR when set, else the compile-time
// HVQ_DEFAULT_CORPUS_DIR (../shared/corpus from the repository root).
// Files are only read, never written.
#ifndef HVQ_JET_TESTDATA_INDEX_CORPUS_H_
#define HVQ_JET_TESTDATA_INDEX_CORPUS_H_

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jet/byte_order.h"
#include "jet/page_file.h"
#include "jet/table_def.h"
#include "jet/testdata/core_corpus.h"

namespace hvq::jet::testdata {

inline std::filesystem::path CorpusDir() { return jet::testing::CorpusDir(); }

inline bool HaveCorpus() { return jet::testing::HaveCorpus(); }

// One MANIFEST.tsv row: column name -> value.
using ManifestRow = std::map<std::string, std::string>;

inline std::vector<ManifestRow> ReadManifest() {
  std::vector<ManifestRow> rows;
  std::ifstream in(CorpusDir() / "MANIFEST.tsv");
  std::string line;
  std::vector<std::string> names;
  auto split = [](const std::string& s) {
    std::vector<std::string> out;
    std::string cell;
    std::istringstream ss(s);
    while (std::getline(ss, cell, '\t')) out.push_back(cell);
    return out;
  };
  if (!std::getline(in, line)) return rows;
  names = split(line);
  while (std::getline(in, line)) {
    auto cells = split(line);
    ManifestRow row;
    for (size_t i = 0; i < names.size() && i < cells.size(); ++i) {
      row[names[i]] = cells[i];
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

inline std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                              std::istreambuf_iterator<char>());
}

// First pages of every table definition in `file`: pages of type 0x02 that
// no other definition page names as its continuation.
inline std::vector<uint32_t> TableDefPages(PageFile& file) {
  std::vector<uint32_t> tdefs;
  std::set<uint32_t> continuations;
  std::vector<uint8_t> page(file.page_size());
  for (uint32_t p = 1; p < file.page_count(); ++p) {
    if (!file.ReadPage(p, page).ok()) continue;
    if (page[0] != static_cast<uint8_t>(PageType::kTableDef)) continue;
    tdefs.push_back(p);
    const uint32_t next = LoadU32Le(&page[file.format().tdef_next_page_offset]);
    if (next) continuations.insert(next);
  }
  std::vector<uint32_t> firsts;
  for (uint32_t p : tdefs) {
    if (!continuations.count(p)) firsts.push_back(p);
  }
  return firsts;
}

// The database password MANIFEST notes give for a file ("" when none).
inline std::string CorpusPassword(const ManifestRow& row) {
  auto it = row.find("notes");
  if (it == row.end()) return "";
  const std::string marker = "password set ('";
  size_t p = it->second.find(marker);
  if (p == std::string::npos) return "";
  p += marker.size();
  size_t end = it->second.find('\'', p);
  return end == std::string::npos ? "" : it->second.substr(p, end - p);
}

// Corpus files in MANIFEST order, with their MANIFEST rows.
struct CorpusFile {
  std::string path;  // relative to CorpusDir()
  ManifestRow row;
};
inline std::vector<CorpusFile> CorpusFiles() {
  std::vector<CorpusFile> out;
  for (auto& row : ReadManifest()) out.push_back({row["path"], row});
  return out;
}

}  // namespace hvq::jet::testdata

#endif  // HVQ_JET_TESTDATA_INDEX_CORPUS_H_
