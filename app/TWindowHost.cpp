#include "app/TWindowHost.h"

#include <QMetaObject>
#include <QString>
#include <QThread>

#include "app/TFPrincipal.h"
#include "engine/run/ERunAborted.h"

TWindowHost::TWindowHost(TFPrincipal& window) : window_(window), gate_(std::make_shared<Gate>()) {}

TWindowHost::~TWindowHost() {
  Close();
}

void TWindowHost::Close() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    gate_->closed = true;
    dropped.swap(gate_->pending);
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

bool TWindowHost::Enqueue(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    if (gate_->closed) {
      return false;
    }
    gate_->pending.push_back(std::move(work));
  }
  // Woken by name: the queued call carries no data of ours. A wake-up that
  // finds the queue empty (an earlier one served it) does nothing; one left
  // when this object is destroyed is dropped by Qt.
  QMetaObject::invokeMethod(this, "ServeHandOvers", Qt::QueuedConnection);
  return true;
}

void TWindowHost::ServeHandOvers() {
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(gate_->mutex);
      if (gate_->closed || gate_->pending.empty()) {
        return;
      }
      work = std::move(gate_->pending.front());
      gate_->pending.pop_front();
    }
    // Run without the lock: a question's box serves events meanwhile.
    work();
  }
}

bool TWindowHost::TryHandOver(std::function<void()> work) {
  if (QThread::currentThread() == thread()) {
    // Already on the UI thread (the engine's constructor, tests): no hand-over.
    if (Closed()) {
      return false;
    }
    work();
    return true;
  }
  std::shared_ptr<Gate> gate = gate_;
  auto done = std::make_shared<bool>(false);
  const bool queued = Enqueue([gate, done, work = std::move(work)] {
    work();
    {
      std::lock_guard<std::mutex> guard(gate->mutex);
      *done = true;
    }
    gate->changed.notify_all();
  });
  if (!queued) {
    return false;
  }
  std::unique_lock<std::mutex> lock(gate->mutex);
  gate->changed.wait(lock, [&] { return *done || gate->closed; });
  return *done;
}

void TWindowHost::Notify(const RunEvent& event) {
  TFPrincipal* window = &window_;
  // The UI thread serves posted work in order, so the next call that does
  // wait (a question) finds every event before it on screen.
  Post([window, event] { window->Show(event); });
}

MessageAnswer TWindowHost::AskUser(const Question& question) {
  TFPrincipal* window = &window_;
  auto answer = std::make_shared<MessageAnswer>(MessageAnswer::No);
  HandOver([window, answer, kind = question.kind, buttons = question.buttons,
            defaultAnswer = question.defaultAnswer, text = QString::fromStdString(question.text)] {
    *answer = window->AskUser(text, kind, buttons, defaultAnswer);
  });
  return *answer;
}

void TWindowHost::Post(std::function<void()> work) {
  if (QThread::currentThread() == thread()) {
    if (Closed()) {
      throw ERunAborted();
    }
    work();
    return;
  }
  if (!Enqueue(std::move(work))) {
    throw ERunAborted();
  }
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
