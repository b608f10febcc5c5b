#pragma once
// A fresh directory for one test, removed with everything in it when the test ends.
#include <filesystem>
#include <string>

namespace qm::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of a file in the directory, as text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // Writes bytes to a file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  // Reads a whole file as bytes.
  static std::string Read(const std::string& path);

 private:
  std::filesystem::path path_;
};

}  // namespace qm::test
