// The counters of the values changed to fit: each rule that a value met counted once in its
// column, the counts listed by column and then by rule, a cut column name listed as a change
// of its own but not counted as a value. (What the executable says of them:
// app/value_account_test.cpp.)
#include "export/value_account.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace rowpress {
namespace {

// A change as one value: column, name, rule, count.
using Row = std::tuple<int, std::string, ValueRule, long long>;

std::vector<Row> asRows(const std::vector<ValueChange>& changes) {
  std::vector<Row> tuples;
  for (const ValueChange& change : changes) {
    tuples.emplace_back(change.column, change.name, change.rule, change.count);
  }
  return tuples;
}

TEST(ValueAccount, CountsEachRuleOfAValueOnceByColumnAndThenByRule) {
  std::vector<ColumnInfo> columns(3);
  columns[0].name = "memo";
  columns[1].name = "n";
  columns[2].name = std::string(255, 'x');
  columns[2].nameCut = true;
  ValueAccount account;
  account.reset(3);
  // Rules are listed in their own order, whatever the order the values met them in.
  account.add(1, changeOf(ValueRule::Unencodable));
  account.add(1, changeOf(ValueRule::Cut) | changeOf(ValueRule::Unencodable));
  account.add(1, changeOf(ValueRule::Cut));
  account.add(2, 0);
  account.add(3, changeOf(ValueRule::Binary));
  const std::vector<ValueChange> changes = account.changes(columns);
  EXPECT_EQ(asRows(changes), (std::vector<Row>{{1, "memo", ValueRule::Cut, 2},
                                               {1, "memo", ValueRule::Unencodable, 2},
                                               {3, columns[2].name, ValueRule::ColumnName, 1},
                                               {3, columns[2].name, ValueRule::Binary, 1}}));
  // The cut name is a change of the column, not of a value.
  EXPECT_EQ(changedValues({{"", columns, 3, changes}, {"b", columns, 0, changes}}), 10);
  EXPECT_EQ(firstRule(changeOf(ValueRule::Unencodable) | changeOf(ValueRule::Dropped)),
            ValueRule::Dropped);

  // A new sheet starts from nothing.
  account.reset(3);
  EXPECT_TRUE(account.changes({columns[0], columns[1], ColumnInfo{}}).empty());
}

}  // namespace
}  // namespace rowpress
