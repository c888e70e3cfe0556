// A result written down by a test instead of fetched from a driver: its columns, its rows and
// the step at which the driver fails. What a driver cannot easily be made to do (fail the fetch
// of row N, fail to deliver one value, fail to count the columns, be cancelled while it
// executes) is one field here. It records what the export run asked of it.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/result_cursor.h"
#include "export/export_report.h"
#include "tests/support/recording_report.h"

namespace rowpress::support {

class FakeResultCursor : public ResultCursor, public ResultRows {
 public:
  // A result of an integer column "n" and a text column "name" with `count` rows: (1, "r1"),
  // (2, "r2"), ...
  static FakeResultCursor numbered(int count) {
    FakeResultCursor cursor;
    cursor.columns = {ColumnInfo{"n", 4, 10, 0}, ColumnInfo{"name", 12, 20, 0}};
    for (int i = 1; i <= count; ++i) {
      cursor.rows.push_back({std::to_string(i), "r" + std::to_string(i)});
    }
    return cursor;
  }

  using Row = std::vector<std::optional<std::string>>;  // nothing: NULL

  // What the result is.
  Executed executed = Executed::Result;
  std::vector<ColumnInfo> columns;
  std::vector<Row> rows;
  bool countFails = false;                // the driver cannot tell the column count
  int failFetchOf = 0;                    // the fetch of this row (from 1) fails
  std::pair<int, int> failValueAt{0, 0};  // (row, column) whose value cannot be read
  std::string failure = "[HY000] the fake driver failed (7)\n";
  std::optional<long long> affected;
  bool safeToCancel = false;
  // Runs inside execute(), on the run's thread; and before the fetch of each row (from 1).
  std::function<void()> whileExecuting;
  std::function<void(int row)> beforeFetch;
  // Runs before each part that nextPart() gives of a long value (from 2: value() gave the first).
  std::function<void(int part)> beforePart;

  // What the run asked.
  std::string sql;
  std::vector<std::string> values;        // bound to the statement's parameters, in order
  int described = -1;                     // the count that describe() was asked for
  std::vector<std::pair<int, int>> read;  // the values read: (row, column)
  int partsRead = 0;                      // the parts that nextPart() gave
  // Cancels asked, from the stop request's own thread: a count that a copy of the fake
  // starts from.
  struct Count {
    std::atomic<int> value{0};
    Count() = default;
    Count(const Count& other) : value(other.value.load()) {}
    int load() const { return value.load(); }
  } cancels;

  using ResultCursor::execute;
  Executed execute(const std::string& text, const std::vector<std::string>& bound) override {
    sql = text;
    values = bound;
    if (whileExecuting) whileExecuting();
    return executed;
  }
  ResultRows& result() override { return *this; }
  std::optional<int> columnCount() override {
    if (countFails) return std::nullopt;
    return static_cast<int>(columns.size());
  }
  const std::vector<ColumnInfo>& describe(int n) override {
    described = n;
    columns.resize(static_cast<std::size_t>(n));
    return columns;
  }
  Fetched fetch() override {
    const int next = current_ + 1;
    if (beforeFetch) beforeFetch(next);
    if (next == failFetchOf) return Fetched::Failed;
    if (next > static_cast<int>(rows.size())) return Fetched::End;
    current_ = next;
    return Fetched::Row;
  }
  bool value(int k, CellValue& value) override {
    read.emplace_back(current_, k);
    if (std::pair(current_, k) == failValueAt) return false;
    const std::optional<std::string>& cell =
        rows.at(static_cast<std::size_t>(current_ - 1)).at(static_cast<std::size_t>(k - 1));
    // A value longer than a run keeps is cut as a driver's is read: at the limit, said so;
    // in parts mode the rest follows through nextPart().
    value = cell
                ? CellValue{std::string_view(*cell).substr(0, limit_), false, cell->size() > limit_}
                : CellValue{std::string_view(), true};
    partsFrom_ = value.cut && inParts_ ? limit_ : 0;
    return true;
  }
  void setValueLimit(std::size_t limit, bool inParts) override {
    limit_ = limit;
    inParts_ = inParts;
  }
  bool nextPart(int k, CellValue& part) override {
    ++partsRead;
    if (beforePart) beforePart(partsRead + 1);
    const std::string& cell =
        *rows.at(static_cast<std::size_t>(current_ - 1)).at(static_cast<std::size_t>(k - 1));
    part = CellValue{std::string_view(cell).substr(partsFrom_, limit_), false,
                     partsFrom_ + limit_ < cell.size()};
    partsFrom_ += limit_;
    return true;
  }
  bool isNull(int k, bool& null) override {
    read.emplace_back(current_, k);
    if (std::pair(current_, k) == failValueAt) return false;
    null = !rows.at(static_cast<std::size_t>(current_ - 1)).at(static_cast<std::size_t>(k - 1));
    return true;
  }
  std::string diagnostic() override { return failure; }
  std::optional<long long> affectedRows() override { return affected; }
  bool cancelsSafely() override { return safeToCancel; }
  void cancel() override { ++cancels.value; }

 private:
  int current_ = 0;
  std::size_t limit_ = kValueLimit;
  bool inParts_ = false;
  std::size_t partsFrom_ = 0;  // where the next part of the value last read starts
};

}  // namespace rowpress::support
