// Draws the window's pictures and writes them as JPEG files into the folder
// given on the command line (app/images). Built only with
// -DTESSARINE_BUILD_IMAGE_GENERATOR=ON; the JPEG files are committed.
//   chronometer.jpg, chronometer_disabled.jpg  stopwatch, 23 x 30
//   play.jpg, stop.jpg                         strips of two 25 x 25 images,
//                                              enabled and disabled (grey)
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cstdio>

namespace {

const QColor kBackground(240, 240, 240);

QImage Grey(const QImage& source) {
  QImage grey = source.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < grey.height(); ++y) {
    for (int x = 0; x < grey.width(); ++x) {
      const QColor colour = grey.pixelColor(x, y);
      // Lighten as a disabled picture does, keeping the background as it is.
      const int level = qGray(colour.rgb());
      const int light = level + (240 - level) * 2 / 5;
      grey.setPixelColor(x, y, QColor(light, light, light));
    }
  }
  return grey;
}

QImage Stopwatch() {
  QImage image(23, 30, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor orange(240, 120, 0);
  const QColor dark(150, 60, 0);
  // Crown and its stem.
  painter.setPen(Qt::NoPen);
  painter.setBrush(dark);
  painter.drawRoundedRect(QRectF(8.5, 0.5, 6, 3), 1, 1);
  painter.drawRect(QRectF(10.5, 3, 2, 4));
  // Side button.
  painter.save();
  painter.translate(18.5, 8.5);
  painter.rotate(45);
  painter.drawRoundedRect(QRectF(-1.5, -2, 3, 4), 0.8, 0.8);
  painter.restore();
  // Case and dial.
  painter.setBrush(orange);
  painter.setPen(QPen(dark, 1));
  painter.drawEllipse(QRectF(1, 7, 21, 21));
  painter.setBrush(Qt::white);
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QRectF(4, 10, 15, 15));
  // Ticks and hands.
  painter.setPen(QPen(QColor(90, 90, 90), 1));
  const QPointF centre(11.5, 17.5);
  for (int tick = 0; tick < 12; tick += 3) {
    painter.save();
    painter.translate(centre);
    painter.rotate(tick * 30);
    painter.drawLine(QPointF(0, -6.5), QPointF(0, -5));
    painter.restore();
  }
  painter.setPen(QPen(QColor(200, 0, 0), 1.4, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(centre, centre + QPointF(3.5, -4.0));
  painter.setPen(QPen(Qt::black, 1.4, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(centre, centre + QPointF(0, -5.5));
  painter.setBrush(Qt::black);
  painter.drawEllipse(centre, 1, 1);
  return image;
}

QImage Symbol(const QColor& colour, bool play) {
  QImage image(25, 25, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colour, 2.2));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(2, 2, 21, 21));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  if (play) {
    QPolygonF triangle;
    triangle << QPointF(9.5, 7) << QPointF(18, 12.5) << QPointF(9.5, 18);
    painter.drawPolygon(triangle);
  } else {
    painter.drawRect(QRectF(8.5, 8.5, 8, 8));
  }
  return image;
}

QImage Strip(const QImage& enabled) {
  QImage strip(enabled.width() * 2, enabled.height(), QImage::Format_RGB32);
  QPainter painter(&strip);
  painter.drawImage(0, 0, enabled);
  painter.drawImage(enabled.width(), 0, Grey(enabled));
  return strip;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
  QImageWriter writer(folder + QLatin1Char('/') + QLatin1String(name), "jpeg");
  writer.setQuality(100);
  if (!writer.write(image)) {
    std::fprintf(stderr, "%s: %s\n", name, qPrintable(writer.errorString()));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QImage stopwatch = Stopwatch();
  bool ok = Save(stopwatch, folder, "chronometer.jpg");
  ok = Save(Grey(stopwatch), folder, "chronometer_disabled.jpg") && ok;
  ok = Save(Strip(Symbol(QColor(0, 150, 0), true)), folder, "play.jpg") && ok;
  ok = Save(Strip(Symbol(QColor(220, 0, 0), false)), folder, "stop.jpg") && ok;
  return ok ? 0 : 1;
}
