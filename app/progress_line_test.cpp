#include "app/progress_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace rowpress {
namespace {

using std::chrono::milliseconds;

TEST(ProgressLine, TheLineGivesRowsRateAndTenthsOfSeconds) {
  EXPECT_EQ(ProgressLine::text(12345, milliseconds(3000)), "12345 rows, 4115 rows/s, 3.0 s");
  EXPECT_EQ(ProgressLine::text(0, milliseconds(0)), "0 rows, 0 rows/s, 0.0 s");
  // Grouped by the window's locale: groups of three from the right, any separator.
  EXPECT_EQ(ProgressLine::text(1234567, milliseconds(1000), ","),
            "1,234,567 rows, 1,234,567 rows/s, 1.0 s");
  EXPECT_EQ(ProgressLine::text(999, milliseconds(1000), "\u202f"), "999 rows, 999 rows/s, 1.0 s");
  EXPECT_EQ(ProgressLine::finishing(500000, "writing the workbook", milliseconds(14200), "\u202f"),
            "500\u202f000 rows, writing the workbook, 14.2 s");
  EXPECT_EQ(secondsText(milliseconds(1250)), "1.3");
  EXPECT_EQ(secondsText(milliseconds(49)), "0.0");
  EXPECT_EQ(secondsText(milliseconds(59960)), "60.0");
}

TEST(ProgressLine, TheEndLineGivesTheFullPathOfTheKeptFileOrSaysNoneWas) {
  EXPECT_EQ(runEndLine(3, milliseconds(200), "/home/ann/out.csv"),
            "3 rows in 0.2 s, kept /home/ann/out.csv");
  EXPECT_EQ(runEndLine(2048, milliseconds(1260), ""), "2048 rows in 1.3 s, no file kept");
  // A name typed without a directory is where the run wrote it: the working directory.
  const std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(runEndLine(1, milliseconds(0), "./sub/../out.csv"),
            "1 rows in 0.0 s, kept " + here + "/out.csv");
}

// Reads what is in the pipe now, waiting up to `limit` for the first bytes.
std::string readPipe(int fd, int limitMs) {
  std::string seen;
  pollfd ready{fd, POLLIN, 0};
  while (::poll(&ready, 1, seen.empty() ? limitMs : 0) > 0) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return seen;
}

class ProgressLineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
  void TearDown() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int fds_[2] = {-1, -1};
};

TEST_F(ProgressLineTest, RedrawsTheCountInPlaceAndErasesItself) {
  ProgressLine line(fds_[1]);
  line.draw(12);
  line.draw(4242);
  // A report's sheet names the rows that follow, escaped like every text from outside.
  line.setSheet(
      "Q\x1b"
      "4");
  line.draw(5);
  std::string seen = readPipe(fds_[0], 0);
  EXPECT_EQ(seen.find("\r12 rows, "), 0u) << seen;
  ASSERT_NE(seen.find("\x1b[K\r4242 rows, "), std::string::npos) << seen;
  ASSERT_NE(seen.find("\x1b[K\rQ\\x1b4: 5 rows, "), std::string::npos) << seen;
  EXPECT_EQ(seen.find('\n'), std::string::npos);  // always the same line
  line.erase();
  EXPECT_EQ(readPipe(fds_[0], 0), "\r\x1b[K");
  // Erased, it stays erased: what follows on the terminal is the run's own lines.
  line.draw(777);
  line.erase();
  EXPECT_EQ(readPipe(fds_[0], 0), "");
}

TEST_F(ProgressLineTest, ALineNeverDrawnIsNotErasedEither) {
  { ProgressLine line(fds_[1]); }
  EXPECT_EQ(readPipe(fds_[0], 0), "");
}

}  // namespace
}  // namespace rowpress
