#include "fbaccess/TIBCustomService.h"

#include <ibase.h>

#include <type_traits>

#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/ServiceBuffers.h"

static_assert(std::is_same_v<isc_svc_handle, unsigned int>,
              "the public header keeps the service handle as unsigned int");

TIBCustomService::TIBCustomService() {
  ClientLibrary::Bind();
}

TIBCustomService::~TIBCustomService() {
  if (Active()) {
    DropAttachment();
  }
}

void TIBCustomService::CheckInactive() const {
  if (Active()) {
    throw EIBClientError(91, "Não posso executar essa operação -- Serviço é fixo ");
  }
}

void TIBCustomService::CheckActive() const {
  if (!Active()) {
    throw EIBClientError(90, "Não posso executar essa operação -- Serviço não é fixo");
  }
}

void TIBCustomService::SetServerName(const std::string& serverName) {
  if (serverName == serverName_) {
    return;
  }
  CheckInactive();
  serverName_ = serverName;
}

void TIBCustomService::SetProtocol(TProtocol protocol) {
  if (protocol == protocol_) {
    return;
  }
  CheckInactive();
  protocol_ = protocol;
  // The local service manager has no server name.
  if (protocol_ == Local) {
    serverName_.clear();
  }
}

void TIBCustomService::SetParams(const std::vector<std::string>& params) {
  CheckInactive();
  params_ = params;
}

void TIBCustomService::ClearParams() {
  CheckInactive();
  params_.clear();
}

void TIBCustomService::AddParam(const std::string& line) {
  CheckInactive();
  params_.push_back(line);
}

void TIBCustomService::SetActive(bool active) {
  if (active) {
    Attach();
  } else if (Active()) {
    Detach();
  }
}

std::string TIBCustomService::ServiceName(TProtocol protocol, const std::string& serverName) {
  switch (protocol) {
    case TCP:
      return serverName + ":service_mgr";
    case Local:
      return "service_mgr";
    case SPX:
      throw EIBClientError(96, "Protocolo SPX não suportado");
    case NamedPipe:
      throw EIBClientError(96, "Protocolo NamedPipe não suportado");
  }
  throw EIBClientError(96, "Protocolo não suportado");
}

void TIBCustomService::Attach() {
  if (Active()) {
    return;
  }
  if (serverName_.empty() && protocol_ != Local) {
    throw EIBClientError(92, "Nome do Servidor não encontrado");
  }
  const std::string spb = fbdetail::BuildServiceParams(params_);
  const std::string service = ServiceName(protocol_, serverName_);
  const fbdetail::ClientApi& api = fbdetail::Api();
  ISC_STATUS* status = fbdetail::StatusVector();
  isc_svc_handle handle = 0;
  if (api.isc_service_attach(status, static_cast<unsigned short>(service.size()), service.c_str(),
                             &handle, static_cast<unsigned short>(spb.size()), spb.data()) != 0) {
    handle_ = 0;
    fbdetail::RaiseStatusError(status);
  }
  handle_ = handle;
}

void TIBCustomService::Detach() {
  CheckActive();
  ISC_STATUS* status = fbdetail::StatusVector();
  const ISC_STATUS result = fbdetail::Api().isc_service_detach(status, &handle_);
  handle_ = 0;
  if (result != 0) {
    fbdetail::RaiseStatusError(status);
  }
}

void TIBCustomService::DropAttachment() {
  ISC_STATUS_ARRAY ignored = {};
  fbdetail::Api().isc_service_detach(ignored, &handle_);
  handle_ = 0;
}
