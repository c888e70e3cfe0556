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
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "db/odbc_result_cursor.h"
#include "export/stop_request.h"
#include "tests/servers/server_test.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;

using namespace std::chrono_literals;

constexpr char kPreviousExport[] = "the previous export\r\n";

struct StopCase {
  const char* dataSource;
  // Whether rowpress cancels the driver's statements from a thread that waits for a stop.
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
    writeFile(s.target, kPreviousExport);
    s.marker = markerPrefix + std::to_string(::getpid());
    s.job = writeJob(c.dataSource, userFor(c.dataSource), passwordFor(c.dataSource),
                     c.sleeping(s.marker), true);
    return s;
  }
};

// What every stopped run leaves: the status of its signal, reached by an exit of its own, no
// temporary file, the earlier file as it was, and a log that ends with the summary line.
void expectStopped(const ChildResult& run, int signal, const std::string& dir,
                   const std::string& target) {
  EXPECT_EQ(run.signal, 0) << "died of the signal instead of exiting";
  EXPECT_EQ(run.exitStatus, 128 + signal) << run.err;
  EXPECT_EQ(run.out, "");
  const std::string log = withoutSummary(run.err);
  EXPECT_THAT(
      run.err.substr(log.size()),
      ::testing::StartsWith("rowpress: stopped by signal " + std::to_string(signal) + " after "));
  // On the ThreadSanitizer build: the thread that took the signal and the one that ran the
  // export met without a race.
  EXPECT_THAT(run.err, ::testing::Not(::testing::HasSubstr("ThreadSanitizer")));
  EXPECT_THAT(listDirectory(dir), ElementsAre("report.csv"));
  EXPECT_EQ(readFile(target), kPreviousExport);
}

TEST_F(ServerStopTest, ASignalCancelsTheStatementOnTheServer) {
  for (const StopCase& c : kCases) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(c.dataSource) + ", " + strsignal(signal));
      const auto [dir, target, marker, job] = sleeper(c, "stop_");

      ChildProcess child(temp_.path());
      ASSERT_TRUE(
          child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target}));
      ASSERT_TRUE(waitForRunning(c, marker, "1", 60s)) << "the statement never ran";
      // Only a statement that is cancelled from another thread has one, waiting to cancel it.
      // (ThreadSanitizer runs a thread of its own in the process.)
#ifndef __SANITIZE_THREAD__
      EXPECT_EQ(child.threads(), c.cancelled ? 2 : 1);
#endif
      ::kill(child.pid(), signal);
      expectStopped(child.wait(60s), signal, dir, target);
      // Cancelled, not left sleeping on a connection that is gone.
      EXPECT_TRUE(waitForRunning(c, marker, "0", 30s)) << "the statement still runs on the server";
    }
  }
}

// Under a limit of one process for its user the thread that would cancel a PostgreSQL
// statement cannot start: the run ends with status 4 before the statement runs, since no stop
// could end it once it did.
TEST_F(ServerStopTest, AStatementThatNoStopCouldEndIsNotRun) {
  ASSERT_FALSE(findProgram("prlimit").empty()) << "prlimit is missing (util-linux)";
  ASSERT_FALSE(findProgram("setpriv").empty()) << "setpriv is missing (util-linux)";
  const StopCase& c = kCases[0];
  ASSERT_TRUE(c.cancelled);
  const auto [dir, target, marker, job] = sleeper(c, "no_canceller_");
  ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(std::getenv("ODBCSYSINI"), 0755), 0);
  ASSERT_EQ(::chmod(job.c_str(), 0644), 0);
  for (const std::string& path : {dir, target}) ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  const char* asan = std::getenv("ASAN_OPTIONS");
  ChildProcess child(temp_.path());
  ASSERT_TRUE(child.start({findProgram("prlimit"), "--nproc=1:1", findProgram("setpriv"),
                           "--reuid=65534", "--regid=65534", "--clear-groups", ROWPRESS_BINARY,
                           "-silent", "-noautoopen", "-file=" + job, "-outfile=" + target},
                          {{"ROWPRESS_HOME", dir + "/home"},
                           // The leak check at the end needs a thread of its own.
                           {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}}));
  const ChildResult result = child.wait(60s);
  EXPECT_FALSE(result.timedOut) << "the statement ran";
  EXPECT_EQ(result.exitStatus, 4) << result.err;
  EXPECT_THAT(result.err, ::testing::HasSubstr("rowpress: could not start the thread that "
                                               "cancels the statement: "));
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(queryValue(c.dataSource, c.running(marker)), "0");
  EXPECT_EQ(readFile(target), kPreviousExport);
}

// Forwards the first connection made to it to the PostgreSQL server and takes every later
// one without ever answering: the cancel request of a network that has gone dead.
class DeadCancelProxy {
 public:
  explicit DeadCancelProxy(int serverPort) : serverPort_(serverPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listener_, 16) ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length)) {
      ADD_FAILURE() << "the proxy could not listen";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~DeadCancelProxy() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) ::close(fd);
    ::close(listener_);
  }
  int port() const { return port_; }
  // Whether a connection came after the first one: the cancel request reached the proxy.
  bool cancelArrived() const { return cancelArrived_; }

 private:
  void serve() {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(serverPort_));
    if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(client);
      ::close(server);
      return;
    }
    held_ = {client, server};
    for (;;) {
      pollfd fds[3] = {{listener_, POLLIN, 0}, {client, POLLIN, 0}, {server, POLLIN, 0}};
      if (::poll(fds, 3, 200) < 0 || stopping_) return;
      if (fds[0].revents & POLLIN) {
        const int late = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (late >= 0) {
          held_.push_back(late);  // taken, never read, never answered
          cancelArrived_ = true;
        }
      }
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
      for (auto [from, to] : {std::pair{1, server}, std::pair{2, client}}) {
        if (!(fds[from].revents & (POLLIN | POLLHUP))) continue;
        char buffer[65536];
        const ssize_t got = ::read(fds[from].fd, buffer, sizeof buffer);
        if (got <= 0) return;
        for (ssize_t done = 0; done < got;) {
          const ssize_t put = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
          if (put <= 0) return;
          done += put;
        }
      }
    }
  }

  int serverPort_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::vector<int> held_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> cancelArrived_{false};
};

TEST_F(ServerStopTest, ACancelThatIsNeverAnsweredDoesNotHoldTheStop) {
  DeadCancelProxy proxy(std::stoi(facts()["PG_PORT"]));
  ASSERT_NE(proxy.port(), 0);
  std::string section = postgresSection("PostgreSQL ANSI", facts()["PG_DATABASE"], true);
  section.replace(section.find("Port=" + facts()["PG_PORT"]), 5 + facts()["PG_PORT"].size(),
                  "Port=" + std::to_string(proxy.port()));
  addDataSourceSection("dead-cancel", section);
  const std::string dir = temp_ / "dead-cancel";
  std::filesystem::create_directories(dir);
  const std::string target = dir + "/report.csv";
  writeFile(target, kPreviousExport);
  const std::string marker = "deadcancel_" + std::to_string(::getpid());
  const std::string job = writeJob("dead-cancel", userFor(kPgAnsi), passwordFor(kPgAnsi),
                                   kCases[0].sleeping(marker), true);

  ChildProcess child(temp_.path());
  ASSERT_TRUE(
      child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target}));
  ASSERT_TRUE(waitForRunning(kCases[0], marker, "1", 60s)) << "the statement never ran";
  ::kill(child.pid(), SIGTERM);
  // Far less than the two minutes the statement sleeps: the stop's own deadline ends it.
  const ChildResult run = child.wait(30s);
  EXPECT_FALSE(run.timedOut) << "the stop waited for a cancel that never came back";
  EXPECT_TRUE(proxy.cancelArrived()) << "the driver never sent its cancel request";
  expectStopped(run, SIGTERM, dir, target);
}

// What a run past its timeout must leave: the status, the one line that says why, no
// temporary file, the old file as it was, and no race seen by ThreadSanitizer between the
// watchdog and the run.
void expectTimedOut(const ChildResult& run, int status, const std::string& lines,
                    const std::string& dir, const std::string& target) {
  EXPECT_EQ(run.exitStatus, status) << run.err;
  EXPECT_EQ(support::withoutSummary(run.err), lines);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(listDirectory(dir), ElementsAre("report.csv"));
  EXPECT_EQ(readFile(target), kPreviousExport);
}

TEST_F(ServerStopTest, AStatementPastTheTimeoutFailsInTimeAndStopsOnTheServer) {
  for (const StopCase& c : kCases) {
    SCOPED_TRACE(c.dataSource);
    const auto [dir, target, marker, job] = sleeper(c, "timeout_");
    const auto started = std::chrono::steady_clock::now();
    const ChildResult run = ::rowpress::support::runRowpress(
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
  writeFile(target, kPreviousExport);
  const std::string stalling =
      writeJob(kPgRowByRow, userFor(kPgRowByRow), passwordFor(kPgRowByRow),
               "select x || pg_sleep(case when x = 4 then 120 else 0.5 end)::text as x "
               "from generate_series(1, 6) as x",
               true);
  const ChildResult run = ::rowpress::support::runRowpress(
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
  writeFile(target, kPreviousExport);
  const std::string job = writeJob("silent-server", "someone", "secret", "select 1", true);
  const auto started = std::chrono::steady_clock::now();
  const ChildResult run = ::rowpress::support::runRowpress(
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
    ASSERT_EQ(driverCancelsSafely(connectionOf(*session)), c.cancelled);
    if (!c.cancelled) continue;
    const std::string marker = "thread_" + std::to_string(::getpid());

    bool seenRunning = false;
    std::thread stopper([&] {
      seenRunning = waitForRunning(c, marker, "1", 60s);
      stop.request(SIGTERM);
    });
    const auto started = std::chrono::steady_clock::now();
    std::string sql = c.sleeping(marker);
    ResultCursor::Executed executed = ResultCursor::Executed::Result;
    {
      OdbcResultCursor cursor(*session);
      ExecutingStatement executing(StopRequest::instance(), cursor);
      executed = cursor.execute(sql);
    }
    stopper.join();
    EXPECT_TRUE(seenRunning);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s) << "not cancelled";
    // PostgreSQL reports the cancel as an error; MariaDB's SLEEP ends early with a result.
    if (executed == ResultCursor::Executed::Failed) {
      EXPECT_THAT(GetStatementDiagnostic(statementOf(*session)), ::testing::StartsWith("["));
    }
    EXPECT_TRUE(waitForRunning(c, marker, "0", 30s));
    // The statement handle and the connection serve the next statement.
    SQLFreeStmt(statementOf(*session), SQL_CLOSE);
    std::string next = "select 7";
    ASSERT_TRUE(succeeded(
        SQLExecDirect(statementOf(*session), reinterpret_cast<SQLCHAR*>(next.data()), SQL_NTS)))
        << GetStatementDiagnostic(statementOf(*session));
    ASSERT_TRUE(succeeded(SQLFetch(statementOf(*session))));
    char value[16] = {0};
    SQLLEN indicator = 0;
    SQLGetData(statementOf(*session), 1, SQL_C_CHAR, value, sizeof value, &indicator);
    EXPECT_STREQ(value, "7");
  }
  stop.reset();
}

}  // namespace
}  // namespace rowpress::support
