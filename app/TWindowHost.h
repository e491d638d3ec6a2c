#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/run/IRecoveryHost.h"

class TFPrincipal;

// Carries the engine's events and questions to the window. Each is posted to
// the UI thread in order; an event is not waited for, a question (or notice,
// or picker) waits for its answer, and so for every event before it. Once Close() has run (the
// window is closing or gone) every pending and later call throws ERunAborted at once: the engine
// thread never waits on a window that will not answer, and the run stops instead of going on unseen
// with answers nobody gave (renaming the database, restoring, or retrying a question's loop for
// ever).
//
// The work waits in a queue of our own, guarded by a std::mutex, and the UI
// thread is only woken to serve it: everything the engine thread hands over
// reaches the UI thread through that mutex (which ThreadSanitizer sees), not
// through Qt's event queue (which it cannot see in the uninstrumented Qt).
class TWindowHost : public QObject, public IRecoveryHost {
  Q_OBJECT

 public:
  explicit TWindowHost(TFPrincipal& window);
  ~TWindowHost() override;
  TWindowHost(const TWindowHost&) = delete;
  TWindowHost& operator=(const TWindowHost&) = delete;

  // Ends every hand-over; safe to call from any thread, more than once.
  void Close();
  bool Closed() const;

  void Notify(const RunEvent& event) override;
  MessageAnswer AskUser(const Question& question) override;
  std::optional<std::string> ChooseBackupFile(const std::string& folder) override;
  std::optional<TCredentials> AskCredentials(const std::string& user,
                                             const std::string& reason) override;

 private:
  // Shared with the posted work, which may outlive the waiting call.
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> pending;
    bool closed = false;
  };

  // Runs the queued work in order on the UI thread.
  Q_INVOKABLE void ServeHandOvers();
  // Queues `work` for the UI thread and wakes it; false when closed.
  bool Enqueue(std::function<void()> work);

  // Runs `work` on the UI thread and waits for it; throws ERunAborted when
  // the window closed before the work was done.
  void HandOver(std::function<void()> work);
  // Runs `work` on the UI thread without waiting for it; throws ERunAborted
  // when the window has closed.
  void Post(std::function<void()> work);
  // The same as HandOver, answering false instead of throwing.
  bool TryHandOver(std::function<void()> work);

  TFPrincipal& window_;
  std::shared_ptr<Gate> gate_;
};
