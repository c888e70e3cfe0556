#include "export/pause_point.h"

#ifdef ROWPRESS_PAUSE_POINTS
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#endif

namespace rowpress {

#ifdef ROWPRESS_PAUSE_POINTS

void pausePoint(const char* name) {
  const char* fifo = ::getenv("ROWPRESS_TEST_PAUSE");
  struct stat st;
  if (fifo == nullptr || ::stat(fifo, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  // Says where it stands...
  const std::string line = std::string(name) + "\n";
  int fd = ::open(fifo, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  // ...and goes on when the test closes its end.
  fd = ::open(fifo, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char byte;
  for (;;) {
    const ssize_t n = ::read(fd, &byte, 1);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    break;
  }
  ::close(fd);
}

#else

void pausePoint(const char*) {}

#endif

}  // namespace rowpress
