#pragma once

#include <string>
#include <vector>

#include "fbaccess/TServiceOptions.h"

// One attachment to the server's service manager. Binds the client library on
// construction; an object destroyed while attached detaches.
class TIBCustomService {
 public:
  TIBCustomService();
  virtual ~TIBCustomService();
  TIBCustomService(const TIBCustomService&) = delete;
  TIBCustomService& operator=(const TIBCustomService&) = delete;

  // Changing these while attached is refused (index 91). Choosing Local empties
  // ServerName.
  const std::string& ServerName() const { return serverName_; }
  void SetServerName(const std::string& serverName);
  TProtocol Protocol() const { return protocol_; }
  void SetProtocol(TProtocol protocol);
  // "name=value" lines turned into the service parameter block at Attach.
  const std::vector<std::string>& Params() const { return params_; }
  void SetParams(const std::vector<std::string>& params);
  void ClearParams();
  void AddParam(const std::string& line);

  // Stored only: a login is never asked for.
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool loginPrompt) { loginPrompt_ = loginPrompt; }

  bool Active() const { return handle_ != 0; }
  // Attaches or detaches; nothing happens when already in that state.
  void SetActive(bool active);
  // Nothing happens when already attached.
  void Attach();
  // Fails with index 90 when not attached. The handle is cleared even when the
  // server call fails.
  void Detach();

  // The service name for a protocol and server: "service_mgr" locally,
  // server + ":service_mgr" over TCP. SPX and named pipes are not offered.
  static std::string ServiceName(TProtocol protocol, const std::string& serverName);

 protected:
  unsigned int& Handle() { return handle_; }
  // Fails with index 90 when not attached.
  void CheckActive() const;
  // After a failed start or query: detaches, ignoring any error, so that the
  // server does not keep the attachment, and clears the handle. The thread's
  // status vector, which holds the failure, is left untouched.
  void DropAttachment();

 private:
  void CheckInactive() const;

  std::string serverName_;
  TProtocol protocol_ = Local;
  std::vector<std::string> params_;
  bool loginPrompt_ = true;
  unsigned int handle_ = 0;
};
