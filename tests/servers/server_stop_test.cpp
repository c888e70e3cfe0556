// A stop signal while the server is still executing the statement: on the PostgreSQL and
// MariaDB drivers the statement is cancelled on the server (it stops running there), the
// temporary file goes, the file that had the target's name stays, and rowpress exits with
// 128 plus the signal number.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/servers/server_test.h"

namespace rowpress::testing {
namespace {

using ::testing::ElementsAre;

using namespace std::chrono_literals;

constexpr char kPrevious[] = "the previous export\r\n";

struct StopCase {
  const char* dataSource;
  // A statement that runs for two minutes, carrying `marker` so that it can be found.
  std::string (*sleeping)(const std::string& marker);
  // How many statements carrying `marker` the server is executing.
  std::string (*running)(const std::string& marker);
};

const StopCase kCases[] = {
    {kPgAnsi, [](const std::string& marker) { return "select pg_sleep(120) as " + marker; },
     [](const std::string& marker) {
       return "select count(*) from pg_stat_activity where state = 'active' and pid <> "
              "pg_backend_pid() and query like '%pg_sleep(120) as " +
              marker + "%'";
     }},
    {kMariaDb, [](const std::string& marker) { return "select sleep(120) as " + marker; },
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
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (queryValue(c.dataSource, c.running(marker)) == count) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
};

TEST_F(ServerStopTest, ASignalCancelsTheStatementOnTheServer) {
  for (const StopCase& c : kCases) {
    SCOPED_TRACE(c.dataSource);
    const std::string dir = temp_ / c.dataSource;
    std::filesystem::create_directories(dir);
    const std::string target = dir + "/report.csv";
    writeFile(target, kPrevious);
    const std::string marker = "stop_" + std::to_string(::getpid());
    const std::string job = writeJob(c.dataSource, userFor(c.dataSource), passwordFor(c.dataSource),
                                     c.sleeping(marker), true);

    ChildProcess child;
    ASSERT_TRUE(child.start(
        {ROWPRESS_BINARY, "-silent", "-noautoopen", "-file=" + job, "-outfile=" + target},
        temp_ / "stdout", temp_ / "stderr"));
    ASSERT_TRUE(waitForRunning(c, marker, "1", 60s)) << "the statement never ran";
    ::kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.wait(60s), 128 + SIGTERM) << stderrText();
    // Cancelled, not left sleeping on a connection that is gone.
    EXPECT_TRUE(waitForRunning(c, marker, "0", 30s)) << "the statement still runs on the server";
    EXPECT_THAT(listDirectory(dir), ElementsAre("report.csv"));
    EXPECT_EQ(readFile(target), kPrevious);
  }
}

}  // namespace
}  // namespace rowpress::testing
