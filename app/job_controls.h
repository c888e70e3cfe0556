// Moving values between the job and the window's controls: the one place where the settings
// file's load and save meet the controls. Loading applies a file to the job (settings/) and
// then shows what it applied; saving takes the job from the controls and writes it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/view.h"
#include "job/job_fields.h"
#include "job/job_settings.h"
#include "settings/settings_file.h"

namespace rowpress {

// The control that shows a setting of the job; nothing for one that no control shows (the
// timeout, the sheets, the parameters, Strict, Manifest, the decimal comma, which the separator
// choice shows): the job keeps those as the files and switches gave them.
std::optional<ControlId> controlOf(SettingKey key);

// The check box that shows `type`.
ControlId outputBoxOf(OutputType type);

// Shows `type` in the output-type boxes: its box checked, the other four unchecked. Every
// change of the output type that the controls show goes through here.
void showOutputType(View& view, OutputType type);

// The lines of the separator choice, in order: the separator of standard CSV and the decimal
// comma as one choice.
inline constexpr const char* kSeparatorChoices[] = {"comma", "semicolon",
                                                    "semicolon with decimal comma", "bar"};

// Fills the separator choice with its lines and selects the one that shows the job's
// separator and decimal comma: "bar" for "|", a semicolon with or without the decimal comma,
// else "comma".
void showSeparatorChoice(const JobSettings& job, View& view);

// Takes the separator choice into the job. A job that the chosen line shows already keeps
// its own separator and decimal comma (a comma written "," or left out, the decimal comma of
// a TSV job): only another choice changes them.
void takeSeparatorChoice(JobSettings& job, const View& view);

// Shows the job in the controls: its texts in their boxes, its flags in their check boxes,
// the separator choice and its output type. The data source list is left as listing or loading
// filled it.
void showJob(const JobSettings& job, View& view);

// Shows the job's sheets as the tabs above the SQL box, sheet `current` the current one (no
// tabs for a job of one query).
void showSheetTabs(const JobSettings& job, View& view, int current = 0);

// Takes the SQL box into the job: the text of the report's sheet `shown` (the one the box
// shows), whose first sheet's text is also the job's SQL; the job's SQL otherwise.
void takeShownSheet(JobSettings& job, const View& view, int shown);

// Takes the job from the controls: the data source from the selected entry of the data
// source list (none when nothing is selected), the texts from their boxes, the flags from
// their check boxes ("Launch On Finish" unchecked is noAutoOpen), the separator and decimal
// comma from their choice, the SQL box as the current sheet's text.
void takeJob(JobSettings& job, const View& view);

// The job as the controls show it: `job` with what takeJob takes from them.
JobSettings jobInControls(const JobSettings& job, const View& view);

// Whether two jobs hold the same settings: every field that a settings file keeps, the
// sheets and the parameters.
bool sameSettings(const JobSettings& a, const JobSettings& b);

// What loading a file does to the controls before its first setting: the data source list is
// emptied, the output type goes back to the workbook ("Output To XML" checked, the CSV, TSV,
// HTML and XLSX boxes unchecked), "Quote Fields" and "UTF-8 Byte Order Mark" are
// unchecked, and the encoding and time zone boxes are emptied, as loading clears what a file
// holds only when set. Every other control keeps its state.
void resetControlsBeforeLoad(View& view);

// Shows the settings that a load applied, in file order, as the controls show them: a text
// in its box (a data source is added to the list and selected), a flag in its check box; an
// output type that is set checks its box alone, one that is cleared unchecks only its box.
void showAppliedSettings(const std::vector<AppliedSetting>& shown, View& view);

// Loads the settings file at `path` into the job and the controls (nothing changes when it
// cannot be read). The SQL box's text is taken into the job first: a file without SQL keys
// keeps the sheets as they were typed.
SettingsLoadResult loadSettingsFile(JobSettings& job, View& view, const std::string& path);

// Takes the job from the controls and saves it to the settings file at `path`.
SettingsSaveResult saveSettingsFile(JobSettings& job, View& view, const std::string& path);

}  // namespace rowpress
