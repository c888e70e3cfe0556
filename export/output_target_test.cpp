// The output file of a run: written beside its target, which it replaces only when the run
// keeps it. (The replacement itself, what the replaced file passes on and the targets
// refused: files/atomic_file_test.cpp.)
#include "export/output_target.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files.h"

namespace rowpress {
namespace {

using support::listDirectory;
using support::readFile;
using support::TempDir;
using support::writeFile;
using ::testing::ElementsAre;

TEST(OutputTarget, WritesBesideTheTargetAndReplacesItOnlyWhenKept) {
  TempDir dir;
  const std::string target = dir / "report.csv";
  writeFile(target, "old");
  {
    OutputTarget out;
    ASSERT_TRUE(out.open(target));
    EXPECT_THAT(
        out.temporaryPath(),
        ::testing::MatchesRegex(dir.path() + "/\\.report\\.csv\\.rowpress-[0-9A-Za-z]{12}\\.part"));
    // The run holds the lock on its temporary file for as long as it writes it.
    EXPECT_FALSE(support::lockCanBeTaken(out.temporaryPath()));
    out.file().write("new\n");
    out.discard();
  }
  EXPECT_EQ(readFile(target), "old");
  EXPECT_THAT(listDirectory(dir.path()), ElementsAre("report.csv"));
  {
    OutputTarget out;
    ASSERT_TRUE(out.open(target));
    out.file().write("new\n");
  }  // dropped without keep(): as if the run failed
  EXPECT_EQ(readFile(target), "old");
  OutputTarget out;
  ASSERT_TRUE(out.open(target));
  out.file().write("new\n");
  ASSERT_TRUE(out.keep());
  EXPECT_EQ(readFile(target), "new\r\n");
  EXPECT_THAT(listDirectory(dir.path()), ElementsAre("report.csv"));
}

}  // namespace
}  // namespace rowpress
