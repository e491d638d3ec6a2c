#pragma once

#include <optional>
#include <string>

#include "engine/firebird/TCredentials.h"
#include "engine/run/MessageTypes.h"
#include "engine/run/RunEvent.h"
#include "engine/run/RunTypes.h"

// What the recovery engine asks of the front end that shows a run: the window,
// the command line and the tests' scripted host each implement it. Every call
// is made on the engine's thread. Notify hands over news and must not wait for
// the front end; the other calls return with the operator's answer. A front
// end that can no longer show anything, or that cannot answer a question, may
// throw ERunAborted (engine/ERunAborted.h) from any call: the run then ends at
// once, cleans up after itself and calls nothing more.
class IRecoveryHost {
 public:
  virtual ~IRecoveryHost() = default;

  // A change the front end shows; see engine/RunEvent.h.
  virtual void Notify(const RunEvent& event) = 0;
  // A question (or, with only OK, a notice); returns the button pressed.
  virtual MessageAnswer AskUser(const Question& question) = 0;
  // Lets the user pick an older backup (*.fbk), starting in `folder`; nothing
  // when the user picked none.
  virtual std::optional<std::string> ChooseBackupFile(const std::string& folder) = 0;
  // The server refused the login: asks for another user and password.
  // Nothing when the user gave up. `reason` is the server's message.
  virtual std::optional<TCredentials> AskCredentials(const std::string& user,
                                                     const std::string& reason) = 0;
};
