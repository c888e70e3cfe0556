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

  // Starts the fetch command; the window turns live (its other commands disabled).
  void start();
  // Asks the running export to stop at its next row; the run ends as cancelled.
  void cancel();
  bool running() const { return running_; }

 signals:
  // The run has ended and the window takes commands again.
  void finished();

 private:
  void showProgress();
  void onThreadDone();

  QtMainWindow& window_;
  MainDialog& dialog_;
  QTimer progressTimer_;
  std::thread thread_;
  bool running_ = false;
  RunResult result_;
  std::chrono::steady_clock::time_point started_;
  // What the progress line says once the rows are written and the output is being finished.
  const char* finishing_ = "";
};

}  // namespace rowpress
