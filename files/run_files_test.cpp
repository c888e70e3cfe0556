#include "files/run_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/test_files.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::readFile;
using support::writeFile;

TEST(RunFiles, RemovesTheFilesOfARunThatCannotAndNothingElse) {
  support::TempDir dir;
  RunFiles& files = RunFiles::instance();
  EXPECT_TRUE(files.empty());
  const std::string file = dir / ".report.csv.part";
  writeFile(file, "half");
  files.addTemporary(file);
  EXPECT_FALSE(files.empty());
  files.removeTemporary(file);
  EXPECT_TRUE(files.empty());
  EXPECT_TRUE(fileExists(file));  // the run's own business
  // A run stuck in the driver: its files are removed for it, through the run's descriptor of
  // their directory, which the run may close in the meantime.
  const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  files.addTemporary(file, directory);
  ::close(directory);
  files.removeAll();
  EXPECT_FALSE(fileExists(file));
  EXPECT_TRUE(files.empty());
  files.removeTemporary(file);  // the run's later release changes nothing
  EXPECT_TRUE(files.empty());

  // A reserved name goes only while it is the empty file that was reserved: a kept output
  // that has taken the name since stays.
  const std::string given = dir / "row0001.csv";
  const std::string taken = dir / "row0002.csv";
  for (const std::string& name : {given, taken}) {
    writeFile(name, "");
    struct stat st;
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    files.addReservation(name, st.st_dev, st.st_ino);
  }
  writeFile(dir / "kept", "the kept output\r\n");
  std::filesystem::rename(dir / "kept", taken);
  files.removeAll();
  EXPECT_FALSE(fileExists(given));
  EXPECT_EQ(readFile(taken), "the kept output\r\n");
  EXPECT_TRUE(files.empty());

  // The list has room for a fixed number of files; one more is refused before it exists.
  for (int i = 0; i < RunFiles::kCapacity; ++i) files.addTemporary(dir / std::to_string(i));
  EXPECT_THROW(files.addTemporary(file), std::system_error);
  EXPECT_THROW(files.addTemporary(std::string(PATH_MAX, 'x')), std::system_error);
  for (int i = 0; i < RunFiles::kCapacity; ++i) files.removeTemporary(dir / std::to_string(i));
  EXPECT_TRUE(files.empty());
}

}  // namespace
}  // namespace rowpress
