// A run killed in the middle of an export (SIGKILL: no handler runs, nothing is cleaned
// up) never touches the file that already had the target's name. What it leaves is its
// temporary file, under a name that tells what it is, and the next run for the same target
// removes it, while temporary files of live processes and of other targets stay.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/faults/rowpress_process.h"
#include "tests/odbc_fixture.h"

namespace rowpress {
namespace {

using testing::listDirectory;
using testing::readFile;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using testing::writeFile;

class InterruptedRunTest : public testing::OdbcTest {};

TEST_F(InterruptedRunTest, AKilledRunLeavesTheOldFileAndANamedLeftoverThatTheNextRunRemoves) {
  const std::string dir = temp_ / "reports";
  std::filesystem::create_directories(dir);
  const std::string target = dir + "/big.csv";
  writeFile(target, "yesterday's report\r\n");
  const std::string job = temp_ / "job.DIRU";
  // Far more rows than can be written before the kill.
  writeFile(job, testing::jobFileText(
                     "rowtest",
                     "with recursive c(x) as (select 1 union all select x + 1 from c where x < "
                     "100000000) select x, 'some text to make the lines longer ' || x as label "
                     "from c",
                     {"CSV=\"1\";"}));

  testing::RowpressProcess child(temp_.path());
  ASSERT_TRUE(child.start({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target}));
  const pid_t pid = child.pid();
  const std::string leftover = dir + "/.big.csv.rowpress-" + std::to_string(pid) + ".part";

  // Kill it once its temporary file has grown past its first few flushes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  long long seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    seen = testing::fileSize(leftover).value_or(0);
    if (seen >= 1024 * 1024) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(seen, 1024 * 1024) << "the temporary file " << leftover << " did not grow";
  child.kill(SIGKILL);
  testing::ChildResult killed = child.wait();
  ASSERT_EQ(killed.signal, SIGKILL) << "the run ended before the kill: " << killed.err;

  EXPECT_EQ(readFile(target), "yesterday's report\r\n");
  EXPECT_THAT(
      listDirectory(dir),
      UnorderedElementsAre(".big.csv.rowpress-" + std::to_string(pid) + ".part", "big.csv"));
  // The leftover holds the rows in order, line by line. Only whole lines are handed to the
  // system, but a kill can still cut the write that was under way, so the last line may be
  // a part of the next row.
  const std::string partial = readFile(leftover);
  EXPECT_THAT(partial, StartsWith("x,label,\r\n"));
  std::size_t from = partial.find("\r\n") + 2;
  long long row = 0;
  for (std::size_t end; (end = partial.find("\r\n", from)) != std::string::npos; from = end + 2) {
    ++row;
    const std::string expected =
        std::to_string(row) + ",some text to make the lines longer " + std::to_string(row) + ",";
    if (partial.compare(from, end - from, expected) != 0) {
      ADD_FAILURE() << "line " << row + 1
                    << " of the leftover: " << partial.substr(from, end - from);
      break;
    }
  }
  const std::string nextRow = std::to_string(row + 1) + ",some text to make the lines longer " +
                              std::to_string(row + 1) + ",";
  EXPECT_EQ(nextRow.compare(0, partial.size() - from, partial, from), 0)
      << "the end of the leftover: " << partial.substr(from);
  EXPECT_GT(row, 10000);

  // Beside it: the temporary file of a live process (this one) for the same target, one of
  // a dead process for another target, and a file that only looks similar.
  const std::string dead = std::to_string(pid);
  const std::string live = std::to_string(::getpid());
  for (const std::string& name :
       {".big.csv.rowpress-" + live + ".part", ".other.csv.rowpress-" + dead + ".part",
        ".big.csv.rowpress-" + dead + ".partial"}) {
    writeFile(dir + "/" + name, "not mine to remove");
  }

  writeFile(job, testing::jobFileText("rowtest", "select 'today' as report", {"CSV=\"1\";"}));
  testing::ChildResult next = testing::runRowpress(
      temp_.path(), {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target});
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_EQ(next.out, target + "\n");
  EXPECT_EQ(readFile(target), "report,\r\ntoday,\r\n");
  EXPECT_THAT(listDirectory(dir),
              UnorderedElementsAre(".big.csv.rowpress-" + dead + ".partial",
                                   ".big.csv.rowpress-" + live + ".part",
                                   ".other.csv.rowpress-" + dead + ".part", "big.csv"));
}

}  // namespace
}  // namespace rowpress
