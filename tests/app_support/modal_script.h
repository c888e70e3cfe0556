// Test support: answers the modal dialogs, message boxes and popup menus that the code under
// test opens, from inside their own event loops, so that a test drives the real dialogs and
// never waits for a person.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <utility>

namespace rowpress::support {

class ModalScript {
 public:
  // One step answers one modal widget: the popup menu or modal dialog on top when it runs.
  using Step = std::function<void(QWidget*)>;

  explicit ModalScript(std::deque<Step> steps, int timeoutMs = 5000)
      : steps_(std::move(steps)), timeoutMs_(timeoutMs) {
    clock_.start();
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }

  // Fails the test when a step was left unused or a dialog had to be closed by force.
  ~ModalScript() {
    timer_.stop();
    EXPECT_TRUE(steps_.empty()) << steps_.size() << " expected dialog(s) never opened";
    EXPECT_FALSE(timedOut_) << "a dialog stayed open and was closed by force";
  }

  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  bool finished() const { return steps_.empty(); }

 private:
  static QWidget* topModal() {
    if (QWidget* popup = QApplication::activePopupWidget()) return popup;
    return QApplication::activeModalWidget();
  }

  void poll() {
    QWidget* top = topModal();
    if (clock_.elapsed() > timeoutMs_) {
      // Nothing may hang a test: close whatever is still up.
      if (top) {
        timedOut_ = true;
        if (auto* dialog = qobject_cast<QDialog*>(top)) {
          dialog->reject();
        } else {
          top->close();
        }
      }
      if (!top) timer_.stop();
      return;
    }
    if (steps_.empty() || !top || !top->isVisible() || top == answered_.data()) return;
    answered_ = top;
    // The step runs from the event loop rather than from this timer, which does not fire
    // again while its own handler runs: a step may open the next dialog.
    QTimer::singleShot(0, top, [step = std::move(steps_.front()), top] { step(top); });
    steps_.pop_front();
  }

  std::deque<Step> steps_;
  int timeoutMs_;
  QElapsedTimer clock_;
  QTimer timer_;
  QPointer<QWidget> answered_;
  bool timedOut_ = false;
};

}  // namespace rowpress::support
