// Test helpers for the reader core: where the corpus is, what MANIFEST.tsv
// says about each file, and small synthetic database images.
#ifndef HVQ_JET_TESTDATA_CORE_CORPUS_H_
#define HVQ_JET_TESTDATA_CORE_CORPUS_H_

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jet/format.h"
#include "jet/header.h"

namespace hvq::jet::testing {

inline std::string CorpusDir() {
  if (const char* env = std::getenv("HVQ_CORPUS_DIR"); env && *env) return env;
#ifdef HVQ_DEFAULT_CORPUS_DIR
  return HVQ_DEFAULT_CORPUS_DIR;
#else
  return "../shared/corpus";
#endif
}

inline bool HaveCorpus() {
  return std::filesystem::exists(CorpusDir() + "/MANIFEST.tsv");
}

struct CorpusFile {
  std::string path;  // relative to CorpusDir()
  std::string full_path;
  JetVersion version = JetVersion::kJet4;
  uint32_t page_size = 0;
  uint32_t pages = 0;
  uint32_t table_count = 0;
  uint64_t total_rows = 0;
  uint32_t free_pages = 0;
  uint32_t deleted_slots = 0;
  bool has_password = false;
  bool encrypted = false;
  std::string password;  // from the notes
  std::string notes;
};

inline std::vector<CorpusFile> CorpusFiles() {
  std::vector<CorpusFile> out;
  std::ifstream in(CorpusDir() + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    if (f.size() < 18) continue;
    CorpusFile c;
    c.path = f[0];
    c.full_path = CorpusDir() + "/" + f[0];
    c.version = f[4] == "Jet3" ? JetVersion::kJet3 : JetVersion::kJet4;
    c.page_size = static_cast<uint32_t>(std::stoul(f[5]));
    c.pages = static_cast<uint32_t>(std::stoul(f[7]));
    c.table_count = static_cast<uint32_t>(std::stoul(f[8]));
    c.total_rows = std::stoull(f[9]);
    c.free_pages = static_cast<uint32_t>(std::stoul(f[10]));
    c.deleted_slots = static_cast<uint32_t>(std::stoul(f[11]));
    c.has_password = f[14] == "yes";
    c.encrypted = f[15] == "yes";
    c.notes = f[17];
    const std::string key = "password set ('";
    if (auto pos = c.notes.find(key); pos != std::string::npos) {
      auto end = c.notes.find("')", pos + key.size());
      c.password = c.notes.substr(pos + key.size(), end - pos - key.size());
    }
    out.push_back(std::move(c));
  }
  return out;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return bytes;
}

// A page 0 of `version` with a valid masked region (database key 0, no
// password) and nothing else.
inline std::vector<uint8_t> MakeHeaderPage(JetVersion version) {
  const Format& f = FormatFor(version);
  std::vector<uint8_t> page(f.page_size, 0);
  page[kHeaderVersionOffset] = static_cast<uint8_t>(version);
  Header h;
  h.format = &f;
  h.version_byte = static_cast<uint8_t>(version);
  h.code_page = 1252;
  h.sort_order = 0x409;
  // The stored region starts as zeros; encoding masks every field we own.
  ToggleHeaderMask(f, page);
  EncodeHeader(h, page);
  return page;
}

// An image of `pages` pages: a valid header page, the rest zero.
inline std::vector<uint8_t> MakeImage(JetVersion version, uint32_t pages) {
  std::vector<uint8_t> image = MakeHeaderPage(version);
  image.resize(size_t{pages} * FormatFor(version).page_size, 0);
  return image;
}

}  // namespace hvq::jet::testing

#endif  // HVQ_JET_TESTDATA_CORE_CORPUS_H_
