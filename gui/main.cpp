// quorvane-gui: the tool's window. Each opened image gets a private job directory of its own;
// the outputs go beside the opened image, or into a folder the user picks.
#include <QApplication>

#include "app/job.h"
#include "gui/main_window.h"
#include "platform/job_directory.h"

int main(int argc, char** argv) {
  qv::RemoveJobDirectoriesOnSignal();
  QApplication application(argc, argv);
  QApplication::setApplicationName("quorvane");

  qv::Job job(qv::JobOptions{});
  qv::gui::MainWindow window(job);
  window.show();
  // The first argument that is no option names a file to open at start, as the Open button
  // would open it.
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i].startsWith('-')) continue;
    const std::string path = arguments[i].toStdString();
    QMetaObject::invokeMethod(
        &window, [&window, path] { window.OpenFile(path); }, Qt::QueuedConnection);
    break;
  }
  return QApplication::exec();
}
