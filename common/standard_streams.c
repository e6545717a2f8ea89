/* See standard_streams.h. */
#include "standard_streams.h"

#ifdef _WIN32

int reopen_closed_standard_streams(void) { return 0; }

#else

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

int reopen_closed_standard_streams(void) {
  int closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed |= 1 << fd;
    /* The lower ones are open by now, so the lowest free number is this one. */
    const int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
  return closed;
}

#endif
