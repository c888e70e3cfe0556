// Dates and times as the spreadsheet's serial numbers.
#include "export/typed_cells.h"

#include <gtest/gtest.h>

namespace rowpress {
namespace {

TEST(TypedCells, DaysCountFrom1899_12_30AndTheCalendarEndsAt9999) {
  SqlDateTime value;
  double serial = 0;
  ASSERT_TRUE(parseSqlDateTime("1900-03-01", value));
  ASSERT_TRUE(spreadsheetSerial(value, serial));
  EXPECT_EQ(serial, 61);
  ASSERT_TRUE(parseSqlDateTime("9999-12-31 12:00:00", value));
  ASSERT_TRUE(spreadsheetSerial(value, serial));
  EXPECT_EQ(serial, 2958465.5);
  ASSERT_TRUE(parseSqlDateTime("06:00:00", value));
  ASSERT_TRUE(spreadsheetSerial(value, serial));
  EXPECT_EQ(serial, 0.25);
  ASSERT_TRUE(parseSqlDateTime("1900-02-28", value));
  EXPECT_FALSE(spreadsheetSerial(value, serial));
}

}  // namespace
}  // namespace rowpress
