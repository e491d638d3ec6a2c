#pragma once

#include <QLabel>

// A label that acts as a link: hand pointer, and a click signal that carries
// the label's tag (the step key of its row).
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  TLinkLabel(const QString& text, int tag, QWidget* parent);
  int Tag() const { return tag_; }

 signals:
  void clicked(int tag);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int tag_;
};
