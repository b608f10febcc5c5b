#pragma once
// A tmpfs of its own below a test's folder, for a disk that fills up or turns read-only.
// Mounting needs the right to; a test that cannot have it says so and skips.
#include <sys/mount.h>

#include <filesystem>
#include <string>

namespace qm::test {

class ScratchMount {
 public:
  ScratchMount(const std::string& dir, const char* size) : dir_(dir) {
    std::filesystem::create_directory(dir_);
    mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, size) == 0;
  }
  ~ScratchMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool Mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

}  // namespace qm::test
