#include "recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <io.h>
namespace {
int open_for_writing(const char* path) { return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0644); }
long long write_some(int fd, const char* data, std::size_t size) {
  return _write(fd, data, static_cast<unsigned>(size > 1u << 30 ? 1u << 30 : size));
}
bool regular_file(int fd) {
  struct _stat64 st {};
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFREG) != 0;
}
long long position(int fd) { return _lseeki64(fd, 0, SEEK_CUR); }
int cut_at(int fd, long long size) { return _chsize_s(fd, size); }
int close_file(int fd) { return _close(fd); }
constexpr int standard_output = 1;
}  // namespace
#else
#include <unistd.h>
namespace {
int open_for_writing(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }
long long write_some(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
bool regular_file(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
long long position(int fd) { return ::lseek(fd, 0, SEEK_CUR); }
int cut_at(int fd, long long size) { return ::ftruncate(fd, size); }
int close_file(int fd) { return ::close(fd); }
constexpr int standard_output = STDOUT_FILENO;
}  // namespace
#endif

namespace kolmrec {

RecordingFile::~RecordingFile() { close(); }

void RecordingFile::fail(const std::string& what, int code) {
  failed_ = true;
  error_ = what + " " + name_ + ": " + std::generic_category().message(code);
}

bool RecordingFile::open(const std::string& path) {
  if (path == "-") {
    fd_ = standard_output;
    name_ = "standard output";
  } else {
    name_ = path;
    fd_ = open_for_writing(path.c_str());
    if (fd_ < 0) {
      fail("cannot create", errno);
      return false;
    }
    owned_ = true;
  }
  seekable_ = regular_file(fd_);
  if (seekable_) start_ = position(fd_);
  if (start_ < 0) seekable_ = false;
  return true;
}

void RecordingFile::take_back_partial_block() {
  if (seekable_) (void)cut_at(fd_, start_ + committed_);
}

RecordingFile::Written RecordingFile::write(const std::string& block, const std::function<bool()>& give_up) {
  if (failed_ || fd_ < 0) return Written::failed;
  std::size_t done = 0;
  while (done < block.size()) {
    const long long n = write_some(fd_, block.data() + done, block.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    const int code = n < 0 ? errno : EIO;
    if (code == EINTR) {
      if (!give_up || !give_up()) continue;
      take_back_partial_block();
      failed_ = true;  // what the reader got of the block may have been cut: nothing more follows it
      return Written::interrupted;
    }
    fail("cannot write to", code);
    take_back_partial_block();
    return Written::failed;
  }
  committed_ += static_cast<std::int64_t>(block.size());
  return Written::whole;
}

bool RecordingFile::close() {
  if (fd_ < 0) return error_.empty();
  const int fd = fd_;
  fd_ = -1;
  if (owned_ && close_file(fd) != 0 && error_.empty()) fail("cannot write to", errno);
  return error_.empty();
}

}  // namespace kolmrec
