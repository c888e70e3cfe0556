// Reading a zip archive back through a descriptor: every entry whole, a damaged entry or
// directory named, and never the file's name.
#include "export/zip_read_back.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::readFile;
using support::TempDir;
using support::writeFile;
using ::testing::HasSubstr;

// The entries and their content as the read-back handed them on.
class Collected : public ZipContentVisitor {
 public:
  void entry(std::string_view name) override { current_ = &entries[std::string(name)]; }
  void content(std::string_view piece) override { current_->append(piece); }
  std::map<std::string, std::string> entries;

 private:
  std::string* current_ = nullptr;
};

// An archive of `entries`, stored (not compressed) or deflated.
void writeArchive(const std::string& path, const std::map<std::string, std::string>& entries,
                  bool stored) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
  ASSERT_NE(archive, nullptr) << code;
  for (const auto& [name, content] : entries) {
    zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
    ASSERT_NE(source, nullptr);
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                       stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0),
              0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

class ZipReadBackTest : public ::testing::Test {
 protected:
  // Reads the archive at `path_` back through a descriptor of its own.
  std::string readBack(Collected& collected) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    std::string why = readBackZip(fd, collected);
    // The caller's descriptor stays open.
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
    ::close(fd);
    return why;
  }

  TempDir temp_;
  std::string path_ = temp_ / "book.zip";
  // Larger than one piece of the read-back, so that an entry comes in several.
  const std::map<std::string, std::string> entries_ = {
      {"[Content_Types].xml", "<Types/>"},
      {"xl/worksheets/sheet1.xml", std::string(700000, 'r') + "</worksheet>"}};
};

TEST_F(ZipReadBackTest, EveryEntryIsHandedOnWhole) {
  for (bool stored : {true, false}) {
    SCOPED_TRACE(stored ? "stored" : "deflated");
    std::filesystem::remove(path_);
    ASSERT_NO_FATAL_FAILURE(writeArchive(path_, entries_, stored));
    Collected collected;
    EXPECT_EQ(readBack(collected), "");
    EXPECT_EQ(collected.entries, entries_);
  }
}

// One byte changed inside an entry: its CRC no longer matches, and the read-back names it.
TEST_F(ZipReadBackTest, AChangedByteInAnEntryIsACrcErrorThatNamesTheEntry) {
  ASSERT_NO_FATAL_FAILURE(writeArchive(path_, entries_, true));
  std::string bytes = readFile(path_);
  const std::size_t at = bytes.find("rrrrrrrr");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 1000] = 's';
  writeFile(path_, bytes);
  Collected collected;
  EXPECT_EQ(readBack(collected), "CRC error in xl/worksheets/sheet1.xml");
}

// A file cut short, as a disk that filled while the archive was written leaves it: no
// directory at its end.
TEST_F(ZipReadBackTest, AnArchiveCutShortIsNoWholeArchive) {
  ASSERT_NO_FATAL_FAILURE(writeArchive(path_, entries_, false));
  const std::string bytes = readFile(path_);
  for (std::size_t cut : {std::size_t{10}, bytes.size() / 2, bytes.size()}) {
    SCOPED_TRACE(cut);
    writeFile(path_, bytes.substr(0, bytes.size() - cut));
    Collected collected;
    EXPECT_THAT(readBack(collected), HasSubstr("not a whole zip archive ("));
  }
}

// The archive is read through the descriptor: what the name holds by then does not count.
TEST_F(ZipReadBackTest, TheArchiveIsReadThroughTheDescriptorNotItsName) {
  ASSERT_NO_FATAL_FAILURE(writeArchive(path_, entries_, false));
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::filesystem::remove(path_);
  writeFile(path_, "not an archive");
  Collected collected;
  EXPECT_EQ(readBackZip(fd, collected), "");
  ::close(fd);
  EXPECT_EQ(collected.entries, entries_);
}

}  // namespace
}  // namespace rowpress
