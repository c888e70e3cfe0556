// Sessions on a real PostgreSQL server: the table list of a data source, a long server message
// in the diagnostic line, and logins that fail, in the dialog logic and in the unattended run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "app/startup.h"
#include "tests/app_support/dialog_fixture.h"
#include "tests/servers/server_test.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The diagnostic line of a refused connection to the shared server, with the driver's whole
// message, so that a log says why.
std::string connectDiagnostic(const std::string& reason) {
  const std::string message = "[unixODBC]connection to server at \"127.0.0.1\", port " +
                              serverFacts()["PG_PORT"] + " failed: FATAL:  " + reason;
  return "[08001] " + message + " (101)\n";
}

class PostgresSessionTest : public DialogOn<ServerTest> {
 protected:
  // Selects `dataSource` in the data source list, as the user does after typing the
  // credentials; the table list then shows its tables.
  std::vector<std::string> selectDataSource(const std::string& dataSource) {
    dlg_.OnListDatabases();
    const std::vector<std::string> names = view_.lines(ControlId::DataSourceList);
    auto found = std::find(names.begin(), names.end(), dataSource);
    EXPECT_NE(found, names.end()) << dataSource << " is not among the data sources";
    if (found == names.end()) return {};
    view_.type(ControlId::UserName, userFor(dataSource));
    view_.type(ControlId::Password, passwordFor(dataSource));
    view_.select(ControlId::DataSourceList, static_cast<int>(found - names.begin()));
    return view_.lines(ControlId::TableList);
  }
};

TEST_F(PostgresSessionTest, TheTableListHoldsTheTablesOfTheDatabase) {
  // A database of its own, so that the list is exactly what this test created.
  const std::string database = unique("catalog");
  run(kPgAnsi, "drop database if exists " + database);
  run(kPgAnsi, "create database " + database);
  addDataSourceSection("pg-catalog", postgresSection("PostgreSQL ANSI", database, false));
  run("pg-catalog", "create table orders (id integer, total numeric(8,2))");
  run("pg-catalog", "create table \"Order Details\" (id integer)");
  run("pg-catalog", "create table alpha (a text)");
  run("pg-catalog", "create view beta_view as select id from orders");
  run("pg-catalog", "insert into orders values (7, 12.50)");

  // Sorted without regard to case; views are listed too, system tables are not.
  EXPECT_THAT(selectDataSource("pg-catalog"),
              ElementsAre("alpha", "beta_view", "Order Details", "orders"));
  EXPECT_EQ(job_.dataSource, "pg-catalog");
  EXPECT_EQ(job_.password, passwordFor("pg-catalog"));

  view_.select(ControlId::TableList, 3);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from orders");
  ASSERT_EQ(dlg_.OnFetch().outcome, RunOutcome::Exported);
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("select * from orders", "id | total | ", "7 | 12.50 | "));

  // The default query puts a name with a blank between back-quotes, which PostgreSQL does
  // not accept: the run ends as a failed statement with the server's syntax error.
  view_.select(ControlId::TableList, 2);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from `Order Details`");
  EXPECT_EQ(dlg_.OnFetch().outcome, RunOutcome::StatementFailed);
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("select * from `Order Details`", "SQL statement failed.",
                          "[42601] ERROR: syntax error at or near \"`\";\\nError while executing "
                          "the query (1)\n"));
}

TEST_F(PostgresSessionTest, AFailedConnectIsTheTableListsOnlyLine) {
  std::string reason = connectDiagnostic("database \"no_such_database\" does not exist");
  reason.pop_back();  // the list's line ends without a line break
  EXPECT_THAT(selectDataSource(kPgNoDatabase), ElementsAre("did not connect\n" + reason));
}

TEST_F(PostgresSessionTest, ALongServerMessageIsCutTo99Bytes) {
  // PostgreSQL keeps 63 bytes of a name; with them the message is longer than 99 bytes.
  const std::string name(63, 'q');
  ASSERT_EQ(fetchFrom(kPgAnsi, "select * from " + name).outcome, RunOutcome::StatementFailed);
  const std::string message =
      "ERROR: relation \"" + name + "\" does not exist;\nError while executing the query";
  ASSERT_GT(message.size(), 99u);
  ASSERT_EQ(message.find('\n'), 97u);
  // The status list shows the line feed inside the message escaped.
  EXPECT_EQ(statusList().at(2), "[42P01] " + message.substr(0, 97) + "\\nE (1)\n");
}

TEST_F(PostgresSessionTest, AMissingDatabaseIsAFailedConnect) {
  RunResult result = fetchFrom(kPgNoDatabase, "select 1");
  EXPECT_EQ(result.outcome, RunOutcome::NoConnection);
  // The driver's message, with the reason at its end.
  EXPECT_EQ(result.connectDiagnostic,
            connectDiagnostic("database \"no_such_database\" does not exist"));
  EXPECT_THAT(statusList(), ElementsAre("select 1", "did not connect", result.connectDiagnostic));
  EXPECT_THAT(outputFiles(), IsEmpty());
}

// The unattended run of the real executable.
class PostgresUnattendedTest : public ServerTest {
 protected:
  int runJob(const std::string& dataSource, const std::string& password) {
    const std::string job =
        writeJob(dataSource, userFor(dataSource), password, "select 1 as one", true);
    return runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out_});
  }
  std::string out_ = temp_ / "one.csv";
};

TEST_F(PostgresUnattendedTest, TheRightPasswordExports) {
  EXPECT_EQ(runJob(kPgLogin, passwordFor(kPgLogin)), 0) << stderrText();
  EXPECT_EQ(readFile(out_), "one,\r\n1,\r\n");
  EXPECT_EQ(stdoutText(), out_ + "\n");
}

TEST_F(PostgresUnattendedTest, APasswordWithBlanksQuotesAndBracesReachesTheServerUnchanged) {
  // Through the settings file (scrambled), the reader and SQLConnect, byte for byte: the
  // server accepts only the exact password, leading and trailing blanks included.
  const std::string role = unique("tricky");
  const std::string password = " pa ss;{w}=rd'\"x\\ ";
  std::string quoted;
  for (char c : password) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  run(kPgAnsi, "drop role if exists " + role);
  run(kPgAnsi, "create role " + role + " login password '" + quoted + "'");
  std::string job = writeJob(kPgLogin, role, password, "select current_user as who", true);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out_}), 0)
      << stderrText();
  EXPECT_EQ(readFile(out_), "who,\r\n" + role + ",\r\n");

  // The same password without its trailing blank is another password.
  ::unlink(out_.c_str());
  job = writeJob(kPgLogin, role, password.substr(0, password.size() - 1), "select 1", true);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out_}), 2);
  EXPECT_FALSE(fileExists(out_));
}

TEST_F(PostgresUnattendedTest, AWrongPasswordEndsWithStatus2AndWritesNothing) {
  EXPECT_EQ(runJob(kPgLogin, "wrong-" + passwordFor(kPgLogin)), 2);
  EXPECT_FALSE(fileExists(out_));
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_EQ(stdoutText(), "");
  const std::string err = stderrText();
  EXPECT_EQ(support::withoutSummary(err),
            "rowpress: did not connect\nrowpress: " +
                connectDiagnostic("password authentication failed for user \"rowpress\""));
  EXPECT_THAT(err, HasSubstr("\nrowpress: could not connect after "));
  EXPECT_THAT(err, Not(HasSubstr(passwordFor(kPgLogin))));
}

TEST_F(PostgresUnattendedTest, NoPasswordEndsWithStatus2) {
  EXPECT_EQ(runJob(kPgLogin, ""), 2);
  EXPECT_FALSE(fileExists(out_));
  EXPECT_THAT(stderrText(), HasSubstr("no password supplied"));
}

TEST_F(PostgresUnattendedTest, AMissingDatabaseEndsWithStatus2) {
  writeFile(out_, "an earlier export\n");
  EXPECT_EQ(runJob(kPgNoDatabase, passwordFor(kPgNoDatabase)), 2);
  EXPECT_EQ(readFile(out_), "an earlier export\n");
  EXPECT_THAT(temporaryLeftovers(temp_.path()), IsEmpty());
  EXPECT_EQ(support::withoutSummary(stderrText()),
            "rowpress: did not connect\nrowpress: " +
                connectDiagnostic("database \"no_such_database\" does not exist"));
}

TEST_F(PostgresUnattendedTest, ThePasswordFromOutsideReachesTheServerAndNothingElse) {
  using namespace std::chrono_literals;
  const std::string user = userFor(kPgLogin);
  const std::string password = passwordFor(kPgLogin);
  const std::string wrong = "wrong-" + password;
  const std::string marker = "creds_" + std::to_string(::getpid());
  // The job file holds no user name and a wrong password: the environment beats it.
  std::string job = writeJob(kPgLogin, "", wrong, "select pg_sleep(120) as " + marker, true);

  // While the run is connected, neither its command line nor its environment holds the
  // password: /proc/PID/environ shows the block that the process was started with, read
  // here as root, who may read it even where the process is not dumpable.
  {
    ChildProcess child(temp_.path());
    ASSERT_TRUE(child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out_},
                                    {{"ROWPRESS_USER", user}, {"ROWPRESS_PASSWORD", password}}));
    ASSERT_TRUE(waitForValue(kPgAnsi,
                             "select count(*) from pg_stat_activity where state = 'active' and "
                             "query like '%pg_sleep(120) as " +
                                 marker +
                                 "%' and pid <> "
                                 "pg_backend_pid()",
                             "1", 60s))
        << "the run never logged in with the password of the environment: " << stderrText();
    const std::string cmdline = readFile("/proc/" + std::to_string(child.pid()) + "/cmdline");
    EXPECT_THAT(cmdline, HasSubstr("-silent"));
    EXPECT_THAT(cmdline, Not(HasSubstr(password)));
    const std::string environment = readFile("/proc/" + std::to_string(child.pid()) + "/environ");
    EXPECT_THAT(environment, HasSubstr("ODBCINI="));
    EXPECT_THAT(environment, Not(HasSubstr(password)));
    EXPECT_THAT(environment, Not(HasSubstr("ROWPRESS_PASSWORD")));
    EXPECT_THAT(environment, Not(HasSubstr("ROWPRESS_USER")));
    child.kill(SIGTERM);
    EXPECT_EQ(child.wait(60s).exitStatus, 128 + SIGTERM);
    EXPECT_THAT(stderrText(), Not(HasSubstr(password)));
  }
}

// Standard streams closed at start (`0<&- 1>&- 2>&-`) are not the numbers that the connection
// takes: a line for standard error would go into the database's socket.
TEST_F(PostgresUnattendedTest, TheConnectionTakesNoClosedStandardStreamsNumber) {
  using namespace std::chrono_literals;
  const std::string marker = "streams_" + std::to_string(::getpid());
  const std::string job = writeJob(kPgLogin, userFor(kPgLogin), passwordFor(kPgLogin),
                                   "select pg_sleep(120) as " + marker, true);
  ChildProcess child(temp_.path());
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) child.giveDescriptor(fd, -1);
  ASSERT_TRUE(child.startRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out_}));
  ASSERT_TRUE(waitForValue(kPgAnsi,
                           "select count(*) from pg_stat_activity where state = 'active' and "
                           "query like '%pg_sleep(120) as " +
                               marker + "%' and pid <> pg_backend_pid()",
                           "1", 60s))
      << "the run never started its statement";
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    const std::string link = "/proc/" + std::to_string(child.pid()) + "/fd/" + std::to_string(fd);
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null") << link;
  }
  child.kill(SIGTERM);
  EXPECT_EQ(child.wait(60s).exitStatus, 128 + SIGTERM);
}

TEST_F(PostgresUnattendedTest, APasswordFileBeatsTheEnvironmentAndTheViewerInheritsNeither) {
  using namespace std::chrono_literals;
  const std::string user = userFor(kPgLogin);
  const std::string password = passwordFor(kPgLogin);
  const std::string wrong = "wrong-" + password;
  // The password file beats the environment; the program that opens the result inherits
  // neither variable. It writes its environment beside the file it opens.
  const std::string passwordFile = temp_ / "pg.pw";
  writeFile(passwordFile, password + "\n");
  ASSERT_EQ(::chmod(passwordFile.c_str(), 0600), 0);
  const std::string job = writeJob(kPgLogin, "", "", "select current_user as who", true);
  ChildProcess child(temp_.path());
  ASSERT_TRUE(child.startRowpress(
      {"-silent", "-file=" + job, "-outfile=" + out_, "-passwordfile=" + passwordFile,
       "-openwith=/bin/sh -c 'env > \"$0.env.part\" && mv \"$0.env.part\" \"$0.env\"'"},
      {{"ROWPRESS_USER", user}, {"ROWPRESS_PASSWORD", wrong}}));
  const ChildResult result = child.wait(60s);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(readFile(out_), "who,\r\n" + user + ",\r\n");
  EXPECT_THAT(result.err, Not(HasSubstr(password)));
  waitForFile(out_ + ".env", 30s);
  const std::string viewerEnvironment = readFile(out_ + ".env");
  ASSERT_THAT(viewerEnvironment, HasSubstr("ODBCINI=")) << "the viewer never wrote its environment";
  EXPECT_THAT(viewerEnvironment, Not(HasSubstr("ROWPRESS_USER")));
  EXPECT_THAT(viewerEnvironment, Not(HasSubstr("ROWPRESS_PASSWORD")));
  EXPECT_THAT(viewerEnvironment, Not(HasSubstr(password)));
}

TEST_F(PostgresUnattendedTest, AReadablePasswordFileIsRefusedAndNoStatusLineShowsAPassword) {
  using namespace std::chrono_literals;
  const std::string user = userFor(kPgLogin);
  const std::string password = passwordFor(kPgLogin);
  const std::string passwordFile = temp_ / "pg.pw";
  writeFile(passwordFile, password + "\n");
  const std::string job = writeJob(kPgLogin, "", "", "select current_user as who", true);
  // A password file that group or others may read stops the run before it connects, and
  // says why without the password.
  ASSERT_EQ(::chmod(passwordFile.c_str(), 0640), 0);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out_,
                         "-passwordfile=" + passwordFile}),
            6);
  EXPECT_THAT(stderrText(), HasSubstr("rowpress: " + passwordFile +
                                      ": The password file gives group or others access (mode "
                                      "0640); only its owner may read it (chmod 600).\n"));
  EXPECT_THAT(stderrText(), Not(HasSubstr(password)));
  EXPECT_FALSE(fileExists(out_));

  // The status lines of a run with the password of the environment.
  SavedVariable userVariable(kUserVariable), passwordVariable(kPasswordVariable);
  ::setenv(kUserVariable, user.c_str(), 1);
  ::setenv(kPasswordVariable, password.c_str(), 1);
  ASSERT_THAT(jobFromCommandLine(parseCommandLine({"rowpress", "-file=" + job, "-outfile=" + out_}),
                                 job_, takeOutsideCredentials(std::nullopt)),
              IsEmpty());
  ASSERT_EQ(rowpress::runJob(copyOf(job_), report_, launcher_, StopRequest::instance()).outcome,
            RunOutcome::Exported);
  EXPECT_THAT(statusList(), ElementsAre("select current_user as who", "who | ", user + " | "));
}

}  // namespace
}  // namespace rowpress::support
