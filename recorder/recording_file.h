// Where the rows go: a file (or standard output) that only ever holds whole blocks. A block that cannot be
// written whole is taken back out of a regular file, so that a full disk leaves the rows before it intact.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kolmrec {

class RecordingFile {
 public:
  enum class Written { whole, failed, interrupted };

  RecordingFile() = default;
  ~RecordingFile();
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // "-" is standard output. False with error() set.
  bool open(const std::string& path);
  // Writes the block. A write that a signal interrupts goes on unless `give_up` says otherwise; then the
  // block is taken back where the file allows and the result is `interrupted` (a reader that takes no more
  // must not keep a stop waiting). `failed` sets error(); the file then ends with the previous block and
  // takes no more.
  Written write(const std::string& block, const std::function<bool()>& give_up = {});
  // Closes; false with error() set when a write had failed or the file could not be closed.
  bool close();

  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }  // for messages

 private:
  void fail(const std::string& what, int code);
  void take_back_partial_block();

  int fd_ = -1;
  bool owned_ = false;      // standard output is not closed
  bool seekable_ = false;   // a regular file, whose end can be cut back
  std::int64_t start_ = 0;  // where our data began: standard output may be a file appended to
  bool failed_ = false;
  std::string name_, error_;
  std::int64_t committed_ = 0;  // bytes of whole blocks written
};

}  // namespace kolmrec
