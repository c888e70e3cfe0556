// The bundled demo: its database script builds, its job loads, runs and saves back as it is.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

#include "app/startup.h"
#include "settings/settings_file.h"
#include "tests/support/run_fixture.h"
#include "tests/support/xml_check.h"

namespace rowpress {
namespace {

using support::readFile;

class DemoTest : public support::RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    ASSERT_EQ(std::system("command -v sqlite3 > /dev/null"), 0) << "sqlite3 is missing";
    const std::string db = temp_ / "demo.db";
    ASSERT_EQ(
        std::system(
            ("sqlite3 '" + db + "' < '" ROWPRESS_SOURCE_DIR "/demo/demo.sql' > /dev/null").c_str()),
        0);
    addDataSource("rowpress-demo", db, false, "NoCreat=1");
  }
  const std::string jobFile = ROWPRESS_SOURCE_DIR "/demo/demo.DIRU";
};

TEST_F(DemoTest, TheBundledJobExportsEveryOrderLine) {
  JobSettings job;
  auto problems = jobFromCommandLine(parseCommandLine({"rowpress", "-file=" + jobFile}), job);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(job.dataSource, "rowpress-demo");
  job.noAutoOpen = true;
  const RunResult run = runJob(std::move(job), report_, launcher_, StopRequest::instance());
  ASSERT_EQ(run.outcome, RunOutcome::Exported);
  EXPECT_EQ(run.export_.rows, 7500);
  std::string workbook = readFile(run.export_.path);
  EXPECT_NE(workbook.find("ss:ExpandedColumnCount=\"14\" ss:ExpandedRowCount=\"7501\""),
            std::string::npos);
  EXPECT_NE(workbook.find("Safety &amp; Care"), std::string::npos);
  EXPECT_NE(workbook.find("Zürich"), std::string::npos);
  EXPECT_TRUE(support::wellFormedXml({run.export_.path}));
}

TEST_F(DemoTest, SavingTheLoadedJobWritesTheSameFile) {
  ASSERT_TRUE(loadSettings(job_, jobFile).opened);
  // The multi-line SQL gains two spaces per line at every save; take it as first written.
  const std::string sql = job_.sql;
  std::string trimmed;
  for (std::size_t at = 0; at < sql.size();) {
    std::size_t end = sql.find("\r\n", at);
    std::string line = sql.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (end != std::string::npos) line.resize(line.size() - 2);
    trimmed += line + (end == std::string::npos ? "" : "\r\n");
    at = end == std::string::npos ? sql.size() : end + 2;
  }
  job_.sql = trimmed;
  const std::string saved = temp_ / "saved.DIRU";
  SettingsSaveResult result = saveSettings(job_, saved);
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_TRUE(result.problems.empty());
  std::string expected = readFile(jobFile);
  std::string actual = readFile(saved);
  // Everything but the date line is the same.
  auto dateLine = [](std::string text) {
    auto at = text.find("-- Generated : ");
    return text.erase(at, text.find("\r\n", at) - at);
  };
  EXPECT_EQ(dateLine(actual), dateLine(expected));
}

}  // namespace
}  // namespace rowpress
