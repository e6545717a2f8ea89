// Creating the recording file on POSIX systems: never through a symbolic link, never waiting on a FIFO.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "text_file.h"

namespace kolmconsole {

std::FILE* create_text_file(const char* name) {
  // O_NONBLOCK only for the open: a FIFO under the name, with no reader, fails (ENXIO) instead of
  // holding the console for ever.
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = nullptr;
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) file = ::fdopen(fd, "w");
  if (file == nullptr) {
    const int saved_errno = errno;
    ::close(fd);
    errno = saved_errno;
  }
  return file;
}

}  // namespace kolmconsole
