#include "export/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::readFile;
using support::TempDir;

TEST(OutputFile, LineFeedsBecomeCrLfAndOnlyWholeLinesReachTheDisk) {
  TempDir dir;
  OutputFile file = OutputFile::create(dir / "f", false);
  ASSERT_TRUE(file.isOpen());
  file.write("one\ntwo");
  file.put('\n');
  file.write("thre");
  file.put('e');
  EXPECT_TRUE(file.flush());
  // The unfinished last line stays in memory until it ends or the file is closed.
  EXPECT_EQ(readFile(dir / "f"), "one\r\ntwo\r\n");
  file.endLine();
  file.write("tail");
  EXPECT_TRUE(file.overwriteAt(0, "ONE"));
  EXPECT_TRUE(file.close());
  EXPECT_EQ(readFile(dir / "f"), "ONE\r\ntwo\r\nthree\r\ntail");
}

// The position counts the bytes as the disk gets them, CR LF included, buffered or not; the
// last bytes can be taken back only while none of them has reached the disk.
TEST(OutputFile, PositionCountsDiskBytesAndOnlyBufferedBytesAreTakenBack) {
  TempDir dir;
  OutputFile file = OutputFile::create(dir / "f", false);
  ASSERT_TRUE(file.isOpen());
  file.write("one\ntwo\n");
  EXPECT_EQ(file.position(), 10);
  file.write("three\n");
  EXPECT_TRUE(file.takeBack(7));
  EXPECT_EQ(file.position(), 10);
  file.write("four\n");
  EXPECT_TRUE(file.flush());
  EXPECT_EQ(file.position(), 16);
  EXPECT_FALSE(file.takeBack(1));  // on the disk already
  file.write("five");
  EXPECT_FALSE(file.takeBack(5));  // one of them on the disk
  EXPECT_TRUE(file.takeBack(4));
  EXPECT_EQ(file.position(), 16);
  EXPECT_TRUE(file.close());
  EXPECT_EQ(readFile(dir / "f"), "one\r\ntwo\r\nfour\r\n");
}

TEST(OutputFile, ExclusiveCreateRefusesAnExistingFile) {
  TempDir dir;
  support::writeFile(dir / "f", "old");
  OutputFile file = OutputFile::create(dir / "f", true);
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(file.error(), EEXIST);
  EXPECT_EQ(readFile(dir / "f"), "old");
}

TEST(OutputFile, AFullDiskIsReported) {
  OutputFile file = OutputFile::create("/dev/full", false);
  ASSERT_TRUE(file.isOpen());
  file.write("a line\n");
  EXPECT_FALSE(file.close());
  EXPECT_EQ(file.error(), ENOSPC);
}

TEST(OutputFile, LargeOutputArrivesWhole) {
  TempDir dir;
  OutputFile file = OutputFile::create(dir / "f", false);
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    std::string line = std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), 'x');
    file.write(line);
    file.endLine();
    expected += line + "\r\n";
  }
  ASSERT_TRUE(file.close());
  EXPECT_EQ(readFile(dir / "f"), expected);
}

}  // namespace
}  // namespace rowpress
