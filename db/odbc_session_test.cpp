// The ODBC session against the real driver manager and SQLite driver, watched through the
// driver manager's own trace of every call: moving a session hands its handles and its
// connected state over, and whatever owns them releases them once, in order.
#include "db/odbc_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "db/odbc_handles.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAreArray;

// The releasing calls of a driver manager trace, one line each: the function with the
// arguments of its entry ("SQLDisconnect Connection = 0x..."), or the error that the driver
// manager refused a call with ("SQLDisconnect Error: SQL_INVALID_HANDLE").
std::vector<std::string> releasingCalls(const std::string& trace) {
  std::vector<std::string> calls;
  std::istringstream in(trace);
  std::string line;
  std::string function;
  bool entry = false;
  while (std::getline(in, line)) {
    if (line.rfind("[ODBC]", 0) == 0) {
      // [ODBC][pid][time][SQLDisconnect.c][191] and, for a refused call, its error.
      const std::size_t file = line.find("][SQL");
      const std::size_t dot = line.find(".c]", file);
      function = file == std::string::npos || dot == std::string::npos
                     ? std::string()
                     : line.substr(file + 2, dot - file - 2);
      const std::string rest = line.substr(line.rfind(']') + 1);
      if (!rest.empty()) calls.push_back(function + " " + rest);
      entry = false;
    } else if (line == "\t\tEntry:") {
      entry = function == "SQLDisconnect" || function == "SQLFreeHandle";
      if (entry) calls.push_back(function);
    } else if (entry && line.rfind("\t\t\t", 0) == 0) {
      calls.back() += " " + line.substr(3);
    } else {
      entry = false;
    }
  }
  return calls;
}

std::string pointer(SQLHANDLE handle) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", handle);
  return text;
}

// The calls that release a whole session, in the order they must come: the second connection
// in the typed mode (the test's data source streams), then statement, connection, environment.
std::vector<std::string> closing(const OdbcSession& session) {
  EXPECT_NE(typedConnectionOf(session), nullptr);
  return {
      "SQLDisconnect Connection = " + pointer(typedConnectionOf(session)),
      "SQLFreeHandle Handle Type = 2 Input Handle = " + pointer(typedConnectionOf(session)),
      "SQLFreeHandle Handle Type = 3 Input Handle = " + pointer(statementOf(session)),
      "SQLDisconnect Connection = " + pointer(connectionOf(session)),
      "SQLFreeHandle Handle Type = 2 Input Handle = " + pointer(connectionOf(session)),
      "SQLFreeHandle Handle Type = 1 Input Handle = " + pointer(environmentOf(session)),
  };
}

class OdbcSessionTest : public support::OdbcTest {
 protected:
  std::optional<OdbcSession> open() {
    JobSettings job;
    job.dataSource = "rowtest";
    return OpenSession(job, kFetchSessionMessages);
  }
};

TEST_F(OdbcSessionTest, AFailedOpenSaysWhichStepFailedAndWhy) {
  JobSettings job;
  job.dataSource = "no such source";
  for (const SessionMessages* messages : {&kFetchSessionMessages, &kSelectionSessionMessages}) {
    SessionFailure failure;
    EXPECT_FALSE(OpenSession(job, *messages, &failure));
    EXPECT_EQ(failure.line, "did not connect");
    EXPECT_THAT(failure.connectDiagnostic, ::testing::StartsWith("[IM002] "));
  }
  // Without a record of the failure the caller learns only that it failed.
  EXPECT_FALSE(OpenSession(job, kFetchSessionMessages));
}

TEST_F(OdbcSessionTest, MovedSessionsAreReleasedOnceByTheirOwnerInOrder) {
  const std::string trace = temp_ / "trace.log";
  traceOdbcCalls(trace);
  std::vector<std::string> expected;
  {
    // OpenSession itself moves the session it built into its result.
    std::optional<OdbcSession> first = open();
    ASSERT_TRUE(first);
    const SQLHENV environment = environmentOf(*first);
    const SQLHSTMT statement = statementOf(*first);
    ASSERT_TRUE(environment && connectionOf(*first) && statement);
    const std::vector<std::string> first_closing = closing(*first);

    OdbcSession moved(std::move(*first));
    EXPECT_EQ(connectionOf(*first), nullptr);
    EXPECT_EQ(typedConnectionOf(*first), nullptr);
    EXPECT_EQ(statementOf(moved), statement);
    // The emptied session owns nothing: closing it releases nothing.
    first->close();
    first.reset();

    // Moving onto an open session releases that session's own handles first.
    std::optional<OdbcSession> second = open();
    ASSERT_TRUE(second);
    expected = closing(*second);
    *second = std::move(moved);
    EXPECT_EQ(environmentOf(moved), nullptr);
    moved.close();

    // The connection still works for its new owner.
    SQLCHAR sql[] = "select 1";
    EXPECT_TRUE(succeeded(SQLExecDirect(statementOf(*second), sql, SQL_NTS)));
    expected.insert(expected.end(), first_closing.begin(), first_closing.end());
    second->close();
    second->close();  // a closed session releases nothing more
  }
  ASSERT_TRUE(support::fileExists(trace)) << "the driver manager wrote no trace";
  EXPECT_THAT(releasingCalls(support::readFile(trace)), ElementsAreArray(expected));
}

}  // namespace
}  // namespace rowpress
