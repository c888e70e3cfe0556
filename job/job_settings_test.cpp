#include "job/job_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace rowpress {
namespace {

TEST(JobSettings, FreshRecordExportsTheWorkbook) {
  JobSettings job;
  EXPECT_EQ(outputTypeOf(job), OutputType::Xml);
  EXPECT_TRUE(job.dataSource.empty() && job.sql.empty() && job.outFileName.empty());
  EXPECT_FALSE(job.silent || job.noAutoOpen || job.excel2007 || job.forceFullLength);
}

TEST(JobSettings, OutputTypePrecedenceIsHtmlThenTsvThenCsvThenXlsx) {
  JobSettings job;
  job.outputXlsx = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Xlsx);
  job.outputCsv = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Csv);
  job.outputTsv = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Tsv);
  job.outputHtml = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Html);
}

TEST(JobSettings, SettingAnOutputTypeClearsEveryOtherFlag) {
  for (OutputType type :
       {OutputType::Xml, OutputType::Csv, OutputType::Tsv, OutputType::Html, OutputType::Xlsx}) {
    JobSettings job;
    job.outputCsv = job.outputTsv = job.outputHtml = job.outputXlsx = true;
    setOutputType(job, type);
    EXPECT_EQ(outputTypeOf(job), type);
    EXPECT_EQ(job.outputCsv + job.outputTsv + job.outputHtml + job.outputXlsx,
              type == OutputType::Xml ? 0 : 1);
  }
}

TEST(JobSettings, OverLongFieldsAreRefusedWithTheirOutcome) {
  JobSettings job;
  EXPECT_FALSE(findLimitProblem(job));
  job.password = std::string(127, 'p');
  job.outFileName = std::string(255, 'f');
  job.sql = std::string(32767, 's');
  EXPECT_FALSE(findLimitProblem(job));

  job.password = std::string(128, 'p');
  auto problem = findLimitProblem(job);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "The password is longer than 127 bytes and was refused.");
  EXPECT_EQ(problem->outcome, RunOutcome::NoConnection);

  job.password = std::string(127, 'p');
  job.sql.push_back('s');
  ASSERT_TRUE(findLimitProblem(job));
  EXPECT_EQ(findLimitProblem(job)->outcome, RunOutcome::StatementFailed);

  job.sql.pop_back();
  job.outFileName.push_back('f');
  ASSERT_TRUE(findLimitProblem(job));
  EXPECT_EQ(findLimitProblem(job)->outcome, RunOutcome::OutputFile);

  // A report's later sheet is held to the SQL text's limit as well, and named.
  job.outFileName.pop_back();
  job.sheets = {{"First", job.sql}, {"Later", std::string(32768, 's')}};
  problem = findLimitProblem(job);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->outcome, RunOutcome::StatementFailed);
  EXPECT_THAT(problem->message, ::testing::StartsWith("Sheet \"Later\": "));
  job.sheets[1].sql.pop_back();
  EXPECT_FALSE(findLimitProblem(job));
  // So many sheets that a stop could not know every file of a CSV report: refused whole.
  job.sheets.resize(kMaxReportSheets + 1, JobSheet{"More", "select 1"});
  problem = findLimitProblem(job);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->outcome, RunOutcome::JobUnreadable);
  job.sheets.pop_back();
  EXPECT_FALSE(findLimitProblem(job));
}

TEST(JobSettings, ANulByteIsRefusedInEveryFieldLikeAnOverLongValue) {
  struct Case {
    void (*set)(JobSettings& job, const std::string& value);
    const char* message;
    RunOutcome outcome;
  };
  const Case cases[] = {
      {[](JobSettings& job, const std::string& value) { job.dataSource = value; },
       "The data source name holds a NUL byte and was refused.", RunOutcome::NoConnection},
      {[](JobSettings& job, const std::string& value) { job.userName = value; },
       "The user name holds a NUL byte and was refused.", RunOutcome::NoConnection},
      {[](JobSettings& job, const std::string& value) { job.password = value; },
       "The password holds a NUL byte and was refused.", RunOutcome::NoConnection},
      {[](JobSettings& job, const std::string& value) { job.sql = value; },
       "The SQL text holds a NUL byte and was refused.", RunOutcome::StatementFailed},
      {[](JobSettings& job, const std::string& value) { job.outFileName = value; },
       "The output file name holds a NUL byte and was refused.", RunOutcome::OutputFile},
      {[](JobSettings& job, const std::string& value) { job.launchApplication = value; },
       "The application to launch holds a NUL byte and was refused.", RunOutcome::OutputFile},
  };
  for (const Case& c : cases) {
    JobSettings job;
    c.set(job, std::string("/d/victim\0x", 11));
    auto problem = findLimitProblem(job);
    ASSERT_TRUE(problem) << c.message;
    EXPECT_EQ(problem->message, c.message);
    EXPECT_EQ(problem->outcome, c.outcome);
    // A NUL at either end too.
    c.set(job, std::string(1, '\0'));
    EXPECT_TRUE(findLimitProblem(job)) << c.message;
  }
}

TEST(JobSettings, TheApplicationIsCheckedOnlyWhenTheResultIsToBeLaunched) {
  JobSettings job;
  job.launchApplication = std::string(256, 'a');
  ASSERT_TRUE(findLimitProblem(job));
  EXPECT_EQ(findLimitProblem(job)->message,
            "The application to launch is longer than 255 bytes and was refused.");
  job.noAutoOpen = true;
  EXPECT_FALSE(findLimitProblem(job));
  job.launchApplication = std::string("app\0x", 5);
  EXPECT_FALSE(findLimitProblem(job));
  // Everything else is still checked.
  job.outFileName = std::string(256, 'f');
  ASSERT_TRUE(findLimitProblem(job));
  EXPECT_EQ(findLimitProblem(job)->message,
            "The output file name is longer than 255 bytes and was refused.");
}

TEST(JobSettings, ACopyHoldsEveryValueAndItsPasswordsInMemoryOfItsOwn) {
  JobSettings job;
  job.dataSource = "sales";
  job.sql = "select 1";
  job.password = "secret";
  job.outsidePassword = Secret("from outside");
  job.outputTsv = true;
  job.timeoutSeconds = 30;
  job.strict = job.manifest = job.manifestValues = job.decimalComma = true;
  job.separator = ";";
  job.timeZone = "Europe/Berlin";
  job.readFrom = {FileIdentity{1, 2}};
  job.sheets = {{"Orders", "select 1"}, {"Lines", "select 2"}};
  job.parameters = {{"month", "2026-11"}};
  JobSettings copy = copyOf(job);
  job.password.clear();
  job.outsidePassword->clear();
  EXPECT_EQ(copy.password, "secret");
  ASSERT_TRUE(copy.outsidePassword);
  EXPECT_EQ(*copy.outsidePassword, "from outside");
  EXPECT_EQ(copy.dataSource, "sales");
  EXPECT_EQ(copy.sql, "select 1");
  EXPECT_EQ(outputTypeOf(copy), OutputType::Tsv);
  EXPECT_EQ(copy.timeoutSeconds, 30);
  EXPECT_TRUE(copy.strict && copy.manifest && copy.manifestValues && copy.decimalComma);
  EXPECT_EQ(copy.separator, ";");
  EXPECT_EQ(copy.timeZone, "Europe/Berlin");
  EXPECT_EQ(copy.readFrom, job.readFrom);
  EXPECT_EQ(copy.sheets, job.sheets);
  EXPECT_EQ(copy.parameters, job.parameters);
}

TEST(JobSettings, AParameterIsANameAnEqualsSignAndAValueTheLastOneWinning) {
  JobSettings job;
  EXPECT_EQ(applyParameter(job, "month=2026-11"), std::nullopt);
  EXPECT_EQ(applyParameter(job, "who=a=b"), std::nullopt);  // the first "=" ends the name
  EXPECT_EQ(applyParameter(job, "empty="), std::nullopt);
  EXPECT_EQ(applyParameter(job, "month=2026-12"), std::nullopt);
  EXPECT_EQ(job.parameters,
            (std::vector<JobParameter>{{"month", "2026-12"}, {"who", "a=b"}, {"empty", ""}}));
  ASSERT_NE(parameterValue(job, "who"), nullptr);
  EXPECT_EQ(*parameterValue(job, "who"), "a=b");
  EXPECT_EQ(parameterValue(job, "Month"), nullptr);  // names are case-sensitive

  for (const char* text : {"month", "=x", "1st=x", "_a=x", "a-b=x", "na me=x", "ä=x"}) {
    EXPECT_TRUE(applyParameter(job, text)) << text;
  }
  EXPECT_TRUE(applyParameter(job, std::string("nul=a\0b", 7)));
  EXPECT_EQ(job.parameters.size(), 3u);
}

}  // namespace
}  // namespace rowpress
