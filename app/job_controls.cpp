#include "app/job_controls.h"

#include <iterator>
#include <optional>
#include <utility>

#include "job/job_fields.h"

namespace rowpress {

namespace {

constexpr OutputType kOutputTypes[] = {OutputType::Xml, OutputType::Csv, OutputType::Tsv,
                                       OutputType::Html, OutputType::Xlsx};

// The line of the separator choice that shows the job's separator and decimal comma.
int separatorChoiceOf(const JobSettings& job) {
  if (job.separator == "|") return 3;
  if (job.separator == ";") return job.decimalComma ? 2 : 1;
  return 0;
}

}  // namespace

void showSeparatorChoice(const JobSettings& job, View& view) {
  view.clearList(ControlId::SeparatorChoice);
  for (const char* line : kSeparatorChoices) view.appendLine(ControlId::SeparatorChoice, line);
  view.selectLine(ControlId::SeparatorChoice, kSeparatorChoices[separatorChoiceOf(job)]);
}

void takeSeparatorChoice(JobSettings& job, const View& view) {
  const int chosen = view.selectedIndex(ControlId::SeparatorChoice);
  if (chosen < 0 || chosen >= static_cast<int>(std::size(kSeparatorChoices)) ||
      chosen == separatorChoiceOf(job)) {
    return;
  }
  static constexpr const char* kSeparators[] = {"", ";", ";", "|"};
  job.separator = kSeparators[chosen];
  job.decimalComma = chosen == 2;
}

ControlId outputBoxOf(OutputType type) {
  switch (type) {
    case OutputType::Csv:
      return ControlId::OutputCsv;
    case OutputType::Tsv:
      return ControlId::OutputTsv;
    case OutputType::Html:
      return ControlId::OutputHtml;
    case OutputType::Xlsx:
      return ControlId::OutputXlsx;
    case OutputType::Xml:
      break;
  }
  return ControlId::OutputXml;
}

namespace {

// The control that shows each setting of the job, in the order of the settings file.
constexpr std::pair<SettingKey, ControlId> kFieldControls[] = {
    {SettingKey::Database, ControlId::DataSourceList},
    {SettingKey::UserName, ControlId::UserName},
    {SettingKey::Password, ControlId::Password},
    {SettingKey::Sql, ControlId::SqlBox},
    {SettingKey::Excel2007, ControlId::Excel2007},
    {SettingKey::ForceFullLength, ControlId::ForceFullLength},
    {SettingKey::Csv, ControlId::OutputCsv},
    {SettingKey::Tsv, ControlId::OutputTsv},
    {SettingKey::Html, ControlId::OutputHtml},
    {SettingKey::LaunchApplication, ControlId::LaunchApplication},
    {SettingKey::DoLaunchApplication, ControlId::LaunchOnFinish},
    {SettingKey::OutFileName, ControlId::OutFileName},
    {SettingKey::Xlsx, ControlId::OutputXlsx},
    {SettingKey::QuoteFields, ControlId::QuoteFields},
    {SettingKey::ByteOrderMark, ControlId::ByteOrderMark},
    {SettingKey::Encoding, ControlId::Encoding},
    {SettingKey::TimeZone, ControlId::TimeZone},
};

}  // namespace

std::optional<ControlId> controlOf(SettingKey key) {
  for (const auto& [setting, control] : kFieldControls) {
    if (setting == key) return control;
  }
  return std::nullopt;
}

void showOutputType(View& view, OutputType type) {
  for (OutputType each : kOutputTypes) view.setChecked(outputBoxOf(each), each == type);
}

void showJob(const JobSettings& job, View& view) {
  for (const JobField& field : kJobFields) {
    const std::optional<ControlId> control = controlOf(field.key);
    if (!control) continue;
    switch (field.kind) {
      case FieldKind::Text:
        // The data source list keeps what listing or loading put in it.
        if (*control != ControlId::DataSourceList) {
          view.setText(*control, job.*field.text);
        }
        break;
      case FieldKind::Password:
        view.setText(*control, (job.*field.secret).view());
        break;
      case FieldKind::Flag:
        view.setChecked(*control, job.*field.flag);
        break;
      case FieldKind::LaunchFlag:
        view.setChecked(*control, !(job.*field.flag));
        break;
      case FieldKind::OutputFlag:
      case FieldKind::Seconds:
      case FieldKind::SheetName:
      case FieldKind::Parameter:
        break;
    }
  }
  showSeparatorChoice(job, view);
  showOutputType(view, outputTypeOf(job));
  showSheetTabs(job, view);
}

void showSheetTabs(const JobSettings& job, View& view, int current) {
  std::vector<std::string> names;
  for (const JobSheet& sheet : job.sheets) names.push_back(sheet.name);
  view.showSheetTabs(names, names.empty() ? -1 : current);
}

void takeShownSheet(JobSettings& job, const View& view, int shown) {
  const std::string text = view.text(ControlId::SqlBox);
  if (job.sheets.empty()) {
    job.sql = text;
    return;
  }
  if (shown >= 0 && static_cast<std::size_t>(shown) < job.sheets.size()) {
    job.sheets[static_cast<std::size_t>(shown)].sql = text;
  }
  job.sql = job.sheets.front().sql;
}

void takeJob(JobSettings& job, const View& view) {
  for (const JobField& field : kJobFields) {
    const std::optional<ControlId> shown = controlOf(field.key);
    if (!shown) continue;
    const ControlId control = *shown;
    switch (field.kind) {
      case FieldKind::Text:
        if (control == ControlId::DataSourceList) {
          const int selected = view.selectedIndex(control);
          job.*field.text = selected < 0 ? std::string() : view.lineText(control, selected);
        } else {
          job.*field.text = view.text(control);
        }
        break;
      case FieldKind::Password:
        job.*field.secret = view.text(control);
        break;
      case FieldKind::Flag:
      case FieldKind::OutputFlag:
        job.*field.flag = view.isChecked(control);
        break;
      case FieldKind::LaunchFlag:
        job.*field.flag = !view.isChecked(control);
        break;
      case FieldKind::Seconds:
      case FieldKind::SheetName:
      case FieldKind::Parameter:
        break;
    }
  }
  takeSeparatorChoice(job, view);
  takeShownSheet(job, view, view.currentSheetTab());
}

JobSettings jobInControls(const JobSettings& job, const View& view) {
  JobSettings shown = copyOf(job);
  takeJob(shown, view);
  return shown;
}

bool sameSettings(const JobSettings& a, const JobSettings& b) {
  for (const JobField& field : kJobFields) {
    if (field.text && a.*field.text != b.*field.text) return false;
    if (field.secret && !(a.*field.secret == b.*field.secret)) return false;
    if (field.flag && a.*field.flag != b.*field.flag) return false;
    if (field.seconds && a.*field.seconds != b.*field.seconds) return false;
  }
  return a.sheets == b.sheets && a.parameters == b.parameters;
}

void resetControlsBeforeLoad(View& view) {
  view.clearList(ControlId::DataSourceList);
  showOutputType(view, OutputType::Xml);
  view.setChecked(ControlId::QuoteFields, false);
  view.setChecked(ControlId::ByteOrderMark, false);
  view.setText(ControlId::Encoding, "");
  view.setText(ControlId::TimeZone, "");
}

void showAppliedSettings(const std::vector<AppliedSetting>& shown, View& view) {
  for (const AppliedSetting& setting : shown) {
    const JobField& field = fieldOf(setting.key);
    const std::optional<ControlId> shown = controlOf(field.key);
    if (!shown) continue;  // no box shows it: the job keeps it
    const ControlId control = *shown;
    switch (field.kind) {
      case FieldKind::Text:
      case FieldKind::Password:
        if (control == ControlId::DataSourceList) {
          view.appendLine(control, setting.text);
          view.selectLine(control, setting.text);
        } else {
          view.setText(control, setting.text);
        }
        break;
      case FieldKind::Flag:
      case FieldKind::LaunchFlag:
        // As the file says it: "Launch On Finish" is the file's DoLaunchApplication.
        view.setChecked(control, setting.on);
        break;
      case FieldKind::OutputFlag:
        // Cleared, the flag unchecks its own box only: the workbook's box stays as it is.
        if (setting.on) {
          showOutputType(view, field.output);
        } else {
          view.setChecked(control, false);
        }
        break;
      case FieldKind::Seconds:
      case FieldKind::SheetName:
      case FieldKind::Parameter:
        break;
    }
  }
}

SettingsLoadResult loadSettingsFile(JobSettings& job, View& view, const std::string& path) {
  takeShownSheet(job, view, view.currentSheetTab());
  SettingsLoadResult loaded = loadSettings(job, path);
  if (!loaded.opened) return loaded;
  resetControlsBeforeLoad(view);
  showAppliedSettings(loaded.shown, view);
  // The separator and the decimal comma are one choice: shown as the file left them both.
  showSeparatorChoice(job, view);
  // A report's SQL keys are shown one after the other; the box ends with its first sheet's.
  if (!job.sheets.empty()) view.setText(ControlId::SqlBox, job.sql);
  showSheetTabs(job, view);
  return loaded;
}

SettingsSaveResult saveSettingsFile(JobSettings& job, View& view, const std::string& path) {
  takeJob(job, view);
  return saveSettings(job, path);
}

}  // namespace rowpress
