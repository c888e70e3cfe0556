// The export run's files: the writer of each output type, the outputs and the manifest opened
// before the statement runs, and at the end the files finished, checked and kept together (or
// none of them).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "export/column_type_report.h"
#include "export/delimited_writer.h"
#include "export/export_run.h"
#include "export/html_writer.h"
#include "export/manifest.h"
#include "export/output_naming.h"
#include "export/output_target.h"
#include "export/spreadsheetml_writer.h"
#include "export/stop_request.h"
#include "export/xlsx_writer.h"
#include "files/pause_point.h"

namespace rowpress {

std::unique_ptr<OutputWriter> makeWriter(OutputType type, const WriterOptions& options) {
  switch (type) {
    case OutputType::Csv:
    case OutputType::Tsv:
      return std::make_unique<DelimitedWriter>(type, options);
    case OutputType::Html:
      return std::make_unique<HtmlWriter>(options);
    case OutputType::Xlsx:
      return std::make_unique<XlsxWriter>();
    case OutputType::Xml:
      break;
  }
  return std::make_unique<SpreadsheetMlWriter>(options);
}

WriterOptions writerOptionsOf(const JobSettings& job) {
  WriterOptions options;
  options.quoteFields = job.quoteFields;
  options.byteOrderMark = job.byteOrderMark;
  if (!job.separator.empty()) options.separator = job.separator.front();
  options.decimalComma = job.decimalComma;
  options.encoding = job.encoding;
  options.forceFullLength = job.forceFullLength;
  return options;
}

bool ExportRun::openOutputs(OutputType type) {
  std::vector<OutputPath> paths = prepareOutputPaths(job_, type, stop_);
  // A default name's manifest is reserved with the outputs, as their last path.
  OutputPath manifestName;
  if (job_.manifest && needsDefaultName(job_, type) && !paths.front().path.empty()) {
    manifestName = std::move(paths.back());
    paths.pop_back();
  }
  result_.path = paths.front().path;
  for (OutputPath& output : paths) {
    result_.paths.push_back(output.path);
    auto& opened = outputs_.emplace_back(std::make_unique<Output>());
    // The workbook library keeps its own temporary files in the run's work directory.
    const std::string path = output.path;
    if (path.empty() ||
        !opened->target.open(path, std::move(output.reserved), type == OutputType::Xlsx)) {
      // Without a path the one refused for its length is named, or else (no unique name could
      // be made) the default directory, which is what failed.
      const std::string shown = !path.empty()             ? path
                                : !output.refused.empty() ? output.refused
                                                          : defaultDirectory();
      outputNotCreated(shown, path.empty() ? output.error : opened->target.error());
      discardAll();
      return false;
    }
    opened->writer = writerFor_(type, writerOptionsOf(job_));
    opened->writer->begin(opened->target.file());
    // A writer that could not start its file (the workbook library's temporary files) fails
    // like a file that could not be created: before the statement runs.
    if (opened->target.file().error() != 0) {
      outputNotCreated(path, opened->target.error());
      discardAll();
      return false;
    }
  }
  if (!openManifest(type, std::move(manifestName))) return false;
  if (std::optional<SameFile> same = sameFileOfRun()) {
    outputNotCreated(same->path, same->reason());
    discardAll();
    return false;
  }
  return true;
}

std::optional<SameFile> ExportRun::sameFileOfRun() const {
  std::vector<std::pair<std::string, FileTarget>> files;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (auto target = outputs_[i]->target.target()) files.emplace_back(result_.paths[i], *target);
  }
  if (manifest_) {
    if (auto target = manifest_->target()) files.emplace_back(manifestPath_, *target);
  }
  if (const std::string directory = defaultDirectory(); !directory.empty()) {
    const std::string report = directory + "/" + kColumnTypeReportName;
    if (auto target = fileTargetOf(report)) files.emplace_back(report, *target);
  }
  return sameFileAmong(files);
}

bool ExportRun::openManifest(OutputType type, OutputPath reserved) {
  if (!job_.manifest) return true;
  // A report of a file per sheet has one manifest, named after the job's output name.
  std::string base = result_.path;
  if (writesFilePerSheet(job_, type)) {
    const std::string first = sheetsOf(job_).front().name;
    const std::size_t at = base.rfind("-" + first);
    if (at != std::string::npos) base.erase(at, first.size() + 1);
  }
  manifestPath_ = reserved.path.empty() ? manifestPathFor(base) : reserved.path;
  manifestReserved_ = !reserved.path.empty();
  manifest_ = std::make_unique<OutputTarget>();
  if (!manifest_->open(manifestPath_, std::move(reserved.reserved))) {
    outputNotCreated(manifestPath_, manifest_->error());
    discardAll();
    return false;
  }
  return true;
}

bool ExportRun::readyManifest() {
  ManifestRun run;
  run.job = &job_;
  run.started = started_;
  run.finished = std::chrono::system_clock::now();
  run.sheets = &result_.accounts;
  run.rows = result_.rows;
  run.timeZone = timeZone_;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    std::string error;
    std::optional<ManifestFile> file = digestFile(outputs_[i]->target.temporaryPath(), error);
    if (!file) {
      discardAll();
      outputNotWritten(error, result_.paths[i]);
      return false;
    }
    file->path = result_.paths[i];
    run.files.push_back(std::move(*file));
  }
  manifest_->file().writeWithoutLineFeed(manifestText(run));
  if (!manifest_->ready()) {
    const std::string reason = manifest_->error();
    discardAll();
    outputNotWritten(reason, manifestPath_);
    return false;
  }
  return true;
}

RunOutcome ExportRun::outputNotCreated(const std::string& shown, const std::string& reason) {
  result_.outputFailure = "unable to create: " + shown + " (" + reason + ")";
  report_.statusLine(result_.outputFailure);
  message("unable to create: " + shown + " ", "Unable to Open Output File", reason);
  return RunOutcome::OutputFile;
}

RunOutcome ExportRun::outputNotWritten(const std::string& reason, const std::string& path) {
  result_.outputFailure = "unable to write: " + path + " (" + reason + ")";
  report_.statusLine(result_.outputFailure);
  message(result_.outputFailure + " ", "Unable to Write Output File");
  return RunOutcome::OutputFile;
}

RunOutcome ExportRun::finish(OutputType type, bool stopped) {
  // Every row was taken as it is: a strict run's type report is done too.
  typeReportDone();
  // A stopped workbook is closed properly as well, so that it opens.
  // A report's writers take each sheet's counts from its end: finish gets the widest sheet's
  // columns and every sheet's table rows.
  const int columns = reportJob_ ? widestColumns_ : columnCount_;
  const long long tableRows = reportJob_ ? result_.rows + result_.sheets : sheetRows_ + 1;
  {
    // Assembling a workbook from its sheets and reading it back take a while on a large
    // export: a stop request waits for them, and the run then removes the file.
    UninterruptibleStep finishing(stop_);
    for (const auto& output : outputs_) output->writer->finish(columns, tableRows);
  }
  // A stop requested while the files were being finished (a large workbook is assembled at
  // its end) removes them once they are done.
  if (stop_.requested()) {
    discardAll();
    return stoppedByRequest();
  }
  // A report whose sheets are all empty is no report either; one with rows in any sheet keeps
  // the header rows of the others.
  if (result_.rows == 0 && !stopped) {
    discardAll();
    if (!job_.silent) message("No Results Found", "SQL statement failed.");
    return RunOutcome::NoRows;
  }
  // From the start of the publication a stop no longer undoes the run: the files replace
  // their targets and the run says so; a stop that came before it replaces nothing.
  PublishingStep publishing(stop_);
  if (!publishing.begun()) {
    discardAll();
    return stoppedByRequest();
  }
  if (const RunOutcome kept = keepAll(); kept != RunOutcome::Exported) return kept;
  publishing.published();
  result_.kept = true;
  // The 2007 workbook always takes a default name: a job that names its file is told where
  // the file went, so that nobody waits for the named file to change.
  if (type == OutputType::Xml && job_.excel2007 && !job_.outFileName.empty()) {
    result_.outputNameIgnored =
        "the 2007 format ignores the output name: written to " + result_.path;
    report_.statusLine(result_.outputNameIgnored);
  }
  pausePoint(kPauseAfterKeeping);
  return stopped ? RunOutcome::Limit : RunOutcome::Exported;
}

RunOutcome ExportRun::keepAll() {
  // Every file on disk before the first takes its name: a file that cannot be written stops
  // the run while nothing has been replaced.
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (!outputs_[i]->target.ready()) {
      const std::string reason = outputs_[i]->target.error();
      discardAll();
      return outputNotWritten(reason, result_.paths[i]);
    }
  }
  if (manifest_ && !readyManifest()) return RunOutcome::OutputFile;
  if (std::optional<SameFile> same = sameFileOfRun()) {
    discardAll();
    return outputNotWritten(same->reason(), same->path);
  }
  // An earlier manifest goes before the first file is replaced: it describes the files that
  // are about to go, and would lie beside them if the new one could not take its name.
  // (A reserved default name holds no earlier manifest, only the run's reservation.)
  if (manifest_ && !manifestReserved_ && !manifest_->removeTarget()) {
    const std::string reason = manifest_->error();
    discardAll();
    return outputNotWritten(reason, manifestPath_);
  }
  const std::string manifestGone = manifest_ && manifest_->removedTarget()
                                       ? "; the earlier manifest was removed: " + manifestPath_
                                       : std::string();
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (outputs_[i]->target.keep()) continue;
    const std::string reason = outputs_[i]->target.error();
    discardAll();
    outputNotWritten(reason, result_.paths[i]);
    // The files renamed before it stay: the run says which they are.
    if (i > 0) {
      std::string replaced = "already replaced:";
      for (std::size_t k = 0; k < i; ++k) replaced += " " + result_.paths[k];
      report_.statusLine(replaced);
      result_.outputFailure += "; " + replaced;
    }
    result_.outputFailure += manifestGone;
    return RunOutcome::OutputFile;
  }
  // The manifest follows its files at once; the files stay when it cannot take its name.
  if (manifest_) {
    if (!manifest_->keep()) {
      outputNotWritten(manifest_->error(), manifestPath_);
      std::string replaced = "already replaced:";
      for (const std::string& path : result_.paths) replaced += " " + path;
      report_.statusLine(replaced);
      result_.outputFailure += "; " + replaced + manifestGone;
      return RunOutcome::OutputFile;
    }
    result_.manifestPath = manifestPath_;
  }
  return RunOutcome::Exported;
}

}  // namespace rowpress
