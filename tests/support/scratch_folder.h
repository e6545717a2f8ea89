// A folder of one test's own under /tmp, removed with everything in it when the test is done.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace testing_support {

class ScratchFolder {
 public:
  // `prefix` names the folder, as in /tmp/<prefix>.XXXXXX.
  explicit ScratchFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    path_ = std::filesystem::canonical(::mkdtemp(pattern.data()));
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string at(const std::string& relative) const { return (path_ / relative).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
