// rowpress_screenshot OUTPUT.png DATASOURCE TABLE: opens the window, lists the data sources,
// selects DATASOURCE and TABLE, runs the query without opening the result, and writes a
// picture of the window to OUTPUT.png. The documentation's picture is made with it.
#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/main_dialog.h"
#include "app/qt/main_window.h"
#include "app/startup.h"

namespace {

// Selects the line `text` of a list as a user would, so that its handler runs.
bool selectByUser(QListWidget* list, const QString& text) {
  const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  list->setCurrentItem(found.first());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace rowpress;
  if (argc != 4) {
    std::fprintf(stderr, "usage: rowpress_screenshot OUTPUT.png DATASOURCE TABLE\n");
    return 64;
  }
  const QString output = QString::fromLocal8Bit(argv[1]);
  const QString dataSource = QString::fromLocal8Bit(argv[2]);
  const QString table = QString::fromLocal8Bit(argv[3]);

  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  JobSettings job;
  QtMainWindow window;
  MainDialog dialog(job, window, StopRequest::instance());
  window.setHelpHandler([&dialog] { dialog.OnHelp(); });
  applyDefaults(job, window);
  window.show();

  int status = 0;
  QTimer::singleShot(200, &window, [&] {
    auto button = [&](ControlId id) { return qobject_cast<QAbstractButton*>(window.control(id)); };
    auto list = [&](ControlId id) { return qobject_cast<QListWidget*>(window.control(id)); };
    button(ControlId::ListDatabases)->click();
    if (!selectByUser(list(ControlId::DataSourceList), dataSource)) {
      std::fprintf(stderr, "rowpress_screenshot: no data source %s\n", argv[2]);
      status = 1;
    } else if (!selectByUser(list(ControlId::TableList), table)) {
      std::fprintf(stderr, "rowpress_screenshot: no table %s\n", argv[3]);
      status = 1;
    } else {
      button(ControlId::LaunchOnFinish)->click();  // keep the result closed
      button(ControlId::Fetch)->click();
    }
    QTimer::singleShot(300, &window, [&] {
      if (status == 0 && !window.grab().save(output, "PNG")) {
        std::fprintf(stderr, "rowpress_screenshot: cannot write %s\n", argv[1]);
        status = 1;
      }
      window.done(0);
    });
  });
  window.exec();
  return status;
}
