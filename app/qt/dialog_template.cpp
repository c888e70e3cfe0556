#include "app/qt/dialog_template.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QWidget>
#include <cmath>

namespace rowpress {

const std::vector<TemplateControl>& mainDialogTemplate() {
  using K = ControlKind;
  static const std::vector<TemplateControl> controls = {
      {1000, K::PushButton, "List Available Databases", {7, 46, 188, 14}},
      {1001, K::ListBox, "", {7, 124, 186, 214}},
      {1002, K::PushButton, "Fetch ODBC Data into XLS", {205, 166, 196, 14}},
      {1003, K::MultiLineEdit, "", {205, 108, 198, 43}},
      {1004, K::ListBox, "", {205, 186, 195, 126}},
      {1005, K::ListBox, "", {205, 20, 197, 68}},
      {0, K::Label, "Step 1. Press Button to List Databases", {13, 36, 144, 9}},
      {0,
       K::Label,
       "Step 2. Select Database from Below by Highlighting it (Enter username and password FIRST "
       "if required)",
       {11, 70, 179, 19}},
      {0, K::Label, "Step 3. Select Table From Below by Highlighting it.", {205, 7, 196, 12}},
      {0, K::Label, "Step 4. Press Button to fetch data.", {205, 154, 144, 12}},
      {1008, K::Edit, "", {63, 90, 130, 14}},
      {1009, K::PasswordEdit, "", {63, 105, 129, 14}},
      {0, K::RightLabel, "User Name", {21, 95, 36, 8}},
      {0, K::RightLabel, "Password", {25, 108, 32, 8}},
      {1010, K::CheckBox, "Output to CSV", {417, 35, 62, 10}},
      {1011, K::PushButton, "Save Settings", {205, 322, 195, 16}},
      {1012, K::PushButton, "Support Page", {7, 7, 88, 17}},
      {1013, K::PushButton, "Load Previous", {106, 7, 88, 17}},
      {0, K::GroupBox, "Advanced", {409, 2, 120, 336}},
      {1014, K::CheckBox, "Output To XML", {417, 24, 62, 9}},
      {1015, K::CheckBox, "Output to HTML", {417, 59, 61, 11}},
      {0, K::GroupBox, "Application to Launch", {414, 147, 111, 54}},
      {1016, K::Edit, "", {418, 180, 100, 14}},
      {1017, K::CheckBox, "Launch On Finish", {419, 161, 76, 12}},
      {0, K::GroupBox, "Output File Name", {415, 208, 106, 66}},
      {1018, K::Edit, "", {420, 247, 97, 16}},
      {1019, K::PushButton, "browse", {422, 224, 94, 18}},
      {0, K::GroupBox, "Output Type", {413, 14, 109, 71}},
      {0, K::GroupBox, "Compatibility", {414, 87, 107, 56}},
      {1020, K::CheckBox, "Force Full Length", {420, 97, 71, 10}},
      {1021, K::CheckBox, "Output to TSV", {417, 47, 61, 10}},
      {1022, K::CheckBox, "2007", {420, 108, 32, 10}},
      // The fifth output type and the two options of standard CSV; the template grew for them.
      {1023, K::CheckBox, "Output To XLSX", {417, 71, 62, 10}},
      {1024, K::CheckBox, "Quote Fields", {420, 119, 60, 10}},
      {1025, K::CheckBox, "UTF-8 Byte Order Mark", {420, 130, 98, 10}},
      // The sheets of a report, between the table list (made shorter for them) and the SQL box.
      {1026, K::SheetTabs, "", {205, 90, 198, 16}},
      // The text outputs' separator and encoding and the session's time zone, below the
      // output file name; the template grew for them.
      {0, K::Label, "Separator", {415, 278, 60, 8}},
      {1032, K::ComboBox, "", {413, 287, 112, 14}},
      {0, K::RightLabel, "Encoding", {413, 306, 40, 8}},
      {1033, K::Edit, "", {455, 304, 70, 14}},
      {0, K::RightLabel, "Time Zone", {413, 321, 40, 8}},
      {1034, K::Edit, "", {455, 319, 70, 14}},
  };
  return controls;
}

QRect DialogUnits::toPixels(const QRect& units) const {
  // Both edges are converted, so that neighbouring controls keep their gaps.
  const int left = static_cast<int>(std::lround(units.x() * x));
  const int top = static_cast<int>(std::lround(units.y() * y));
  const int right = static_cast<int>(std::lround((units.x() + units.width()) * x));
  const int bottom = static_cast<int>(std::lround((units.y() + units.height()) * y));
  return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnits::toPixels(const QSize& units) const {
  return QSize(static_cast<int>(std::lround(units.width() * x)),
               static_cast<int>(std::lround(units.height() * y)));
}

DialogUnits baseUnits(const QFont& font) {
  const QFontMetricsF metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const double averageWidth = metrics.horizontalAdvance(letters) / letters.size();
  return DialogUnits{averageWidth / 4.0, std::ceil(metrics.height()) / 8.0};
}

namespace {

bool isWrapped(const QWidget* widget) {
  auto* label = qobject_cast<const QLabel*>(widget);
  return label && label->wordWrap();
}

// The width of the longest word of a wrapped label: no line break can help it.
int longestWord(const QLabel* label) {
  const QFontMetrics metrics(label->font());
  int longest = 0;
  for (const QString& word : label->text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    longest = std::max(longest, metrics.horizontalAdvance(word));
  }
  return longest;
}

}  // namespace

bool textFits(const QWidget* widget, const QSize& size) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) {
    if (label->text().isEmpty()) return true;
    if (label->wordWrap()) {
      return longestWord(label) <= size.width() &&
             label->heightForWidth(size.width()) <= size.height();
    }
    const QSize hint = label->sizeHint();
    return hint.width() <= size.width() && hint.height() <= size.height();
  }
  if (auto* group = qobject_cast<const QGroupBox*>(widget)) {
    return group->minimumSizeHint().width() <= size.width();
  }
  if (auto* check = qobject_cast<const QCheckBox*>(widget)) {
    const QSize hint = check->sizeHint();
    return hint.width() <= size.width() && hint.height() <= size.height();
  }
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    // The style's minimum button height is padding, not text: the text line with the
    // button's frame is what has to show.
    const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int textHeight = button->fontMetrics().height() + 2 * frame;
    return button->sizeHint().width() <= size.width() && textHeight <= size.height();
  }
  return true;
}

DialogUnits fitUnits(DialogUnits base, const std::vector<PlacedControl>& controls) {
  DialogUnits units = base;
  constexpr double kStep = 1.01;
  for (int round = 0; round < 300; ++round) {
    bool growX = false;
    bool growY = false;
    for (const PlacedControl& control : controls) {
      const QSize size = units.toPixels(control.units).size();
      if (textFits(control.widget, size)) continue;
      // Too narrow when even an unlimited height does not help; wrapped text gets its room
      // from the width, so that it keeps the number of lines the layout leaves for it.
      const bool narrow =
          isWrapped(control.widget) || !textFits(control.widget, QSize(size.width(), 1 << 20));
      (narrow ? growX : growY) = true;
    }
    if (!growX && !growY) break;
    if (growX) units.x *= kStep;
    if (growY) units.y *= kStep;
  }
  return units;
}

double stretchedPosition(double unit, double pixelsPerUnit, int extra,
                         const std::vector<StretchBand>& bands) {
  double position = unit * pixelsPerUnit;
  for (const StretchBand& band : bands) {
    if (unit >= band.to) {
      position += band.share * extra;
    } else if (unit > band.from) {
      position += band.share * extra * (unit - band.from) / (band.to - band.from);
    }
  }
  return position;
}

namespace {

// The columns of the template: where each begins, in dialog units.
constexpr int kMiddleColumn = 200;
constexpr int kAdvancedColumn = 405;

// Across the window: the left column takes a third of the extra width, the middle column
// two thirds; the "Advanced" column moves right.
const std::vector<StretchBand> kAcross = {{7, 195, 1.0 / 3}, {205, 403, 2.0 / 3}};
// Down the left column the data source list takes all the extra height; down the middle the
// table list, the SQL box and the status list share it; in the "Advanced" column its frame
// grows below the boxes it holds.
const std::vector<StretchBand> kDownLeft = {{124, 338, 1.0}};
const std::vector<StretchBand> kDownMiddle = {{20, 88, 0.3}, {108, 151, 0.3}, {186, 312, 0.4}};
const std::vector<StretchBand> kDownAdvanced = {{333, 338, 1.0}};

}  // namespace

int templateColumn(const QRect& units) {
  if (units.x() < kMiddleColumn) return 0;
  if (units.x() < kAdvancedColumn) return 1;
  return 2;
}

namespace {

const std::vector<StretchBand>& bandsDown(const QRect& units) {
  static const std::vector<StretchBand>* const kDown[] = {&kDownLeft, &kDownMiddle, &kDownAdvanced};
  return *kDown[templateColumn(units)];
}

}  // namespace

void placeControls(const DialogUnits& units, const std::vector<PlacedControl>& controls,
                   QSize extra) {
  extra = extra.expandedTo(QSize(0, 0));
  for (const PlacedControl& control : controls) {
    const QRect& r = control.units;
    const std::vector<StretchBand>& down = bandsDown(r);
    // Both edges are placed, so that neighbouring controls keep their gaps.
    auto across = [&](int unit) {
      return static_cast<int>(
          std::lround(stretchedPosition(unit, units.x, extra.width(), kAcross)));
    };
    auto downwards = [&](int unit) {
      return static_cast<int>(std::lround(stretchedPosition(unit, units.y, extra.height(), down)));
    };
    const int left = across(r.x());
    const int top = downwards(r.y());
    control.widget->setGeometry(
        QRect(left, top, across(r.x() + r.width()) - left, downwards(r.y() + r.height()) - top));
  }
}

}  // namespace rowpress
