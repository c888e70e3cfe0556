// The run holds one row at a time: the peak memory of the real executable does not grow with
// the number of rows, for any output type.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

class ExportMemoryTest : public support::OdbcTest {
 protected:
  // Runs the executable unattended on the first `rows` rows; returns its peak RSS in KiB.
  long peakKiB(const std::string& flag, long rows) {
    const std::string job = temp_ / ("job-" + std::to_string(rows) + ".DIRU");
    support::writeFile(job, "Database=\"rowtest\";\nSQL=\"select * from big limit " +
                                std::to_string(rows) + "\";\n" + flag + "=\"1\";\n");
    std::vector<std::string> args = {ROWPRESS_BINARY, "-silent", "-noautoopen", "-file=" + job,
                                     "-outfile=" + (temp_ / "out")};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
      // In the sanitizer build, freed memory would otherwise wait in a quarantine and count.
      const char* asan = ::getenv("ASAN_OPTIONS");
      const std::string options = std::string(asan ? asan : "") + ":quarantine_size_mb=0";
      ::setenv("ASAN_OPTIONS", options.c_str(), 1);
      ::freopen("/dev/null", "w", stdout);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    EXPECT_EQ(::wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << flag << " " << rows;
    return usage.ru_maxrss;
  }
};

TEST_F(ExportMemoryTest, PeakMemoryIsFlatInTheNumberOfRows) {
  execute(
      "create table big as with recursive c(i) as (select 1 union all select i + 1 from c "
      "where i < 200000) select i, 'row ' || i || ', with some text' as t, i * 0.5 as x, "
      "case when i % 3 = 0 then null else hex(randomblob(20)) end as h from c");
  // 2007 raises the workbook's row limit above the row count.
  for (const std::string flag : {"CSV", "TSV", "HTML", "2007"}) {
    const long small = peakKiB(flag, 10000);
    const long large = peakKiB(flag, 200000);
    EXPECT_LE(large, small + small / 10)
        << flag << ": " << small << " KiB at 10,000 rows, " << large << " KiB at 200,000";
  }
}

}  // namespace
}  // namespace rowpress
