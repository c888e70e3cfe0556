// A window without a screen: it keeps the state of every control in memory, records what
// the dialog logic asked of it, and answers file dialogs from a script; the tests drive the
// handlers through it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/view.h"

namespace rowpress {

class MemoryView : public View {
 public:
  struct Message {
    std::string text;
    std::string caption;
    std::string reason;
  };

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
  int currentSheetTab() const override { return currentSheet_; }
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
  void rowsDone(long long rows) override {
    lastRowsDone = rows;
    if (onRowsDone) onRowsDone(rows);
  }

  // What a user does: a click toggles a check box and then notifies; typing replaces the
  // text and notifies; selecting a line notifies a selection change.
  void click(ControlId id);
  void type(ControlId id, std::string_view text);
  void select(ControlId list, int index);
  // Choosing a sheet's tab makes it current and notifies.
  void chooseSheet(int index);

  // The lines of a list box.
  std::vector<std::string> lines(ControlId list) const;

  // Answers for the next file dialogs, in order; nothing queued means "cancelled".
  std::deque<std::optional<std::string>> fileDialogAnswers;

  // Answers for the next questions for a text and for parameter values, in order; nothing
  // queued means "cancelled".
  std::deque<std::optional<std::string>> textAnswers;
  std::deque<std::optional<ParameterAnswer>> parameterAnswers;

  // Answers for the next questions, in order; nothing queued means the box was closed.
  std::deque<Answer> questionAnswers;

  // The sheet tabs shown.
  std::vector<std::string> sheetTabs;

  // A question for parameter values: the names and the values its boxes were filled with,
  // and the parameters that no marker uses.
  struct ParameterQuestion {
    std::vector<std::string> names;
    std::vector<std::string> values;
    std::vector<JobParameter> unused;
  };

  // What was asked of the view.
  std::vector<ParameterQuestion> parameterQuestions;
  std::vector<std::string> textQuestions;  // the text each question started with
  std::vector<Message> messages;
  std::vector<Message> questions;
  std::vector<FileDialogSetup> fileDialogs;
  std::vector<std::string> openedUrls;
  bool urlsOpen = true;  // what openUrl answers: whether a program took the address
  int busyDepth = 0;
  int busyCount = 0;  // how often the busy cursor was shown
  long long lastRowsDone = 0;
  // Called with every progress report of an export (every 1,024 rows): the place for a test
  // to act in the middle of a run.
  std::function<void(long long)> onRowsDone;

 private:
  struct List {
    std::vector<std::string> lines;
    int selected = -1;
  };
  std::optional<std::string> answerFileDialog(const FileDialogSetup& setup);

  std::map<ControlId, std::string> texts_;
  std::map<ControlId, bool> checks_;
  std::map<ControlId, List> lists_;
  int currentSheet_ = -1;
};

}  // namespace rowpress
