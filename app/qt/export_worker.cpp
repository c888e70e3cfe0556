#include "app/qt/export_worker.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>
#include <QMetaObject>
#include <QSocketNotifier>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "app/main_dialog.h"
#include "app/progress_line.h"
#include "app/qt/main_window.h"
#include "app/signal_stop.h"
#include "app/status_list.h"
#include "export/stop_request.h"
#include "export/value_account.h"
#include "run/viewer.h"

namespace rowpress {

namespace {

// Runs `call` on the window's thread. Calls that answer something, and message boxes, wait for
// it there; the others are queued in order behind each other, and hold nothing of the view,
// which ends with the run while they may still wait.
template <class Call>
void onWindowThread(QtMainWindow& window, Call&& call) {
  QMetaObject::invokeMethod(&window, std::forward<Call>(call), Qt::BlockingQueuedConnection);
}

template <class Call>
void laterOnWindowThread(QtMainWindow& window, Call&& call) {
  QMetaObject::invokeMethod(&window, std::forward<Call>(call), Qt::QueuedConnection);
}

// What the run reports, carried over to the window's thread in order: the status lines are
// queued, and a message box waits for the user there. The row counts are the window's own
// business during a live run: it shows the count that the export keeps.
class QueuedReport : public RunReport {
 public:
  QueuedReport(QtMainWindow& window, std::atomic<long long>& rows) : window_(window), rows_(rows) {}
  void statusLine(std::string_view line) override {
    laterOnWindowThread(
        window_, [window = &window_, copy = std::string(line)] { AddStatusLine(*window, copy); });
  }
  void rowsDone(long long) override {}
  // The count that the window's progress timer reads.
  std::atomic<long long>* rowCount() override { return &rows_; }
  void message(const ExportMessage& message) override {
    onWindowThread(window_,
                   [&] { window_.messageBox(message.text, message.caption, message.reason); });
  }

 private:
  QtMainWindow& window_;
  std::atomic<long long>& rows_;
};

// Says in the status list when a viewer ends with a failure soon after its start (as the
// no-GUI LibreOffice does, without a word): `ended` is the launcher's watch of it.
void sayViewerEnd(QtMainWindow& window, int ended, const std::string& viewer) {
  auto* notifier = new QSocketNotifier(ended, QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window,
                   [&window, notifier, ended, viewer] {
                     int status = 0;
                     ssize_t got;
                     while ((got = ::read(ended, &status, sizeof status)) < 0 && errno == EINTR) {
                     }
                     notifier->setEnabled(false);
                     notifier->deleteLater();
                     ::close(ended);
                     if (got != static_cast<ssize_t>(sizeof status)) return;
                     const std::string line = viewerEndLine(viewer, status);
                     if (!line.empty()) AddStatusLine(window, line);
                   });
}

// Starts the viewer from the window's thread, with the launcher the dialog was given.
class QueuedLauncher : public Launcher {
 public:
  QueuedLauncher(QtMainWindow& window, Launcher& inner) : window_(window), inner_(inner) {}
  std::string start(const std::vector<std::string>& command) override {
    std::string why;
    onWindowThread(window_, [&] {
      why = inner_.start(command);
      const int ended = inner_.takeEndWatch();
      if (ended >= 0) sayViewerEnd(window_, ended, command.front());
    });
    return why;
  }

 private:
  QtMainWindow& window_;
  Launcher& inner_;
};

// How often the progress line is redrawn.
constexpr int kProgressEveryMs = 250;

constexpr char kCancelledWhileFinishing[] =
    "Cancelled while the workbook is written: its files are removed when the writing ends";
constexpr char kWaitingForCancelled[] = "waiting for the cancelled export to remove its files";

}  // namespace

ExportWorker::ExportWorker(QtMainWindow& window, MainDialog& dialog)
    : window_(window), dialog_(dialog) {
  progressTimer_.setInterval(kProgressEveryMs);
  connect(&progressTimer_, &QTimer::timeout, this, &ExportWorker::showProgress);
}

ExportWorker::~ExportWorker() {
  if (!running_) return;
  waiting_.reset();
  cancel();
  // The worker may be waiting for the window's thread (a message box, a value of a box):
  // answer it while waiting for the run to end.
  QEventLoop loop;
  connect(this, &ExportWorker::finished, &loop, &QEventLoop::quit);
  if (running_) loop.exec();
}

void ExportWorker::start() {
  if (running_ && !abandoned_) return;
  // The job is taken from the controls here, on the window's thread, and what the run needs
  // is asked; the run gets its own copy. A cancelled question runs nothing.
  JobSettings job = dialog_.takeFetchJob();
  if (!dialog_.confirmFetch(job)) return;
  window_.beginLive();
  if (running_) {
    // The cancelled run still holds its files: the new one starts when they are gone.
    waiting_ = std::move(job);
    window_.showLiveProgress(kWaitingForCancelled);
    return;
  }
  launch(std::move(job));
}

void ExportWorker::launch(JobSettings job) {
  StopRequest& stop = dialog_.stopRequest();
  // A Cancel of the last run is forgotten; a signal's request is not (it ends the process).
  if (stop.signal() == 0) stop.reset();
  running_ = true;
  abandoned_ = false;
  started_ = std::chrono::steady_clock::now();
  finishing_ =
      outputTypeOf(job) == OutputType::Xlsx ? "writing the workbook" : "finishing the file";
  showProgress();
  progressTimer_.start();
  try {
    thread_ = std::thread([this, job = std::move(job)]() mutable {
      QueuedReport report(window_, dialog_.rowCounter());
      QueuedLauncher launcher(window_, dialog_.launcher());
      result_ = runJob(std::move(job), report, launcher, dialog_.stopRequest());
      // Behind every call the run queued to the window.
      QMetaObject::invokeMethod(this, &ExportWorker::onThreadDone, Qt::QueuedConnection);
    });
  } catch (const std::system_error& e) {
    // A limit on threads or memory: nothing ran, and the window says why.
    progressTimer_.stop();
    window_.endLive(0);
    AddStatusLine(window_, "The export could not start: " + e.code().message());
    running_ = false;
    emit finished();
  }
}

void ExportWorker::cancel() {
  if (waiting_) {
    // A fetch that waits for a cancelled run has not started: nothing of it runs.
    waiting_.reset();
    window_.endLive(0);
    return;
  }
  if (!running_ || abandoned_) return;
  StopRequest& stop = dialog_.stopRequest();
  stop.requestCancel();
  if (!stop.holdsOff()) return;
  // The workbook library assembles the file in one call that nothing interrupts, for seconds
  // on a large export: the window does not wait for it.
  abandoned_ = true;
  progressTimer_.stop();
  window_.endLive(0);
  AddStatusLine(window_, kCancelledWhileFinishing);
}

void ExportWorker::showProgress() {
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  const long long rows = dialog_.rowsWritten().load(std::memory_order_relaxed);
  // Assembling a workbook and publishing the file write no rows: the line says what goes on.
  // The counts in the groups of the user's locale.
  const QByteArray separator = QLocale().groupSeparator().toUtf8();
  const std::string_view grouped(separator.constData(), static_cast<std::size_t>(separator.size()));
  window_.showLiveProgress(dialog_.stopRequest().holdsOff()
                               ? ProgressLine::finishing(rows, finishing_, elapsed, grouped)
                               : ProgressLine::text(rows, elapsed, grouped));
}

void ExportWorker::onThreadDone() {
  thread_.join();
  progressTimer_.stop();
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  dialog_.fetchDone(result_);
  const ExportResult& done = result_.export_;
  const bool exported = result_.exported;
  if (!abandoned_) window_.endLive(exported ? done.rows : 0);
  const bool kept = exported && done.kept;
  // The status list of a fetch that waited for this run is the new fetch's own.
  if (!waiting_) {
    AddStatusLine(window_,
                  runEndLine(exported ? done.rows : 0, elapsed, kept ? done.path : std::string(),
                             kept ? changedValues(done.accounts) : 0));
  }
  // A stop signal ends the process once its run has ended by itself (its files are gone).
  endAfterStopSignal();
  StopRequest& stop = dialog_.stopRequest();
  if (stop.signal() == 0) stop.reset();
  running_ = false;
  abandoned_ = false;
  if (waiting_) {
    JobSettings job = std::move(*waiting_);
    waiting_.reset();
    launch(std::move(job));
    return;
  }
  emit finished();
}

}  // namespace rowpress
