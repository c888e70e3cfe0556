// The main dialog's layout: every control with its identifier, kind, text and rectangle in
// dialog units, in tab order; and the dialog units themselves, derived from the font as the
// classic dialog managers do (a quarter of the average character width horizontally, an
// eighth of the character height vertically).
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

class QFont;
class QWidget;

namespace rowpress {

enum class ControlKind {
  PushButton,
  CheckBox,
  Edit,           // single line
  PasswordEdit,   // single line, characters hidden
  MultiLineEdit,  // the SQL text: Enter breaks the line, lines do not wrap
  ListBox,
  Label,       // left-aligned static text
  RightLabel,  // right-aligned static text
  GroupBox,
  SheetTabs,  // the tabs of a report's sheets, with the "+" that adds one
  ComboBox,   // a choice of lines, one of them shown
};

struct TemplateControl {
  int id;  // 0 for static texts and group boxes
  ControlKind kind;
  const char* text;
  QRect rect;  // x, y, width, height in dialog units
};

inline constexpr int kMainDialogWidth = 536;
inline constexpr int kMainDialogHeight = 341;

// The main dialog's controls in tab order.
const std::vector<TemplateControl>& mainDialogTemplate();

// Pixels per dialog unit, horizontally and vertically.
struct DialogUnits {
  double x = 1.0;
  double y = 1.0;

  QRect toPixels(const QRect& units) const;
  QSize toPixels(const QSize& units) const;
};

// The dialog units of a font: its average character width over the Latin letters / 4 and its
// height / 8.
DialogUnits baseUnits(const QFont& font);

// A widget and the rectangle it takes, in dialog units.
struct PlacedControl {
  QWidget* widget;
  QRect units;
};

// Whether the text of `widget` shows whole in a rectangle of `size` pixels. Widgets without
// text of their own (edit boxes, lists) always fit.
bool textFits(const QWidget* widget, const QSize& size);

// Grows `base`, each direction on its own, just enough that every control's text fits its
// rectangle; the relative layout stays as the template has it.
DialogUnits fitUnits(DialogUnits base, const std::vector<PlacedControl>& controls);

// The column of the template that a control in `units` belongs to: 0 the left one (the data
// sources), 1 the middle one (tables, SQL, status), 2 "Advanced".
int templateColumn(const QRect& units);

// A window larger than the template shares its extra room out along bands of the template:
// along one axis, a band (in dialog units) grows by its share of the extra pixels and what
// lies beyond it moves by that growth. A control that spans a band grows with it.
struct StretchBand {
  int from;
  int to;
  double share;
};

// The pixel position of the dialog-unit coordinate `unit` along one axis, with `extra` pixels
// shared out along `bands`.
double stretchedPosition(double unit, double pixelsPerUnit, int extra,
                         const std::vector<StretchBand>& bands);

// Puts every control at its rectangle; with `extra` pixels of room beyond the template, the
// lists, the SQL box and the status list take it: the left and middle columns widen, the
// "Advanced" column keeps its width on the right, and each column's lists grow downwards.
void placeControls(const DialogUnits& units, const std::vector<PlacedControl>& controls,
                   QSize extra = QSize(0, 0));

}  // namespace rowpress
