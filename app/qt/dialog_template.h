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
};

struct TemplateControl {
  int id;  // 0 for static texts and group boxes
  ControlKind kind;
  const char* text;
  QRect rect;  // x, y, width, height in dialog units
};

inline constexpr int kMainDialogWidth = 536;
inline constexpr int kMainDialogHeight = 289;

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

// Puts every control at its rectangle.
void placeControls(const DialogUnits& units, const std::vector<PlacedControl>& controls);

}  // namespace rowpress
