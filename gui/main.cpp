// quorvane-gui: the tool's window. Each opened image gets a private job directory of its own;
// the outputs go beside the opened image, or into a folder the user picks.
#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/job.h"
#include "gui/main_window.h"
#include "platform/job_directory.h"
#include "platform/memory.h"

namespace {

constexpr char kHelp[] =
    "Usage: quorvane-gui [OPTION...] [FILE]\n"
    "Opens the window of Quorvane, which customises the firmware of STi710X set-top boxes:\n"
    "the file to edit and the five replacement inputs (boot, menu and radio logos, default\n"
    "database, key), the model id and the seven HTTP settings, previews of the three logos,\n"
    "and Reset, Start and Cancel. Start writes <name>_Merge.bin (for a flash image) and\n"
    "<name>_Merge.dld beside the opened image, or into a folder it asks for.\n"
    "\n"
    "FILE, a flash image (.bin) or a download file (.dld), is opened at start as the Open\n"
    "button opens it.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the program's version and exit\n"
    "\n"
    "Qt's own options, such as -platform offscreen, are taken as well. The window needs a\n"
    "display; without one, run it under xvfb-run.\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  1  there is no display to show it on\n";

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Whether the window has somewhere to go: a platform chosen (-platform, QT_QPA_PLATFORM) or an
// X or Wayland display. Without one, Qt's default platform would abort the program.
bool HasDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
      return true;
  }
  return Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version are answered before the application starts, since that needs a
  // display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kHelp << std::flush;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "quorvane-gui " QUORVANE_VERSION "\n" << std::flush;
      return 0;
    }
  }
  if (!HasDisplay(argc, argv)) {
    std::cerr << "quorvane-gui: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it "
                 "under xvfb-run, or with -platform offscreen\n";
    return 1;
  }
  qv::ReturnLargeBlocksWhenFreed();
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
