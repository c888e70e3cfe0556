// Test support: the window with the dialog logic on it, as the program starts it, and the
// user's ways of working its controls.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/main_dialog.h"
#include "app/qt/main_window.h"
#include "app/startup.h"
#include "tests/app_support/output_boxes.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {

// Scrolls every scroll area that holds `target` until it shows, as a user would before
// clicking it on a small screen.
inline void scrollIntoView(QWidget* target) {
  for (QWidget* each = target->parentWidget(); each; each = each->parentWidget()) {
    auto* area = qobject_cast<QScrollArea*>(each);
    if (!area || !area->widget()) continue;
    // The whole widget, not the text cursor that ensureWidgetVisible() shows of edit boxes.
    const QPoint centre = target->mapTo(area->widget(), target->rect().center());
    area->ensureVisible(centre.x(), centre.y(), target->width() / 2 + 1, target->height() / 2 + 1);
  }
}

// Clicks a point of `target` through its window, as the window system delivers a click:
// whatever lies on top of that point takes it. The target is scrolled into view first.
inline void clickThroughWindow(QWidget* target, QPoint at,
                               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* window = target->window();
  ASSERT_TRUE(window->isVisible()) << "the window must be shown";
  scrollIntoView(target);
  // A target larger than the view (a list on a small screen at 200%) shows its top left
  // corner: the point clicked is scrolled into view too.
  if (auto* area = window->findChild<QScrollArea*>()) {
    if (area->widget() && area->widget()->isAncestorOf(target)) {
      const QPoint point = target->mapTo(area->widget(), at);
      area->ensureVisible(point.x(), point.y(), 8, 8);
    }
  }
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, modifiers, target->mapTo(window, at));
}

// Clicks the box itself: a click beside a short text of a stretched check box misses it.
inline void clickIndicator(QCheckBox* box) {
  QStyleOptionButton option;
  option.initFrom(box);
  const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
  clickThroughWindow(box, indicator.center());
}

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    window_.setHelpHandler([this] { dlg_.OnHelp(); });
    window_.setUrlOpener([this](const std::string& url) {
      urls_.push_back(url);
      return true;
    });
    applyDefaults(job_, window_);
    // An installation of its own, with its help page.
    std::filesystem::create_directories(installed_ / "bin");
    std::filesystem::create_directories(installed_ / "share/rowpress");
    writeFile(helpPage_, "<html></html>");
    dlg_.setExecutablePath(installed_ / "bin/rowpress");
  }

  // Shows the window and makes it the active one, as keyboard shortcuts need.
  void showActive() {
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }

  template <class T>
  T* widget(ControlId id) {
    T* found = qobject_cast<T*>(window_.control(id));
    EXPECT_NE(found, nullptr) << "no control " << static_cast<int>(id) << " of that kind";
    return found;
  }

  std::vector<std::string> lines(ControlId list) {
    std::vector<std::string> result;
    for (int i = 0; i < window_.lineCount(list); ++i) result.push_back(window_.lineText(list, i));
    return result;
  }

  JobSettings job_;
  QtMainWindow window_;
  MainDialog dlg_{job_, window_, StopRequest::instance()};
  std::vector<std::string> urls_;
  TempDir installed_;
  const std::string helpPage_ = installed_ / "share/rowpress/help.html";
  // The temporary directory's name needs no encoding in a URL.
  const std::string helpUrl_ = "file://" + installed_.path() + "/share/rowpress/help.html";
};

// The window shown, with the user's ways of working its buttons, check boxes and file
// dialogs.
class HandlersTest : public WindowTest {
 protected:
  void SetUp() override { window_.show(); }
  void click(ControlId id) { clickIndicator(widget<QCheckBox>(id)); }

  // The checked output box, which must be the only one, and the flags of the job.
  std::string outputState() { return support::outputState(window_, job_); }

  // Answers the file dialogs in order, recording how each was set up.
  void answerFileDialogs(std::vector<std::optional<std::string>> answers) {
    answers_ = std::move(answers);
    window_.setFileChooser([this](const FileDialogSetup& setup, FileDialogMode mode) {
      asked_.push_back({setup, mode});
      if (answers_.empty()) return std::optional<std::string>();
      auto answer = answers_.front();
      answers_.erase(answers_.begin());
      return answer;
    });
  }

  void pressButton(ControlId id) {
    QWidget* button = widget<QPushButton>(id);
    clickThroughWindow(button, button->rect().center());
  }

  std::vector<std::optional<std::string>> answers_;
  std::vector<std::pair<FileDialogSetup, FileDialogMode>> asked_;
  TempDir temp_;
};

}  // namespace rowpress::support
