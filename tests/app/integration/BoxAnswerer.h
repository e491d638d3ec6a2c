#pragma once

#include <QStringList>
#include <QTimer>

// Answers every message box the window shows, as a user would: "&Sim" where
// the box offers it, else "OK". Keeps the texts shown.
class BoxAnswerer {
 public:
  BoxAnswerer();
  const QStringList& Texts() const { return texts_; }

 private:
  void AnswerOpenBox();

  QTimer timer_;
  QStringList texts_;
};
