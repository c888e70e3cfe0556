#include "tests/support/xml_check.h"

#include "tests/support/child_process.h"

namespace rowpress::support {

::testing::AssertionResult wellFormedXml(const std::vector<std::string>& paths) {
  const std::string xmllint = findProgram("xmllint");
  if (xmllint.empty()) {
    return ::testing::AssertionFailure() << "xmllint is missing: install libxml2-utils";
  }
  std::vector<std::string> argv = {xmllint, "--noout"};
  argv.insert(argv.end(), paths.begin(), paths.end());
  const ChildResult result = runProgram(argv, kNoLimit);
  if (result.exitStatus == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "xmllint exit status " << result.exitStatus << ", signal " << result.signal << ":\n"
         << result.err.substr(0, 2000);
}

}  // namespace rowpress::support
