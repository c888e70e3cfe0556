// The window while an export runs on its own thread: the commands that would start another
// run are disabled, the fetch button cancels, the wheel and the scroll bars scroll, and input
// other than that is dropped.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpacerItem>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <algorithm>

#include "app/main_dialog.h"
#include "app/qt/export_worker.h"
#include "app/qt/main_window.h"
#include "app/qt/view_widgets.h"
#include "app/status_list.h"

namespace rowpress {

void QtMainWindow::runFetchesLive(MainDialog& dialog) {
  worker_ = std::make_unique<ExportWorker>(*this, dialog);
  connect(worker_.get(), &ExportWorker::finished, this, [this] {
    if (closeWhenDone_) close();
  });
}

void QtMainWindow::endFetch() { worker_.reset(); }

void QtMainWindow::cancelLiveFetch() {
  if (worker_) worker_->cancel();
}

void QtMainWindow::beginLive() {
  live_ = true;
  closeWhenDone_ = false;
  // Input to anything but the Cancel button and Esc is dropped from now on (eventFilter).
  beginBusy();
  // The pointer still works the window: the busy arrow, not the wait cursor.
  QApplication::changeOverrideCursor(Qt::BusyCursor);
  for (const auto& [id, widget] : controls_) {
    if (id != ControlId::Fetch && id != ControlId::StatusList) widget->setEnabled(false);
  }
  aboutButton_->setEnabled(false);
  auto* fetch = qobject_cast<QPushButton*>(control(ControlId::Fetch));
  fetchText_ = fetch->text();
  fetch->setText(QString::fromUtf8(kCancelText));
  if (stepFour_) stepFour_->hide();
  progress_->hide();
  liveProgress_->clear();
  liveProgress_->show();
}

void QtMainWindow::showLiveProgress(std::string_view text) {
  liveProgress_->setText(fromUtf8(text));
}

void QtMainWindow::endLive(long long rows) {
  if (!live_) return;
  for (const auto& [id, widget] : controls_) widget->setEnabled(true);
  aboutButton_->setEnabled(true);
  qobject_cast<QPushButton*>(control(ControlId::Fetch))->setText(fetchText_);
  liveProgress_->hide();
  if (stepFour_) stepFour_->show();
  progress_->setText(QStringLiteral("%1 rows").arg(rows));
  progress_->show();
  live_ = false;
  endBusy();
}

bool QtMainWindow::passesWhileLive(QObject* watched, QEvent* event) {
  QWidget* fetch = control(ControlId::Fetch);
  switch (event->type()) {
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape) {
        // Esc cancels, as the Cancel button does; the window stays open.
        if (!key->isAutoRepeat()) cancelLiveFetch();
        return false;
      }
      [[fallthrough]];
    }
    case QEvent::KeyRelease: {
      // Space or Enter on the focused Cancel button presses it.
      const int key = static_cast<QKeyEvent*>(event)->key();
      return focusWidget() == fetch &&
             (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter);
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
      // The fetch button cancels; the scroll bars (of the window and of the status list)
      // scroll, which starts nothing.
      return watched == fetch || qobject_cast<QScrollBar*>(watched) != nullptr;
    case QEvent::MouseButtonDblClick:
      // Not on the fetch button: its second click would cancel the run it just started.
      return qobject_cast<QScrollBar*>(watched) != nullptr;
    case QEvent::Wheel:
      // The wheel scrolls the window (from over a disabled control too) and the status list.
      return true;
    default:
      return false;
  }
}

bool QtMainWindow::belongsToWindow(QObject* object) const {
  if (auto* widget = qobject_cast<QWidget*>(object)) return widget->window() == this;
  // Shortcuts and other helpers of the window are its children.
  for (QObject* owner = object; owner; owner = owner->parent()) {
    if (owner == this) return true;
  }
  return false;
}

bool QtMainWindow::isUserInput(const QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The window system's window is exposed once the window manager has framed it.
  if (event->type() == QEvent::Expose && watched == windowHandle()) fitFrameWhenKnown();
  // While a command runs, what the user does in this window is dropped, never held for
  // later: a click or key given during an export must not start anything when it ends.
  // Message boxes shown during the command are windows of their own and still answer.
  if (busyDepth_ > 0 && isUserInput(event) && belongsToWindow(watched)) {
    if (!live_ || !passesWhileLive(watched, event)) return true;
  }
  if (event->type() == QEvent::MouseButtonPress) {
    if (auto* list = qobject_cast<QListWidget*>(watched->parent())) {
      const QList<QListWidgetItem*> selected = list->selectedItems();
      presses_[watched] = Press{selected.isEmpty() ? -1 : list->row(selected.first()), false};
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace rowpress
