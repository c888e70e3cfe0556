// Faults on the server side in the middle of a large export: the backend that serves the
// export is ended from a second connection, the whole server goes down, or the server meets
// an error only when the cursor reaches a later row. The run must end as a failed statement
// with the diagnostic, keep the file that had the target's name, leave no temporary file and
// never hang.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "export/output_naming.h"
#include "export/text_rules.h"
#include "job/shown_text.h"
#include "tests/servers/server_test.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

using namespace std::chrono_literals;

constexpr char kPrevious[] = "the previous export\r\n";
// The diagnostic line of a connection that the server ended or that broke, whatever follows.
constexpr char kConnectionLost[] = "\\[(57P01|08S01)\\] (.|\n)*";
// Far more rows than the driver's cursor holds at a time (Fetch=1000).
constexpr char kLargeQuery[] = "select g, md5(g::text) as digest from generate_series(1, 400000) g";

class ServerFaultTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    // The export's connection carries a name of its own, so that the second connection
    // finds exactly its backend among those of tests running beside it.
    victim_ = "rowpress-victim-" + std::to_string(::getpid());
    addDataSourceSection(
        kStreaming, postgresSection("PostgreSQL ANSI", facts()["PG_DATABASE"], true) +
                        "UseDeclareFetch=1\nFetch=1000\nConnSettings=set application_name = '" +
                        victim_ + "'\n");
    target_ = temp_ / "large.csv";
    writeFile(target_, kPrevious);
  }

  // Ends the backend of the export from a second connection; true when one was ended.
  bool endTheExportsBackend() {
    return queryValue(kPgAnsi,
                      "select count(pg_terminate_backend(pid)) from pg_stat_activity "
                      "where application_name = '" +
                          victim_ + "'") == "1";
  }

  // Runs the large export in-process on `dataSource`, calling `pullThePlug` once after
  // 4,096 rows.
  RunResult exportWhile(const std::string& dataSource, const std::string& password,
                        const std::function<bool()>& pullThePlug) {
    job_.dataSource = dataSource;
    job_.userName = userFor(dataSource);
    job_.password = password;
    job_.outputCsv = true;
    job_.outFileName = target_;
    report_.onRowsDone = [&](long long rows) {
      if (pulledAt_ == 0 && rows >= 4096) {
        pulledAt_ = rows;
        pulled_ = pullThePlug();
      }
    };
    return fetchCountingRows(kLargeQuery);
  }

  // Runs the job as it stands with `sql`, keeping the rows that its export wrote.
  RunResult fetchCountingRows(const std::string& sql) {
    RunResult result = fetch(sql);
    rows_ = lastExport().rows;
    return result;
  }

  // What every way of losing the server mid-export must leave behind.
  void expectAFailedStatementAndThePreviousFile(const RunResult& result) {
    EXPECT_TRUE(pulled_) << "the plug was not pulled";
    EXPECT_EQ(result.outcome, RunOutcome::StatementFailed);
    // The rows of the cursor batches of 1,000 that the driver held when the server went, and
    // no more: the rows streamed, and nothing was made up after the loss.
    EXPECT_EQ(rows_, (pulledAt_ + 999) / 1000 * 1000);
    const std::vector<std::string> lines = statusList();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "SQL statement failed.");
    const std::string diagnostic = lines.back();
    // The server's word that it ended the connection, or the link's failure.
    EXPECT_THAT(diagnostic, MatchesRegex(kConnectionLost));
    ASSERT_EQ(report_.messages.size(), 1u);
    EXPECT_EQ(report_.messages[0].caption, "SQL statement failed.");
    // The box shows the same line, with its line breaks as they are.
    EXPECT_EQ(escapeControls(report_.messages[0].text), diagnostic);
    EXPECT_EQ(readFile(target_), kPrevious);
    EXPECT_THAT(temporaryLeftovers(temp_.path()), IsEmpty());
  }

  static constexpr char kStreaming[] = "pg-streaming";
  std::string victim_;
  std::string target_;
  long long pulledAt_ = 0;
  bool pulled_ = false;
  long long rows_ = 0;
};

TEST_F(ServerFaultTest, TheBackendEndedMidExportFailsTheStatement) {
  Watchdog watchdog(90s, "the export whose backend was ended");
  RunResult result =
      exportWhile(kStreaming, passwordFor(kStreaming), [this] { return endTheExportsBackend(); });
  expectAFailedStatementAndThePreviousFile(result);
  // The backend was ended between two fetches; the driver reads the server's farewell.
  EXPECT_EQ(statusList().back(),
            "[57P01] FATAL: terminating connection due to administrator command;\\nThe connection "
            "has been lost (35)\n");
}

TEST_F(ServerFaultTest, AnErrorInTheMiddleOfTheResultFailsTheStatement) {
  // The server meets the division by zero only when the cursor reaches row 25,000, in the
  // third batch of 10,000 rows: a fetch fails after 20,000 rows were written.
  job_.dataSource = kPgAnsi;
  job_.userName = userFor(kPgAnsi);
  job_.password = passwordFor(kPgAnsi);
  job_.outputCsv = true;
  job_.outFileName = target_;
  EXPECT_EQ(fetchCountingRows("select g, 1 / (g - 25000) from generate_series(1, 30000) g").outcome,
            RunOutcome::StatementFailed);
  EXPECT_EQ(rows_, 20000);
  EXPECT_THAT(statusList().back(), StartsWith("[22012] ERROR: division by zero;"));
  EXPECT_EQ(readFile(target_), kPrevious);
  EXPECT_THAT(temporaryLeftovers(temp_.path()), IsEmpty());
}

TEST_F(ServerFaultTest, TheUnattendedRunEndsWithStatus3WhenItsBackendIsEnded) {
  const std::string job =
      writeJob(kStreaming, userFor(kStreaming), passwordFor(kStreaming), kLargeQuery, true);
  ChildProcess child(temp_.path());
  ASSERT_TRUE(
      child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target_}));
  // Wait until rows stream into the temporary file beside the target (its name has a random
  // part: the one temporary file there).
  auto part = [this] {
    const std::vector<std::string> names = temporaryLeftovers(temp_.path());
    return names.size() == 1 ? temp_ / names[0] : std::string();
  };
  waitFor([&] { return fileSize(part()).value_or(-1) >= 256 * 1024 || !child.running(); }, 60s);
  ASSERT_TRUE(child.running()) << "the export ended before its backend could be ended:\n"
                               << stderrText();
  ASSERT_GE(fileSize(part()).value_or(-1), 256 * 1024) << "no rows streamed within 60 s";
  ASSERT_TRUE(endTheExportsBackend());

  const ChildResult ended = child.wait(60s);
  ASSERT_FALSE(ended.timedOut) << "rowpress hung after its backend was ended";
  EXPECT_EQ(ended.exitStatus, 3);
  EXPECT_EQ(stdoutText(), "");
  EXPECT_THAT(stderrText(),
              MatchesRegex("SQL statement failed\\.: " + std::string(kConnectionLost)));
  EXPECT_EQ(readFile(target_), kPrevious);
  EXPECT_THAT(temporaryLeftovers(temp_.path()), IsEmpty());
}

// A PostgreSQL server of this test's own, which it may bring down.
class ServerCrashTest : public ServerFaultTest {
 protected:
  void SetUp() override {
    ServerFaultTest::SetUp();
    if (HasFatalFailure()) return;
    script_ = facts()["ROWPRESS_SERVER_SCRIPTS"] + "/postgres.sh";
    // Under the servers' root, so that the fixture's stop also ends it if this test dies.
    dir_ = facts()["ROWPRESS_SERVERS_ROOT"] + "/private-" + std::to_string(::getpid());
    const ChildResult started = runProgram({"/bin/bash", script_, "start", dir_}, 120s);
    ASSERT_EQ(started.exitStatus, 0) << started.out << started.err;
    const ServerFacts own = ServerFacts::load(dir_ + "/postgres.env");
    ASSERT_TRUE(own.loaded()) << own.error();
    ownPassword_ = own["PG_PASSWORD"];
    // A name of its own per server: the driver manager keeps what it read of a data source
    // for a while, and the server of an earlier test in this process had another port.
    ownServer_ = "pg-own-server-" + own["PG_PORT"];
    addDataSourceSection(
        ownServer_, "Driver=PostgreSQL ANSI\nServername=127.0.0.1\nPort=" + own["PG_PORT"] +
                        "\nDatabase=" + own["PG_DATABASE"] + "\nUsername=" + own["PG_USER"] +
                        "\nPassword=" + own["PG_PASSWORD"] + "\nUseDeclareFetch=1\nFetch=1000\n");
  }
  void TearDown() override {
    if (!dir_.empty()) {
      const ChildResult stopped = runProgram({"/bin/bash", script_, "stop", dir_}, 60s);
      EXPECT_EQ(stopped.exitStatus, 0) << stopped.out << stopped.err;
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
    ServerFaultTest::TearDown();
  }
  // Brings the server down at once, as pg_ctl stop -m immediate does.
  bool crash() { return runProgram({"/bin/bash", script_, "crash", dir_}, 60s).exitStatus == 0; }

  std::string script_;
  std::string dir_;
  std::string ownServer_;
  std::string ownPassword_;
};

TEST_F(ServerCrashTest, TheServerGoingDownMidExportFailsTheStatement) {
  Watchdog watchdog(90s, "the export whose server went down");
  RunResult result = exportWhile(ownServer_, ownPassword_, [this] { return crash(); });
  expectAFailedStatementAndThePreviousFile(result);

  // With the server gone, the next run does not connect, and still keeps the file.
  EXPECT_EQ(fetchCountingRows("select 1").outcome, RunOutcome::NoConnection);
  EXPECT_THAT(statusList(), ElementsAre("select 1", "did not connect", StartsWith("[")));
  EXPECT_EQ(readFile(target_), kPrevious);
}

}  // namespace
}  // namespace rowpress::support
