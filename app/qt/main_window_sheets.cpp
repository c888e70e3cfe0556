// The sheets of a report in the window: the tab strip above the SQL box with its "+" button,
// the commands of a tab (a double click renames it, its context menu renames, removes or moves
// it), and the dialogs that ask for a sheet's name and for the values of the parameters.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/main_window.h"
#include "app/qt/view_widgets.h"

namespace rowpress {

QWidget* QtMainWindow::createSheetTabs() {
  auto* strip = new QWidget(canvas_);
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);

  sheetTabs_ = new QTabBar(strip);
  sheetTabs_->setObjectName(QStringLiteral("sheetTabs"));
  sheetTabs_->setAccessibleName(QStringLiteral("Sheets of the report"));
  sheetTabs_->setDocumentMode(true);
  sheetTabs_->setExpanding(false);
  sheetTabs_->setUsesScrollButtons(true);
  sheetTabs_->setElideMode(Qt::ElideNone);  // whole names; the arrows scroll the rest
  sheetTabs_->setContextMenuPolicy(Qt::CustomContextMenu);
  sheetTabs_->hide();  // a job of one query has no tabs
  row->addWidget(sheetTabs_);

  auto* add = new QToolButton(strip);
  add->setObjectName(QStringLiteral("addSheet"));
  add->setText(QStringLiteral("+"));
  add->setToolTip(QStringLiteral("Add a sheet: the job becomes a report of several sheets"));
  add->setAccessibleName(QStringLiteral("Add a sheet"));
  // The "+" follows the last tab, as where the next sheet will stand.
  row->addWidget(add);
  row->addStretch(1);

  connect(add, &QToolButton::clicked, this,
          [this] { command(ControlId::AddSheet, Notification::Click); });
  connect(sheetTabs_, &QTabBar::currentChanged, this, [this](int index) {
    if (quiet_ || index < 0) return;
    command(ControlId::SheetTabs, Notification::SelectionChanged);
  });
  connect(sheetTabs_, &QTabBar::tabBarDoubleClicked, this, [this](int index) {
    if (index < 0) return;
    sheetTabs_->setCurrentIndex(index);
    command(ControlId::RenameSheet, Notification::Click);
  });
  connect(sheetTabs_, &QTabBar::customContextMenuRequested, this, [this](const QPoint& at) {
    const int index = sheetTabs_->tabAt(at);
    if (index < 0) return;
    sheetTabs_->setCurrentIndex(index);
    QMenu menu(this);
    QAction* rename = menu.addAction(QString::fromUtf8(kRenameSheetItem));
    QAction* remove = menu.addAction(QString::fromUtf8(kRemoveSheetItem));
    QAction* left = menu.addAction(QString::fromUtf8(kMoveSheetLeftItem));
    QAction* right = menu.addAction(QString::fromUtf8(kMoveSheetRightItem));
    left->setEnabled(index > 0);
    right->setEnabled(index + 1 < sheetTabs_->count());
    QAction* chosen = menu.exec(sheetTabs_->mapToGlobal(at));
    if (chosen == rename) command(ControlId::RenameSheet, Notification::Click);
    if (chosen == remove) command(ControlId::RemoveSheet, Notification::Click);
    if (chosen == left) command(ControlId::MoveSheetLeft, Notification::Click);
    if (chosen == right) command(ControlId::MoveSheetRight, Notification::Click);
  });
  return strip;
}

void QtMainWindow::showSheetTabs(const std::vector<std::string>& names, int current) {
  // The program's changes of the tabs are no user action.
  const bool wasQuiet = quiet_;
  quiet_ = true;
  while (sheetTabs_->count() > 0) sheetTabs_->removeTab(0);
  // A tab's "&" would mark a shortcut key; doubled, it shows as itself.
  for (const std::string& name : names) {
    sheetTabs_->addTab(fromUtf8(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
  }
  if (current >= 0 && current < sheetTabs_->count()) sheetTabs_->setCurrentIndex(current);
  // Without tabs the "+" stands alone at the start of the strip.
  sheetTabs_->setVisible(!names.empty());
  quiet_ = wasQuiet;
}

int QtMainWindow::currentSheetTab() const { return sheetTabs_->currentIndex(); }

std::optional<std::string> QtMainWindow::askText(std::string_view prompt, std::string_view caption,
                                                 std::string_view initial) {
  QInputDialog dialog(this);
  dialog.setWindowTitle(fromUtf8(caption));
  dialog.setLabelText(fromUtf8(prompt));
  dialog.setTextValue(fromUtf8(initial));
  // Wide enough for a sheet's name and for the whole caption in the title bar.
  const QFontMetrics metrics(dialog.font());
  const int titleBar = 4 * dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &dialog);
  dialog.setMinimumWidth(std::max(40 * metrics.averageCharWidth(),
                                  metrics.horizontalAdvance(dialog.windowTitle()) + titleBar));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

std::optional<ParameterAnswer> QtMainWindow::askParameters(
    const std::vector<std::string>& names, const std::vector<std::string>& values,
    const std::vector<JobParameter>& unused) {
  QDialog dialog(this);
  dialog.setObjectName(QStringLiteral("parameterDialog"));
  dialog.setWindowTitle(QString::fromUtf8(kParameterCaption));
  auto* layout = new QVBoxLayout(&dialog);
  auto* intro = new QLabel(QString::fromUtf8(kParameterIntro), &dialog);
  intro->setWordWrap(true);
  intro->setVisible(!names.empty());
  layout->addWidget(intro);
  auto* form = new QFormLayout;
  std::vector<QLineEdit*> boxes;
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto* box = new QLineEdit(&dialog);
    box->setObjectName(QStringLiteral("parameter:") + fromUtf8(names[i]));
    if (i < values.size()) box->setText(fromUtf8(values[i]));
    form->addRow(fromUtf8(names[i]), box);
    boxes.push_back(box);
  }
  layout->addLayout(form);
  // A parameter that no marker uses refuses the run: it is removed unless the user keeps it.
  std::vector<QCheckBox*> removals;
  for (const JobParameter& parameter : unused) {
    auto* remove = new QCheckBox(QString::fromUtf8(kRemoveParameter)
                                     .arg(fromUtf8(parameter.name), fromUtf8(parameter.value)),
                                 &dialog);
    remove->setObjectName(QStringLiteral("remove:") + fromUtf8(parameter.name));
    remove->setChecked(true);
    layout->addWidget(remove);
    removals.push_back(remove);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  if (!boxes.empty()) boxes.front()->setFocus();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  ParameterAnswer answer;
  for (QLineEdit* box : boxes) answer.values.push_back(box->text().toStdString());
  for (std::size_t i = 0; i < unused.size(); ++i) {
    if (removals[i]->isChecked()) answer.removed.push_back(unused[i].name);
  }
  return answer;
}

}  // namespace rowpress
