#include "app/TWindowHost.h"

#include <QMetaObject>
#include <QString>
#include <QThread>

#include "app/TFPrincipal.h"
#include "engine/ERunAborted.h"

TWindowHost::TWindowHost(TFPrincipal& window) : window_(window), gate_(std::make_shared<Gate>()) {}

TWindowHost::~TWindowHost() {
  Close();
}

void TWindowHost::Close() {
  {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    gate_->closed = true;
  }
  gate_->changed.notify_all();
}

bool TWindowHost::Closed() const {
  std::lock_guard<std::mutex> lock(gate_->mutex);
  return gate_->closed;
}

void TWindowHost::HandOver(std::function<void()> work) {
  if (!TryHandOver(std::move(work))) {
    throw ERunAborted();
  }
}

bool TWindowHost::TryHandOver(std::function<void()> work) {
  if (QThread::currentThread() == window_.thread()) {
    // Already on the UI thread (the engine's constructor, tests): no hand-over.
    if (Closed()) {
      return false;
    }
    work();
    return true;
  }
  auto done = std::make_shared<bool>(false);
  std::shared_ptr<Gate> gate = gate_;
  std::unique_lock<std::mutex> lock(gate->mutex);
  if (gate->closed) {
    return false;
  }
  // Posted while holding the lock: Close() cannot slip in between the test
  // above and the post, so nothing is posted to a window being destroyed.
  QMetaObject::invokeMethod(
      &window_,
      [gate, done, work = std::move(work)]() {
        {
          std::lock_guard<std::mutex> guard(gate->mutex);
          if (gate->closed) {
            return;
          }
        }
        work();
        {
          std::lock_guard<std::mutex> guard(gate->mutex);
          *done = true;
        }
        gate->changed.notify_all();
      },
      Qt::QueuedConnection);
  gate->changed.wait(lock, [&] { return *done || gate->closed; });
  return *done;
}

void TWindowHost::ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                             const std::string& text) {
  TFPrincipal* window = &window_;
  HandOver([window, key, phase, outcome, text = QString::fromStdString(text)] {
    window->ReportStep(StepNumber(key), static_cast<int>(phase), static_cast<int>(outcome), text);
  });
}

MessageAnswer TWindowHost::AskUser(const Question& question) {
  TFPrincipal* window = &window_;
  auto answer = std::make_shared<MessageAnswer>(MessageAnswer::No);
  HandOver([window, answer, kind = question.kind, buttons = question.buttons,
            text = QString::fromStdString(question.text)] {
    *answer = window->AskUser(text, kind, buttons);
  });
  return *answer;
}

void TWindowHost::ClearLog() {
  TFPrincipal* window = &window_;
  HandOver([window] { window->ClearLog(); });
}

void TWindowHost::WriteLog(const std::string& text, int index) {
  TFPrincipal* window = &window_;
  auto work = [window, index, text = QString::fromStdString(text)] {
    window->WriteLog(text, index);
  };
  if (index >= 0) {
    HandOver(std::move(work));
    return;
  }
  // An appended line is only shown: the engine need not wait for it. The UI
  // thread serves posted work in order, so the next call that does wait (a
  // step's row, a question) finds every line before it on screen.
  Post(std::move(work));
}

void TWindowHost::Post(std::function<void()> work) {
  if (QThread::currentThread() == window_.thread()) {
    if (Closed()) {
      throw ERunAborted();
    }
    work();
    return;
  }
  std::shared_ptr<Gate> gate = gate_;
  std::lock_guard<std::mutex> lock(gate->mutex);
  if (gate->closed) {
    throw ERunAborted();
  }
  QMetaObject::invokeMethod(
      &window_,
      [gate, work = std::move(work)]() {
        {
          std::lock_guard<std::mutex> guard(gate->mutex);
          if (gate->closed) {
            return;
          }
        }
        work();
      },
      Qt::QueuedConnection);
}

void TWindowHost::SnapshotStepLog(StepKey key) {
  TFPrincipal* window = &window_;
  HandOver([window, key] { window->SnapshotStepLog(StepNumber(key)); });
}

void TWindowHost::BeginRunDisplay() {
  TFPrincipal* window = &window_;
  HandOver([window] { window->BeginRunDisplay(); });
}

void TWindowHost::EndRunDisplay() {
  TFPrincipal* window = &window_;
  HandOver([window] { window->EndRunDisplay(); });
}

void TWindowHost::SetLevelRowsEnabled(bool enabled, int level) {
  TFPrincipal* window = &window_;
  HandOver([window, enabled, level] { window->SetLevelRowsEnabled(enabled, level); });
}

std::optional<std::string> TWindowHost::ChooseBackupFile(const std::string& folder) {
  TFPrincipal* window = &window_;
  // The work fills its own copy: nothing the UI thread does after a close
  // reaches the engine.
  auto chosen = std::make_shared<QString>();
  HandOver([window, chosen, folder = QString::fromStdString(folder)] {
    *chosen = window->ChooseBackupFile(folder);
  });
  if (chosen->isEmpty()) {
    return std::nullopt;
  }
  return chosen->toStdString();
}

std::optional<TCredentials> TWindowHost::AskCredentials(const std::string& user,
                                                        const std::string& reason) {
  TFPrincipal* window = &window_;
  auto typed = std::make_shared<std::optional<TCredentials>>();
  HandOver(
      [window, typed, user = QString::fromStdString(user),
       reason = QString::fromStdString(reason)] { *typed = window->AskCredentials(user, reason); });
  return *typed;
}
