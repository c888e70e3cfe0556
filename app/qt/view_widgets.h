// How the View's list boxes and file dialogs are made of Qt widgets. The lines of a list box
// keep their text as the dialog logic gave it (UTF-8 bytes, line breaks included) and show it
// on one row, line breaks as blanks. The file dialogs are set up from FileDialogSetup.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

#include "app/view.h"

class QFileDialog;
class QListWidget;
class QWidget;

namespace rowpress {

// UTF-8 bytes of the dialog logic as a QString.
inline QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Byte order with ASCII letters compared without regard to case.
bool lessIgnoringCase(std::string_view a, std::string_view b);

// Adds a line at the end, or for a sorted list after every line that does not sort after it.
void addListLine(QListWidget& list, std::string_view line, bool sorted);

// The text of line `index` as it was added; empty for an index out of range.
std::string listLineText(const QListWidget& list, int index);

// The index of the first line whose text is exactly `line`, or -1.
int findListLine(const QListWidget& list, std::string_view line);

enum class FileDialogMode { Save, Open };

// The filters as the dialog takes them, "NAME (PATTERN)", in the order given. The pattern
// "*.*" means every file, as it does where these filters come from; it is given as "*", since
// here "*.*" would leave out names without a dot.
QStringList nameFilters(const FileDialogSetup& setup);

// Sets `dialog` up: its title, filters (the first selected, the patterns not shown beside the
// names), save or open mode, whether an existing file is confirmed before it is replaced,
// whether the file must exist. The name is taken as it is typed, unless the setup asks for the
// chosen filter's extension to be added to a name without one.
void configureFileDialog(QFileDialog& dialog, const FileDialogSetup& setup, FileDialogMode mode);

// Shows the dialog; the chosen path in UTF-8, or nothing when it was cancelled.
std::optional<std::string> runFileDialog(QWidget* parent, const FileDialogSetup& setup,
                                         FileDialogMode mode);

}  // namespace rowpress
