#include "app/qt/about_box.h"

#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/help_page.h"
#include "app/qt/dialog_template.h"

namespace rowpress {

namespace {

// One picture on a 64 x 64 grid, scaled to `size`: a database drum at the top left pouring
// into a green sheet of cells.
QPixmap drawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);

  // The sheet.
  const QRectF sheet(18, 14, 42, 46);
  painter.setPen(QPen(QColor(0x1e, 0x5e, 0x32), 2));
  painter.setBrush(QColor(0xf4, 0xfb, 0xf5));
  painter.drawRoundedRect(sheet, 4, 4);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x2e, 0x8b, 0x4b));
  painter.drawRect(QRectF(sheet.left() + 1, sheet.top() + 1, sheet.width() - 2, 9));
  painter.setPen(QPen(QColor(0x7f, 0xb8, 0x8f), 1.5));
  for (double y = sheet.top() + 19; y < sheet.bottom() - 2; y += 9) {
    painter.drawLine(QPointF(sheet.left() + 2, y), QPointF(sheet.right() - 2, y));
  }
  for (double x = sheet.left() + 14; x < sheet.right() - 2; x += 14) {
    painter.drawLine(QPointF(x, sheet.top() + 10), QPointF(x, sheet.bottom() - 2));
  }

  // The drum.
  const QColor drum(0x1f, 0x4e, 0x9a);
  painter.setPen(QPen(drum.darker(130), 1.5));
  painter.setBrush(drum);
  QPainterPath body;
  body.addRect(QRectF(4, 8, 24, 20));
  painter.drawPath(body);
  painter.drawEllipse(QRectF(4, 22, 24, 10));
  painter.setBrush(drum.lighter(150));
  painter.drawEllipse(QRectF(4, 3, 24, 10));

  // The arrow from the drum into the sheet.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xe6, 0x7e, 0x22));
  QPainterPath arrow;
  arrow.moveTo(20, 36);
  arrow.lineTo(30, 36);
  arrow.lineTo(30, 30);
  arrow.lineTo(42, 41);
  arrow.lineTo(30, 52);
  arrow.lineTo(30, 46);
  arrow.lineTo(20, 46);
  arrow.closeSubpath();
  painter.drawPath(arrow);
  return pixmap;
}

}  // namespace

QIcon applicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(drawIcon(size));
  return icon;
}

namespace {

constexpr int kAboutWidth = 235;
constexpr int kAboutHeight = 55;

}  // namespace

AboutBox::AboutBox(std::function<void()> help, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kAboutCaption));
  const QIcon icon = applicationIcon();
  setWindowIcon(icon);

  auto* picture = new QLabel(this);
  picture->setPixmap(icon.pixmap(32, 32));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto makeLine = [this](const char* text) {
    auto* line = new QLabel(QString::fromUtf8(text), this);
    line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return line;
  };
  QLabel* version = makeLine(kAboutVersionLine);
  QLabel* notice = makeLine(kAboutNotice);
  const HelpPage page = findHelpPage(currentExecutablePath());
  QLabel* address = makeLine(page.found() ? page.path.c_str() : kAboutNoHelpPage);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  const std::vector<PlacedControl> controls = {
      {picture, {11, 12, 21, 20}}, {version, {40, 10, 130, 8}}, {notice, {40, 22, 130, 8}},
      {address, {40, 34, 130, 8}}, {ok_, {178, 7, 50, 14}},
  };
  DialogUnits units = fitUnits(baseUnits(font()), controls);
  // The icon keeps its own size in pixels.
  units.y = std::max(units.y, 32.0 / 20.0);
  placeControls(units, controls);
  setFixedSize(units.toPixels(QSize(kAboutWidth, kAboutHeight)));

  if (help) {
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, std::move(help));
  }
}

}  // namespace rowpress
