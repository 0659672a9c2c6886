#pragma once

#include <QWidget>

namespace qv::gui {

// "Create file...Please wait...": a borderless black strip centred on the screen while a
// merged image is built.
class WaitBanner : public QWidget {
 public:
  WaitBanner();
  // Shows the banner and paints it at once, before the long work that follows begins.
  void ShowNow();
};

}  // namespace qv::gui
