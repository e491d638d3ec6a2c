#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <vector>

#include "app/TFPrincipal.h"
#include "engine/run/MessageTypes.h"
#include "support/ScriptedSteps.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

// Processes UI events until `condition` holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// One message box the window asked for.
struct ShownBox {
  QString text;
  std::optional<MessageKind> kind;
  MessageButtons buttons;
};

// A window whose boxes, pickers, clock and step routines are scripted.
class ScriptedWindow {
 public:
  using StepsScript = std::function<void(ScriptedSteps&)>;

  ScriptedWindow();
  ~ScriptedWindow();

  TFPrincipal& Window() { return *window_; }
  template <typename T>
  T* Find(const char* name) {
    return window_->findChild<T*>(QLatin1String(name));
  }

  // Answers of Yes/No boxes in order; when none is left a box answers No.
  void AnswerBoxes(std::vector<MessageAnswer> answers);
  // Runs once, on the UI thread, when a box with this text is shown.
  void OnBox(std::function<void(const ShownBox&)> action) { onBox_ = std::move(action); }
  std::vector<ShownBox> Boxes() const;
  // Paths the pickers return in order; an empty one means cancelled.
  void PickFiles(std::vector<QString> paths) { picks_.assign(paths.begin(), paths.end()); }
  QStringList PickerFilters() const { return pickerFilters_; }
  // The folder each picker was opened in, in order.
  QStringList PickerFolders() const { return pickerFolders_; }
  void SaveTo(const QString& path) { savePath_ = path; }
  void SetNow(const QDateTime& now) { now_ = now; }
  // Script of the next run's step routines.
  void ScriptSteps(StepsScript script) { script_ = std::move(script); }
  ScriptedSteps* Steps() const { return steps_; }

  // Chooses `path` through the database picker.
  void ChooseDatabase(const QString& path);
  // Waits until the run started by Executar has ended.
  bool WaitForRunEnd();

 private:
  std::unique_ptr<TFPrincipal> window_;
  mutable std::mutex mutex_;
  std::vector<ShownBox> boxes_;
  std::deque<MessageAnswer> answers_;
  std::function<void(const ShownBox&)> onBox_;
  std::deque<QString> picks_;
  QStringList pickerFilters_;
  QStringList pickerFolders_;
  QString savePath_;
  QDateTime now_;
  StepsScript script_;
  ScriptedSteps* steps_ = nullptr;
};
