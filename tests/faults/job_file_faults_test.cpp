// The real executable given settings files that do not hold the job as it was written: a file
// that cannot be read (missing, a directory, a FIFO, a device, a read error, a line over
// 65,536 bytes) or that holds a refused value, in any of several files. Each run ends with
// exit status 6 before it connects (the data source's database file, which a connection
// would create, never appears), names the file and the field on standard error, prints no
// path and leaves an existing output file as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::ChildResult;
using support::fileExists;
using support::readFile;
using support::shellQuote;
using support::writeFile;

constexpr char kEarlierReport[] = "yesterday's report\r\n";
constexpr char kNothingRan[] = "rowpress: the job could not be read; nothing was run\n";

class JobFileFaultTest : public support::RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    // The SQLite driver creates a missing database file when it connects.
    addDataSource("fresh", fresh());
    target_ = temp_ / "report.csv";
    writeFile(target_, kEarlierReport);
    good_ = temp_ / "good.DIRU";
    writeFile(good_, support::jobFileText("fresh", "select 1 as one", {"CSV=\"1\";"}));
  }

  std::string fresh() const { return temp_ / "fresh.db"; }

  std::vector<std::string> argsFor(const std::vector<std::string>& files) const {
    std::vector<std::string> args = {"-silent", "-noautoopen", "-outfile=" + target_};
    for (const std::string& file : files) args.push_back("-file=" + file);
    return args;
  }

  // The run was refused with `line` as the reason, before it connected.
  void expectRefused(const ChildResult& result, const std::string& line) {
    EXPECT_EQ(result.exitStatus, 6);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.err, "rowpress: " + line + "\n" + kNothingRan);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fileExists(fresh())) << "the run connected";
    EXPECT_EQ(readFile(target_), kEarlierReport);
  }

  std::string target_;
  std::string good_;
};

TEST_F(JobFileFaultTest, TheGoodJobAloneConnectsAndRuns) {
  ChildResult result = support::runRowpress(temp_.path(), argsFor({good_}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(readFile(target_), "one,\r\n1,\r\n");
  EXPECT_TRUE(fileExists(fresh()));
}

TEST_F(JobFileFaultTest, ARefusedValueInTheSecondFileEndsTheRunBeforeConnecting) {
  const std::string nul(1, '\0');
  struct Case {
    std::string line;
    std::string problem;
  };
  const Case cases[] = {
      {"OutFileName=\"" + std::string(256, 'o') + "\";",
       "The output file name is longer than 255 bytes and was refused."},
      {"SQL=\"" + std::string(40000, 's') + "\";",
       "The SQL text is longer than 32767 bytes and was refused."},
      {"Database=\"t" + nul + "zzz\";", "The data source name holds a NUL byte and was refused."},
      {"OutFileName=\"" + (temp_ / "victim") + nul + "x\";",
       "The output file name holds a NUL byte and was refused."},
      // Announces a password of five bytes and holds one.
      {"Password=\"\x19>\";",
       "The password in the settings file is not a scrambled password; it was left empty."},
  };
  const std::string second = temp_ / "second.DIRU";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    writeFile(second, "-- the second file\n" + c.line + "\n");
    expectRefused(support::runRowpress(temp_.path(), argsFor({good_, second})),
                  second + ": " + c.problem);
  }
}

TEST_F(JobFileFaultTest, ASettingsFileThatCannotBeReadEndsTheRunBeforeConnecting) {
  const std::string longLine = temp_ / "long.DIRU";
  writeFile(longLine, "CSV=\"1\";\nOutFileName=\"" + std::string(70000, 'o') + "\";\n");
  struct Case {
    std::string file;
    std::string problem;
  };
  const Case cases[] = {
      {temp_ / "missing.DIRU", "The settings file could not be read: No such file or directory."},
      {temp_.path(), "The settings file could not be read: Is a directory."},
      {"/dev/zero", "The settings file could not be read: not a regular file."},
      // A regular file whose reading fails with EIO.
      {"/proc/self/mem", "The settings file could not be read: Input/output error."},
      {longLine,
       "The output file name on line 2 is longer than 65536 bytes; nothing from that line on "
       "was read."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    expectRefused(support::runRowpress(temp_.path(), argsFor({good_, c.file})),
                  c.file + ": " + c.problem);
  }
}

TEST_F(JobFileFaultTest, AJobFileCutShortOrHoldingNoJobEndsTheRunBeforeConnecting) {
  const std::string second = temp_ / "second.DIRU";
  const std::string unclosed =
      ": The SQL text that begins on line 2 ends without its closing pair (\";); it was not "
      "read.";
  struct Case {
    std::string text;
    std::string problem;
  };
  const Case cases[] = {
      // Cut after a continuation line: the first half of the statement never runs.
      {"-- cut\r\nSQL=\"delete from victims  \"+\r\n", unclosed},
      {"-- cut\nSQL=\"delete from victims  \"+\n    \"where id = 1", unclosed},
      // Cut on its first line: neither pair after the key. Dropped, the first file's SQL
      // would run in its place.
      {"-- cut\nSQL=\"select one from t where id=2 and 1=0", unclosed},
      {"-- cut\nSQL=\"select one from t where id=2 and 1=0\nSQL=\"select 2\";\n", unclosed},
      {"", " holds no rowpress settings"},
      {"myhost.example.org\n", " holds no rowpress settings"},
      // A settings file saved as UTF-16: not one key string can be found in it.
      {std::string("\xff\xfe") + std::string("C\0S\0V\0=\0\"\0001\0\"\0;\0\r\0\n\0", 20),
       " holds no rowpress settings"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    writeFile(second, c.text);
    expectRefused(support::runRowpress(temp_.path(), argsFor({good_, second})), second + c.problem);
  }
  // Alone, a job cut on its first line would connect and send an empty statement.
  writeFile(second, "Database=\"fresh\";\nSQL=\"select 1 as one\nCSV=\"1\";\n");
  expectRefused(support::runRowpress(temp_.path(), argsFor({second})), second + unclosed);
}

TEST_F(JobFileFaultTest, AJobFileWithCrLineEndsIsReadLineByLine) {
  const std::string mac = temp_ / "mac.DIRU";
  writeFile(mac, "-- rule\rDatabase=\"fresh\";\rSQL=\"select 2 as two\";\rCSV=\"1\";\r");
  ChildResult result = support::runRowpress(temp_.path(), argsFor({mac}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(readFile(target_), "two,\r\n2,\r\n");
}

TEST_F(JobFileFaultTest, ASwitchValueOverItsLimitOrNotWholeEndsTheRunBeforeConnecting) {
  const std::string longPath = temp_ / std::string(250, 'p');
  std::vector<std::string> args = argsFor({good_});
  args.push_back("-outfile=" + longPath);
  expectRefused(support::runRowpress(temp_.path(), args),
                "The output file name of -outfile= is longer than 255 bytes and was refused.");
  // A password from the environment over its limit is refused as one from a file is.
  expectRefused(support::runRowpress(temp_.path(), argsFor({good_}),
                                     {{"ROWPRESS_PASSWORD", std::string(128, 'p')}}),
                "ROWPRESS_PASSWORD: The password is longer than 127 bytes and was refused.");
  expectRefused(support::runRowpress(temp_.path(), argsFor({good_}),
                                     {{"ROWPRESS_USER", std::string(128, 'u')}}),
                "ROWPRESS_USER: The user name is longer than 127 bytes and was refused.");
  args = argsFor({good_});
  args.push_back("-openwith=" + std::string(256, 'v'));
  expectRefused(
      support::runRowpress(temp_.path(), args),
      "The application to launch of -openwith= is longer than 255 bytes and was refused.");
  // An empty settings file name would run the job without that file; an unclosed quote
  // would start another program than the one written; the classic CSV of the good job has
  // no other separator, and a decimal comma beside its comma separator would be misread.
  const struct {
    std::string argument;
    std::string problem;
  } notWhole[] = {
      {"-file=", "-file=: the switch needs a value; an empty one is refused"},
      {"-manifest=", "-manifest=: the switch needs a value; an empty one is refused"},
      {"-openwith=viewer 'my file", "-openwith=: a quote in the application is not closed"},
      {"-openwith=\"viewer", "-openwith=: a quote in the application is not closed"},
      {"-separator=", "-separator=: the switch needs a value; an empty one is refused"},
      {"-separator=;",
       "The separator \";\" was refused without Quote Fields: the classic CSV replaces a comma "
       "in a value, not another separator; standard CSV quotes it."},
      {"-encoding=", "-encoding=: the switch needs a value; an empty one is refused"},
      {"-encoding=klingon",
       "The encoding \"klingon\" is not one that iconv knows and was refused."},
      {"-decimalcomma",
       "The decimal comma was refused with the comma as separator: a reader could not tell a "
       "number's comma from the separator; set the separator to ; or |."},
  };
  for (const auto& c : notWhole) {
    SCOPED_TRACE(c.argument);
    args = argsFor({good_});
    args.push_back(c.argument);
    expectRefused(support::runRowpress(temp_.path(), args), c.problem);
  }
}

TEST_F(JobFileFaultTest, AFifoIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = temp_ / "job.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Nobody ever writes to the FIFO: a run that waited for a writer would be ended by the
  // deadline, with status 124.
  std::string command = "exec timeout 60";
  command += " \"$ROWPRESS\"";
  for (const std::string& arg : argsFor({good_, fifo})) command += " " + shellQuote(arg);
  expectRefused(support::runScript(temp_.path(), command),
                fifo + ": The settings file could not be read: not a regular file.");
}

}  // namespace
}  // namespace rowpress
