// Where the rows go: a file (or standard output) that only ever holds whole blocks. A block that cannot be
// written whole is taken back out of a regular file, so that a full disk leaves the rows before it intact.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kolmrec {

class RecordingFile {
 public:
  RecordingFile() = default;
  ~RecordingFile();
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // "-" is standard output. False with error() set.
  bool open(const std::string& path);
  // Writes the block and flushes it to the system. False with error() set; the file then ends with the
  // previous block and takes no more.
  bool write(const std::string& block);
  // Closes; false with error() set when the last data could not be written.
  bool close();

  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }  // for messages

 private:
  void fail(const std::string& what, int code);

  std::FILE* file_ = nullptr;
  bool owned_ = false;  // standard output is not closed
  bool failed_ = false;
  std::string path_, name_, error_;
  std::uint64_t committed_ = 0;  // bytes of whole blocks in the file
};

}  // namespace kolmrec
