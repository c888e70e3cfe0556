#include "app/job_settings.h"

#include <gtest/gtest.h>

namespace rowpress {
namespace {

TEST(JobSettings, FreshRecordExportsTheWorkbook) {
  JobSettings job;
  EXPECT_EQ(outputTypeOf(job), OutputType::Xml);
  EXPECT_TRUE(job.dataSource.empty() && job.sql.empty() && job.outFileName.empty());
  EXPECT_FALSE(job.silent || job.noAutoOpen || job.excel2007 || job.forceFullLength);
}

TEST(JobSettings, OutputTypePrecedenceIsHtmlThenTsvThenCsv) {
  JobSettings job;
  job.outputCsv = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Csv);
  job.outputTsv = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Tsv);
  job.outputHtml = true;
  EXPECT_EQ(outputTypeOf(job), OutputType::Html);
}

TEST(JobSettings, OverLongFieldsAreRefusedWithTheirOutcome) {
  JobSettings job;
  EXPECT_FALSE(findLimitProblem(job));
  job.password = std::string(127, 'p');
  job.outFileName = std::string(255, 'f');
  job.sql = std::string(32767, 's');
  EXPECT_FALSE(findLimitProblem(job));

  job.password.push_back('p');
  auto problem = findLimitProblem(job);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "The password is longer than 127 bytes and was refused.");
  EXPECT_EQ(problem->outcome, RunOutcome::NoConnection);

  job.password.pop_back();
  job.sql.push_back('s');
  ASSERT_TRUE(findLimitProblem(job));
  EXPECT_EQ(findLimitProblem(job)->outcome, RunOutcome::StatementFailed);

  job.sql.pop_back();
  job.outFileName.push_back('f');
  ASSERT_TRUE(findLimitProblem(job));
  EXPECT_EQ(findLimitProblem(job)->outcome, RunOutcome::OutputFile);
}

}  // namespace
}  // namespace rowpress
