#pragma once

#include <string>

#include "fbaccess/TIBCustomService.h"

// A service attachment that starts actions. Each subclass builds the start
// request of its own action.
class TIBControlService : public TIBCustomService {
 public:
  // Starts the object's action on the attached service manager. Fails with
  // index 90 when not attached and 94 for an empty request or a missing
  // database name. A failure of the server detaches the object (see
  // DropAttachment) and raises the server's text.
  void ServiceStart();

 protected:
  // The start request of the object's action, built afresh for every start.
  virtual std::string BuildStartRequest() const = 0;
  // Called with the action code just before the request is sent.
  virtual void ActionStarting(int /*action*/) {}
};
