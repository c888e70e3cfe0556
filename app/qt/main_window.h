// The main window: the dialog with every control of the layout, and the View through which
// the dialog logic (MainDialog) reads and writes them. User actions reach the logic as
// notifications: clicks on buttons and check boxes, typing in the edit boxes, selection
// changes in the lists. F1 runs the help handler; the context menu and a small button open
// the about box; Enter clicks the focused push button and does nothing elsewhere; Esc and
// the close box end the dialog when no command runs, asking first when the job changed since it
// was last loaded or saved (never when the session ends). Input given to the window while a
// command runs is dropped. Once runFetchesLive is called, the fetch runs on a thread of its
// own: the window stays live (it scrolls), the fetch button and Esc cancel it, and closing
// asks first: yes closes the window, at once or when the export has ended.
#pragma once

#include <QDialog>
#include <QMargins>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/credentials.h"
#include "app/qt/dialog_template.h"
#include "app/qt/view_widgets.h"
#include "app/view.h"
#include "app/window.h"
#include "job/job_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QScrollArea;
class QTabBar;
class QToolButton;

namespace rowpress {

class ExportWorker;
class MainDialog;

inline constexpr char kWindowTitle[] = "rowpress Version 3.1.2";
inline constexpr char kAboutItem[] = "&About rowpress...";
inline constexpr char kCancelText[] = "Cancel";
// What the SQL box and the status list are for, where a first start shows them empty.
inline constexpr char kSqlBoxHint[] = "The SQL to run: type it, or choose a table in Step 3.";
inline constexpr char kStatusListHint[] = "What the last fetch, save or load reported";
inline constexpr char kCloseWhileRunning[] = "An export is running. Cancel it and close?";
// The context menu of a sheet's tab, and the dialog that asks for the parameters' values.
inline constexpr char kRenameSheetItem[] = "Rename...";
inline constexpr char kRemoveSheetItem[] = "Remove";
inline constexpr char kMoveSheetLeftItem[] = "Move Left";
inline constexpr char kMoveSheetRightItem[] = "Move Right";
inline constexpr char kParameterCaption[] = "Parameters of the SQL";
inline constexpr char kRemoveParameter[] = "Remove %1=%2: no marker of the SQL uses it";
inline constexpr char kParameterIntro[] =
    "The SQL holds parameters. Each value is sent to the database as text, apart from the SQL.";

class QtMainWindow : public QDialog, public View {
  Q_OBJECT

 public:
  using FileChooser =
      std::function<std::optional<std::string>(const FileDialogSetup&, FileDialogMode)>;
  // Opens an address; false when nothing could.
  using UrlOpener = std::function<bool(const std::string&)>;

  explicit QtMainWindow(QWidget* parent = nullptr);
  ~QtMainWindow() override;

  // View.
  std::string text(ControlId id) const override;
  void setText(ControlId id, std::string_view text) override;
  bool isChecked(ControlId id) const override;
  void setChecked(ControlId id, bool checked) override;
  void appendLine(ControlId list, std::string_view line) override;
  void clearList(ControlId list) override;
  int lineCount(ControlId list) const override;
  std::string lineText(ControlId list, int index) const override;
  int selectedIndex(ControlId list) const override;
  void selectLine(ControlId list, std::string_view line) override;
  void showSheetTabs(const std::vector<std::string>& names, int current) override;
  int currentSheetTab() const override;
  std::optional<std::string> askText(std::string_view prompt, std::string_view caption,
                                     std::string_view initial) override;
  std::optional<ParameterAnswer> askParameters(const std::vector<std::string>& names,
                                               const std::vector<std::string>& values,
                                               const std::vector<JobParameter>& unused) override;
  void messageBox(std::string_view text, std::string_view caption,
                  std::string_view reason = {}) override;
  Answer askQuestion(std::string_view text, std::string_view caption,
                     const std::vector<Answer>& buttons, std::string_view reason = {}) override;
  std::optional<std::string> chooseSaveFile(const FileDialogSetup& setup) override;
  std::optional<std::string> chooseOpenFile(const FileDialogSetup& setup) override;
  bool openUrl(std::string_view url) override;
  void beginBusy() override;
  void endBusy() override;
  void rowsDone(long long rows) override;

  // What Esc and the close box ask before the window closes while no command runs (the
  // dialog logic's close command): true lets it close.
  void setCloseHandler(std::function<bool()> close) { closeHandler_ = std::move(close); }
  // The desktop session ends (a logout): from now on the window closes without asking.
  void sessionEnding() { sessionEnding_ = true; }
  // What F1 runs (the dialog logic's help command).
  void setHelpHandler(std::function<void()> help) { help_ = std::move(help); }
  // Replace the file dialogs and the desktop's opening of documents, e.g. with a script.
  void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  void setUrlOpener(UrlOpener opener) { urlOpener_ = std::move(opener); }

  // Shows the about box modally.
  void showAbout();

  // From now on the fetch button runs `dialog`'s fetch command on a thread of its own.
  void runFetchesLive(MainDialog& dialog);
  // Whether a fetch runs on its thread now.
  bool fetchRunning() const { return live_; }
  // Cancels a fetch still running on its thread and waits for it to end (its files removed):
  // the window may have gone first, and the dialog logic the run uses must outlive it.
  void endFetch();

  // The live state during such a fetch (called by its worker): every control that would
  // start another command is disabled, the fetch button reads "Cancel", and the progress
  // line replaces the text of step 4; at the end the window shows the rows written and takes
  // commands again.
  void beginLive();
  void endLive(long long rows);
  void showLiveProgress(std::string_view text);

  // The widget of a control of the layout; nullptr for an unknown identifier.
  QWidget* control(ControlId id) const;
  QToolButton* aboutButton() const { return aboutButton_; }
  // Shows how many rows an export has written so far.
  QLabel* progressLabel() const { return progress_; }
  // Shows the rows written, the rate and the time while a fetch runs on its thread.
  QLabel* liveProgressLabel() const { return liveProgress_; }
  const DialogUnits& units() const { return units_; }
  // The controls lie on a canvas at least as large as the template, in a scroll area that
  // fills the window: on a screen smaller than the template the canvas scrolls.
  QWidget* canvas() const { return canvas_; }
  QScrollArea* scrollArea() const { return scrollArea_; }
  // The template's size in pixels: the smallest the canvas gets.
  QSize templateSize() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 public slots:
  void reject() override;

 private:
  // A user's action on a control: the notification that starts its command.
  void command(ControlId id, Notification what);
  bool belongsToWindow(QObject* object) const;
  static bool isUserInput(const QEvent* event);
  void createControls();
  void layOut();
  void placeOnCanvas();
  void fitToScreen();
  void fitFrameToScreen(const QMargins& frame);
  void fitFrameWhenKnown();
  void orderTabsByLayout();
  void showNewestStatusLine(QListWidget* list);
  QWidget* createControl(const TemplateControl& entry);
  // The data source, table and status lists.
  QListWidget* createList(ControlId id);
  QWidget* createSheetTabs();
  void watchList(ControlId id, QListWidget* list);
  QListWidget* list(ControlId id) const;
  QComboBox* choice(ControlId id) const;
  QLineEdit* lineEdit(ControlId id) const;
  QCheckBox* checkBox(ControlId id) const;
  QPlainTextEdit* sqlBox() const;
  std::optional<std::string> chooseFile(const FileDialogSetup& setup, FileDialogMode mode);
  // What the user may still do in the window while a fetch runs on its thread: press the
  // fetch button (now Cancel) and Esc, turn the wheel and work the scroll bars.
  bool passesWhileLive(QObject* watched, QEvent* event);
  void cancelLiveFetch();
  // Whether the window may close now: the close handler's answer, unless the session ends.
  bool mayClose();

  std::map<ControlId, QWidget*> controls_;
  std::vector<PlacedControl> placed_;
  DialogUnits units_;
  QScrollArea* scrollArea_ = nullptr;
  QWidget* canvas_ = nullptr;
  // The window manager's frame with which the window was last fitted to its screen.
  std::optional<QMargins> fittedFrame_;
  QToolButton* aboutButton_ = nullptr;
  QTabBar* sheetTabs_ = nullptr;
  QLabel* progress_ = nullptr;
  QLabel* liveProgress_ = nullptr;
  QWidget* stepFour_ = nullptr;
  QString fetchText_;

  std::function<void()> help_;
  std::function<bool()> closeHandler_;
  bool sessionEnding_ = false;
  // The close handler agreed to this close (the close event goes on to reject()).
  bool closeAgreed_ = false;
  FileChooser chooser_;
  UrlOpener urlOpener_;
  int busyDepth_ = 0;
  std::unique_ptr<ExportWorker> worker_;
  bool live_ = false;
  // The user asked to close while a fetch ran: the window closes once it has ended.
  bool closeWhenDone_ = false;
  // Set while the program changes a list, whose selection signals are then no user action.
  bool quiet_ = false;

  // A press on the line that is already selected selects it again; what was selected
  // before the press, and whether the press changed the selection.
  struct Press {
    int rowBefore = -1;
    bool changed = false;
  };
  std::map<const QObject*, Press> presses_;
};

// Start-up on the window: the defaults, then the settings files and switches of `line` and
// the credentials from outside, which fill the user name and password boxes; what went wrong
// with a settings file or the password file is added to the status list.
void startWindow(const CommandLine& line, JobSettings& job, View& view,
                 const OutsideCredentials& outside = {});

}  // namespace rowpress
