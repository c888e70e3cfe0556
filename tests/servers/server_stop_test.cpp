// A stop signal while the server is still executing the statement: the statement stops
// running on the server (PostgreSQL's driver cancels it; MariaDB's cannot be cancelled from
// another thread, and the server ends it when rowpress closes the connection), the temporary
// file goes, the file that had the target's name stays, and rowpress exits with 128 plus the
// signal number. A timeout stops a run the same way, as a failed statement, and a login that
// gets no answer as a failed connection.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "export/stop_request.h"
#include "tests/servers/server_test.h"

namespace rowpress::testing {
namespace {

using ::testing::ElementsAre;

using namespace std::chrono_literals;

constexpr char kPrevious[] = "the previous export\r\n";

struct StopCase {
  const char* dataSource;
  // Whether rowpress cancels the driver's statements from the thread that takes the signals.
  bool cancelled;
  // A statement that runs for two minutes, carrying `marker` so that it can be found.
  std::string (*sleeping)(const std::string& marker);
  // How many statements carrying `marker` the server is executing.
  std::string (*running)(const std::string& marker);
};

const StopCase kCases[] = {
    {kPgAnsi, true, [](const std::string& marker) { return "select pg_sleep(120) as " + marker; },
     [](const std::string& marker) {
       return "select count(*) from pg_stat_activity where state = 'active' and pid <> "
              "pg_backend_pid() and query like '%pg_sleep(120) as " +
              marker + "%'";
     }},
    {kMariaDb, false, [](const std::string& marker) { return "select sleep(120) as " + marker; },
     [](const std::string& marker) {
       return "select count(*) from information_schema.processlist where id <> "
              "connection_id() and info like '%sleep(120) as " +
              marker + "%'";
     }},
};

class ServerStopTest : public ServerTest {
 protected:
  // Waits until the server's count of running statements reaches `count`.
  bool waitForRunning(const StopCase& c, const std::string& marker, const std::string& count,
                      std::chrono::seconds limit) {
    return waitForValue(c.dataSource, c.running(marker), count, limit);
  }

  // A case's own directory with an earlier report in it, and a job that sleeps on the
  // server under a marker of its own.
  struct Sleeper {
    std::string dir, target, marker, job;
  };
  Sleeper sleeper(const StopCase& c, const std::string& markerPrefix) {
    Sleeper s;
    s.dir = temp_ / c.dataSource;
    std::filesystem::create_directories(s.dir);
    s.target = s.dir + "/report.csv";
    writeFile(s.target, kPrevious);
    s.marker = markerPrefix + std::to_string(::getpid());
    s.job = writeJob(c.dataSource, userFor(c.dataSource), passwordFor(c.dataSource),
                     c.sleeping(s.marker), true);
    return s;
  }
};

TEST_F(ServerStopTest, ASignalCancelsTheStatementOnTheServer) {
  for (const StopCase& c : kCases) {
    SCOPED_TRACE(c.dataSource);
    const auto [dir, target, marker, job] = sleeper(c, "stop_");

    ChildProcess child(temp_.path());
    ASSERT_TRUE(
        child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target}));
    ASSERT_TRUE(waitForRunning(c, marker, "1", 60s)) << "the statement never ran";
    ::kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.wait(60s).exitStatus, 128 + SIGTERM) << stderrText();
    // On the ThreadSanitizer build: the thread that took the signal and the one that ran
    // the export met without a race.
    EXPECT_THAT(stderrText(), ::testing::Not(::testing::HasSubstr("ThreadSanitizer")));
    // Cancelled, not left sleeping on a connection that is gone.
    EXPECT_TRUE(waitForRunning(c, marker, "0", 30s)) << "the statement still runs on the server";
    EXPECT_THAT(listDirectory(dir), ElementsAre("report.csv"));
    EXPECT_EQ(readFile(target), kPrevious);
  }
}

// What a run past its timeout must leave: the status, the one line that says why, no
// temporary file, the old file as it was, and no race seen by ThreadSanitizer between the
// watchdog and the run.
void expectTimedOut(const ChildResult& run, int status, const std::string& lines,
                    const std::string& dir, const std::string& target) {
  EXPECT_EQ(run.exitStatus, status) << run.err;
  EXPECT_EQ(testing::withoutSummary(run.err), lines);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(listDirectory(dir), ElementsAre("report.csv"));
  EXPECT_EQ(readFile(target), kPrevious);
}

TEST_F(ServerStopTest, AStatementPastTheTimeoutFailsInTimeAndStopsOnTheServer) {
  for (const StopCase& c : kCases) {
    SCOPED_TRACE(c.dataSource);
    const auto [dir, target, marker, job] = sleeper(c, "timeout_");
    const auto started = std::chrono::steady_clock::now();
    const ChildResult run = ::rowpress::testing::runRowpress(
        temp_.path(),
        {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target, "-timeout=2"}, {}, 60s);
    const auto took = std::chrono::steady_clock::now() - started;
    // The limit, then at most the grace that a driver gets to return.
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 10s);
    expectTimedOut(run, 3, "SQL statement failed.: timed out after 2 s\n", dir, target);
    EXPECT_TRUE(waitForRunning(c, marker, "0", 30s)) << "the statement still runs on the server";
  }
}

TEST_F(ServerStopTest, ATimeoutBoundsEachWaitForARowNotTheWholeExport) {
  const std::string dir = temp_ / "rows";
  std::filesystem::create_directories(dir);
  const std::string target = dir + "/report.csv";
  // Six rows half a second apart: three seconds in all under a limit of two.
  const std::string steady =
      writeJob(kPgRowByRow, userFor(kPgRowByRow), passwordFor(kPgRowByRow),
               "select x || pg_sleep(0.5)::text as x from generate_series(1, 6) as x", true);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(runRowpress(
                {"-silent", "-noautoopen", "-file=" + steady, "-outfile=" + target, "-timeout=2"}),
            0)
      << stderrText();
  EXPECT_GE(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(readFile(target), "x,\r\n1,\r\n2,\r\n3,\r\n4,\r\n5,\r\n6,\r\n");

  // The same rows with a pause longer than the limit before the fourth.
  writeFile(target, kPrevious);
  const std::string stalling =
      writeJob(kPgRowByRow, userFor(kPgRowByRow), passwordFor(kPgRowByRow),
               "select x || pg_sleep(case when x = 4 then 120 else 0.5 end)::text as x "
               "from generate_series(1, 6) as x",
               true);
  const ChildResult run = ::rowpress::testing::runRowpress(
      temp_.path(),
      {"-silent", "-noautoopen", "-file=" + stalling, "-outfile=" + target, "-timeout=2"}, {}, 60s);
  expectTimedOut(run, 3, "SQL statement failed.: timed out after 2 s\n", dir, target);
}

TEST_F(ServerStopTest, ALoginToAServerThatNeverAnswersTimesOut) {
  // A listener that takes connections (the kernel completes them from the backlog) and never
  // says a word: the driver waits for the server's greeting. A closed port would refuse at
  // once and prove nothing.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 16), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  addDataSourceSection("silent-server", "Driver=PostgreSQL ANSI\nServername=127.0.0.1\nPort=" +
                                            std::to_string(ntohs(address.sin_port)) +
                                            "\nDatabase=nobody\n");
  const std::string dir = temp_ / "silent";
  std::filesystem::create_directories(dir);
  const std::string target = dir + "/report.csv";
  writeFile(target, kPrevious);
  const std::string job = writeJob("silent-server", "someone", "secret", "select 1", true);
  const auto started = std::chrono::steady_clock::now();
  const ChildResult run = ::rowpress::testing::runRowpress(
      temp_.path(), {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target, "-timeout=2"},
      {}, 60s);
  const auto took = std::chrono::steady_clock::now() - started;
  ::close(listener);
  EXPECT_GE(took, 2s);
  EXPECT_LT(took, 6s);
  expectTimedOut(run, 2, "rowpress: did not connect\nrowpress: timed out after 2 s\n", dir, target);
  EXPECT_TRUE(outputFiles().empty());
}

// The stop request cancels a statement that another thread is executing, the way the thread
// that takes the signals does. The scripts/test.d stage for threads runs this test on a
// ThreadSanitizer build as well, which decides which drivers are cancelled: MariaDB's driver
// failed there (it unlocks the executing thread's mutex), PostgreSQL's holds up.
TEST_F(ServerStopTest, AStatementIsCancelledFromAnotherThreadAndItsHandleStaysUsable) {
  StopRequest& stop = StopRequest::instance();
  for (const StopCase& c : kCases) {
    SCOPED_TRACE(c.dataSource);
    stop.reset();
    auto session = openSession(c.dataSource);
    ASSERT_TRUE(session);
    ASSERT_EQ(driverCancelsSafely(session->connection()), c.cancelled);
    if (!c.cancelled) continue;
    const std::string marker = "thread_" + std::to_string(::getpid());

    bool seenRunning = false;
    std::thread stopper([&] {
      seenRunning = waitForRunning(c, marker, "1", 60s);
      stop.request(SIGTERM);
    });
    const auto started = std::chrono::steady_clock::now();
    std::string sql = c.sleeping(marker);
    SQLRETURN rc = SQL_SUCCESS;
    {
      ExecutingStatement executing(session->statement(), true);
      rc = SQLExecDirect(session->statement(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    }
    stopper.join();
    EXPECT_TRUE(seenRunning);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s) << "not cancelled";
    // PostgreSQL reports the cancel as an error; MariaDB's SLEEP ends early with a result.
    if (rc == SQL_ERROR) {
      EXPECT_THAT(GetStatementDiagnostic(session->statement()), ::testing::StartsWith("["));
    }
    EXPECT_TRUE(waitForRunning(c, marker, "0", 30s));
    // The statement handle and the connection serve the next statement.
    SQLFreeStmt(session->statement(), SQL_CLOSE);
    std::string next = "select 7";
    ASSERT_TRUE(succeeded(
        SQLExecDirect(session->statement(), reinterpret_cast<SQLCHAR*>(next.data()), SQL_NTS)))
        << GetStatementDiagnostic(session->statement());
    ASSERT_TRUE(succeeded(SQLFetch(session->statement())));
    char value[16] = {0};
    SQLLEN indicator = 0;
    SQLGetData(session->statement(), 1, SQL_C_CHAR, value, sizeof value, &indicator);
    EXPECT_STREQ(value, "7");
  }
  stop.reset();
}

}  // namespace
}  // namespace rowpress::testing
