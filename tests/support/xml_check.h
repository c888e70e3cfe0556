// The well-formedness check of written XML: xmllint, an XML parser that owes nothing to
// rowpress, reads the files.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rowpress::support {

// Succeeds when xmllint reads every file as well-formed XML. A failure carries xmllint's
// complaint, or says that xmllint is missing (the Debian package libxml2-utils): it never
// passes for want of the parser.
::testing::AssertionResult wellFormedXml(const std::vector<std::string>& paths);

}  // namespace rowpress::support
