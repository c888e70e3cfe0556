#include "app/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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
#include <QWindow>
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

// The box of the SQL text: never wrapped, Tab moves on, and empty at first start it says what
// it is for.
QPlainTextEdit* newSqlBox(QWidget* parent) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit->setTabChangesFocus(true);
  edit->setPlaceholderText(QString::fromUtf8(kSqlBoxHint));
  edit->setAccessibleName(QStringLiteral("SQL"));
  return edit;
}

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
  for (const TemplateControl& entry : mainDialogTemplate()) {
    QWidget* widget = createControl(entry);
    if (entry.id != 0) {
      widget->setObjectName(QStringLiteral("control%1").arg(entry.id));
      controls_[static_cast<ControlId>(entry.id)] = widget;
    }
    placed_.push_back({widget, entry.rect});
    if (std::string_view(entry.text).starts_with(kStepFourPrefix)) stepFour_ = widget;
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

QWidget* QtMainWindow::createControl(const TemplateControl& entry) {
  const ControlId id = static_cast<ControlId>(entry.id);
  const QString text = QString::fromUtf8(entry.text);
  switch (entry.kind) {
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
      if (entry.kind == ControlKind::PasswordEdit) edit->setEchoMode(QLineEdit::Password);
      connect(edit, &QLineEdit::textEdited, this,
              [this, id] { notify(id, Notification::TextChanged); });
      return edit;
    }
    case ControlKind::MultiLineEdit:
      return newSqlBox(canvas_);
    case ControlKind::ListBox:
      return createList(id);
    case ControlKind::Label:
    case ControlKind::RightLabel: {
      auto* label = new QLabel(text, canvas_);
      const Qt::Alignment side = entry.kind == ControlKind::Label ? Qt::AlignLeft : Qt::AlignRight;
      label->setAlignment(side | Qt::AlignTop);
      label->setWordWrap(entry.rect.height() >= kTwoLines);
      return label;
    }
    case ControlKind::SheetTabs:
      return createSheetTabs();
    case ControlKind::ComboBox: {
      auto* choice = new QComboBox(canvas_);
      // The longest line shows whole in the popup even where the box is narrower.
      choice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
      connect(choice, &QComboBox::activated, this,
              [this, id] { command(id, Notification::SelectionChanged); });
      return choice;
    }
    case ControlKind::GroupBox: {
      auto* group = new QGroupBox(text, canvas_);
      group->setAttribute(Qt::WA_TransparentForMouseEvents);
      return group;
    }
  }
  return nullptr;
}

QListWidget* QtMainWindow::createList(ControlId id) {
  auto* list = new QListWidget(canvas_);
  list->setSelectionMode(id == ControlId::StatusList ? QAbstractItemView::ExtendedSelection
                                                     : QAbstractItemView::SingleSelection);
  watchList(id, list);
  list->installEventFilter(new FirstEntryOnDown(list));
  if (id == ControlId::StatusList) {
    // A long line (a note, a message) wraps at its words and is read without scrolling
    // sideways; the list lays its lines out again when its width changes.
    list->setWordWrap(true);
    list->setResizeMode(QListView::Adjust);
    list->setToolTip(QString::fromUtf8(kStatusListHint));
    list->setAccessibleName(QStringLiteral("Status"));
  }
  return list;
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
  // The user already agreed to close while an export ran.
  bool agreed = closeWhenDone_;
  if (live_) {
    // An export on its thread is cancelled first when the user wants, and the window closes
    // once it has ended. No answer closes the window from inside this event (a close()
    // here would find this close under way and do nothing, or take the window off the screen
    // and leave the dialog and its process running): an export that ended while the user was
    // asked lets this very close go on. Once the user said yes, the window only waits.
    if (closeWhenDone_) {
      event->ignore();
      return;
    }
    const auto answer =
        QMessageBox::question(this, windowTitle(), QString::fromUtf8(kCloseWhileRunning),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    // A changed job is saved or discarded first; Cancel there keeps the window and the export.
    if (answer != QMessageBox::Yes || !mayClose()) {
      event->ignore();
      return;
    }
    agreed = true;
    if (live_) {
      // The window goes at once, also while a workbook is assembled, which no cancel cuts
      // short: hiding it ends its loop, and the program waits for the cancelled run (which
      // removes its files) only as it ends.
      closeWhenDone_ = true;
      cancelLiveFetch();
      event->ignore();
      hide();
      return;
    }
  }
  // A command that is running finishes first.
  if (busyDepth_ > 0) {
    event->ignore();
    return;
  }
  if (!agreed && !mayClose()) {
    event->ignore();
    return;
  }
  event->accept();
  closeAgreed_ = true;
  QDialog::closeEvent(event);
  closeAgreed_ = false;
}

bool QtMainWindow::mayClose() { return sessionEnding_ || !closeHandler_ || closeHandler_(); }

void QtMainWindow::reject() {
  if (live_) {
    cancelLiveFetch();
    return;
  }
  if (busyDepth_ > 0) return;
  if (!closeAgreed_ && !mayClose()) return;
  QDialog::reject();
}

void startWindow(const CommandLine& line, JobSettings& job, View& view,
                 const OutsideCredentials& outside) {
  applyDefaults(job, view);
  for (const std::string& problem : applyCommandLine(line, job, view, outside)) {
    AddStatusLine(view, problem);
  }
}

int runMainWindow(int& argc, char** argv, const CommandLine& line, StopRequest& stop,
                  const OutsideCredentials& outside) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("rowpress"));
  QApplication::setWindowIcon(applicationIcon());

  JobSettings job;
  QtMainWindow window;
  MainDialog dialog(job, window, stop);
  // The window says when a viewer gives up soon after its start.
  dialog.setLauncher(watchingLauncher());
  window.runFetchesLive(dialog);
  window.setHelpHandler([&dialog] { dialog.OnHelp(); });
  window.setCloseHandler([&dialog] { return dialog.OnClose(); });
#ifndef QT_NO_SESSIONMANAGER
  // A logout never waits on a question of the window.
  QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                   [&window] { window.sessionEnding(); });
#endif
  startWindow(line, job, window, outside);
  // Closing asks first only about changes made after start-up.
  dialog.keepJob();
  window.show();
  window.control(ControlId::ListDatabases)->setFocus();
  window.exec();
  // A window closed during an export goes at once; the cancelled run ends here, before the
  // dialog logic that it uses.
  window.endFetch();
  return 0;
}

}  // namespace rowpress
