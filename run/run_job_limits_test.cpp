// The workbook's row and column limits, tested for real on generated results.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "export/export_run.h"
#include "tests/support/run_fixture.h"
#include "tests/support/xml_check.h"

namespace rowpress {
namespace {

using support::readFile;
using support::RunTest;

std::string countingQuery(long long rows) {
  return "with recursive c(x) as (select 1 union all select x + 1 from c where x < " +
         std::to_string(rows) + ") select x from c";
}

std::string wideQuery(int columns) {
  std::string sql = "select ";
  for (int i = 1; i <= columns; ++i) {
    sql += std::to_string(i) + " as c" + std::to_string(i) + (i < columns ? ", " : "");
  }
  return sql;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ExportLimitsTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    job_.outFileName = temp_ / "out.xls";
  }
};

TEST_F(ExportLimitsTest, WorkbookTakes65533DataRows) {
  ASSERT_EQ(fetch(countingQuery(65533)).outcome, RunOutcome::Exported);
  std::string file = readFile(job_.outFileName);
  EXPECT_NE(file.find("<Table ss:ExpandedColumnCount=\"1\" ss:ExpandedRowCount=\"65534\""),
            std::string::npos);
  EXPECT_EQ(count(file, "<Row>"), 65534u);
  EXPECT_TRUE(report_.messages.empty());
}

TEST_F(ExportLimitsTest, WorkbookStopsAfterTheRowThatCrossesTheLimitAndStillOpens) {
  ASSERT_EQ(fetch(countingQuery(70000)).outcome, RunOutcome::Limit);
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, "Row Count Larger than 65534 ");
  EXPECT_EQ(report_.messages[0].caption, "TOO BIG");
  std::string file = readFile(job_.outFileName);
  EXPECT_EQ(count(file, "<Row>"), 65535u);
  EXPECT_NE(file.find("ss:ExpandedRowCount=\"65535\""), std::string::npos);
  EXPECT_NE(file.find(">65534</Data>"), std::string::npos);
  EXPECT_EQ(file.find(">65535</Data>"), std::string::npos);
  EXPECT_TRUE(file.ends_with("</Workbook>\r\n"));
  EXPECT_TRUE(support::wellFormedXml({job_.outFileName}));
}

TEST_F(ExportLimitsTest, OtherOutputTypesHaveNoRowLimit) {
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(fetch(countingQuery(70000)).outcome, RunOutcome::Exported);
  std::string file = readFile(job_.outFileName);
  EXPECT_EQ(count(file, "\r\n"), 70001u);
  EXPECT_TRUE(file.ends_with("\r\n70000,\r\n"));
}

TEST_F(ExportLimitsTest, WorkbookTakes255ColumnsAndStopsAt256) {
  ASSERT_EQ(fetch(wideQuery(255)).outcome, RunOutcome::Exported);
  EXPECT_TRUE(report_.messages.empty());

  ASSERT_EQ(fetch(wideQuery(256)).outcome, RunOutcome::Limit);
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, "Column Count Greater than 255");
  EXPECT_EQ(report_.messages[0].caption, "TOO BIG");
  std::string file = readFile(job_.outFileName);
  // The header row holds all 256 names; the data row stops after 255 cells.
  EXPECT_EQ(count(file, "ss:Type=\"String\">c"), 256u);
  EXPECT_EQ(count(file, "<Cell>"), 256u + 255u);
  EXPECT_NE(file.find(">255</Data>"), std::string::npos);
  EXPECT_EQ(file.find(">256</Data>"), std::string::npos);
  EXPECT_TRUE(support::wellFormedXml({job_.outFileName}));
}

TEST_F(ExportLimitsTest, CsvTakes256ColumnsAndMoreAreRefused) {
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(fetch(wideQuery(256)).outcome, RunOutcome::Exported);
  EXPECT_TRUE(readFile(job_.outFileName).ends_with(",256,\r\n"));

  support::writeFile(job_.outFileName, "previous");
  ASSERT_EQ(fetch(wideQuery(257)).outcome, RunOutcome::Limit);
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, "Column Count Greater than 256");
  EXPECT_EQ(readFile(job_.outFileName), "previous");

  // Refused with a default name: the name reserved for the run is given back.
  job_.outFileName.clear();
  ASSERT_EQ(fetch(wideQuery(257)).outcome, RunOutcome::Limit);
  EXPECT_TRUE(outputFiles().empty());
}

}  // namespace
}  // namespace rowpress
