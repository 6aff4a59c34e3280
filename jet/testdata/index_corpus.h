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
#include <sstream>
#include <string>
#include <vector>

namespace hvq::jet::testdata {

inline std::filesystem::path CorpusDir() {
  if (const char* env = std::getenv("HVQ_CORPUS_DIR"); env && *env) {
    return env;
  }
#ifdef HVQ_DEFAULT_CORPUS_DIR
  return HVQ_DEFAULT_CORPUS_DIR;
#else
  return "../shared/corpus";
#endif
}

inline bool HaveCorpus() {
  return std::filesystem::exists(CorpusDir() / "MANIFEST.tsv");
}

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

}  // namespace hvq::jet::testdata

#endif  // HVQ_JET_TESTDATA_INDEX_CORPUS_H_
