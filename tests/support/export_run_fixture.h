// The fixture of the export run's tests: a data source holding a small table of people.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/odbc_fixture.h"

namespace rowpress {

class ExportRunTest : public support::OdbcTest {
 protected:
  void SetUp() override {
    OdbcTest::SetUp();
    execute("create table people (id integer, name varchar(20))");
    execute("insert into people values (1, 'A&B')");
    execute("insert into people values (NULL, NULL)");
  }
};

}  // namespace rowpress
