// A failing disk for the tests, loaded into the executable with LD_PRELOAD (built only with
// the tests): the calls that write or sync a file whose path holds ROWPRESS_TEST_FAULT_FILE
// fail as a disk that reports an error would make them fail. ROWPRESS_TEST_FAULT says how,
// as "ERROR:CALL" with ERROR one of EIO, ENOSPC, EDQUOT and CALL one of
//   write   write() and pwrite(), once the file has taken 256 KiB through them;
//   fflush  fflush() of a stream of such a file (the library's files are written through
//           streams, whose own writes this shim does not see);
//   fsync   fsync() and fdatasync().
// A file is matched by the path of its descriptor, so a file without a name any more (the
// workbook library's temporary files) still counts.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace {

constexpr off_t kWriteFaultAfter = 256 * 1024;

struct Fault {
  bool loaded = false;
  int error = 0;
  char call[16] = {0};
  const char* file = nullptr;
};

const Fault& fault() {
  static Fault f;
  if (f.loaded) return f;
  f.loaded = true;
  const char* setting = ::getenv("ROWPRESS_TEST_FAULT");
  f.file = ::getenv("ROWPRESS_TEST_FAULT_FILE");
  if (setting == nullptr || f.file == nullptr || *f.file == '\0') return f;
  const char* colon = ::strchr(setting, ':');
  if (colon == nullptr || ::strlen(colon + 1) >= sizeof f.call) return f;
  const std::size_t nameLength = static_cast<std::size_t>(colon - setting);
  struct Name {
    const char* name;
    int error;
  };
  for (Name n : {Name{"EIO", EIO}, Name{"ENOSPC", ENOSPC}, Name{"EDQUOT", EDQUOT}}) {
    if (::strlen(n.name) == nameLength && ::strncmp(setting, n.name, nameLength) == 0) {
      f.error = n.error;
    }
  }
  ::strcpy(f.call, colon + 1);
  return f;
}

// Whether `call` on `fd` is to fail.
bool failing(const char* call, int fd) {
  const Fault& f = fault();
  if (f.error == 0 || ::strcmp(f.call, call) != 0 || fd < 0) return false;
  char link[64];
  ::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t n = ::readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return ::strstr(path, f.file) != nullptr;
}

template <class Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
  static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (failing("write", fd) && ::lseek(fd, 0, SEEK_CUR) >= kWriteFaultAfter) {
    errno = fault().error;
    return -1;
  }
  return real(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  static auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (failing("write", fd)) {
    errno = fault().error;
    return -1;
  }
  return real(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
  return pwrite(fd, buffer, count, offset);
}

int fflush(FILE* stream) {
  static auto real = next<int (*)(FILE*)>("fflush");
  if (stream != nullptr && failing("fflush", ::fileno(stream))) {
    errno = fault().error;
    return EOF;
  }
  return real(stream);
}

int fsync(int fd) {
  static auto real = next<int (*)(int)>("fsync");
  if (failing("fsync", fd)) {
    errno = fault().error;
    return -1;
  }
  return real(fd);
}

int fdatasync(int fd) {
  static auto real = next<int (*)(int)>("fdatasync");
  if (failing("fsync", fd)) {
    errno = fault().error;
    return -1;
  }
  return real(fd);
}

}  // extern "C"
