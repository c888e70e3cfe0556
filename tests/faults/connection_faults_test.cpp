// The real executable against data sources that cannot be reached: a driver library that is
// not there or is not an ODBC driver, a data source that is not defined, a database file
// that is missing (with NoCreat=1, so the driver may not create it). Each run ends with
// exit status 2 and puts the driver manager's or the driver's diagnostic on standard error,
// writes no file and leaves an existing file of the target's name alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::readFile;
using support::writeFile;
using ::testing::HasSubstr;

class ConnectionFaultTest : public support::RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    odbc_ = temp_ / "odbc";
    std::filesystem::create_directories(odbc_);
    target_ = temp_ / "report.xls";
    writeFile(target_, "yesterday's report\r\n");
  }

  // A private ODBC configuration for the child: the SQLite driver and `drivers` in
  // odbcinst.ini, `sources` in odbc.ini.
  support::EnvironmentChanges odbcWorld(const std::string& drivers, const std::string& sources) {
    writeFile(odbc_ + "/odbcinst.ini",
              std::string("[SQLite3]\nDriver=") + support::sqliteDriver() + "\n" + drivers);
    writeFile(odbc_ + "/odbc.ini", sources);
    writeFile(odbc_ + "/user.ini", "");
    return {{"ODBCSYSINI", odbc_}, {"ODBCINI", odbc_ + "/user.ini"}};
  }

  support::ChildResult runOn(const std::string& dataSource,
                             const support::EnvironmentChanges& changes = {}) {
    const std::string job = temp_ / "job.DIRU";
    writeFile(job, support::jobFileText(dataSource, "select 1 as one"));
    return support::runRowpress(
        temp_.path(), {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + target_}, changes);
  }

  // What every failed connection has in common.
  void expectNoConnection(const support::ChildResult& result) {
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_THAT(result.err, HasSubstr("rowpress: did not connect\n"));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(target_), "yesterday's report\r\n");
    EXPECT_THAT(support::listDirectory(temp_.path()),
                ::testing::Not(::testing::Contains(HasSubstr(".rowpress-"))));
    EXPECT_TRUE(outputFiles().empty());
  }

  std::string odbc_;
  std::string target_;
};

TEST_F(ConnectionFaultTest, ADriverLibraryThatIsNotThere) {
  support::ChildResult result =
      runOn("gone", odbcWorld("[Gone]\nDriver=/nonexistent/libgone.so\n",
                              "[gone]\nDriver=Gone\nDatabase=" + database() + "\n"));
  expectNoConnection(result);
  EXPECT_THAT(result.err, HasSubstr("rowpress: [01000] [unixODBC][Driver Manager]Can't open lib "
                                    "'/nonexistent/libgone.so' : file not found (0)\n"));
}

TEST_F(ConnectionFaultTest, ALibraryThatIsNotAnOdbcDriver) {
  const std::string library = "/lib/x86_64-linux-gnu/libm.so.6";
  ASSERT_TRUE(fileExists(library)) << library << " is missing";
  support::ChildResult result =
      runOn("notdriver",
            odbcWorld("[NotDriver]\nDriver=" + library + "\n", "[notdriver]\nDriver=NotDriver\n"));
  expectNoConnection(result);
  EXPECT_THAT(result.err, ::testing::ContainsRegex("rowpress: \\[IM0[0-9][0-9]\\] \\[unixODBC\\]"
                                                   "\\[Driver Manager\\][^\n]+ \\(0\\)\n"));
}

TEST_F(ConnectionFaultTest, ADataSourceThatIsNotDefined) {
  support::ChildResult result = runOn("nowhere", odbcWorld("", ""));
  expectNoConnection(result);
  EXPECT_THAT(result.err, HasSubstr("rowpress: [IM002] [unixODBC][Driver Manager]Data source name "
                                    "not found"));
}

TEST_F(ConnectionFaultTest, AMissingDatabaseFileIsNotCreated) {
  const std::string missing = temp_ / "missing.db";
  addDataSource("nofile", missing, false, "NoCreat=1");
  support::ChildResult result = runOn("nofile");
  expectNoConnection(result);
  EXPECT_THAT(result.err, ::testing::ContainsRegex("rowpress: \\[HY000\\] [^\n]*connect failed"));
  EXPECT_FALSE(fileExists(missing));
}

}  // namespace
}  // namespace rowpress
