#include "BoxAnswerer.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

BoxAnswerer::BoxAnswerer() {
  timer_.setInterval(20);
  QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerOpenBox(); });
  timer_.start();
}

void BoxAnswerer::AnswerOpenBox() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible())
    return;
  texts_ << box->text();
  QAbstractButton* choice = nullptr;
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == QStringLiteral("&Sim"))
      choice = button;
    if (choice == nullptr && button->text() == QStringLiteral("OK"))
      choice = button;
  }
  ASSERT_NE(choice, nullptr) << box->text().toStdString();
  choice->click();
}
