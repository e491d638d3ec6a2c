#include "app/TLinkLabel.h"

#include <QMouseEvent>

TLinkLabel::TLinkLabel(const QString& text, int tag, QWidget* parent)
    : QLabel(text, parent), tag_(tag) {
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked(tag_);
  }
}
