#include "app/qt/view_widgets.h"

#include <QByteArray>
#include <QFileDialog>
#include <QListWidget>
#include <algorithm>
#include <cctype>

namespace rowpress {

namespace {

constexpr int kLineRole = Qt::UserRole;

QString shownText(std::string_view line) {
  QString shown = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
  shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return shown;
}

}  // namespace

bool lessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

void addListLine(QListWidget& list, std::string_view line, bool sorted) {
  int at = list.count();
  if (sorted) {
    // The first line that sorts after the new one.
    int low = 0;
    int high = list.count();
    while (low < high) {
      const int middle = (low + high) / 2;
      if (lessIgnoringCase(line, listLineText(list, middle))) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    at = low;
  }
  auto* item = new QListWidgetItem(shownText(line));
  // A line longer than its list shows whole as its tool tip.
  item->setToolTip(item->text());
  item->setData(kLineRole, QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  list.insertItem(at, item);
}

std::string listLineText(const QListWidget& list, int index) {
  const QListWidgetItem* item = list.item(index);
  if (!item) return std::string();
  return item->data(kLineRole).toByteArray().toStdString();
}

int findListLine(const QListWidget& list, std::string_view line) {
  for (int i = 0; i < list.count(); ++i) {
    if (listLineText(list, i) == line) return i;
  }
  return -1;
}

QStringList nameFilters(const FileDialogSetup& setup) {
  QStringList filters;
  for (const auto& [name, pattern] : setup.filters) {
    const QString shown = pattern == "*.*" ? QStringLiteral("*") : QString::fromUtf8(pattern);
    filters << QString::fromUtf8(name) + QStringLiteral(" (") + shown + QStringLiteral(")");
  }
  return filters;
}

void configureFileDialog(QFileDialog& dialog, const FileDialogSetup& setup, FileDialogMode mode) {
  if (!setup.title.empty()) dialog.setWindowTitle(QString::fromUtf8(setup.title));
  const QStringList filters = nameFilters(setup);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setDefaultSuffix(QString());
  if (mode == FileDialogMode::Save && setup.filterExtension) {
    // The extension of the filter chosen, which follows the user's choice of filter.
    auto extensionOf = [filters, patterns = setup.filters](const QString& filter) {
      const qsizetype index = filters.indexOf(filter);
      if (index < 0) return QString();
      const std::string& pattern = patterns[static_cast<std::size_t>(index)].second;
      if (!pattern.starts_with("*.") || pattern == "*.*") return QString();
      return QString::fromUtf8(pattern.substr(2));
    };
    if (!filters.isEmpty()) dialog.setDefaultSuffix(extensionOf(filters.first()));
    // The signal gives the filter as shown (its name alone); the dialog gives it whole.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [chosen = &dialog, extensionOf] {
                       chosen->setDefaultSuffix(extensionOf(chosen->selectedNameFilter()));
                     });
  }
  if (mode == FileDialogMode::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !setup.promptOverwrite);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(setup.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  }
}

std::optional<std::string> runFileDialog(QWidget* parent, const FileDialogSetup& setup,
                                         FileDialogMode mode) {
  QFileDialog dialog(parent);
  configureFileDialog(dialog, setup, mode);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
  return chosen.first().toUtf8().toStdString();
}

}  // namespace rowpress
