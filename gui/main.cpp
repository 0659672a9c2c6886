// quorvane-gui: the tool's window.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/job.h"
#include "gui/main_window.h"

namespace {

// The executable's own directory when it can be written to; a per-user data directory
// otherwise, since an installed program cannot write beside itself.
std::string WorkingDirectory() {
  QString own = QCoreApplication::applicationDirPath();
  QFileInfo info(own);
  QString directory = info.isDir() && info.isWritable()
                          ? own
                          : QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
  QDir().mkpath(directory);
  return QDir(directory).absolutePath().toStdString() + "/";
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("quorvane");

  qv::JobOptions options;
  options.working_directory = WorkingDirectory();
  options.executable_path = QCoreApplication::applicationFilePath().toStdString();
  qv::Job job(options);
  qv::gui::MainWindow window(job);
  window.show();
  return QApplication::exec();
}
