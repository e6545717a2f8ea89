#include "recording_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kolmrec {

RecordingFile::~RecordingFile() { close(); }

void RecordingFile::fail(const std::string& what, int code) {
  failed_ = true;
  error_ = what + " " + name_ + ": " + std::generic_category().message(code);
}

bool RecordingFile::open(const std::string& path) {
  path_ = path;
  if (path == "-") {
    file_ = stdout;
    name_ = "standard output";
    return true;
  }
  name_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    fail("cannot create", errno);
    return false;
  }
  owned_ = true;
  return true;
}

bool RecordingFile::write(const std::string& block) {
  if (failed_ || file_ == nullptr) return false;
  errno = 0;
  const std::size_t written = std::fwrite(block.data(), 1, block.size(), file_);
  if (written == block.size() && std::fflush(file_) == 0) {
    committed_ += block.size();
    return true;
  }
  fail("cannot write to", errno != 0 ? errno : EIO);
  if (owned_) {
    // Whatever of the block reached the file goes again; buffered rest is dropped with the stream.
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path_, ignored)) std::filesystem::resize_file(path_, committed_, ignored);
  }
  return false;
}

bool RecordingFile::close() {
  if (file_ == nullptr) return !failed_;
  std::FILE* file = file_;
  file_ = nullptr;
  const bool flushed = std::fflush(file) == 0;
  const int code = errno;
  const bool closed = !owned_ || std::fclose(file) == 0;
  if (!failed_ && !(flushed && closed)) fail("cannot write to", code != 0 ? code : EIO);
  return !failed_;
}

}  // namespace kolmrec
