// The output-type boxes of a window as a test sees them.
#pragma once

#include <string>

#include "app/view.h"
#include "job/job_settings.h"

namespace rowpress::support {

// The checked output boxes and the job's output flags as one word: "XML/" for a workbook,
// "CSV/c", "TSV/t", "HTML/h" and "XLSX/x" for the others; more than one checked box shows as
// "XML+CSV", a box without its flag as "CSV/".
std::string outputState(const View& view, const JobSettings& job);

}  // namespace rowpress::support
