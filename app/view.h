// The narrow interface between the dialog logic and its window. It offers exactly the
// operations that the handlers need: edit box text, check box state, list boxes, message
// boxes, file dialogs, opening a document, the busy cursor. The Qt window implements it, and so
// does MemoryView, which the tests use.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/controls.h"
#include "job/job_settings.h"

namespace rowpress {

enum class Notification { Click, TextChanged, SelectionChanged };

// The buttons of a question, and the answer that closing the question's box gives when it
// has a Cancel button (else No).
enum class Answer { Yes, No, Save, Discard, Cancel };

// The answer to the question for parameter values: a value for each name asked, and the
// names of the unused parameters that the user removed from the job.
struct ParameterAnswer {
  ParameterAnswer(std::vector<std::string> given = {}, std::vector<std::string> gone = {})
      : values(std::move(given)), removed(std::move(gone)) {}
  std::vector<std::string> values;
  std::vector<std::string> removed;
};

// What a file dialog shows: its title (empty: the toolkit's default) and its filters as
// (name, pattern) pairs, the first preselected.
struct FileDialogSetup {
  std::string title;
  std::vector<std::pair<std::string, std::string>> filters;
  bool promptOverwrite = false;  // save dialogs: ask before replacing an existing file
  // Save dialogs: a name typed without an extension gets the chosen filter's ("*.*" adds
  // none), before the question whether to replace it.
  bool filterExtension = false;
  bool mustExist = false;  // open dialogs: only existing files
};

class View {
 public:
  using Listener = std::function<void(ControlId, Notification)>;

  virtual ~View() = default;

  // Edit boxes. Setting the text of the application or output file box raises its
  // TextChanged notification, as typing does.
  virtual std::string text(ControlId id) const = 0;
  virtual void setText(ControlId id, std::string_view text) = 0;

  // Check boxes. Setting a state raises no notification.
  virtual bool isChecked(ControlId id) const = 0;
  virtual void setChecked(ControlId id, bool checked) = 0;

  // List boxes. The table list keeps its lines sorted without regard to case; the others
  // keep them in the order added. Selecting by program raises no notification.
  virtual void appendLine(ControlId list, std::string_view line) = 0;
  virtual void clearList(ControlId list) = 0;
  virtual int lineCount(ControlId list) const = 0;
  virtual std::string lineText(ControlId list, int index) const = 0;
  virtual int selectedIndex(ControlId list) const = 0;  // -1: no selection
  virtual void selectLine(ControlId list, std::string_view line) = 0;

  // The sheet tabs above the SQL box: one tab per sheet of a report, in job order, `current`
  // the one whose SQL the box shows; none for a job of one query. Raises no notification; a
  // tab the user chooses raises SheetTabs' SelectionChanged, the tab already current.
  virtual void showSheetTabs(const std::vector<std::string>& names, int current) = 0;
  // The current tab, -1 when there are none.
  virtual int currentSheetTab() const = 0;

  // A line of text asked of the user, its box filled with `initial`; nothing when cancelled.
  virtual std::optional<std::string> askText(std::string_view prompt, std::string_view caption,
                                             std::string_view initial) = 0;
  // The values of the job's parameters, one box per name filled with its entry of `values`
  // (as many as names), and the parameters of the job that no marker uses, each of which the
  // user may remove; nothing when the user cancelled.
  virtual std::optional<ParameterAnswer> askParameters(const std::vector<std::string>& names,
                                                       const std::vector<std::string>& values,
                                                       const std::vector<JobParameter>& unused) = 0;

  // A message with a caption, the information icon and an OK button; returns when closed.
  // A reason (why something failed), when given, shows below the message.
  virtual void messageBox(std::string_view text, std::string_view caption,
                          std::string_view reason = {}) = 0;

  // A question with the question icon and `buttons`, in that order; the one pressed. A
  // reason, when given, shows below the question.
  virtual Answer askQuestion(std::string_view text, std::string_view caption,
                             const std::vector<Answer>& buttons, std::string_view reason = {}) = 0;

  // File dialogs: the chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> chooseSaveFile(const FileDialogSetup& setup) = 0;
  virtual std::optional<std::string> chooseOpenFile(const FileDialogSetup& setup) = 0;

  // Opens a document or web address in the desktop's default program; false when nothing
  // could open it.
  virtual bool openUrl(std::string_view url) = 0;

  // The busy cursor; calls nest.
  virtual void beginBusy() = 0;
  virtual void endBusy() = 0;

  // Called now and then during a long export with the number of data rows written, so
  // that a window can keep itself painted and show progress.
  virtual void rowsDone(long long rows) { (void)rows; }

  void setListener(Listener listener) { listener_ = std::move(listener); }

 protected:
  void notify(ControlId id, Notification what) {
    if (listener_) listener_(id, what);
  }

 private:
  Listener listener_;
};

// Shows the busy cursor for as long as it lives.
class BusyCursor {
 public:
  explicit BusyCursor(View& view) : view_(view) { view_.beginBusy(); }
  ~BusyCursor() { view_.endBusy(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  View& view_;
};

}  // namespace rowpress
