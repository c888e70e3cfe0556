// What only MariaDB is asked, through the MariaDB ODBC driver: a statement without result
// columns and logins in the unattended run. The exports that every server is asked are in
// server_types_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/servers/server_test.h"

namespace rowpress::support {
namespace {

using ::testing::IsEmpty;
using ::testing::MatchesRegex;

using MariaDbTest = ServerTest;

TEST_F(MariaDbTest, AStatementWithoutResultColumnsEndsWithoutRows) {
  const std::string table = unique("counter");
  run(kMariaDb, "drop table if exists " + table);
  run(kMariaDb, "create table " + table + " (n int)");
  run(kMariaDb, "insert into " + table + " values (1), (2)");
  EXPECT_EQ(fetchFrom(kMariaDb, "update " + table + " set n = n + 1").outcome, RunOutcome::NoRows);
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_EQ(queryValue(kMariaDb, "select sum(n) from " + table), "5");
}

TEST_F(MariaDbTest, TheRightPasswordExportsAndAWrongOneEndsWithStatus2) {
  const std::string out = temp_ / "one.csv";
  std::string job =
      writeJob(kMariaDb, userFor(kMariaDb), passwordFor(kMariaDb), "select 1 as one", true);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out}), 0)
      << stderrText();
  EXPECT_EQ(readFile(out), "one,\r\n1,\r\n");

  ::unlink(out.c_str());
  job = writeJob(kMariaDb, userFor(kMariaDb), "wrong", "select 1 as one", true);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out}), 2);
  EXPECT_FALSE(fileExists(out));
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_EQ(stdoutText(), "");
  EXPECT_THAT(support::withoutSummary(stderrText()),
              MatchesRegex("rowpress: did not connect\nrowpress: \\[28000\\] "
                           "\\[unixODBC\\]\\[ma-[0-9.]+\\]Access denied for user "
                           "'rowpress'@'127\\.0\\.0\\.1' \\(using password: YES\\) "
                           "\\(1045\\)\n"));
}

}  // namespace
}  // namespace rowpress::support
