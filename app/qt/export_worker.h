// The fetch command of the window on a thread of its own, so that the window stays live while
// an export runs: it repaints, moves and resizes, shows the progress a few times a second and
// offers Cancel. The job is taken from the controls on the window's thread and handed to the
// worker, which runs it; the run reaches the window only through a report (and a launcher)
// that carry every call over to the GUI thread, so that nothing on the worker touches a
// widget.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "run/run_job.h"

namespace rowpress {

class MainDialog;
class QtMainWindow;

class ExportWorker : public QObject {
  Q_OBJECT

 public:
  ExportWorker(QtMainWindow& window, MainDialog& dialog);
  // A run still going is cancelled and waited for.
  ~ExportWorker() override;
  ExportWorker(const ExportWorker&) = delete;
  ExportWorker& operator=(const ExportWorker&) = delete;

  // Starts the fetch command; the window turns live (its other commands disabled). While a
  // cancelled run still finishes a step that no cancel cuts short, the new run waits for it.
  void start();
  // Asks the running export to stop at its next row; the run ends as cancelled. In a step that
  // no cancel cuts short (the workbook library assembling the file), the window takes commands
  // again at once and the run removes its files when the step ends.
  void cancel();
  bool running() const { return running_; }

 signals:
  // The run has ended and the window takes commands again.
  void finished();

 private:
  void launch(JobSettings job);
  void showProgress();
  void onThreadDone();

  QtMainWindow& window_;
  MainDialog& dialog_;
  QTimer progressTimer_;
  std::thread thread_;
  bool running_ = false;
  // The window let go of the running run when it was cancelled.
  bool abandoned_ = false;
  // A fetch started while an abandoned run still ends: it runs once that run has ended.
  std::optional<JobSettings> waiting_;
  RunResult result_;
  std::chrono::steady_clock::time_point started_;
  // What the progress line says once the rows are written and the output is being finished.
  const char* finishing_ = "";
};

}  // namespace rowpress
