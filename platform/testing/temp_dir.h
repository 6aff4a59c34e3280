// Test helpers: a temporary folder removed with its contents on
// destruction, and whole-file read/write.
#ifndef HVQ_PLATFORM_TESTING_TEMP_DIR_H_
#define HVQ_PLATFORM_TESTING_TEMP_DIR_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

namespace hvq::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "hvq-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern + "/";
  }
  ~TempDir() {
    std::error_code ec;
    // Folders made read-only by a test must be writable again to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); ++it) {
      if (it->is_directory()) {
        std::filesystem::permissions(it->path(),
                                     std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Ends with '/'.
  const std::string& path() const { return path_; }

  // Creates a subfolder named by raw bytes; returns its path ending in '/'.
  std::string MakeSubdir(const std::string& name) const {
    std::filesystem::create_directories(path_ + name);
    return path_ + name + "/";
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

inline std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::path(path));
}

}  // namespace hvq::testing

#endif  // HVQ_PLATFORM_TESTING_TEMP_DIR_H_
