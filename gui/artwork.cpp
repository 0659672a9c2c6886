#include "gui/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qv::gui {

QPixmap BannerPicture(int width, int height) {
  QPixmap picture(width, height);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, width, height);
  sky.setColorAt(0.0, QColor(10, 30, 90));
  sky.setColorAt(1.0, QColor(30, 110, 190));
  painter.fillRect(picture.rect(), sky);

  // A set-top box on the right: a flat case with a display and two lights.
  QRectF box(width - 250, height / 2.0 - 18, 200, 40);
  painter.setPen(QPen(QColor(200, 215, 235), 2));
  painter.setBrush(QColor(25, 25, 35));
  painter.drawRoundedRect(box, 6, 6);
  painter.setBrush(QColor(40, 200, 120));
  painter.drawRect(QRectF(box.left() + 20, box.top() + 12, 60, 16));
  painter.setBrush(QColor(230, 70, 60));
  painter.drawEllipse(QPointF(box.right() - 30, box.center().y()), 5, 5);
  painter.setBrush(QColor(240, 190, 40));
  painter.drawEllipse(QPointF(box.right() - 50, box.center().y()), 5, 5);

  // Signal waves from the box.
  painter.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 3; ++i) {
    painter.setPen(QPen(QColor(200, 230, 255, 220 - 50 * i), 2));
    painter.drawArc(QRectF(box.center().x() - 20 * i, box.top() - 14 * i, 40 * i, 28 * i), 40 * 16,
                    100 * 16);
  }

  QFont title("Arial");
  title.setPixelSize(34);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(24, 12, width - 300, 48), Qt::AlignLeft | Qt::AlignVCenter, "Quorvane");
  QFont subtitle("Arial");
  subtitle.setPixelSize(15);
  painter.setFont(subtitle);
  painter.setPen(QColor(200, 225, 255));
  painter.drawText(QRectF(26, 60, width - 300, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   "Firmware customiser for STi710X set-top boxes");
  return picture;
}

QPixmap GlyphPicture(Glyph glyph, int size) {
  QPixmap picture(size, size);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  switch (glyph) {
    case Glyph::kOpen: {  // a folder
      painter.setPen(QPen(QColor(120, 90, 20), 1));
      painter.setBrush(QColor(240, 200, 80));
      QPainterPath folder;
      folder.moveTo(s * 0.08, s * 0.25);
      folder.lineTo(s * 0.40, s * 0.25);
      folder.lineTo(s * 0.48, s * 0.35);
      folder.lineTo(s * 0.92, s * 0.35);
      folder.lineTo(s * 0.92, s * 0.82);
      folder.lineTo(s * 0.08, s * 0.82);
      folder.closeSubpath();
      painter.drawPath(folder);
      break;
    }
    case Glyph::kReset: {  // a circular arrow
      painter.setPen(QPen(QColor(60, 60, 60), s * 0.12, Qt::SolidLine, Qt::RoundCap));
      painter.drawArc(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6), 60 * 16, 280 * 16);
      painter.setBrush(QColor(60, 60, 60));
      painter.setPen(Qt::NoPen);
      painter.drawPolygon(QPolygonF(
          {QPointF(s * 0.62, s * 0.08), QPointF(s * 0.82, s * 0.28), QPointF(s * 0.56, s * 0.34)}));
      break;
    }
    case Glyph::kStart: {  // a play triangle
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(30, 80, 220));
      painter.drawPolygon(QPolygonF(
          {QPointF(s * 0.25, s * 0.15), QPointF(s * 0.85, s * 0.5), QPointF(s * 0.25, s * 0.85)}));
      break;
    }
    case Glyph::kCancel: {  // a cross
      painter.setPen(QPen(QColor(210, 30, 30), s * 0.14, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(QPointF(s * 0.22, s * 0.22), QPointF(s * 0.78, s * 0.78));
      painter.drawLine(QPointF(s * 0.78, s * 0.22), QPointF(s * 0.22, s * 0.78));
      break;
    }
  }
  return picture;
}

}  // namespace qv::gui
