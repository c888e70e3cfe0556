#include "export/zip_read_back.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace rowpress {

namespace {

constexpr std::size_t kPiece = 256 * 1024;

std::string zipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// Read-only: the archive is given up, never written.
struct Archive {
  zip_t* zip = nullptr;
  ~Archive() {
    if (zip) zip_discard(zip);
  }
};

struct Entry {
  zip_file_t* file = nullptr;
  ~Entry() {
    if (file) zip_fclose(file);
  }
};

}  // namespace

std::string readBackZip(int fd, ZipContentVisitor& visitor) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return std::strerror(errno);
  int code = ZIP_ER_OK;
  Archive archive{zip_fdopen(copy, ZIP_CHECKCONS, &code)};
  if (!archive.zip) {
    ::close(copy);  // libzip owns the descriptor only once the archive is open
    return "not a whole zip archive (" + zipErrorText(code) + ")";
  }
  const zip_int64_t count = zip_get_num_entries(archive.zip, 0);
  if (count <= 0) return "the zip archive holds no entries";
  std::vector<char> buffer(kPiece);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.zip, index, ZIP_FL_ENC_RAW, &stat) != 0 ||
        (stat.valid & (ZIP_STAT_NAME | ZIP_STAT_SIZE)) != (ZIP_STAT_NAME | ZIP_STAT_SIZE)) {
      return "entry " + std::to_string(i + 1) + " of the zip archive: " + zip_strerror(archive.zip);
    }
    const std::string name = stat.name;
    Entry entry{zip_fopen_index(archive.zip, index, 0)};
    if (!entry.file) return std::string(zip_strerror(archive.zip)) + " in " + name;
    visitor.entry(name);
    zip_uint64_t total = 0;
    for (;;) {
      const zip_int64_t got = zip_fread(entry.file, buffer.data(), buffer.size());
      // At its end libzip compares the entry's CRC and size with the directory's.
      if (got < 0) return std::string(zip_file_strerror(entry.file)) + " in " + name;
      if (got == 0) break;
      total += static_cast<zip_uint64_t>(got);
      visitor.content(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    if (total != stat.size) return "size error in " + name;
  }
  return std::string();
}

}  // namespace rowpress
