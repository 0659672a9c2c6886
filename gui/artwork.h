#pragma once

#include <QColor>
#include <QPixmap>

// The pictures of the window, drawn by the program itself: the banner across the top and the
// small glyphs of the buttons.
namespace qv::gui {

QPixmap BannerPicture(int width, int height);

enum class Glyph { kOpen, kReset, kStart, kCancel };
QPixmap GlyphPicture(Glyph glyph, int size);

}  // namespace qv::gui
