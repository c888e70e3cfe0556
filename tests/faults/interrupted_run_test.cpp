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
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "files/atomic_file.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::listDirectory;
using support::readFile;
using support::writeFile;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

class InterruptedRunTest : public support::RunTest {
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

  support::ChildResult runJob(const std::string& sql, const std::string& target) {
    const std::string job = temp_ / "job.DIRU";
    writeFile(job, support::jobFileText("rowtest", sql, {"CSV=\"1\";"}));
    return support::runRowpress(temp_.path(),
                                {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target});
  }

  // Starts an export of far more rows than can be written before the kill to target_ (or,
  // with `defaultName`, to a default name in the default directory), kills it (SIGKILL) once
  // its temporary file has grown past its first few flushes, and gives the name of that
  // temporary file, which the run held locked until the kill, as it held the default name
  // it reserved.
  void killMidExport(std::string* leftoverName, bool defaultName = false) {
    const std::string dir = defaultName ? home() : dir_;
    const std::string job = temp_ / "job.DIRU";
    writeFile(job, support::jobFileText(
                       "rowtest",
                       "with recursive c(x) as (select 1 union all select x + 1 from c where x < "
                       "100000000) select x, 'some text to make the lines longer ' || x as label "
                       "from c",
                       {"CSV=\"1\";"}));
    support::ChildProcess child(temp_.path());
    std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + job};
    if (!defaultName) args.push_back("-outfile=" + target_);
    ASSERT_TRUE(child.startRowpress(args));
    const std::string prefix = defaultName ? ".row" : ".big.csv.rowpress-";

    std::string name;
    long long seen = 0;
    support::waitFor(
        [&] {
          std::vector<std::string> names = temporaryFiles(dir, prefix);
          if (names.size() != 1) return false;
          name = names[0];
          seen = support::fileSize(dir + "/" + name).value_or(0);
          return seen >= 1024 * 1024;
        },
        std::chrono::seconds(60));
    ASSERT_GE(seen, 1024 * 1024) << "no temporary file in " << dir << " grew";
    const std::string leftover = dir + "/" + name;
    EXPECT_THAT(
        name,
        MatchesRegex(defaultName ? "\\.row[0-9A-F]{4}\\.TMP\\.csv\\.rowpress-[0-9A-Za-z]{12}\\.part"
                                 : "\\.big\\.csv\\.rowpress-[0-9A-Za-z]{12}\\.part"));
    // The run holds the lock on its temporary file while it writes it, and on the name it
    // reserved, ".rowXXXX.TMP.csv.rowpress-RANDOM.part" without its dot and its tail.
    std::vector<std::string> held = {leftover};
    if (defaultName) held.push_back(dir + "/" + name.substr(1, name.find(".rowpress-") - 1));
    for (const std::string& file : held) EXPECT_FALSE(support::lockCanBeTaken(file)) << file;
    child.kill(SIGKILL);
    support::ChildResult killed = child.wait();
    ASSERT_EQ(killed.signal, SIGKILL) << "the run ended before the kill: " << killed.err;
    // The locks went with the process.
    for (const std::string& file : held) EXPECT_TRUE(support::lockCanBeTaken(file)) << file;
    *leftoverName = name;
  }

  static std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

  // A report that an earlier run wrote, in a directory of its own.
  void writeYesterdaysReport() {
    std::filesystem::create_directories(dir_);
    writeFile(target_, "yesterday's report\r\n");
  }

  const std::string dir_ = temp_ / "reports";
  const std::string target_ = dir_ + "/big.csv";
};

constexpr int kLongAgo = 10 * 60;  // seconds: well past the few minutes a leftover is left alone

// The row lines of the killed export of killMidExport: n, the label and n.
std::string rowLine(long long row) {
  return std::to_string(row) + ",some text to make the lines longer " + std::to_string(row) + ",";
}

TEST_F(InterruptedRunTest, AKilledRunLeavesTheOldFileAndItsRowsInALeftover) {
  ASSERT_NO_FATAL_FAILURE(writeYesterdaysReport());
  std::string name;
  ASSERT_NO_FATAL_FAILURE(killMidExport(&name));

  EXPECT_EQ(readFile(target_), "yesterday's report\r\n");
  EXPECT_THAT(listDirectory(dir_), UnorderedElementsAre(name, "big.csv"));
  // The leftover holds the rows in order, line by line. Only whole lines are handed to the
  // system, but a kill can still cut the write that was under way, so the last line may be
  // a part of the next row.
  const std::string partial = readFile(dir_ + "/" + name);
  EXPECT_THAT(partial, StartsWith("x,label,\r\n"));
  std::size_t from = partial.find("\r\n") + 2;
  long long row = 0;
  for (std::size_t end; (end = partial.find("\r\n", from)) != std::string::npos; from = end + 2) {
    ++row;
    if (partial.compare(from, end - from, rowLine(row)) != 0) {
      ADD_FAILURE() << "line " << row + 1
                    << " of the leftover: " << partial.substr(from, end - from);
      break;
    }
  }
  EXPECT_EQ(rowLine(row + 1).compare(0, partial.size() - from, partial, from), 0)
      << "the end of the leftover: " << partial.substr(from);
  EXPECT_GT(row, 10000);
}

TEST_F(InterruptedRunTest, AKilledRunsLeftoverGoesOnlyOnceItIsOldAndNoOneHoldsItsLock) {
  ASSERT_NO_FATAL_FAILURE(writeYesterdaysReport());
  std::string name;
  ASSERT_NO_FATAL_FAILURE(killMidExport(&name));
  const std::string leftover = dir_ + "/" + name;

  // Beside it: an old temporary file of the same target whose lock this process holds (a
  // live run elsewhere; its random part is all digits, as a process id would be), a young
  // one nobody locks, an old one of another target, and a file that only looks similar.
  const std::string held = temporaryNameFor(target_, "000099999999");
  const std::string young = temporaryNameFor(target_, "youngRun0123");
  const std::string other = temporaryNameFor(dir_ + "/other.csv", "0123456789ab");
  const std::string similar = dir_ + "/.big.csv.rowpress-0123456789ab.partial";
  for (const std::string& file : {held, young, other, similar}) {
    writeFile(file, "not mine to remove");
    support::setModifiedAgo(file, kLongAgo);
  }
  support::setModifiedAgo(young, 4 * 60);
  auto lock = std::make_unique<support::HeldLock>(held);
  ASSERT_TRUE(lock->held());
  // And old work directories of runs that are gone (the workbook library's files): one that
  // holds only files goes with them at the next run; one that holds a directory is not the
  // library's alone: its files go, the directory stays.
  const std::string work = workDirectoryFor(temporaryNameFor(target_, "workRun01234"));
  const std::string keptWork = workDirectoryFor(temporaryNameFor(target_, "workRun56789"));
  for (const std::string& directory : {work, keptWork}) {
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0) << directory;
    writeFile(directory + "/sheet1.xml", "a sheet of the library");
  }
  ASSERT_EQ(::mkdir((keptWork + "/mine").c_str(), 0700), 0);
  support::setModifiedAgo(work, kLongAgo);
  support::setModifiedAgo(keptWork, kLongAgo);

  // The killed run's leftover is young yet: it stays, like everything else.
  support::ChildResult next = runJob("select 'today' as report", target_);
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_EQ(next.out, target_ + "\n");
  EXPECT_EQ(readFile(target_), "report,\r\ntoday,\r\n");
  EXPECT_THAT(listDirectory(dir_),
              UnorderedElementsAre(name, baseName(held), baseName(young), baseName(other),
                                   baseName(similar), baseName(keptWork), "big.csv"));
  EXPECT_EQ(readFile(held), "not mine to remove");
  EXPECT_EQ(listDirectory(keptWork), std::vector<std::string>{"mine"});

  // Once old, the leftover whose lock can be taken goes; the locked one stays whatever its
  // age, and is not published either.
  support::setModifiedAgo(leftover, kLongAgo);
  next = runJob("select 'later' as report", target_);
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_EQ(readFile(target_), "report,\r\nlater,\r\n");
  EXPECT_THAT(listDirectory(dir_),
              UnorderedElementsAre(baseName(held), baseName(young), baseName(other),
                                   baseName(similar), baseName(keptWork), "big.csv"));
  EXPECT_EQ(readFile(held), "not mine to remove");

  // Without its lock, the old one goes too.
  lock.reset();
  next = runJob("select 'last' as report", target_);
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_THAT(listDirectory(dir_),
              UnorderedElementsAre(baseName(young), baseName(other), baseName(similar),
                                   baseName(keptWork), "big.csv"));
}

// A killed run that wrote to a default name leaves the name it reserved, an empty file, beside
// its temporary file: a later run removes both once they are old and their locks can be
// taken. An empty reservation whose lock another run holds stays whatever its age, and so do
// an earlier report under a default name and a young reservation.
TEST_F(InterruptedRunTest, AKilledRunsReservedNameGoesOnlyOnceItIsOldAndNoOneHoldsItsLock) {
  std::string name;
  ASSERT_NO_FATAL_FAILURE(killMidExport(&name, true));
  const std::string reserved = name.substr(1, name.find(".rowpress-") - 1);
  EXPECT_EQ(support::fileSize(home() + "/" + reserved), 0);
  // Beside them, under names that the run did not take (it wrote CSV).
  const std::string held = home() + "/row0001.TMP.html";
  const std::string earlier = home() + "/row0002.TMP.xls";
  const std::string young = home() + "/row0003.TMP.xlsx";
  writeFile(held, "");
  writeFile(earlier, "an earlier report");
  writeFile(young, "");
  for (const std::string& file : {held, earlier}) support::setModifiedAgo(file, kLongAgo);
  support::setModifiedAgo(young, 4 * 60);
  support::HeldLock lock(held);
  ASSERT_TRUE(lock.held());
  const std::vector<std::string> others = {baseName(held), baseName(earlier), baseName(young),
                                           "lasttablecolumntypeinfo.csv"};

  // Just killed, its files are young yet: they stay.
  support::ChildResult next = runJob("select 'today' as report", temp_ / "named.csv");
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  std::vector<std::string> expected = others;
  expected.insert(expected.end(), {name, reserved});
  EXPECT_THAT(listDirectory(home()), UnorderedElementsAreArray(expected));

  support::setModifiedAgo(home() + "/" + name, kLongAgo);
  support::setModifiedAgo(home() + "/" + reserved, kLongAgo);
  next = runJob("select 'later' as report", temp_ / "named.csv");
  EXPECT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_THAT(listDirectory(home()), UnorderedElementsAreArray(others));
  EXPECT_EQ(readFile(earlier), "an earlier report");
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
    support::setModifiedAgo(file, kLongAgo);
  }
  support::setModifiedAgo(young, 60);
  support::HeldLock lock(held);
  ASSERT_TRUE(lock.held());

  support::ChildResult result = runJob("select 1 as n", temp_ / "named.csv");
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_THAT(listDirectory(home()),
              UnorderedElementsAre(".row0001.TMP.csv.rowpress-CCCCCCCCCCCC.part",
                                   ".row0002.TMP.csv.rowpress-DDDDDDDDDDDD.part",
                                   "lasttablecolumntypeinfo.csv"));
}

}  // namespace
}  // namespace rowpress
