#include "tests/app_support/output_boxes.h"

#include <utility>

namespace rowpress::support {

std::string outputState(const View& view, const JobSettings& job) {
  std::string checked;
  for (auto [id, name] :
       {std::pair{ControlId::OutputXml, "XML"}, std::pair{ControlId::OutputCsv, "CSV"},
        std::pair{ControlId::OutputTsv, "TSV"}, std::pair{ControlId::OutputHtml, "HTML"},
        std::pair{ControlId::OutputXlsx, "XLSX"}}) {
    if (view.isChecked(id)) checked += checked.empty() ? name : std::string("+") + name;
  }
  const std::string flags = std::string(job.outputCsv ? "c" : "") + (job.outputTsv ? "t" : "") +
                            (job.outputHtml ? "h" : "") + (job.outputXlsx ? "x" : "");
  return checked + "/" + flags;
}

}  // namespace rowpress::support
