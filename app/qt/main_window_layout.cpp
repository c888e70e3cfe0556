// The main window's layout: the dialog template's controls placed on the canvas in dialog
// units, the window fitted to the screen it opens on (its frame too, once the window manager
// tells it), and the tab order as the controls are laid out.
#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QWindow>
#include <algorithm>
#include <tuple>

#include "app/qt/main_window.h"

namespace rowpress {

void QtMainWindow::layOut() {
  units_ = fitUnits(baseUnits(font()), placed_);
  // A pixel less than the template: a window that fractional scaling rounds a pixel short of
  // the template (1053x629 for 1053x630 at 150%) must not scroll for it. The template's margin
  // right of and below the controls takes that pixel.
  canvas_->setMinimumSize(templateSize() - QSize(1, 1));
  placeOnCanvas();
  fitToScreen();
}

QSize QtMainWindow::templateSize() const {
  return units_.toPixels(QSize(kMainDialogWidth, kMainDialogHeight));
}

// The room of a canvas larger than the template goes to the lists, the SQL box and the
// status list.
void QtMainWindow::placeOnCanvas() {
  // A canvas a rounding pixel short of the template places the controls as the template does.
  placeControls(units_, placed_, (canvas_->size() - templateSize()).expandedTo(QSize(0, 0)));
}

// The window opens at the template's size, but never larger than its screen's available
// area: there the canvas scrolls.
void QtMainWindow::fitToScreen() {
  QSize size = templateSize();
  if (QScreen* shown = screen()) size = size.boundedTo(shown->availableGeometry().size());
  resize(size);
}

// Once shown, the window manager's frame around the window is known: the window with its
// frame fits the available area and lies within it. The window's own geometry is set, which
// needs no frame that Qt may not know yet.
void QtMainWindow::fitFrameToScreen(const QMargins& frame) {
  QScreen* shown = screen();
  if (!shown || isMaximized() || isFullScreen()) return;
  const QRect available = shown->availableGeometry();
  const QSize border(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QPoint corner(frame.left(), frame.top());
  const QSize inside = size().boundedTo(available.size() - border);
  QRect outer(geometry().topLeft() - corner, inside + border);
  if (outer.right() > available.right()) outer.moveRight(available.right());
  if (outer.bottom() > available.bottom()) outer.moveBottom(available.bottom());
  if (outer.left() < available.left()) outer.moveLeft(available.left());
  if (outer.top() < available.top()) outer.moveTop(available.top());
  const QRect fitted(outer.topLeft() + corner, inside);
  if (fitted != geometry()) setGeometry(fitted);
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The window system's window, whose exposure (eventFilter) follows the window manager's
  // framing of it.
  if (QWindow* handle = windowHandle()) handle->installEventFilter(this);
  fitFrameWhenKnown();
}

// The window manager frames the window after it was shown (and may frame it anew): each time
// the frame that it reports changes, the window with its frame fits the available area again.
// Qt hears of a new frame with the window's next move, resize or exposure. A window fitted
// with its frame stays as the user moves and resizes it.
bool QtMainWindow::event(QEvent* event) {
  const bool done = QDialog::event(event);
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
      fitFrameWhenKnown();
      break;
    default:
      break;
  }
  return done;
}

void QtMainWindow::fitFrameWhenKnown() {
  if (!isVisible() || !windowHandle()) return;
  const QMargins frame = windowHandle()->frameMargins();
  if (fittedFrame_ == frame) return;
  fittedFrame_ = frame;
  fitFrameToScreen(frame);
}

// Tab goes down the left column, then down the middle one, then down "Advanced"; controls
// side by side go from left to right.
void QtMainWindow::orderTabsByLayout() {
  std::vector<std::pair<QRect, QWidget*>> order;
  for (const TemplateControl& entry : mainDialogTemplate()) {
    if (entry.id != 0) order.emplace_back(entry.rect, control(static_cast<ControlId>(entry.id)));
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return std::make_tuple(templateColumn(a.first), a.first.y(), a.first.x()) <
           std::make_tuple(templateColumn(b.first), b.first.y(), b.first.x());
  });
  for (std::size_t i = 1; i < order.size(); ++i) {
    QWidget::setTabOrder(order[i - 1].second, order[i].second);
  }
}

}  // namespace rowpress
