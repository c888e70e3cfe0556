#include "app/qt/export_worker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <string>
#include <system_error>
#include <utility>

#include "app/main_dialog.h"
#include "app/progress_line.h"
#include "app/qt/main_window.h"
#include "app/signal_stop.h"
#include "app/status_list.h"
#include "export/stop_request.h"

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

// The window as the worker thread sees it. The busy cursor and the row counts are the
// window's own business during a live run: it shows the count that the export keeps.
class QueuedView : public View {
 public:
  explicit QueuedView(QtMainWindow& window) : window_(window) {}

  std::string text(ControlId id) const override {
    std::string result;
    onWindowThread(window_, [&] { result = window_.text(id); });
    return result;
  }
  void setText(ControlId id, std::string_view text) override {
    laterOnWindowThread(
        window_, [window = &window_, id, copy = std::string(text)] { window->setText(id, copy); });
  }
  bool isChecked(ControlId id) const override {
    bool result = false;
    onWindowThread(window_, [&] { result = window_.isChecked(id); });
    return result;
  }
  void setChecked(ControlId id, bool checked) override {
    laterOnWindowThread(window_,
                        [window = &window_, id, checked] { window->setChecked(id, checked); });
  }
  void appendLine(ControlId list, std::string_view line) override {
    laterOnWindowThread(window_, [window = &window_, list, copy = std::string(line)] {
      window->appendLine(list, copy);
    });
  }
  void clearList(ControlId list) override {
    laterOnWindowThread(window_, [window = &window_, list] { window->clearList(list); });
  }
  int lineCount(ControlId list) const override {
    int result = 0;
    onWindowThread(window_, [&] { result = window_.lineCount(list); });
    return result;
  }
  std::string lineText(ControlId list, int index) const override {
    std::string result;
    onWindowThread(window_, [&] { result = window_.lineText(list, index); });
    return result;
  }
  int selectedIndex(ControlId list) const override {
    int result = -1;
    onWindowThread(window_, [&] { result = window_.selectedIndex(list); });
    return result;
  }
  void selectLine(ControlId list, std::string_view line) override {
    laterOnWindowThread(window_, [window = &window_, list, copy = std::string(line)] {
      window->selectLine(list, copy);
    });
  }
  void messageBox(std::string_view text, std::string_view caption,
                  std::string_view reason) override {
    onWindowThread(window_, [&] { window_.messageBox(text, caption, reason); });
  }
  std::optional<std::string> chooseSaveFile(const FileDialogSetup& setup) override {
    std::optional<std::string> result;
    onWindowThread(window_, [&] { result = window_.chooseSaveFile(setup); });
    return result;
  }
  std::optional<std::string> chooseOpenFile(const FileDialogSetup& setup) override {
    std::optional<std::string> result;
    onWindowThread(window_, [&] { result = window_.chooseOpenFile(setup); });
    return result;
  }
  bool openUrl(std::string_view url) override {
    bool result = false;
    onWindowThread(window_, [&] { result = window_.openUrl(url); });
    return result;
  }
  void beginBusy() override {}
  void endBusy() override {}
  void rowsDone(long long) override {}

 private:
  QtMainWindow& window_;
};

// Starts the viewer from the window's thread, with the launcher the dialog was given.
class QueuedLauncher : public Launcher {
 public:
  QueuedLauncher(QtMainWindow& window, Launcher& inner) : window_(window), inner_(inner) {}
  std::string start(const std::vector<std::string>& command) override {
    std::string why;
    onWindowThread(window_, [&] { why = inner_.start(command); });
    return why;
  }

 private:
  QtMainWindow& window_;
  Launcher& inner_;
};

// How often the progress line is redrawn.
constexpr int kProgressEveryMs = 250;

}  // namespace

ExportWorker::ExportWorker(QtMainWindow& window, MainDialog& dialog)
    : window_(window), dialog_(dialog) {
  progressTimer_.setInterval(kProgressEveryMs);
  connect(&progressTimer_, &QTimer::timeout, this, &ExportWorker::showProgress);
}

ExportWorker::~ExportWorker() {
  if (!running_) return;
  cancel();
  // The worker may be waiting for the window's thread (a message box, a value of a box):
  // answer it while waiting for the run to end.
  QEventLoop loop;
  connect(this, &ExportWorker::finished, &loop, &QEventLoop::quit);
  if (running_) loop.exec();
}

void ExportWorker::start() {
  if (running_) return;
  StopRequest& stop = StopRequest::instance();
  // A Cancel of the last run is forgotten; a signal's request is not (it ends the process).
  if (stop.signal() == 0) stop.reset();
  running_ = true;
  started_ = std::chrono::steady_clock::now();
  window_.beginLive();
  showProgress();
  progressTimer_.start();
  try {
    thread_ = std::thread([this] {
      QueuedView view(window_);
      QueuedLauncher launcher(window_, dialog_.launcher());
      result_ = dialog_.OnFetch(view, launcher);
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
  if (running_) StopRequest::instance().requestCancel();
}

void ExportWorker::showProgress() {
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  window_.showLiveProgress(
      ProgressLine::text(dialog_.rowsWritten().load(std::memory_order_relaxed), elapsed));
}

void ExportWorker::onThreadDone() {
  thread_.join();
  progressTimer_.stop();
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  const ExportResult& done = dialog_.lastExport();
  const bool exported = result_.exported;
  window_.endLive(exported ? done.rows : 0);
  AddStatusLine(window_, runEndLine(exported ? done.rows : 0, elapsed,
                                    exported && done.kept ? done.path : std::string()));
  // A stop signal ends the process once its run has ended by itself (its files are gone).
  endAfterStopSignal();
  StopRequest& stop = StopRequest::instance();
  if (stop.signal() == 0) stop.reset();
  running_ = false;
  emit finished();
}

}  // namespace rowpress
