#include "app/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpacerItem>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

#include "app/main_dialog.h"
#include "app/qt/about_box.h"
#include "app/qt/export_worker.h"
#include "app/qt/view_widgets.h"
#include "app/startup.h"
#include "app/status_list.h"

namespace rowpress {

namespace {

// The small button of the about box sits at the end of the line of step 1, and the export's
// row count at the end of the line of step 4. While an export runs, its progress line takes
// the whole line of step 4.
constexpr QRect kAboutButtonRect{159, 32, 36, 13};
constexpr QRect kProgressRect{349, 154, 52, 12};
constexpr QRect kLiveProgressRect{205, 154, 196, 12};
constexpr std::string_view kStepFourPrefix = "Step 4.";
// Static texts at least this tall (two lines) wrap their words.
constexpr int kTwoLines = 16;

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

// The widget on which the controls lie: it places them anew whenever its size changes.
class Canvas : public QWidget {
 public:
  explicit Canvas(std::function<void()> placeControls) : placeControls_(std::move(placeControls)) {}

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    placeControls_();
  }

 private:
  std::function<void()> placeControls_;
};

// In a list where nothing is selected, Down selects the first entry (rather than the second,
// past the entry that the focus made current without selecting it).
class FirstEntryOnDown : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* list = qobject_cast<QListWidget*>(watched);
    if (!list || key->key() != Qt::Key_Down || key->modifiers() != Qt::NoModifier) return false;
    if (list->count() == 0 || !list->selectedItems().isEmpty()) return false;
    list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    list->scrollToItem(list->item(0));
    return true;
  }
};

}  // namespace

QtMainWindow::QtMainWindow(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(kWindowTitle));
  setWindowIcon(applicationIcon());
  canvas_ = new Canvas([this] { placeOnCanvas(); });
  scrollArea_ = new QScrollArea(this);
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setFocusPolicy(Qt::NoFocus);
  scrollArea_->setWidgetResizable(true);
  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(0, 0, 0, 0);
  frame->addWidget(scrollArea_);
  createControls();
  scrollArea_->setWidget(canvas_);
  layOut();
  orderTabsByLayout();

  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help->setContext(Qt::WindowShortcut);
  connect(help, &QShortcut::activated, this, [this] {
    if (help_) help_();
  });
  controls_.at(ControlId::ListDatabases)->setFocus();
}

QtMainWindow::~QtMainWindow() {
  // A fetch still running is cancelled and waited for while the window is whole.
  worker_.reset();
}

void QtMainWindow::createControls() {
  for (const TemplateControl& spec : mainDialogTemplate()) {
    QWidget* widget = createControl(spec);
    if (spec.id != 0) {
      widget->setObjectName(QStringLiteral("control%1").arg(spec.id));
      controls_[static_cast<ControlId>(spec.id)] = widget;
    }
    placed_.push_back({widget, spec.rect});
    if (std::string_view(spec.text).starts_with(kStepFourPrefix)) stepFour_ = widget;
  }
  // Group boxes only frame their controls: they lie beneath them and let clicks through.
  for (QGroupBox* group : findChildren<QGroupBox*>()) group->lower();

  aboutButton_ = new QToolButton(canvas_);
  aboutButton_->setText(QStringLiteral("About"));
  aboutButton_->setToolTip(QString::fromUtf8(kAboutItem).remove(QLatin1Char('&')));
  aboutButton_->setAccessibleName(aboutButton_->toolTip());
  aboutButton_->setFocusPolicy(Qt::NoFocus);
  connect(aboutButton_, &QToolButton::clicked, this, &QtMainWindow::showAbout);
  placed_.push_back({aboutButton_, kAboutButtonRect});

  progress_ = new QLabel(canvas_);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setAlignment(Qt::AlignRight | Qt::AlignTop);
  placed_.push_back({progress_, kProgressRect});

  liveProgress_ = new QLabel(canvas_);
  liveProgress_->setObjectName(QStringLiteral("liveProgress"));
  liveProgress_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  liveProgress_->hide();
  placed_.push_back({liveProgress_, kLiveProgressRect});
}

QWidget* QtMainWindow::createControl(const TemplateControl& spec) {
  const ControlId id = static_cast<ControlId>(spec.id);
  const QString text = QString::fromUtf8(spec.text);
  switch (spec.kind) {
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, canvas_);
      // No push button is the default: Enter clicks the focused button or ends the dialog.
      button->setAutoDefault(false);
      button->setDefault(false);
      connect(button, &QPushButton::clicked, this,
              [this, id] { command(id, Notification::Click); });
      return button;
    }
    case ControlKind::CheckBox: {
      auto* box = new QCheckBox(text, canvas_);
      connect(box, &QCheckBox::clicked, this, [this, id] { command(id, Notification::Click); });
      return box;
    }
    case ControlKind::Edit:
    case ControlKind::PasswordEdit: {
      auto* edit = new QLineEdit(canvas_);
      if (spec.kind == ControlKind::PasswordEdit) edit->setEchoMode(QLineEdit::Password);
      connect(edit, &QLineEdit::textEdited, this,
              [this, id] { notify(id, Notification::TextChanged); });
      return edit;
    }
    case ControlKind::MultiLineEdit: {
      auto* edit = new QPlainTextEdit(canvas_);
      edit->setLineWrapMode(QPlainTextEdit::NoWrap);
      edit->setTabChangesFocus(true);
      return edit;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(canvas_);
      list->setSelectionMode(id == ControlId::StatusList ? QAbstractItemView::ExtendedSelection
                                                         : QAbstractItemView::SingleSelection);
      watchList(id, list);
      list->installEventFilter(new FirstEntryOnDown(list));
      return list;
    }
    case ControlKind::Label:
    case ControlKind::RightLabel: {
      auto* label = new QLabel(text, canvas_);
      const Qt::Alignment side = spec.kind == ControlKind::Label ? Qt::AlignLeft : Qt::AlignRight;
      label->setAlignment(side | Qt::AlignTop);
      label->setWordWrap(spec.rect.height() >= kTwoLines);
      return label;
    }
    case ControlKind::GroupBox: {
      auto* group = new QGroupBox(text, canvas_);
      group->setAttribute(Qt::WA_TransparentForMouseEvents);
      return group;
    }
  }
  return nullptr;
}

void QtMainWindow::watchList(ControlId id, QListWidget* list) {
  connect(list, &QListWidget::itemSelectionChanged, this, [this, id, list] {
    if (quiet_) return;
    presses_[list->viewport()].changed = true;
    command(id, Notification::SelectionChanged);
  });
  if (list->selectionMode() != QAbstractItemView::SingleSelection) return;
  // Pressing the selected line again selects it again, so that a data source can be
  // connected anew after the user name or password changed.
  list->viewport()->installEventFilter(this);
  connect(list, &QListWidget::pressed, this, [this, id, list](const QModelIndex& index) {
    const Press press = presses_[list->viewport()];
    if (!press.changed && index.row() == press.rowBefore && selectedIndex(id) == index.row()) {
      command(id, Notification::SelectionChanged);
    }
  });
}

void QtMainWindow::command(ControlId id, Notification what) {
  if (worker_ && id == ControlId::Fetch && what == Notification::Click) {
    // The fetch button starts the fetch on its thread, and cancels it while it runs.
    if (live_) {
      cancelLiveFetch();
    } else {
      worker_->start();
    }
    return;
  }
  // A new command starts: the row count of the last export goes.
  if (busyDepth_ == 0) progress_->clear();
  notify(id, what);
}

void QtMainWindow::runFetchesLive(MainDialog& dialog) {
  worker_ = std::make_unique<ExportWorker>(*this, dialog);
  connect(worker_.get(), &ExportWorker::finished, this, [this] {
    if (closeWhenDone_) close();
  });
}

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
      // Not a double click: its second click would cancel the run it just started.
      return watched == fetch;
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

void QtMainWindow::layOut() {
  units_ = fitUnits(baseUnits(font()), placed_);
  canvas_->setMinimumSize(templateSize());
  placeOnCanvas();
  fitToScreen();
}

QSize QtMainWindow::templateSize() const {
  return units_.toPixels(QSize(kMainDialogWidth, kMainDialogHeight));
}

// The room of a canvas larger than the template goes to the lists, the SQL box and the
// status list.
void QtMainWindow::placeOnCanvas() {
  placeControls(units_, placed_, canvas_->size() - templateSize());
}

// The window opens at the template's size, but never larger than its screen's available
// area: there the canvas scrolls.
void QtMainWindow::fitToScreen() {
  QSize size = templateSize();
  if (QScreen* shown = screen()) size = size.boundedTo(shown->availableGeometry().size());
  resize(size);
}

// Once shown, the window's frame is known: the window with its frame fits the available area
// and lies within it.
void QtMainWindow::fitFrameToScreen() {
  QScreen* shown = screen();
  if (!shown || isMaximized() || isFullScreen()) return;
  const QRect available = shown->availableGeometry();
  const QSize frame = frameGeometry().size() - size();
  const QSize inside = size().boundedTo(available.size() - frame);
  if (inside != size()) resize(inside);
  QRect outer(frameGeometry().topLeft(), inside + frame);
  if (outer.right() > available.right()) outer.moveRight(available.right());
  if (outer.bottom() > available.bottom()) outer.moveBottom(available.bottom());
  if (outer.left() < available.left()) outer.moveLeft(available.left());
  if (outer.top() < available.top()) outer.moveTop(available.top());
  if (outer.topLeft() != frameGeometry().topLeft()) move(outer.topLeft());
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (framed_) return;
  framed_ = true;
  fitFrameToScreen();
}

// Tab goes down the left column, then down the middle one, then down "Advanced"; controls
// side by side go from left to right.
void QtMainWindow::orderTabsByLayout() {
  std::vector<std::pair<QRect, QWidget*>> order;
  for (const TemplateControl& spec : mainDialogTemplate()) {
    if (spec.id != 0) order.emplace_back(spec.rect, control(static_cast<ControlId>(spec.id)));
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return std::make_tuple(templateColumn(a.first), a.first.y(), a.first.x()) <
           std::make_tuple(templateColumn(b.first), b.first.y(), b.first.x());
  });
  for (std::size_t i = 1; i < order.size(); ++i) {
    QWidget::setTabOrder(order[i - 1].second, order[i].second);
  }
}

QWidget* QtMainWindow::control(ControlId id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QListWidget* QtMainWindow::list(ControlId id) const {
  return qobject_cast<QListWidget*>(control(id));
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
  QListWidget* target = list(id);
  if (!target) return;
  quiet_ = true;
  target->clear();
  quiet_ = false;
}

int QtMainWindow::lineCount(ControlId id) const {
  QListWidget* target = list(id);
  return target ? target->count() : 0;
}

std::string QtMainWindow::lineText(ControlId id, int index) const {
  QListWidget* target = list(id);
  return target ? listLineText(*target, index) : std::string();
}

int QtMainWindow::selectedIndex(ControlId id) const {
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

void QtMainWindow::beginBusy() {
  if (busyDepth_++ == 0) {
    // A new command starts: the row count of the last export goes, and from now on the
    // user's input to this window is dropped (eventFilter).
    progress_->clear();
    qApp->installEventFilter(this);
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtMainWindow::endBusy() {
  if (busyDepth_ == 0) return;
  if (busyDepth_ == 1) {
    // Input that the window system gathered while the command kept the thread busy is read
    // and dropped now, before the window takes input again.
    QCoreApplication::processEvents();
    qApp->removeEventFilter(this);
  }
  --busyDepth_;
  QApplication::restoreOverrideCursor();
}

void QtMainWindow::rowsDone(long long rows) {
  progress_->setText(QStringLiteral("%1 rows").arg(rows));
}

void QtMainWindow::showAbout() {
  AboutBox about(
      [this] {
        if (help_) help_();
      },
      this);
  about.exec();
}

void QtMainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter clicks the focused push button and does nothing anywhere else (the SQL box keeps
    // its Enter): a user who presses Enter after typing a password keeps the typed job.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void QtMainWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QString::fromUtf8(kAboutItem), this, &QtMainWindow::showAbout);
  menu.exec(event->globalPos());
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  if (live_) {
    // An export on its thread is cancelled first when the user wants, and the window closes
    // once it has ended.
    event->ignore();
    const auto answer =
        QMessageBox::question(this, windowTitle(), QString::fromUtf8(kCloseWhileRunning),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    if (live_) {
      closeWhenDone_ = true;
      cancelLiveFetch();
    } else {
      close();  // it ended while the user was asked
    }
    return;
  }
  // A command that is running finishes first.
  if (busyDepth_ > 0) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void QtMainWindow::reject() {
  if (live_) {
    cancelLiveFetch();
    return;
  }
  if (busyDepth_ > 0) return;
  QDialog::reject();
}

void startWindow(const CommandLine& line, JobSettings& job, View& view,
                 const OutsideCredentials& outside) {
  applyDefaults(job, view);
  for (const std::string& problem : applyCommandLine(line, job, view, outside)) {
    AddStatusLine(view, problem);
  }
}

int runMainWindow(int& argc, char** argv, const CommandLine& line,
                  const OutsideCredentials& outside) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("rowpress"));
  QApplication::setWindowIcon(applicationIcon());

  JobSettings job;
  QtMainWindow window;
  MainDialog dialog(job, window);
  window.runFetchesLive(dialog);
  window.setHelpHandler([&dialog] { dialog.OnHelp(); });
  startWindow(line, job, window, outside);
  window.show();
  window.control(ControlId::ListDatabases)->setFocus();
  window.exec();
  return 0;
}

}  // namespace rowpress
