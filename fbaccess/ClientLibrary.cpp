#include "fbaccess/ClientLibrary.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>

#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ClientApi.h"

namespace {

// Everything the binding holds, built on first use so that tests may name
// their client from static initialisers of their own. The entry-point table is
// written only while `mutex` is held and before `bound` turns true; afterwards
// it is read-only.
struct Binding {
  std::mutex mutex;
  std::atomic<bool> bound{false};
  std::string libraryFile = "libfbclient.so.2";
  void* libraryHandle = nullptr;
  fbdetail::ClientApi api;
  int clientVersion = 0;

  std::mutex flagsMutex;
  ClientLibrary::ErrorMessageFlags flags;
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

// Stand-ins for the version-6 functions when the client is version 5: same
// signature, but calling one raises EIBClientError index 3 naming the function.
template <typename F>
struct Substitute;

template <typename R, typename... A>
struct Substitute<R (*)(A...)> {
  template <const char* Name>
  static R Call(A...) {
    fbdetail::RaiseClientError(
        3, std::string(Name) +
               " é uma função do InterBase 6. Por favor instale o InterBase 6 para poder usa-la");
  }
};

constexpr char kRollbackRetaining[] = "isc_rollback_retaining";
constexpr char kServiceAttach[] = "isc_service_attach";
constexpr char kServiceDetach[] = "isc_service_detach";
constexpr char kServiceQuery[] = "isc_service_query";
constexpr char kServiceStart[] = "isc_service_start";
constexpr char kDecodeSqlDate[] = "isc_decode_sql_date";
constexpr char kDecodeSqlTime[] = "isc_decode_sql_time";
constexpr char kDecodeTimestamp[] = "isc_decode_timestamp";
constexpr char kEncodeSqlDate[] = "isc_encode_sql_date";
constexpr char kEncodeSqlTime[] = "isc_encode_sql_time";
constexpr char kEncodeTimestamp[] = "isc_encode_timestamp";

// Resolves one required entry point; a missing one raises the loader's text.
template <typename F>
void Resolve(void* library, F& slot, const char* name) {
  dlerror();
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    const char* why = dlerror();
    fbdetail::RaiseClientError(1, why != nullptr ? why : std::string(name));
  }
  slot = reinterpret_cast<F>(symbol);
}

// Resolves an entry point the layer can do without: null when missing.
template <typename F>
void Optional(void* library, F& slot, const char* name) {
  slot = reinterpret_cast<F>(dlsym(library, name));
}

template <const char* Name, typename F>
void Substitute5(F& slot) {
  slot = &Substitute<F>::template Call<Name>;
}

void ResolveAll(void* library, fbdetail::ClientApi& table, int& version) {
#define FB_RESOLVE(name) Resolve(library, table.name, #name)
  FB_RESOLVE(isc_sqlcode);
  FB_RESOLVE(isc_interprete);
  FB_RESOLVE(isc_sql_interprete);
  FB_RESOLVE(isc_vax_integer);
  FB_RESOLVE(isc_open_blob2);
  FB_RESOLVE(isc_create_blob2);
  FB_RESOLVE(isc_get_segment);
  FB_RESOLVE(isc_put_segment);
  FB_RESOLVE(isc_close_blob);
  FB_RESOLVE(isc_cancel_blob);
  FB_RESOLVE(isc_blob_info);
  FB_RESOLVE(isc_array_lookup_bounds);
  FB_RESOLVE(isc_array_get_slice);
  FB_RESOLVE(isc_array_put_slice);
  FB_RESOLVE(isc_decode_date);
  FB_RESOLVE(isc_encode_date);
  FB_RESOLVE(isc_dsql_alloc_statement2);
  FB_RESOLVE(isc_dsql_prepare);
  FB_RESOLVE(isc_dsql_sql_info);
  FB_RESOLVE(isc_dsql_describe);
  FB_RESOLVE(isc_dsql_describe_bind);
  FB_RESOLVE(isc_dsql_execute);
  FB_RESOLVE(isc_dsql_execute2);
  FB_RESOLVE(isc_dsql_execute_immediate);
  FB_RESOLVE(isc_dsql_set_cursor_name);
  FB_RESOLVE(isc_dsql_fetch);
  FB_RESOLVE(isc_dsql_free_statement);
  FB_RESOLVE(isc_attach_database);
  FB_RESOLVE(isc_detach_database);
  FB_RESOLVE(isc_database_info);
  FB_RESOLVE(isc_drop_database);
  FB_RESOLVE(isc_start_multiple);
  FB_RESOLVE(isc_commit_transaction);
  FB_RESOLVE(isc_commit_retaining);
  FB_RESOLVE(isc_rollback_transaction);
  FB_RESOLVE(isc_prepare_transaction);
  FB_RESOLVE(isc_prepare_transaction2);
  FB_RESOLVE(isc_que_events);
  FB_RESOLVE(isc_cancel_events);
  FB_RESOLVE(isc_event_counts);
  FB_RESOLVE(isc_wait_for_event);
  FB_RESOLVE(isc_add_user);
  FB_RESOLVE(isc_delete_user);
  FB_RESOLVE(isc_modify_user);
  // Compiled requests only speed up bulk stores, which fall back to SQL
  // statements without them: a client lacking them still binds.
  Optional(library, table.isc_compile_request, "isc_compile_request");
  Optional(library, table.isc_start_and_send, "isc_start_and_send");
  Optional(library, table.isc_release_request, "isc_release_request");

  dlerror();
  if (dlsym(library, "isc_rollback_retaining") != nullptr) {
    version = 6;
    FB_RESOLVE(isc_rollback_retaining);
    FB_RESOLVE(isc_service_attach);
    FB_RESOLVE(isc_service_detach);
    FB_RESOLVE(isc_service_query);
    FB_RESOLVE(isc_service_start);
    FB_RESOLVE(isc_decode_sql_date);
    FB_RESOLVE(isc_decode_sql_time);
    FB_RESOLVE(isc_decode_timestamp);
    FB_RESOLVE(isc_encode_sql_date);
    FB_RESOLVE(isc_encode_sql_time);
    FB_RESOLVE(isc_encode_timestamp);
  } else {
    version = 5;
    Substitute5<kRollbackRetaining>(table.isc_rollback_retaining);
    Substitute5<kServiceAttach>(table.isc_service_attach);
    Substitute5<kServiceDetach>(table.isc_service_detach);
    Substitute5<kServiceQuery>(table.isc_service_query);
    Substitute5<kServiceStart>(table.isc_service_start);
    Substitute5<kDecodeSqlDate>(table.isc_decode_sql_date);
    Substitute5<kDecodeSqlTime>(table.isc_decode_sql_time);
    Substitute5<kDecodeTimestamp>(table.isc_decode_timestamp);
    Substitute5<kEncodeSqlDate>(table.isc_encode_sql_date);
    Substitute5<kEncodeSqlTime>(table.isc_encode_sql_time);
    Substitute5<kEncodeTimestamp>(table.isc_encode_timestamp);
  }
  dlerror();
#undef FB_RESOLVE
}

}  // namespace

void ClientLibrary::UseLibraryFile(const std::string& file) {
  Binding& binding = TheBinding();
  const std::lock_guard<std::mutex> lock(binding.mutex);
  if (binding.libraryHandle == nullptr) {
    binding.libraryFile = file;
  }
}

std::string ClientLibrary::LibraryFile() {
  Binding& binding = TheBinding();
  const std::lock_guard<std::mutex> lock(binding.mutex);
  return binding.libraryFile;
}

void ClientLibrary::Bind() {
  Binding& binding = TheBinding();
  if (binding.bound.load(std::memory_order_acquire)) {
    return;
  }
  const std::lock_guard<std::mutex> lock(binding.mutex);
  if (binding.bound.load(std::memory_order_relaxed)) {
    return;
  }
  if (binding.libraryHandle == nullptr) {
    binding.libraryHandle = dlopen(binding.libraryFile.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (binding.libraryHandle == nullptr) {
      fbdetail::RaiseClientError(1, "Biblioteca " + binding.libraryFile +
                                        " não encontrada. Por favor instale InterBase para usar "
                                        "esta funcionalidade");
    }
  }
  // Resolve into a scratch table so that a failed attempt leaves the shared
  // table untouched: nobody can call through a half-filled binding.
  fbdetail::ClientApi table;
  int version = 0;
  ResolveAll(binding.libraryHandle, table, version);
  binding.api = table;
  binding.clientVersion = version;
  binding.bound.store(true, std::memory_order_release);
}

namespace {

// Registered with fb_shut_confirmation: a non-zero answer to a shutdown for a
// signal keeps the client's connections.
int RefuseShutdownOnSignal(const int reason, const int /*mask*/, void* /*arg*/) {
  return reason == -5 ? 1 : 0;  // fb_shutrsn_signal
}

}  // namespace

bool ClientLibrary::KeepConnectionsOnSignal() {
  Bind();
  using Register = long (*)(long*, int (*)(int, int, void*), int, void*);
  void* symbol = dlsym(TheBinding().libraryHandle, "fb_shutdown_callback");
  if (symbol == nullptr) {
    return false;
  }
  long status[20] = {};
  const Register registerCallback = reinterpret_cast<Register>(symbol);
  registerCallback(status, &RefuseShutdownOnSignal, 1 /* fb_shut_confirmation */, nullptr);
  return status[0] != 1 || status[1] == 0;
}

bool ClientLibrary::Bound() {
  return TheBinding().bound.load(std::memory_order_acquire);
}

int ClientLibrary::Version() {
  Bind();
  return TheBinding().clientVersion;
}

ClientLibrary::ErrorMessageFlags ClientLibrary::ErrorMessages() {
  Binding& binding = TheBinding();
  const std::lock_guard<std::mutex> lock(binding.flagsMutex);
  return binding.flags;
}

void ClientLibrary::SetErrorMessages(const ErrorMessageFlags& flags) {
  Binding& binding = TheBinding();
  const std::lock_guard<std::mutex> lock(binding.flagsMutex);
  binding.flags = flags;
}

const fbdetail::ClientApi& fbdetail::Api() {
  ClientLibrary::Bind();
  return TheBinding().api;
}
