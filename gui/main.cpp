// quorvane-gui: the tool's window.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/job_state.h"
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

  auto job = std::make_unique<qv::JobState>();
  qv::FormOptions options{WorkingDirectory(), QCoreApplication::applicationFilePath().toStdString(),
                          120000};
  qv::gui::MainWindow window(*job, options);
  window.show();
  return QApplication::exec();
}
