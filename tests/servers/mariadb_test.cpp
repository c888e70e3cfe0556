// What only MariaDB is asked, through the MariaDB ODBC driver: a statement without result
// columns and logins in the unattended run. The exports that every server is asked are in
// server_types_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/servers/server_test.h"

namespace rowpress::support {
namespace {

using ::testing::HasSubstr;
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

// A TIMESTAMP comes in the job's time zone and a DATETIME as it was written; the manifest
// records the zone as the server reports it. The test server has loaded two zones by name;
// an offset needs no table, and a name the server does not know fails the connect with the
// server's message.
TEST_F(MariaDbTest, TimestampsComeInTheJobsZone) {
  const std::string table = unique("zoned");
  run(kMariaDb, "drop table if exists " + table);
  run(kMariaDb, "create table " + table + " (t timestamp null, d datetime)");
  // 2026-07-01 12:00:00 UTC, whatever the zone of the session that writes it.
  run(kMariaDb,
      "insert into " + table + " values (from_unixtime(1782907200), '2026-07-01 12:00:00')");
  const std::string out = temp_ / "zoned.csv";
  const std::string job = writeJob(kMariaDb, userFor(kMariaDb), passwordFor(kMariaDb),
                                   "select t, d from " + table, true);
  auto exportIn = [&](const std::string& zone) {
    return runRowpress({"-silent", "-noautoopen", "-manifest", "-file=" + job, "-outfile=" + out,
                        "-timezone=" + zone});
  };
  for (const auto& [zone, row] :
       {std::pair{"Europe/Berlin", "2026-07-01 14:00:00,2026-07-01 12:00:00,"},
        std::pair{"America/New_York", "2026-07-01 08:00:00,2026-07-01 12:00:00,"},
        std::pair{"-05:30", "2026-07-01 06:30:00,2026-07-01 12:00:00,"}}) {
    ASSERT_EQ(exportIn(zone), 0) << stderrText();
    EXPECT_EQ(readFile(out), "t,d,\r\n" + std::string(row) + "\r\n") << zone;
    EXPECT_EQ(nlohmann::json::parse(readFile(out + ".manifest.json")).at("timeZone"), zone);
    EXPECT_THAT(stderrText(), HasSubstr("rowpress: note: timestamps with a time zone are in the "
                                        "session's time zone " +
                                        std::string(zone) + "\n"));
  }
  EXPECT_EQ(exportIn("Mars/Olympus"), 2);
  EXPECT_THAT(stderrText(), HasSubstr("rowpress: did not connect\n"));
  EXPECT_THAT(stderrText(), HasSubstr("Unknown or incorrect time zone: 'Mars/Olympus'"));
  run(kMariaDb, "drop table " + table);
}

}  // namespace
}  // namespace rowpress::support
