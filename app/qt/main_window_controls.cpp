// The window as the dialog logic sees it: the View's reading and writing of the controls,
// the lists, message boxes, file dialogs and the desktop's opener.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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
#include <QSpacerItem>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <algorithm>

#include "app/main_dialog.h"
#include "app/qt/export_worker.h"
#include "app/qt/main_window.h"
#include "app/qt/view_widgets.h"
#include "app/status_list.h"

namespace rowpress {

namespace {

// A message box is as wide as its text: a short text under a long caption would cut the
// caption in the title bar. The box is made wide enough for its caption and the title bar's
// buttons.
void keepCaptionWhole(QMessageBox& box) {
  const QFontMetrics title(box.font());
  const int buttons = 4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box);
  const int width = title.horizontalAdvance(box.windowTitle()) + buttons;
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

QWidget* QtMainWindow::control(ControlId id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QListWidget* QtMainWindow::list(ControlId id) const {
  return qobject_cast<QListWidget*>(control(id));
}

QComboBox* QtMainWindow::choice(ControlId id) const {
  return qobject_cast<QComboBox*>(control(id));
}

QLineEdit* QtMainWindow::lineEdit(ControlId id) const {
  return qobject_cast<QLineEdit*>(control(id));
}

QCheckBox* QtMainWindow::checkBox(ControlId id) const {
  return qobject_cast<QCheckBox*>(control(id));
}

QPlainTextEdit* QtMainWindow::sqlBox() const {
  return qobject_cast<QPlainTextEdit*>(control(ControlId::SqlBox));
}

std::string QtMainWindow::text(ControlId id) const {
  if (id == ControlId::SqlBox) {
    // The job and its settings file keep line breaks as CR LF.
    QString text = sqlBox()->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toUtf8().toStdString();
  }
  if (QLineEdit* edit = lineEdit(id)) return edit->text().toUtf8().toStdString();
  return std::string();
}

void QtMainWindow::setText(ControlId id, std::string_view text) {
  if (id == ControlId::SqlBox) {
    QString shown = fromUtf8(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    sqlBox()->setPlainText(shown);
    return;
  }
  QLineEdit* edit = lineEdit(id);
  if (!edit) return;
  edit->setText(fromUtf8(text));
  // The mirrored boxes tell the logic about a new text wherever it came from.
  if (id == ControlId::LaunchApplication || id == ControlId::OutFileName) {
    notify(id, Notification::TextChanged);
  }
}

bool QtMainWindow::isChecked(ControlId id) const {
  QCheckBox* box = checkBox(id);
  return box && box->isChecked();
}

void QtMainWindow::setChecked(ControlId id, bool checked) {
  if (QCheckBox* box = checkBox(id)) box->setChecked(checked);
}

void QtMainWindow::appendLine(ControlId id, std::string_view line) {
  if (QComboBox* box = choice(id)) {
    box->addItem(fromUtf8(line));
    return;
  }
  QListWidget* target = list(id);
  if (!target) return;
  quiet_ = true;
  addListLine(*target, line, id == ControlId::TableList);
  quiet_ = false;
  if (id == ControlId::StatusList) showNewestStatusLine(target);
}

// The newest status line is the one to read: the list scrolls to it, selecting nothing.
void QtMainWindow::showNewestStatusLine(QListWidget* list) { list->scrollToBottom(); }

void QtMainWindow::clearList(ControlId id) {
  if (QComboBox* box = choice(id)) {
    box->clear();
    return;
  }
  QListWidget* target = list(id);
  if (!target) return;
  quiet_ = true;
  target->clear();
  quiet_ = false;
}

int QtMainWindow::lineCount(ControlId id) const {
  if (QComboBox* box = choice(id)) return box->count();
  QListWidget* target = list(id);
  return target ? target->count() : 0;
}

std::string QtMainWindow::lineText(ControlId id, int index) const {
  if (QComboBox* box = choice(id)) return box->itemText(index).toUtf8().toStdString();
  QListWidget* target = list(id);
  return target ? listLineText(*target, index) : std::string();
}

int QtMainWindow::selectedIndex(ControlId id) const {
  if (QComboBox* box = choice(id)) return box->currentIndex();
  QListWidget* target = list(id);
  if (!target) return -1;
  int first = -1;
  for (QListWidgetItem* item : target->selectedItems()) {
    const int row = target->row(item);
    if (first < 0 || row < first) first = row;
  }
  return first;
}

void QtMainWindow::selectLine(ControlId id, std::string_view line) {
  if (QComboBox* box = choice(id)) {
    box->setCurrentIndex(box->findText(fromUtf8(line), Qt::MatchExactly));
    return;
  }
  QListWidget* target = list(id);
  if (!target) return;
  quiet_ = true;
  const int row = findListLine(*target, line);
  target->clearSelection();
  if (row >= 0) {
    target->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  } else {
    target->setCurrentItem(nullptr);
  }
  quiet_ = false;
}

void QtMainWindow::messageBox(std::string_view text, std::string_view caption,
                              std::string_view reason) {
  QMessageBox box(QMessageBox::Information, fromUtf8(caption), fromUtf8(text), QMessageBox::Ok,
                  this);
  box.setTextFormat(Qt::PlainText);  // database messages may hold angle brackets
  if (!reason.empty()) box.setInformativeText(fromUtf8(reason));
  keepCaptionWhole(box);
  // The box is for reading and answering even in the middle of a command.
  if (busyDepth_ > 0) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (busyDepth_ > 0) QApplication::restoreOverrideCursor();
}

Answer QtMainWindow::askQuestion(std::string_view text, std::string_view caption,
                                 const std::vector<Answer>& buttons, std::string_view reason) {
  static constexpr std::pair<Answer, QMessageBox::StandardButton> kButtons[] = {
      {Answer::Yes, QMessageBox::Yes},       {Answer::No, QMessageBox::No},
      {Answer::Save, QMessageBox::Save},     {Answer::Discard, QMessageBox::Discard},
      {Answer::Cancel, QMessageBox::Cancel},
  };
  QMessageBox box(QMessageBox::Question, fromUtf8(caption), fromUtf8(text), QMessageBox::NoButton,
                  this);
  box.setTextFormat(Qt::PlainText);
  if (!reason.empty()) box.setInformativeText(fromUtf8(reason));
  for (Answer answer : buttons) {
    for (const auto& [each, button] : kButtons) {
      if (each == answer) box.addButton(button);
    }
  }
  // Closing the box (Esc) is Cancel where there is one, else No; the first button is the
  // default.
  const bool cancels = std::find(buttons.begin(), buttons.end(), Answer::Cancel) != buttons.end();
  box.setEscapeButton(cancels ? QMessageBox::Cancel : QMessageBox::No);
  if (!buttons.empty()) {
    for (const auto& [each, button] : kButtons) {
      if (each == buttons.front()) box.setDefaultButton(button);
    }
  }
  keepCaptionWhole(box);
  if (busyDepth_ > 0) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
  if (busyDepth_ > 0) QApplication::restoreOverrideCursor();
  for (const auto& [each, button] : kButtons) {
    if (button == pressed) return each;
  }
  return cancels ? Answer::Cancel : Answer::No;
}

std::optional<std::string> QtMainWindow::chooseFile(const FileDialogSetup& setup,
                                                    FileDialogMode mode) {
  if (chooser_) return chooser_(setup, mode);
  return runFileDialog(this, setup, mode);
}

std::optional<std::string> QtMainWindow::chooseSaveFile(const FileDialogSetup& setup) {
  return chooseFile(setup, FileDialogMode::Save);
}

std::optional<std::string> QtMainWindow::chooseOpenFile(const FileDialogSetup& setup) {
  return chooseFile(setup, FileDialogMode::Open);
}

bool QtMainWindow::openUrl(std::string_view url) {
  if (urlOpener_) return urlOpener_(std::string(url));
  return QDesktopServices::openUrl(QUrl(fromUtf8(url)));
}

}  // namespace rowpress
