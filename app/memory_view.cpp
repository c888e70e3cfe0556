#include "app/memory_view.h"

#include <algorithm>
#include <cctype>

namespace rowpress {

namespace {

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool isCheckBox(ControlId id) {
  switch (id) {
    case ControlId::OutputCsv:
    case ControlId::OutputXml:
    case ControlId::OutputHtml:
    case ControlId::OutputTsv:
    case ControlId::LaunchOnFinish:
    case ControlId::ForceFullLength:
    case ControlId::Excel2007:
    case ControlId::OutputXlsx:
    case ControlId::QuoteFields:
    case ControlId::ByteOrderMark:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string MemoryView::text(ControlId id) const {
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

void MemoryView::setText(ControlId id, std::string_view text) {
  texts_[id] = std::string(text);
  if (id == ControlId::LaunchApplication || id == ControlId::OutFileName) {
    notify(id, Notification::TextChanged);
  }
}

bool MemoryView::isChecked(ControlId id) const {
  auto it = checks_.find(id);
  return it != checks_.end() && it->second;
}

void MemoryView::setChecked(ControlId id, bool checked) { checks_[id] = checked; }

void MemoryView::appendLine(ControlId list, std::string_view line) {
  auto& lines = lists_[list].lines;
  std::string entry(line);
  if (list == ControlId::TableList) {
    // A sorted list box inserts after the entries that do not sort after the new one.
    auto at = std::upper_bound(lines.begin(), lines.end(), entry, lessIgnoringCase);
    lines.insert(at, std::move(entry));
  } else {
    lines.push_back(std::move(entry));
  }
}

void MemoryView::clearList(ControlId list) { lists_[list] = List{}; }

int MemoryView::lineCount(ControlId list) const {
  auto it = lists_.find(list);
  return it == lists_.end() ? 0 : static_cast<int>(it->second.lines.size());
}

std::string MemoryView::lineText(ControlId list, int index) const {
  auto it = lists_.find(list);
  if (it == lists_.end() || index < 0 || index >= static_cast<int>(it->second.lines.size())) {
    return std::string();
  }
  return it->second.lines[static_cast<std::size_t>(index)];
}

int MemoryView::selectedIndex(ControlId list) const {
  auto it = lists_.find(list);
  return it == lists_.end() ? -1 : it->second.selected;
}

void MemoryView::selectLine(ControlId list, std::string_view line) {
  auto& l = lists_[list];
  auto it = std::find(l.lines.begin(), l.lines.end(), line);
  l.selected = it == l.lines.end() ? -1 : static_cast<int>(it - l.lines.begin());
}

void MemoryView::messageBox(std::string_view text, std::string_view caption,
                            std::string_view reason) {
  messages.push_back({std::string(text), std::string(caption), std::string(reason)});
}

std::optional<std::string> MemoryView::answerFileDialog(const FileDialogSetup& setup) {
  fileDialogs.push_back(setup);
  if (fileDialogAnswers.empty()) return std::nullopt;
  auto answer = std::move(fileDialogAnswers.front());
  fileDialogAnswers.pop_front();
  return answer;
}

std::optional<std::string> MemoryView::chooseSaveFile(const FileDialogSetup& setup) {
  return answerFileDialog(setup);
}

std::optional<std::string> MemoryView::chooseOpenFile(const FileDialogSetup& setup) {
  return answerFileDialog(setup);
}

void MemoryView::showSheetTabs(const std::vector<std::string>& names, int current) {
  sheetTabs = names;
  currentSheet_ = current;
}

void MemoryView::chooseSheet(int index) {
  currentSheet_ = index;
  notify(ControlId::SheetTabs, Notification::SelectionChanged);
}

std::optional<std::string> MemoryView::askText(std::string_view, std::string_view,
                                               std::string_view initial) {
  textQuestions.emplace_back(initial);
  if (textAnswers.empty()) return std::nullopt;
  auto answer = std::move(textAnswers.front());
  textAnswers.pop_front();
  return answer;
}

std::optional<ParameterAnswer> MemoryView::askParameters(const std::vector<std::string>& names,
                                                         const std::vector<std::string>& values,
                                                         const std::vector<JobParameter>& unused) {
  parameterQuestions.push_back({names, values, unused});
  std::optional<ParameterAnswer> answer;
  if (parameterAnswers.empty()) return answer;
  answer.swap(parameterAnswers.front());
  parameterAnswers.pop_front();
  return answer;
}

Answer MemoryView::askQuestion(std::string_view text, std::string_view caption,
                               const std::vector<Answer>& buttons, std::string_view reason) {
  questions.push_back({std::string(text), std::string(caption), std::string(reason)});
  if (questionAnswers.empty()) {
    const bool cancels = std::find(buttons.begin(), buttons.end(), Answer::Cancel) != buttons.end();
    return cancels ? Answer::Cancel : Answer::No;
  }
  const Answer answer = questionAnswers.front();
  questionAnswers.pop_front();
  return answer;
}

bool MemoryView::openUrl(std::string_view url) {
  openedUrls.emplace_back(url);
  return urlsOpen;
}

void MemoryView::beginBusy() {
  ++busyDepth;
  ++busyCount;
}

void MemoryView::endBusy() { --busyDepth; }

void MemoryView::click(ControlId id) {
  if (isCheckBox(id)) checks_[id] = !isChecked(id);
  notify(id, Notification::Click);
}

void MemoryView::type(ControlId id, std::string_view text) {
  texts_[id] = std::string(text);
  notify(id, Notification::TextChanged);
}

void MemoryView::select(ControlId list, int index) {
  lists_[list].selected = index;
  notify(list, Notification::SelectionChanged);
}

std::vector<std::string> MemoryView::lines(ControlId list) const {
  auto it = lists_.find(list);
  return it == lists_.end() ? std::vector<std::string>() : it->second.lines;
}

}  // namespace rowpress
