#include "app/job_controls.h"

namespace rowpress {

namespace {

OutputType outputTypeOfKey(SettingKey key) {
  switch (key) {
    case SettingKey::Csv:
      return OutputType::Csv;
    case SettingKey::Tsv:
      return OutputType::Tsv;
    case SettingKey::Xlsx:
      return OutputType::Xlsx;
    default:
      return OutputType::Html;
  }
}

constexpr OutputType kOutputTypes[] = {OutputType::Xml, OutputType::Csv, OutputType::Tsv,
                                       OutputType::Html, OutputType::Xlsx};

}  // namespace

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

void showOutputType(View& view, OutputType type) {
  for (OutputType each : kOutputTypes) view.setChecked(outputBoxOf(each), each == type);
}

void showJob(const JobSettings& job, View& view) {
  view.setText(ControlId::UserName, job.userName);
  view.setText(ControlId::Password, job.password.view());
  view.setText(ControlId::SqlBox, job.sql);
  view.setText(ControlId::LaunchApplication, job.launchApplication);
  view.setText(ControlId::OutFileName, job.outFileName);
  view.setChecked(ControlId::Excel2007, job.excel2007);
  view.setChecked(ControlId::ForceFullLength, job.forceFullLength);
  view.setChecked(ControlId::LaunchOnFinish, !job.noAutoOpen);
  view.setChecked(ControlId::QuoteFields, job.quoteFields);
  view.setChecked(ControlId::ByteOrderMark, job.byteOrderMark);
  showOutputType(view, outputTypeOf(job));
}

void takeJob(JobSettings& job, const View& view) {
  const int selected = view.selectedIndex(ControlId::DataSourceList);
  job.dataSource =
      selected < 0 ? std::string() : view.lineText(ControlId::DataSourceList, selected);
  job.userName = view.text(ControlId::UserName);
  job.password = view.text(ControlId::Password);
  job.launchApplication = view.text(ControlId::LaunchApplication);
  job.outFileName = view.text(ControlId::OutFileName);
  job.outputCsv = view.isChecked(ControlId::OutputCsv);
  job.outputTsv = view.isChecked(ControlId::OutputTsv);
  job.outputHtml = view.isChecked(ControlId::OutputHtml);
  job.outputXlsx = view.isChecked(ControlId::OutputXlsx);
  job.sql = view.text(ControlId::SqlBox);
  job.excel2007 = view.isChecked(ControlId::Excel2007);
  job.forceFullLength = view.isChecked(ControlId::ForceFullLength);
  job.noAutoOpen = !view.isChecked(ControlId::LaunchOnFinish);
  job.quoteFields = view.isChecked(ControlId::QuoteFields);
  job.byteOrderMark = view.isChecked(ControlId::ByteOrderMark);
}

void resetControlsBeforeLoad(View& view) {
  view.clearList(ControlId::DataSourceList);
  showOutputType(view, OutputType::Xml);
  view.setChecked(ControlId::QuoteFields, false);
  view.setChecked(ControlId::ByteOrderMark, false);
}

void showAppliedSettings(const std::vector<AppliedSetting>& shown, View& view) {
  for (const AppliedSetting& setting : shown) {
    switch (setting.key) {
      case SettingKey::Database:
        view.appendLine(ControlId::DataSourceList, setting.text);
        view.selectLine(ControlId::DataSourceList, setting.text);
        break;
      case SettingKey::UserName:
        view.setText(ControlId::UserName, setting.text);
        break;
      case SettingKey::Password:
        view.setText(ControlId::Password, setting.text);
        break;
      case SettingKey::Sql:
        view.setText(ControlId::SqlBox, setting.text);
        break;
      case SettingKey::LaunchApplication:
        view.setText(ControlId::LaunchApplication, setting.text);
        break;
      case SettingKey::OutFileName:
        view.setText(ControlId::OutFileName, setting.text);
        break;
      case SettingKey::DoLaunchApplication:
        view.setChecked(ControlId::LaunchOnFinish, setting.on);
        break;
      case SettingKey::ForceFullLength:
        view.setChecked(ControlId::ForceFullLength, setting.on);
        break;
      case SettingKey::Excel2007:
        view.setChecked(ControlId::Excel2007, setting.on);
        break;
      case SettingKey::QuoteFields:
        view.setChecked(ControlId::QuoteFields, setting.on);
        break;
      case SettingKey::ByteOrderMark:
        view.setChecked(ControlId::ByteOrderMark, setting.on);
        break;
      case SettingKey::Csv:
      case SettingKey::Tsv:
      case SettingKey::Html:
      case SettingKey::Xlsx:
        // Cleared, the flag unchecks its own box only: the workbook's box stays as it is.
        if (setting.on) {
          showOutputType(view, outputTypeOfKey(setting.key));
        } else {
          view.setChecked(outputBoxOf(outputTypeOfKey(setting.key)), false);
        }
        break;
      case SettingKey::Timeout:
        break;  // no box shows it: the job keeps it
    }
  }
}

SettingsLoadResult loadSettingsFile(JobSettings& job, View& view, const std::string& path) {
  SettingsLoadResult loaded = loadSettings(job, path);
  if (!loaded.opened) return loaded;
  resetControlsBeforeLoad(view);
  showAppliedSettings(loaded.shown, view);
  return loaded;
}

SettingsSaveResult saveSettingsFile(JobSettings& job, View& view, const std::string& path) {
  takeJob(job, view);
  return saveSettings(job, path);
}

}  // namespace rowpress
