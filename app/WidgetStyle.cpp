#include "app/WidgetStyle.h"

#include <QFontDatabase>
#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

QFont TahomaFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

bool HasWingdings() {
  return QFontDatabase::hasFamily(QStringLiteral("Wingdings"));
}

QFont GlyphFont() {
  if (HasWingdings()) {
    QFont font(QStringLiteral("Wingdings"));
    font.setPixelSize(16);
    return font;
  }
  return TahomaFont(16);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::WindowText, colour);
    palette.setColor(group, QPalette::ButtonText, colour);
  }
  widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                  const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setFont(font);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QFrame* MakeRule(QWidget* parent, const char* name, const QRect& geometry, bool vertical) {
  auto* rule = new QFrame(parent);
  rule->setObjectName(QLatin1String(name));
  rule->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(geometry);
  return rule;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  return button;
}

QImage ReadPicture(const QString& path) {
  QImageReader reader(path);
  QImage image = reader.read();
  if (image.isNull()) {
    qWarning("Tessarine: cannot read picture %s: %s", qPrintable(path),
             qPrintable(reader.errorString()));
  }
  return image;
}

// The icon carries a transparent margin so that 10 px separate picture and
// caption (the style itself puts 4 px between them).
QIcon StripIcon(const QString& path) {
  const QImage strip = ReadPicture(path);
  QIcon icon;
  if (strip.isNull()) {
    return icon;
  }
  const int side = strip.height();
  for (int part = 0; part < 2; ++part) {
    QPixmap padded(side + 6, side);
    padded.fill(Qt::transparent);
    QPainter painter(&padded);
    painter.drawImage(0, 0, strip.copy(part * side, 0, side, side));
    painter.end();
    icon.addPixmap(padded, part == 0 ? QIcon::Normal : QIcon::Disabled);
  }
  return icon;
}
