#include "gui/wait_banner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QWindow>

#include "app/messages.h"

namespace qv::gui {

WaitBanner::WaitBanner() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName("UsesFormFace");
  setWindowTitle("");
  setFixedSize(400, 40);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::black);
  setPalette(colours);

  auto* label = new QLabel(text::kWaitBanner, this);
  QFont font("Arial");
  font.setPointSize(18);
  label->setFont(font);
  label->setStyleSheet("color: red; background: black;");
  label->adjustSize();
  label->move(50, 6);

  if (QScreen* screen = QApplication::primaryScreen()) {
    move(screen->geometry().center() - rect().center());
  }
}

void WaitBanner::ShowNow() {
  show();
  // A window system maps a new window a little later; painting before that paints nothing.
  // Wait for it, briefly, so that the banner stands painted before the long work begins.
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 500)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  repaint();
  QApplication::processEvents();
}

}  // namespace qv::gui
