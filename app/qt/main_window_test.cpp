// The window itself: its controls, their texts, kinds and places, the keyboard, the context
// menu, the about box and the help box.
#include "app/qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/job_controls.h"
#include "app/qt/about_box.h"
#include "tests/app_support/modal_script.h"
#include "tests/app_support/window_fixture.h"
#include "tests/support/child_process.h"

namespace rowpress::support {
namespace {

using Id = ControlId;

TEST_F(WindowTest, ButtonsAndCheckBoxesCarryTheirTexts) {
  const std::vector<std::pair<Id, const char*>> buttons = {
      {Id::ListDatabases, "List Available Databases"},
      {Id::Fetch, "Fetch ODBC Data into XLS"},
      {Id::SaveSettings, "Save Settings"},
      {Id::SupportPage, "Support Page"},
      {Id::LoadPrevious, "Load Previous"},
      {Id::Browse, "browse"},
  };
  for (const auto& [id, text] : buttons) {
    auto* button = widget<QPushButton>(id);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QString::fromUtf8(text));
    // No default push button: Enter elsewhere ends the dialog.
    EXPECT_FALSE(button->autoDefault()) << text;
    EXPECT_FALSE(button->isDefault()) << text;
  }
  const std::vector<std::pair<Id, const char*>> boxes = {
      {Id::OutputXml, "Output To XML"},
      {Id::OutputCsv, "Output to CSV"},
      {Id::OutputTsv, "Output to TSV"},
      {Id::OutputHtml, "Output to HTML"},
      {Id::LaunchOnFinish, "Launch On Finish"},
      {Id::ForceFullLength, "Force Full Length"},
      {Id::Excel2007, "2007"},
      {Id::OutputXlsx, "Output To XLSX"},
      {Id::QuoteFields, "Quote Fields"},
      {Id::ByteOrderMark, "UTF-8 Byte Order Mark"},
  };
  for (const auto& [id, text] : boxes) {
    auto* box = widget<QCheckBox>(id);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QString::fromUtf8(text));
    // Plain check boxes: the dialog logic, not the toolkit, keeps the output types apart.
    EXPECT_FALSE(box->autoExclusive()) << text;
    EXPECT_FALSE(box->isTristate()) << text;
  }
}

TEST_F(WindowTest, StaticTextsAndGroupsAreThere) {
  QStringList labels;
  for (QLabel* label : window_.findChildren<QLabel*>()) labels << label->text();
  for (const char* text :
       {"Step 1. Press Button to List Databases",
        "Step 2. Select Database from Below by Highlighting it (Enter username and password "
        "FIRST if required)",
        "Step 3. Select Table From Below by Highlighting it.",
        "Step 4. Press Button to fetch data.", "User Name", "Password"}) {
    EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
  }
  QStringList groups;
  for (QGroupBox* group : window_.findChildren<QGroupBox*>()) groups << group->title();
  groups.sort();
  EXPECT_EQ(groups, QStringList({"Advanced", "Application to Launch", "Compatibility",
                                 "Output File Name", "Output Type"}));
}

TEST_F(WindowTest, EditBoxesAndListsHaveTheirKinds) {
  EXPECT_EQ(widget<QLineEdit>(Id::UserName)->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(widget<QLineEdit>(Id::Password)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(widget<QLineEdit>(Id::LaunchApplication)->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(widget<QLineEdit>(Id::OutFileName)->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(widget<QPlainTextEdit>(Id::SqlBox)->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(widget<QListWidget>(Id::DataSourceList)->selectionMode(),
            QAbstractItemView::SingleSelection);
  EXPECT_EQ(widget<QListWidget>(Id::TableList)->selectionMode(),
            QAbstractItemView::SingleSelection);
  EXPECT_EQ(widget<QListWidget>(Id::StatusList)->selectionMode(),
            QAbstractItemView::ExtendedSelection);
}

TEST_F(WindowTest, TitleIconAndAResizableWindow) {
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("rowpress Version 3.1.2"));
  EXPECT_FALSE(window_.windowIcon().isNull());
  EXPECT_FALSE(window_.windowIcon().pixmap(32, 32).isNull());
  EXPECT_NE(window_.minimumSize(), window_.maximumSize());
  EXPECT_TRUE(window_.windowFlags() & Qt::WindowMaximizeButtonHint);
  // 536 x 341 dialog units: the template grew for the fifth output box, the two options, the
  // separator choice and the encoding and time zone boxes.
  const QSize canvas = window_.canvas()->minimumSize();
  EXPECT_NEAR(canvas.width() / window_.units().x, 536, 1);
  EXPECT_NEAR(canvas.height() / window_.units().y, 341, 1);
}

// The order in which Tab visits the controls of the layout, from the first.
std::vector<QString> tabOrder(QtMainWindow& window) {
  std::vector<QString> order;
  QWidget* first = window.control(Id::SupportPage);
  QWidget* each = first;
  do {
    if (each->objectName().startsWith(QStringLiteral("control")) &&
        (each->focusPolicy() & Qt::TabFocus)) {
      order.push_back(each->objectName().mid(7));
    }
    each = each->nextInFocusChain();
  } while (each != first);
  return order;
}

TEST_F(WindowTest, TabFollowsTheVisualOrder) {
  // Down the left column, down the middle, then "Advanced" from its top: the output boxes,
  // the compatibility switches, the application to launch, the output file name, the
  // separator choice, the encoding and the time zone.
  const std::vector<QString> expected = {"1012", "1013", "1000", "1008", "1009", "1001",  // left
                                         "1005", "1003", "1002", "1004", "1011",          // middle
                                         "1014", "1010", "1021", "1015", "1023", "1020", "1022",
                                         "1024", "1025",  // types, switches
                                         "1017", "1016", "1019", "1018", "1032", "1033", "1034"};
  EXPECT_EQ(tabOrder(window_), expected);
  // The keyboard really goes that way, into "Advanced" even where it is scrolled away.
  showActive();
  window_.control(Id::SaveSettings)->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), window_.control(Id::OutputXml));
  const QRect shown = window_.scrollArea()->viewport()->rect();
  QWidget* xml = window_.control(Id::OutputXml);
  EXPECT_TRUE(shown.contains(
      QRect(xml->mapTo(window_.scrollArea()->viewport(), QPoint(0, 0)), xml->size())));
}

TEST_F(WindowTest, TheFirstDownInAListSelectsItsFirstEntry) {
  showActive();
  for (Id id : {Id::DataSourceList, Id::TableList, Id::StatusList}) {
    SCOPED_TRACE(static_cast<int>(id));
    for (const char* line : {"one", "two", "three"}) window_.appendLine(id, line);
    auto* list = widget<QListWidget>(id);
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(window_.selectedIndex(id), 0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(window_.selectedIndex(id), 1);
  }
}

TEST_F(WindowTest, ThreeColumnsAndTheOrderOfTheOutputBoxes) {
  auto rect = [this](Id id) { return window_.control(id)->geometry(); };
  // Left column, middle column, the advanced column.
  EXPECT_LT(rect(Id::DataSourceList).right(), rect(Id::TableList).left());
  EXPECT_LT(rect(Id::ListDatabases).right(), rect(Id::StatusList).left());
  EXPECT_LT(rect(Id::TableList).right(), rect(Id::OutputXml).left());
  EXPECT_LT(rect(Id::SaveSettings).right(), rect(Id::OutFileName).left());
  // Top to bottom.
  EXPECT_LT(rect(Id::SupportPage).bottom(), rect(Id::ListDatabases).top());
  EXPECT_LT(rect(Id::ListDatabases).bottom(), rect(Id::UserName).top());
  EXPECT_LT(rect(Id::UserName).bottom(), rect(Id::DataSourceList).top());
  EXPECT_LT(rect(Id::TableList).bottom(), rect(Id::SqlBox).top());
  EXPECT_LT(rect(Id::Fetch).bottom(), rect(Id::StatusList).top());
  EXPECT_LT(rect(Id::StatusList).bottom(), rect(Id::SaveSettings).top());
  EXPECT_LT(rect(Id::OutputXml).top(), rect(Id::OutputCsv).top());
  EXPECT_LT(rect(Id::OutputCsv).top(), rect(Id::OutputTsv).top());
  EXPECT_LT(rect(Id::OutputTsv).top(), rect(Id::OutputHtml).top());
  EXPECT_LT(rect(Id::OutputHtml).bottom(), rect(Id::OutputXlsx).top());
  // The two options of standard CSV under the other compatibility switches, above the
  // application to launch.
  EXPECT_LT(rect(Id::OutputXlsx).bottom(), rect(Id::ForceFullLength).top());
  EXPECT_LT(rect(Id::Excel2007).bottom(), rect(Id::QuoteFields).top());
  EXPECT_LT(rect(Id::QuoteFields).bottom(), rect(Id::ByteOrderMark).top());
  EXPECT_LT(rect(Id::ByteOrderMark).bottom(), rect(Id::LaunchOnFinish).top());
  EXPECT_LT(rect(Id::Browse).bottom(), rect(Id::OutFileName).top());
  // The separator choice, the encoding and the time zone below the output file name.
  EXPECT_LT(rect(Id::OutFileName).bottom(), rect(Id::SeparatorChoice).top());
  EXPECT_LT(rect(Id::SeparatorChoice).bottom(), rect(Id::Encoding).top());
  EXPECT_LT(rect(Id::Encoding).bottom(), rect(Id::TimeZone).top());
  EXPECT_LT(rect(Id::SaveSettings).right(), rect(Id::TimeZone).left());
  for (const auto& [id, widget] : std::vector<std::pair<Id, QWidget*>>{
           {Id::DataSourceList, window_.control(Id::DataSourceList)},
           {Id::Excel2007, window_.control(Id::Excel2007)},
           {Id::ByteOrderMark, window_.control(Id::ByteOrderMark)},
           {Id::TimeZone, window_.control(Id::TimeZone)}}) {
    EXPECT_TRUE(window_.canvas()->rect().contains(widget->geometry())) << static_cast<int>(id);
  }
}

// The separator choice is a drop-down of its four lines that shows the job's separator and
// decimal comma; a line the user picks there, and the encoding and time zone boxes, are the
// job's.
TEST_F(WindowTest, TheSeparatorChoiceAndTheBoxesBelowItAreTheJobs) {
  JobSettings job;
  job.separator = ";";
  job.decimalComma = true;
  job.encoding = "UTF-16LE";
  job.timeZone = "UTC";
  showJob(job, window_);
  auto* choice = widget<QComboBox>(Id::SeparatorChoice);
  ASSERT_NE(choice, nullptr);
  ASSERT_EQ(choice->count(), 4);
  EXPECT_EQ(choice->currentText(), QStringLiteral("semicolon with decimal comma"));
  EXPECT_EQ(widget<QLineEdit>(Id::Encoding)->text(), QStringLiteral("UTF-16LE"));
  EXPECT_EQ(widget<QLineEdit>(Id::TimeZone)->text(), QStringLiteral("UTC"));
  showActive();
  choice->setFocus();
  QTest::keyClick(choice, Qt::Key_Down);  // "bar"
  widget<QLineEdit>(Id::TimeZone)->clear();
  QTest::keyClicks(widget<QLineEdit>(Id::TimeZone), "+02:00");
  const JobSettings taken = jobInControls(job, window_);
  EXPECT_EQ(taken.separator, "|");
  EXPECT_FALSE(taken.decimalComma);
  EXPECT_EQ(taken.encoding, "UTF-16LE");
  EXPECT_EQ(taken.timeZone, "+02:00");
}

TEST_F(WindowTest, F1ShowsTheHelpBox) {
  showActive();
  ModalScript script({[this](QWidget* top) {
    auto* box = qobject_cast<QMessageBox*>(top);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("ROWPRESS Help Information"));
    EXPECT_EQ(box->text().toStdString(), "Please see the documentation at " + helpUrl_ + " ");
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
  }});
  QTest::keyClick(window_.control(Id::UserName), Qt::Key_F1);
  EXPECT_TRUE(script.finished());
}

TEST_F(WindowTest, F1WithShiftCtrlOrAltDoesNothing) {
  int helps = 0;
  window_.setHelpHandler([&helps] { ++helps; });
  showActive();
  QWidget* focused = window_.control(Id::SqlBox);
  QTest::keyClick(focused, Qt::Key_F1, Qt::ShiftModifier);
  QTest::keyClick(focused, Qt::Key_F1, Qt::ControlModifier);
  QTest::keyClick(focused, Qt::Key_F1, Qt::AltModifier);
  EXPECT_EQ(helps, 0);
  QTest::keyClick(focused, Qt::Key_F1);
  EXPECT_EQ(helps, 1);
}

// Checks the about box and answers F1 in it before closing it.
ModalScript::Step checkAboutBox() {
  return [](QWidget* top) {
    auto* about = qobject_cast<AboutBox*>(top);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About rowpress"));
    QStringList lines;
    bool picture = false;
    for (QLabel* label : about->findChildren<QLabel*>()) {
      lines << label->text();
      picture = picture || !label->pixmap().isNull();
      EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
      EXPECT_TRUE(about->rect().contains(label->geometry())) << label->text().toStdString();
    }
    EXPECT_TRUE(picture);
    EXPECT_TRUE(lines.contains(QStringLiteral("rowpress Version 3.0.0")));
    // The help page that the build copies beside the executable.
    EXPECT_TRUE(lines.contains(QCoreApplication::applicationDirPath() +
                               QStringLiteral("/share/rowpress/help.html")))
        << lines.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Copyright (C) the rowpress authors")));
    EXPECT_EQ(about->okButton()->text(), QStringLiteral("OK"));
    EXPECT_TRUE(about->okButton()->isDefault());
    about->okButton()->click();
  };
}

TEST_F(WindowTest, ContextMenuOpensTheAboutBox) {
  showActive();
  ModalScript script({[](QWidget* top) {
                        auto* menu = qobject_cast<QMenu*>(top);
                        ASSERT_NE(menu, nullptr);
                        ASSERT_EQ(menu->actions().size(), 1);
                        QAction* about = menu->actions().first();
                        EXPECT_EQ(about->text(), QStringLiteral("&About rowpress..."));
                        menu->setActiveAction(about);
                        QTest::keyClick(menu, Qt::Key_Return);
                      },
                      checkAboutBox()});
  // A right click on a static text reaches the dialog's menu.
  QLabel* step1 = nullptr;
  for (QLabel* label : window_.findChildren<QLabel*>()) {
    if (label->text().startsWith(QStringLiteral("Step 1."))) step1 = label;
  }
  ASSERT_NE(step1, nullptr);
  const QPoint at = step1->rect().center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, step1->mapToGlobal(at));
  QApplication::sendEvent(step1, &event);
  EXPECT_TRUE(script.finished());
}

TEST_F(WindowTest, TheSmallButtonOpensTheAboutBoxWhereF1StillHelps) {
  int helps = 0;
  window_.setHelpHandler([&helps] { ++helps; });
  showActive();
  ModalScript script({[&helps](QWidget* top) {
    ASSERT_TRUE(QTest::qWaitForWindowActive(top));
    QTest::keyClick(top, Qt::Key_F1);
    EXPECT_EQ(helps, 1);
    checkAboutBox()(top);
  }});
  EXPECT_FALSE(window_.aboutButton()->text().isEmpty());
  QTest::mouseClick(window_.aboutButton(), Qt::LeftButton);
  EXPECT_TRUE(script.finished());
}

TEST_F(WindowTest, EscapeEndsTheDialog) {
  showActive();
  QTest::keyClick(window_.control(Id::UserName), Qt::Key_Escape);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_EQ(window_.result(), QDialog::Rejected);
}

// With work that was not saved, Esc and the close box ask first: Cancel (or Esc in the question)
// keeps the window and the typed SQL, Discard closes; a session that ends closes it unasked.
TEST_F(WindowTest, EscapeAndTheCloseBoxAskFirstWhenTheJobChanged) {
  window_.setCloseHandler([this] { return dlg_.OnClose(); });
  dlg_.keepJob();  // as start-up leaves it
  showActive();
  QTest::keyClick(window_.control(Id::UserName), Qt::Key_Escape);  // nothing changed
  EXPECT_FALSE(window_.isVisible());
  auto answer = [](QMessageBox::StandardButton button) {
    return [button](QWidget* top) {
      auto* box = qobject_cast<QMessageBox*>(top);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text().toStdString(), kUnsavedQuestion);
      if (button == QMessageBox::Escape) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(button)->click();
      }
    };
  };
  showActive();
  auto* sql = widget<QPlainTextEdit>(Id::SqlBox);
  sql->setFocus();
  QTest::keyClicks(sql, "select 1");
  for (const auto button : {QMessageBox::Cancel, QMessageBox::Escape}) {
    ModalScript script({answer(button)});
    QTest::keyClick(window_.control(Id::UserName), Qt::Key_Escape);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(window_.isVisible());
  }
  {
    ModalScript script({answer(QMessageBox::Cancel)});
    window_.close();
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(window_.isVisible());
  }
  EXPECT_EQ(window_.text(Id::SqlBox), "select 1");
  {
    ModalScript script({answer(QMessageBox::Discard)});
    QTest::keyClick(window_.control(Id::UserName), Qt::Key_Escape);
    EXPECT_TRUE(script.finished());
    EXPECT_FALSE(window_.isVisible());
  }
  showActive();
  window_.sessionEnding();
  window_.close();
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(WindowTest, CloseBoxEndsTheDialogButNotWhileACommandRuns) {
  showActive();
  window_.beginBusy();
  window_.close();
  EXPECT_TRUE(window_.isVisible());
  window_.endBusy();
  window_.close();
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(WindowTest, EnterOutsideAPushButtonDoesNothing) {
  showActive();
  // A user types a password and presses Enter: the window and the typed job stay.
  QWidget* password = window_.control(Id::Password);
  password->setFocus();
  QTest::keyClicks(password, "secret");
  QTest::keyClick(password, Qt::Key_Return);
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(window_.text(Id::Password), "secret");
  window_.appendLine(Id::DataSourceList, "sales");
  for (Id id : {Id::UserName, Id::OutFileName, Id::OutputCsv, Id::Excel2007, Id::DataSourceList,
                Id::TableList, Id::StatusList}) {
    SCOPED_TRACE(static_cast<int>(id));
    window_.control(id)->setFocus();
    QTest::keyClick(window_.control(id), Qt::Key_Return);
    QTest::keyClick(window_.control(id), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(window_.isVisible());
  }
  EXPECT_FALSE(window_.isChecked(Id::OutputCsv));
  EXPECT_EQ(urls_, std::vector<std::string>{});
}

TEST_F(WindowTest, EnterOnAPushButtonClicksIt) {
  showActive();
  QWidget* support = window_.control(Id::SupportPage);
  support->setFocus();
  QTest::keyClick(support, Qt::Key_Return);
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(urls_, std::vector<std::string>{helpUrl_});
}

TEST_F(WindowTest, EnterInTheSqlBoxBreaksTheLine) {
  showActive();
  auto* sql = widget<QPlainTextEdit>(Id::SqlBox);
  sql->setFocus();
  QTest::keyClicks(sql, "select 1");
  QTest::keyClick(sql, Qt::Key_Return);
  QTest::keyClicks(sql, "union select 2");
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(window_.text(Id::SqlBox), "select 1\r\nunion select 2");
}

}  // namespace
}  // namespace rowpress::support
