#include "gui/wait_banner.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>

namespace qv::gui {

WaitBanner::WaitBanner()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("UsesFormFace");
  setWindowTitle("");
  setFixedSize(400, 40);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::black);
  setPalette(colours);

  auto* label = new QLabel("Create file...Please wait...", this);
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
  repaint();
  QApplication::processEvents();
}

}  // namespace qv::gui
