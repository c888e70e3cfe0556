// The fixture of the export run's tests: a data source holding a small table of people, on the
// export's fixture or on the run's (`WithPeople<support::RunTest>`).
#pragma once

#include <gtest/gtest.h>

#include "tests/support/export_fixture.h"

namespace rowpress {

template <class Fixture>
class WithPeople : public Fixture {
 protected:
  void SetUp() override {
    Fixture::SetUp();
    this->execute("create table people (id integer, name varchar(20))");
    this->execute("insert into people values (1, 'A&B')");
    this->execute("insert into people values (NULL, NULL)");
  }
};

using ExportRunTest = WithPeople<support::ExportTest>;

}  // namespace rowpress
