#include "files/pause_point.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace rowpress {

#ifndef ROWPRESS_PAUSE_POINTS

void pausePoint(std::string_view) {}

#else

void pausePoint(std::string_view point) {
  const char* asked = std::getenv("ROWPRESS_TEST_PAUSE");
  if (asked == nullptr) return;
  const std::string_view value(asked);
  const auto equals = value.find('=');
  if (equals == std::string_view::npos || value.substr(0, equals) != point) return;
  const std::string fifo(value.substr(equals + 1));
  // The open waits for the test's end of the FIFO; the reads wait until the test closes it.
  int fd;
  while ((fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  if (fd < 0) return;
  char ignored[64];
  for (;;) {
    const ssize_t n = ::read(fd, ignored, sizeof ignored);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  ::close(fd);
}

#endif

}  // namespace rowpress
