// A run killed in the middle of an export (SIGKILL: no handler runs, nothing is cleaned
// up) never touches the file that already had the target's name. What it leaves is its
// temporary file, under a name that tells what it is. A later run removes such a leftover
// only once its lock can be taken (its run is gone) and it is more than a few minutes old,
// beside the same target and in the default directory; a temporary file whose lock another
// process holds stays whatever its age, as the file of a live run in another PID namespace
// (or on another host) would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "job/atomic_file.h"
#include "tests/support/child_process.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using testing::listDirectory;
using ::testing::MatchesRegex;
using testing::readFile;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using testing::writeFile;

class InterruptedRunTest : public testing::OdbcTest {
 protected:
  // The names in `dir` that begin with `prefix` and end in ".part".
  static std::vector<std::string> temporaryFiles(const std::string& dir,
                                                 const std::string& prefix) {
    std::vector<std::string> names;
    for (const std::string& name : listDirectory(dir)) {
      if (name.starts_with(prefix) && name.ends_with(".part")) names.push_back(name);
    }
    return names;
  }

  testing::ChildResult runJob(const std::string& sql, const std::string& target) {
    const std::string job = temp_ / "job.DIRU";
    writeFile(job, testing::jobFileText("rowtest", sql, {"CSV=\"1\";"}));
    return testing::runRowpress(temp_.path(),
                                {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target});
  }
};

constexpr int kOld = 10 * 60;  // seconds: well past the few minutes a leftover is left alone

TEST_F(InterruptedRunTest, AKilledRunLeavesTheOldFileAndALeftoverThatGoesOnlyOnceItIsOld) {
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

  testing::ChildProcess child(temp_.path());
  ASSERT_TRUE(
      child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target}));

  // Kill it once its temporary file has grown past its first few flushes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string name;
  long long seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<std::string> names = temporaryFiles(dir, ".big.csv.rowpress-");
    if (names.size() == 1) {
      name = names[0];
      seen = testing::fileSize(dir + "/" + name).value_or(0);
      if (seen >= 1024 * 1024) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(seen, 1024 * 1024) << "no temporary file beside " << target << " grew";
  const std::string leftover = dir + "/" + name;
  EXPECT_THAT(name, MatchesRegex("\\.big\\.csv\\.rowpress-[0-9A-Za-z]{12}\\.part"));
  // The run holds the lock on its temporary file while it writes it.
  EXPECT_FALSE(testing::lockCanBeTaken(leftover));
  child.kill(SIGKILL);
  testing::ChildResult killed = child.wait();
  ASSERT_EQ(killed.signal, SIGKILL) << "the run ended before the kill: " << killed.err;
  // The lock went with the process.
  EXPECT_TRUE(testing::lockCanBeTaken(leftover));

  EXPECT_EQ(readFile(target), "yesterday's report\r\n");
  EXPECT_THAT(listDirectory(dir), UnorderedElementsAre(name, "big.csv"));
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

  // Beside it: an old temporary file of the same target whose lock this process holds (a
  // live run elsewhere; its random part is all digits, as a process id would be), a young
  // one nobody locks, an old one of another target, and a file that only looks similar.
  const std::string held = temporaryNameFor(target, "000099999999");
  const std::string young = temporaryNameFor(target, "youngRun0123");
  const std::string other = temporaryNameFor(dir + "/other.csv", "0123456789ab");
  const std::string similar = dir + "/.big.csv.rowpress-0123456789ab.partial";
  for (const std::string& file : {held, young, other, similar}) {
    writeFile(file, "not mine to remove");
    testing::setModifiedAgo(file, kOld);
  }
  testing::setModifiedAgo(young, 4 * 60);
  auto lock = std::make_unique<testing::HeldLock>(held);
  ASSERT_TRUE(lock->held());
  auto baseName = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };

  // The killed run's leftover is young yet: it stays, like everything else.
  testing::ChildResult next = runJob("select 'today' as report", target);
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_EQ(next.out, target + "\n");
  EXPECT_EQ(readFile(target), "report,\r\ntoday,\r\n");
  EXPECT_THAT(listDirectory(dir),
              UnorderedElementsAre(name, baseName(held), baseName(young), baseName(other),
                                   baseName(similar), "big.csv"));
  EXPECT_EQ(readFile(held), "not mine to remove");

  // Once old, the leftover whose lock can be taken goes; the locked one stays whatever its
  // age, and is not published either.
  testing::setModifiedAgo(leftover, kOld);
  next = runJob("select 'later' as report", target);
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_EQ(readFile(target), "report,\r\nlater,\r\n");
  EXPECT_THAT(listDirectory(dir),
              UnorderedElementsAre(baseName(held), baseName(young), baseName(other),
                                   baseName(similar), "big.csv"));
  EXPECT_EQ(readFile(held), "not mine to remove");

  // Without its lock, the old one goes too.
  lock.reset();
  next = runJob("select 'last' as report", target);
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_THAT(listDirectory(dir),
              UnorderedElementsAre(baseName(young), baseName(other), baseName(similar), "big.csv"));
}

// The default directory gathers the temporary files of default names and of the type
// report: abandoned ones go there whatever the run writes.
TEST_F(InterruptedRunTest, AbandonedLeftoversInTheDefaultDirectoryGoToo) {
  std::filesystem::create_directories(home());
  const std::string workbook = home() + "/.row1A2F.TMP.xls.rowpress-AAAAAAAAAAAA.part";
  const std::string report = home() + "/.lasttablecolumntypeinfo.csv.rowpress-BBBBBBBBBBBB.part";
  const std::string held = home() + "/.row0001.TMP.csv.rowpress-CCCCCCCCCCCC.part";
  const std::string young = home() + "/.row0002.TMP.csv.rowpress-DDDDDDDDDDDD.part";
  for (const std::string& file : {workbook, report, held, young}) {
    writeFile(file, "partial");
    testing::setModifiedAgo(file, kOld);
  }
  testing::setModifiedAgo(young, 60);
  testing::HeldLock lock(held);
  ASSERT_TRUE(lock.held());

  testing::ChildResult result = runJob("select 1 as n", temp_ / "named.csv");
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_THAT(listDirectory(home()),
              UnorderedElementsAre(".row0001.TMP.csv.rowpress-CCCCCCCCCCCC.part",
                                   ".row0002.TMP.csv.rowpress-DDDDDDDDDDDD.part",
                                   "lasttablecolumntypeinfo.csv"));
}

}  // namespace
}  // namespace rowpress
