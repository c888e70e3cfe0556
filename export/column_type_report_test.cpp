#include "export/column_type_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::readFile;
using support::TempDir;

TEST(ColumnTypeReport, WritesOneRawLinePerColumn) {
  TempDir dir;
  ColumnTypeReport report;
  report.open(dir.path());
  report.addColumn(1, ColumnInfo{"id", 4, 10, 0});
  report.addColumn(2, ColumnInfo{"a,\"b\"", -9, -1, -3});
  report.addColumn(3, ColumnInfo{"d", 9, 0, 0});
  report.close();
  EXPECT_EQ(readFile(dir / "lasttablecolumntypeinfo.csv"),
            "Column_Number,Column_Name,Column_Type,Column_Precision,Column_Scale,"
            "Column_Type_Description\r\n"
            "1,id,4,10,0,INTEGER Exact numeric value with precision 10 and scale 0\r\n"
            "2,a,\"b\",-9,4294967295,-3,VARWCHAR(n) Unicode variable-length character string with "
            "a maximum string length n\r\n"
            "3,d,9,0,0,*UNKNOWN COLUMN TYPE*\r\n");
}

TEST(ColumnTypeReport, TypeTextsKeepTheirSpecialBytes) {
  EXPECT_EQ(std::string(columnTypeDescription(-1)),
            "LONG VARCHAR Variable length character data. Maximum length is data source\x96"
            "dependent.");
  EXPECT_THAT(columnTypeDescription(7), ::testing::HasSubstr("10[\x96"
                                                             "38] to 10[38]"));
  EXPECT_THAT(columnTypeDescription(107), ::testing::HasSubstr("TO MONTH \tNumber"));
  EXPECT_THAT(columnTypeDescription(91), ::testing::HasSubstr("(See \"Constraints"));
  EXPECT_EQ(std::string(columnTypeDescription(-11)), "SQL_GUID");
  EXPECT_EQ(std::string(columnTypeDescription(114)), "*UNKNOWN COLUMN TYPE*");
  for (int code : {-11, -10, -9, -8, -7, -6, -5, -4, -3, -2, -1,  1,  2,
                   3,   4,   5,  6,  7,  8,  12, 91, 92, 93, 101, 113}) {
    EXPECT_EQ(std::string(columnTypeDescription(static_cast<std::int16_t>(code))).find(','),
              std::string::npos);
  }
}

// A report that cannot be written is no error of the run, which goes on; it says why.
TEST(ColumnTypeReport, AnUnwritableDirectoryIsNoErrorButIsSaid) {
  ColumnTypeReport report;
  report.open("/nonexistent-dir");
  report.addColumn(1, ColumnInfo{"id", 4, 10, 0});
  report.close();
  EXPECT_FALSE(support::fileExists("/nonexistent-dir/lasttablecolumntypeinfo.csv"));
  EXPECT_EQ(report.problem(),
            "unable to create: /nonexistent-dir/lasttablecolumntypeinfo.csv (No such file or "
            "directory); the column type report was not written.");
}

// The report replaces the previous one as a whole, and only when it is complete; a second
// name of the previous report is never written through.
TEST(ColumnTypeReport, ReplacesThePreviousReportOnlyWhenClosed) {
  TempDir dir;
  const std::string path = dir / "lasttablecolumntypeinfo.csv";
  support::writeFile(path, "the previous report\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ColumnTypeReport report;
  report.open(dir.path());
  report.addColumn(1, ColumnInfo{"id", 4, 10, 0});
  EXPECT_EQ(readFile(path), "the previous report\r\n");
  // While it is written, a stop removes its temporary file if the run cannot.
  EXPECT_FALSE(RunFiles::instance().empty());
  report.close();
  EXPECT_TRUE(RunFiles::instance().empty());
  EXPECT_THAT(readFile(path), ::testing::EndsWith("\r\n1,id,4,10,0,INTEGER Exact numeric value "
                                                  "with precision 10 and scale 0\r\n"));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(::link(path.c_str(), (dir / "kept.csv").c_str()), 0);
  const std::string kept = readFile(dir / "kept.csv");
  ColumnTypeReport second;
  second.open(dir.path());
  second.addColumn(1, ColumnInfo{"other", 12, 5, 0});
  second.close();
  EXPECT_THAT(second.problem(),
              ::testing::HasSubstr("(File has 2 hard links; replacing it would split them)"));
  EXPECT_EQ(readFile(dir / "kept.csv"), kept);
  EXPECT_EQ(readFile(path), kept);
  EXPECT_THAT(support::listDirectory(dir.path()),
              ::testing::ElementsAre("kept.csv", "lasttablecolumntypeinfo.csv"));
}

}  // namespace
}  // namespace rowpress
