// The application icon, and the about box: the icon, the version line, a notice, where the
// help page is and "OK".
#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>

class QLabel;
class QPushButton;

namespace rowpress {

// A small sheet of cells with a data arrow, drawn by the program itself at the sizes a
// desktop asks for.
QIcon applicationIcon();

inline constexpr char kAboutCaption[] = "About rowpress";
inline constexpr char kAboutVersionLine[] = "rowpress Version 3.0.0";
inline constexpr char kAboutNotice[] = "Copyright (C) the rowpress authors";
inline constexpr char kAboutNoHelpPage[] = "The help page is missing";

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  // `help` answers F1 while the box is up, as in the main window. The last line shows the
  // path of the help page installed with the running executable.
  explicit AboutBox(std::function<void()> help, QWidget* parent = nullptr);

  QPushButton* okButton() const { return ok_; }

 private:
  QPushButton* ok_ = nullptr;
};

}  // namespace rowpress
