// The export run on a session or on a result written down by the test: typed .xlsx cells read
// back by an independent reader, the file replaced whole, faults a driver shows rarely, a stop
// while the workbook is being assembled, and a run that runs out of memory or threads.
#include "export/export_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "export/stop_request.h"
#include "tests/spreadsheet/sheet_reader.h"
#include "tests/support/export_run_fixture.h"
#include "tests/support/fake_result_cursor.h"

namespace rowpress {
namespace {

using support::FakeResultCursor;
using support::readFile;
using support::RecordingReport;
using support::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST_F(ExportRunTest, AnXlsxRunReplacesItsTargetWithTypedCells) {
  execute("create table kinds (n double, d date, t timestamp, b bit, s varchar(10))");
  execute("insert into kinds values (3.25, '2024-02-29', '2024-01-02 03:04:05', 1, '<a&b>')");
  execute("insert into kinds values (NULL, '0000-00-00', NULL, 0, NULL)");
  setOutputType(job_, OutputType::Xlsx);
  job_.outFileName = temp_ / "kinds.xlsx";
  writeFile(job_.outFileName, "the old workbook");
  RecordingReport report;
  // Options of the other types change nothing here.
  job_.forceFullLength = true;
  job_.quoteFields = true;
  const ExportResult result = exportSql("select * from kinds", report);
  ASSERT_EQ(result.outcome, RunOutcome::Exported);
  EXPECT_EQ(result.rows, 2);
  EXPECT_THAT(report.lines, ElementsAre("n | d | t | b | s | ",
                                        "3.25 | 2024-02-29 | 2024-01-02 03:04:05 | 1 | <a&b> | ",
                                        " | 0000-00-00 |  | 0 |  | "));
  EXPECT_TRUE(result.messages.empty());
  // Nothing but the workbook is left beside it: the library's files went with the run.
  for (const std::string& name : support::listDirectory(temp_.path())) {
    EXPECT_NE(name[0], '.') << name;
  }
  const support::SheetDump dump = support::readWithPython("xlsx", job_.outFileName, temp_.path());
  EXPECT_EQ(dump.errors, std::vector<std::string>{}) << dump.log;
  ASSERT_EQ(dump.sheets.size(), 1u);
  using Row = support::SheetRow;
  EXPECT_THAT(
      dump.sheets[0].rows,
      ElementsAre(Row{{"text", "n"}, {"text", "d"}, {"text", "t"}, {"text", "b"}, {"text", "s"}},
                  Row{{"number", "3.25"},
                      {"datetime", "2024-02-29T00:00:00"},
                      {"datetime", "2024-01-02T03:04:05"},
                      {"bool", "TRUE"},
                      {"text", "<a&b>"}},
                  Row{{"", ""}, {"text", "0000-00-00"}, {"", ""}, {"bool", "FALSE"}, {"", ""}}));
}

// Makes the writer of the type and asks the run to stop while the file is being finished, as
// a signal during a long assembly of a workbook would.
class StopWhileFinishing : public OutputWriter {
 public:
  static std::unique_ptr<OutputWriter> make(OutputType type, const WriterOptions& options) {
    return std::make_unique<StopWhileFinishing>(makeWriter(type, options));
  }
  explicit StopWhileFinishing(std::unique_ptr<OutputWriter> inner)
      : OutputWriter(WriterOptions{}), inner_(std::move(inner)) {}
  void begin(OutputFile& out) override { inner_->begin(out); }
  void endRow() override { inner_->endRow(); }
  void finish(int columnCount, long long tableRows) override {
    StopRequest::instance().request(0);
    inner_->finish(columnCount, tableRows);
  }

 protected:
  void startRow() override { inner_->beginRow(); }

 private:
  std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) override {
    return inner_->header(columns);
  }
  ValueChanges writeCell(const CellValue& value, const ColumnInfo&) override {
    return inner_->cell(value);
  }

  std::unique_ptr<OutputWriter> inner_;
};

TEST_F(ExportRunTest, AStopDuringTheFinishOfTheFileRemovesItOnceItIsDone) {
  StopRequest::instance().reset();
  job_.dataSource = "rowtest";
  job_.outputXlsx = true;
  job_.noAutoOpen = false;
  job_.outFileName = temp_ / "people.xlsx";
  writeFile(job_.outFileName, "the old workbook");
  auto session = OpenSession(job_, kFetchSessionMessages);
  ASSERT_TRUE(session);
  RecordingReport report;
  ExportRun run(job_, report, StopRequest::instance(), &StopWhileFinishing::make);
  std::string sql = "select 1 as id, 'A&B' as name union all select null, null";
  const ExportResult result = run.run(*session, sql);
  StopRequest::instance().reset();
  EXPECT_EQ(result.outcome, RunOutcome::Stopped);
  EXPECT_FALSE(result.kept);
  EXPECT_EQ(report.lines.back(), "Stopped after 2 rows; no output file was written.");
  EXPECT_EQ(readFile(job_.outFileName), "the old workbook");
  EXPECT_THAT(support::listDirectory(temp_.path()),
              ::testing::Not(::testing::Contains(::testing::HasSubstr(".part"))));
}

// The writer of the type, which runs out at the second row as a process limit makes a run
// run out: of memory (ulimit -v), or of threads (one that cannot start).
class RunsOutAtTheSecondRow : public StopWhileFinishing {
 public:
  template <bool Memory>
  static std::unique_ptr<OutputWriter> make(OutputType type, const WriterOptions& options) {
    return std::make_unique<RunsOutAtTheSecondRow>(makeWriter(type, options), Memory);
  }
  RunsOutAtTheSecondRow(std::unique_ptr<OutputWriter> inner, bool memory)
      : StopWhileFinishing(std::move(inner)), memory_(memory) {}

 private:
  void startRow() override {
    if (++rows_ == 2) {
      if (memory_) throw std::bad_alloc();
      throw std::system_error(EAGAIN, std::generic_category(), "thread");
    }
    StopWhileFinishing::startRow();
  }

  bool memory_;
  int rows_ = 0;
};

// The run ends as a file that could not be written, with the reason: the earlier workbook
// stays, and neither the temporary file nor the library's work directory is left.
TEST_F(ExportRunTest, ARunThatRunsOutOfMemoryOrThreadsEndsAsAFileNotWritten) {
  job_.dataSource = "rowtest";
  job_.outputXlsx = true;
  job_.noAutoOpen = false;
  job_.outFileName = temp_ / "people.xlsx";
  writeFile(job_.outFileName, "the old workbook");
  struct Case {
    WriterMaker maker;
    std::string reason;
  };
  for (const Case& c :
       {Case{&RunsOutAtTheSecondRow::make<true>, "Cannot allocate memory"},
        Case{&RunsOutAtTheSecondRow::make<false>, "Resource temporarily unavailable"}}) {
    SCOPED_TRACE(c.reason);
    auto session = OpenSession(job_, kFetchSessionMessages);
    ASSERT_TRUE(session);
    RecordingReport report;
    ExportRun run(job_, report, StopRequest::instance(), c.maker);
    std::string sql = "select 1 as id union all select 2 union all select 3";
    const ExportResult result = run.run(*session, sql);
    EXPECT_EQ(result.outcome, RunOutcome::OutputFile);
    EXPECT_FALSE(result.kept);
    const std::string line = "unable to write: " + job_.outFileName + " (" + c.reason + ")";
    EXPECT_EQ(result.outputFailure, line);
    EXPECT_EQ(report.lines.back(), line);
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0].caption, "Unable to Write Output File");
    EXPECT_EQ(readFile(job_.outFileName), "the old workbook");
    EXPECT_THAT(support::listDirectory(temp_.path()),
                ::testing::Not(::testing::Contains(::testing::HasSubstr(".rowpress-"))));
  }
}

// The faults below come from a result written down by the test: a driver shows them rarely.
// A fetch that fails at row 15 ends the run as a failed statement: the rows before it are
// not kept, the earlier file stays, nothing is launched.
TEST_F(ExportRunTest, AFetchThatFailsAtARowFailsTheStatementAndKeepsTheOldFile) {
  FakeResultCursor cursor = FakeResultCursor::numbered(20);
  cursor.failFetchOf = 15;
  setOutputType(job_, OutputType::Csv);
  job_.noAutoOpen = false;
  job_.outFileName = temp_ / "old.csv";
  writeFile(job_.outFileName, "old");
  RecordingReport report;
  std::string sql = "select n, name from t";
  const ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(cursor, sql);
  EXPECT_EQ(result.outcome, RunOutcome::StatementFailed);
  EXPECT_EQ(result.rows, 14);
  EXPECT_FALSE(result.kept);
  EXPECT_EQ(cursor.sql, sql);
  ASSERT_EQ(report.lines.size(), 14u);
  EXPECT_EQ(report.lines[0], "n | name | ");
  EXPECT_EQ(report.lines[11], "11 | r11 | ");
  EXPECT_EQ(report.lines[12], "SQL statement failed.");
  EXPECT_EQ(report.lines[13], cursor.failure);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(result.messages[0].text, cursor.failure);
  EXPECT_EQ(result.messages[0].caption, "SQL statement failed.");
  EXPECT_EQ(readFile(job_.outFileName), "old");
  // The run's temporary file beside the target is gone.
  EXPECT_THAT(support::listDirectory(temp_.path()),
              ::testing::Each(::testing::Not(HasSubstr(".old.csv"))));
}

// A value that the driver fails to deliver fails the statement at once: no later value of the
// row is asked for, and a binary column is never read at all.
TEST_F(ExportRunTest, AValueThatCannotBeReadFailsTheStatementAndBinaryValuesAreNeverRead) {
  FakeResultCursor cursor = FakeResultCursor::numbered(3);
  cursor.columns.insert(cursor.columns.begin() + 1, ColumnInfo{"data", -3, 16, 0});
  for (FakeResultCursor::Row& row : cursor.rows) row.insert(row.begin() + 1, "never read");
  cursor.failValueAt = {2, 3};
  RecordingReport report;
  std::string sql = "select n, data, name from t";
  const ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(cursor, sql);
  EXPECT_EQ(result.outcome, RunOutcome::StatementFailed);
  using Read = std::pair<int, int>;
  EXPECT_THAT(cursor.read, ElementsAre(Read{1, 1}, Read{1, 3}, Read{2, 1}, Read{2, 3}));
  EXPECT_THAT(report.lines, ElementsAre("n | data | name | ", "1 | <BINARY> | r1 | ",
                                        "SQL statement failed.", cursor.failure));
  EXPECT_TRUE(outputFiles().empty());

  // An .xlsx cell tells NULL apart: whether the binary value is NULL is asked, in column
  // order, and a driver that cannot tell fails the statement too.
  FakeResultCursor xlsx = FakeResultCursor::numbered(3);
  xlsx.columns.insert(xlsx.columns.begin() + 1, ColumnInfo{"data", -3, 16, 0});
  for (FakeResultCursor::Row& row : xlsx.rows) row.insert(row.begin() + 1, std::nullopt);
  xlsx.failValueAt = {2, 2};
  setOutputType(job_, OutputType::Xlsx);
  RecordingReport xlsxReport;
  EXPECT_EQ(ExportRun(job_, xlsxReport, StopRequest::instance()).run(xlsx, sql).outcome,
            RunOutcome::StatementFailed);
  EXPECT_THAT(xlsx.read, ElementsAre(Read{1, 1}, Read{1, 2}, Read{1, 3}, Read{2, 1}, Read{2, 2}));
  EXPECT_TRUE(outputFiles().empty());
}

// A column count that the driver cannot tell, or one over 256, ends the run before any
// column is described or any row fetched.
TEST_F(ExportRunTest, AColumnCountUnknownOrOver256EndsTheRunBeforeTheColumns) {
  FakeResultCursor unknown = FakeResultCursor::numbered(1);
  unknown.countFails = true;
  FakeResultCursor wide = FakeResultCursor::numbered(1);
  wide.columns.resize(300);
  struct Case {
    FakeResultCursor& cursor;
    RunOutcome outcome;
    std::vector<std::string> lines;
    ExportMessage message;
  } cases[] = {
      {unknown,
       RunOutcome::StatementFailed,
       {"SQL statement failed.", unknown.failure},
       {unknown.failure, "Could not retrieve number of columns.", ""}},
      {wide,
       RunOutcome::Limit,
       {"Column Count Greater than 256"},
       {"Column Count Greater than 256", "TOO BIG", ""}},
  };
  for (Case& c : cases) {
    RecordingReport report;
    std::string sql = "select *";
    const ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(c.cursor, sql);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(report.lines, c.lines);
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0].text, c.message.text);
    EXPECT_EQ(result.messages[0].caption, c.message.caption);
    EXPECT_EQ(c.cursor.described, -1);
    EXPECT_TRUE(c.cursor.read.empty());
    EXPECT_TRUE(outputFiles().empty());
  }
}

}  // namespace
}  // namespace rowpress
