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
  return QApplication::exec();
}
