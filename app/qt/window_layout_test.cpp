// How the window fits: every text whole at common font sizes, the room of a larger window
// given to the lists and boxes, every control reachable on a small or scaled screen, message
// boxes with their captions whole.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/qt/about_box.h"
#include "app/qt/main_window.h"
#include "tests/app_support/modal_script.h"
#include "tests/app_support/window_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {
namespace {

using Id = ControlId;
// Every text shows whole, with the window's own font and with larger ones.
void expectNothingClipped(QtMainWindow& window, int pointSize) {
  window.rowsDone(1048576);  // the longest row count of a workbook
  for (QWidget* each : window.findChildren<QWidget*>()) {
    const QRect geometry = each->geometry();
    if (each->parentWidget() != window.canvas()) continue;
    EXPECT_TRUE(window.canvas()->rect().contains(geometry)) << pointSize << "pt";
    if (auto* label = qobject_cast<QLabel*>(each)) {
      if (label->wordWrap()) {
        EXPECT_LE(label->heightForWidth(geometry.width()), geometry.height())
            << label->text().toStdString() << " at " << pointSize << "pt";
      } else {
        EXPECT_LE(label->sizeHint().width(), geometry.width())
            << label->text().toStdString() << " at " << pointSize << "pt";
        EXPECT_LE(label->sizeHint().height(), geometry.height())
            << label->text().toStdString() << " at " << pointSize << "pt";
      }
    } else if (auto* box = qobject_cast<QCheckBox*>(each)) {
      EXPECT_LE(box->sizeHint().width(), geometry.width())
          << box->text().toStdString() << " at " << pointSize << "pt";
      EXPECT_LE(box->sizeHint().height(), geometry.height())
          << box->text().toStdString() << " at " << pointSize << "pt";
    } else if (auto* button = qobject_cast<QAbstractButton*>(each)) {
      EXPECT_LE(button->sizeHint().width(), geometry.width())
          << button->text().toStdString() << " at " << pointSize << "pt";
      EXPECT_LE(button->fontMetrics().height(), geometry.height())
          << button->text().toStdString() << " at " << pointSize << "pt";
    } else if (auto* group = qobject_cast<QGroupBox*>(each)) {
      EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()), geometry.width())
          << group->title().toStdString() << " at " << pointSize << "pt";
    }
  }
}

TEST_F(WindowTest, AResizedWindowGivesItsRoomToTheListsAndTheSqlBox) {
  window_.show();
  const QSize base = window_.templateSize();
  window_.resize(base + QSize(300, 200));
  ASSERT_EQ(window_.canvas()->size(), base + QSize(300, 200));
  QtMainWindow unchanged;  // the template's own layout, for comparison
  unchanged.canvas()->resize(base);
  auto grown = [&](Id id) { return window_.control(id)->size() - unchanged.control(id)->size(); };
  // The left column's data source list takes all the height and a third of the width; the
  // table list, the SQL box and the status list share the height and two thirds of the width.
  EXPECT_NEAR(grown(Id::DataSourceList).width(), 100, 2);
  EXPECT_EQ(grown(Id::DataSourceList).height(), 200);
  int middleHeight = 0;
  for (Id id : {Id::TableList, Id::SqlBox, Id::StatusList}) {
    EXPECT_NEAR(grown(id).width(), 200, 4) << static_cast<int>(id);
    EXPECT_GE(grown(id).height(), 50) << static_cast<int>(id);
    middleHeight += grown(id).height();
  }
  EXPECT_NEAR(middleHeight, 200, 2);
  // The boxes on the right keep their size and move to the window's right edge; the buttons
  // keep their height; the lowest controls go to the bottom.
  for (Id id : {Id::OutputXml, Id::OutFileName, Id::Browse, Id::Fetch, Id::SaveSettings}) {
    EXPECT_EQ(grown(id).height(), 0) << static_cast<int>(id);
  }
  EXPECT_EQ(grown(Id::OutFileName).width(), 0);
  EXPECT_EQ(window_.control(Id::OutputXml)->x() - unchanged.control(Id::OutputXml)->x(), 300);
  EXPECT_EQ(window_.control(Id::SaveSettings)->y() - unchanged.control(Id::SaveSettings)->y(), 200);
  expectNothingClipped(window_, 0);
  // Smaller than the template, the controls keep their places and the canvas scrolls.
  window_.resize(base - QSize(200, 100));
  QApplication::processEvents();
  // (a pixel short of the template, which a window rounded short at a scale does not scroll for)
  EXPECT_EQ(window_.canvas()->size(), base - QSize(1, 1));
  EXPECT_TRUE(window_.scrollArea()->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(window_.scrollArea()->verticalScrollBar()->isVisible());
  EXPECT_EQ(window_.control(Id::OutputXml)->geometry(),
            unchanged.control(Id::OutputXml)->geometry());
}

TEST_F(WindowTest, MessageBoxesKeepTheirTextAndGiveTheReasonBelowIt) {
  showActive();
  const QString caption = QStringLiteral("Unable to Open Output File");
  ModalScript script(
      {[&caption](QWidget* top) {
         auto* box = qobject_cast<QMessageBox*>(top);
         ASSERT_NE(box, nullptr);
         EXPECT_EQ(box->windowTitle(), caption);
         EXPECT_EQ(box->text(), QStringLiteral("unable to create: /out/a<b>.xls "));
         EXPECT_EQ(box->informativeText(), QStringLiteral("No such file or directory"));
         EXPECT_EQ(box->textFormat(), Qt::PlainText);
         box->button(QMessageBox::Ok)->click();
       },
       [&caption](QWidget* top) {
         // A short text under a long caption: the box is wide enough for the
         // caption and the title bar's buttons.
         auto* box = qobject_cast<QMessageBox*>(top);
         ASSERT_NE(box, nullptr);
         EXPECT_TRUE(box->informativeText().isEmpty());
         const int titleBar = box->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, box);
         EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(caption) + 3 * titleBar);
         box->button(QMessageBox::Ok)->click();
       }});
  window_.messageBox("unable to create: /out/a<b>.xls ", caption.toStdString(),
                     "No such file or directory");
  window_.messageBox("x", caption.toStdString());
  EXPECT_TRUE(script.finished());
}

TEST(WindowLayout, NoTextIsClippedAtCommonFontSizes) {
  const QFont original = QApplication::font();
  for (int pointSize : {8, 9, 10, 11, 12, 14, 16}) {
    QFont font = original;
    font.setPointSize(pointSize);
    QApplication::setFont(font);
    QtMainWindow window;
    expectNothingClipped(window, pointSize);
  }
  QApplication::setFont(original);
}

std::string describe(const QRect& rect) {
  return QStringLiteral("%1x%2 at %3,%4")
      .arg(rect.width())
      .arg(rect.height())
      .arg(rect.x())
      .arg(rect.y())
      .toStdString();
}

// On the screen the window opens on: the window with its frame fits the screen's available
// area, and so does its scroll area, with the bottom row and the horizontal scroll bar; every
// control lies whole on the canvas and scrolls whole into view (or, when larger than the
// view, to its top left corner), and a screen that holds the template shows it without
// scrolling, also maximised. A run under a real X server names the screen it expects in
// ROWPRESS_TEST_SCREEN ("WIDTHxHEIGHT" in device pixels), and the window manager that must
// frame the window, if any, in ROWPRESS_TEST_WINDOW_MANAGER.
TEST(WindowLayout, EveryControlCanBeReachedOnItsScreen) {
  QtMainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QScreen* screen = window.screen();
  ASSERT_NE(screen, nullptr);
  if (const char* expected = std::getenv("ROWPRESS_TEST_SCREEN")) {
    const QSize device = screen->geometry().size() * screen->devicePixelRatio();
    EXPECT_EQ(QStringLiteral("%1x%2").arg(device.width()).arg(device.height()),
              QString::fromUtf8(expected));
  }
  const QRect available = screen->availableGeometry();
  SCOPED_TRACE(QStringLiteral("screen %1x%2, scale %3")
                   .arg(available.width())
                   .arg(available.height())
                   .arg(screen->devicePixelRatio())
                   .toStdString());
  if (const char* manager = std::getenv("ROWPRESS_TEST_WINDOW_MANAGER")) {
    // The frame comes when the window manager has taken the window, after it was shown.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !window.windowHandle()->frameMargins().isNull(); }, 5000))
        << manager << " framed no window";
  }
  // The frame as the window system has it (QWidget keeps a copy that may lag behind).
  auto frame = [&window] { return window.windowHandle()->frameGeometry(); };
  QScrollArea* area = window.scrollArea();
  auto onScreen = [](QWidget* widget) {
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
  };
  // Fitted again once the frame is known: that takes a round trip to the window manager.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return available.contains(frame()) && available.contains(onScreen(area)); }, 5000))
      << "available " << describe(available) << ", the window with its frame " << describe(frame())
      << ", its scroll area " << describe(onScreen(area));

  // As large as its content needs within the room that the frame leaves: it scrolls only
  // where the screen is too small.
  const QMargins margins = window.windowHandle()->frameMargins();
  const QSize room =
      available.size() - QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
  const QSize wanted = window.templateSize().boundedTo(room);
  // Fractional scaling may round the window a pixel short.
  auto near = [](int a, int b) { return a >= b - 1 && a <= b; };
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return near(window.width(), wanted.width()) && near(window.height(), wanted.height());
      },
      2000))
      << "the window is " << window.width() << "x" << window.height() << ", not " << wanted.width()
      << "x" << wanted.height() << " (room " << room.width() << "x" << room.height() << ")";

  QWidget* view = area->viewport();
  const QSize reach(view->width() + area->horizontalScrollBar()->maximum(),
                    view->height() + area->verticalScrollBar()->maximum());
  EXPECT_GE(reach.width(), window.canvas()->width());
  EXPECT_GE(reach.height(), window.canvas()->height());
  for (QWidget* each : window.canvas()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const std::string name =
        each->objectName().toStdString() + " " + each->metaObject()->className();
    EXPECT_TRUE(window.canvas()->rect().contains(each->geometry())) << name;
    // One larger than the view is reached by scrolling across the canvas (checked above).
    if (each->width() > view->width() || each->height() > view->height()) continue;
    scrollIntoView(each);
    const QRect shown(each->mapTo(view, QPoint(0, 0)), each->size());
    EXPECT_TRUE(view->rect().contains(shown)) << name;
  }
  if (room.boundedTo(window.templateSize()) == window.templateSize()) {
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(area->verticalScrollBar()->isVisible());
    window.showMaximized();
    QTRY_COMPARE(window.canvas()->size(), view->size());
  }
}

std::string subdirectory(const TempDir& parent, const std::string& name) {
  std::filesystem::create_directories(parent / name);
  return parent / name;
}

// A private X server (Xvfb, on a display number that it picks) with openbox managing its
// windows as on a desktop: each window gets a frame with a title bar. Both end with the
// object. Openbox's files go to a home of its own.
class DisplayWithWindowManager {
 public:
  ~DisplayWithWindowManager() {
    manager_.kill(SIGTERM);
    manager_.wait(std::chrono::seconds(5));
    server_.kill(SIGTERM);
    server_.wait(std::chrono::seconds(5));
  }

  // Starts the server and the window manager on it; says what went wrong otherwise.
  std::string start(const std::string& screen) {
    const std::string xvfb = findProgram("Xvfb");
    if (xvfb.empty()) return "Xvfb is missing: install xvfb (scripts/packages.d/window.txt)";
    const std::string openbox = findProgram("openbox");
    if (openbox.empty()) {
      return "openbox is missing: install openbox (scripts/packages.d/window.txt); the window "
             "is tested under a window manager";
    }
    // Xvfb writes its display number to its standard output once it takes clients.
    if (!server_.start(
            {xvfb, "-displayfd", "1", "-screen", "0", screen, "-dpi", "96", "-nolisten", "tcp"})) {
      return "Xvfb could not be started";
    }
    if (!waitFor([&] { return server_.out().find('\n') != std::string::npos; })) {
      return "Xvfb did not start: " + server_.err();
    }
    display_ = ":" + server_.out().substr(0, server_.out().find('\n'));
    // Openbox runs its start-up command once it manages the screen.
    const std::string ready = dir_ / "openbox-ready";
    const std::string home = subdirectory(dir_, "home");
    if (!manager_.start({openbox, "--sm-disable", "--startup", "touch " + shellQuote(ready)},
                        {{"DISPLAY", display_},
                         {"HOME", home},
                         {"XDG_CONFIG_HOME", home + "/.config"},
                         {"XDG_CACHE_HOME", home + "/.cache"},
                         {"XDG_DATA_HOME", home + "/.local/share"}})) {
      return "openbox could not be started";
    }
    if (!waitFor([&] { return fileExists(ready); })) {
      return "openbox did not take the display " + display_ + ": " + manager_.err();
    }
    return "";
  }

  const std::string& display() const { return display_; }

 private:
  // Waits up to 20 seconds while both programs that were started run.
  template <class Done>
  bool waitFor(Done done) {
    for (int i = 0; i < 400; ++i) {
      if (done()) return true;
      if (!server_.running() || (manager_.pid() > 0 && !manager_.running())) return false;
      QTest::qSleep(50);
    }
    return done();
  }

  TempDir dir_;
  ChildProcess server_{subdirectory(dir_, "server")};
  ChildProcess manager_{subdirectory(dir_, "manager")};
  std::string display_;
};

// The same on 1280x800 and 1920x1080 screens of an X server with a window manager, as on a
// desktop, at 100%, 150% and 200% scaling: this test binary runs the check above under Xvfb and
// openbox, whose frame (a title bar of about 20 pixels) the window fits with, and then the walks
// where the window manager takes part: Escape and the close box with unsaved work, the save
// dialog's suffix, and the close question while the workbook is written.
TEST(WindowLayout, FitsCommonScreensUnderAWindowManagerAt100150And200Percent) {
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  for (const char* screen : {"1280x800", "1920x1080"}) {
    DisplayWithWindowManager desktop;
    const std::string problem = desktop.start(screen + std::string("x24"));
    ASSERT_TRUE(problem.empty()) << problem;
    for (const char* scale : {"1", "1.5", "2"}) {
      SCOPED_TRACE(std::string(screen) + ", QT_SCALE_FACTOR=" + scale);
      const ChildResult run =
          runProgram({self,
                      "--gtest_filter=WindowLayout.EveryControlCanBeReachedOnItsScreen:"
                      "WindowTest.EscapeAndTheCloseBoxAskFirstWhenTheJobChanged:"
                      "HandlersTest.SaveDialogsAddTheChosenFiltersExtension:"
                      "CloseWhileLiveTest.YesWhileTheWorkbookIsWrittenClosesTheWindowAtOnce"},
                     std::chrono::minutes(2),
                     {{"DISPLAY", desktop.display()},
                      {"WAYLAND_DISPLAY", std::nullopt},
                      {"QT_QPA_PLATFORM", "xcb"},
                      {"QT_SCALE_FACTOR", scale},
                      {"ROWPRESS_TEST_SCREEN", screen},
                      {"ROWPRESS_TEST_WINDOW_MANAGER", "openbox"}});
      EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
      EXPECT_NE(run.out.find("[  PASSED  ] 4 tests."), std::string::npos) << run.out;
    }
  }
}

TEST(WindowLayout, LargerFontsMakeALargerWindow) {
  const QFont original = QApplication::font();
  QFont font = original;
  font.setPointSize(9);
  QApplication::setFont(font);
  auto small = std::make_unique<QtMainWindow>();
  font.setPointSize(14);
  QApplication::setFont(font);
  auto large = std::make_unique<QtMainWindow>();
  QApplication::setFont(original);
  EXPECT_GT(large->templateSize().width(), small->templateSize().width());
  EXPECT_GT(large->templateSize().height(), small->templateSize().height());
}

}  // namespace
}  // namespace rowpress::support
