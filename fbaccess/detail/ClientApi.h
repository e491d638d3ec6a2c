#pragma once

// Private to the access layer's sources: the entry points of the bound client
// library, the thread's status vector and the composition of client errors.
// Never include this from a public header.

#include <ibase.h>

#include <string>

namespace fbdetail {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct ClientApi {
  // error text and integers
  decltype(&::isc_sqlcode) isc_sqlcode = nullptr;
  decltype(&::isc_interprete) isc_interprete = nullptr;
  decltype(&::isc_sql_interprete) isc_sql_interprete = nullptr;
  decltype(&::isc_vax_integer) isc_vax_integer = nullptr;
  // blobs
  decltype(&::isc_open_blob2) isc_open_blob2 = nullptr;
  decltype(&::isc_create_blob2) isc_create_blob2 = nullptr;
  decltype(&::isc_get_segment) isc_get_segment = nullptr;
  decltype(&::isc_put_segment) isc_put_segment = nullptr;
  decltype(&::isc_close_blob) isc_close_blob = nullptr;
  decltype(&::isc_cancel_blob) isc_cancel_blob = nullptr;
  decltype(&::isc_blob_info) isc_blob_info = nullptr;
  // arrays
  decltype(&::isc_array_lookup_bounds) isc_array_lookup_bounds = nullptr;
  decltype(&::isc_array_get_slice) isc_array_get_slice = nullptr;
  decltype(&::isc_array_put_slice) isc_array_put_slice = nullptr;
  // dates (version 5 set)
  decltype(&::isc_decode_date) isc_decode_date = nullptr;
  decltype(&::isc_encode_date) isc_encode_date = nullptr;
  // dynamic SQL
  decltype(&::isc_dsql_alloc_statement2) isc_dsql_alloc_statement2 = nullptr;
  decltype(&::isc_dsql_prepare) isc_dsql_prepare = nullptr;
  decltype(&::isc_dsql_sql_info) isc_dsql_sql_info = nullptr;
  decltype(&::isc_dsql_describe) isc_dsql_describe = nullptr;
  decltype(&::isc_dsql_describe_bind) isc_dsql_describe_bind = nullptr;
  decltype(&::isc_dsql_execute) isc_dsql_execute = nullptr;
  decltype(&::isc_dsql_execute2) isc_dsql_execute2 = nullptr;
  decltype(&::isc_dsql_execute_immediate) isc_dsql_execute_immediate = nullptr;
  decltype(&::isc_dsql_set_cursor_name) isc_dsql_set_cursor_name = nullptr;
  decltype(&::isc_dsql_fetch) isc_dsql_fetch = nullptr;
  decltype(&::isc_dsql_free_statement) isc_dsql_free_statement = nullptr;
  // attachment
  decltype(&::isc_attach_database) isc_attach_database = nullptr;
  decltype(&::isc_detach_database) isc_detach_database = nullptr;
  decltype(&::isc_database_info) isc_database_info = nullptr;
  decltype(&::isc_drop_database) isc_drop_database = nullptr;
  // transactions
  decltype(&::isc_start_multiple) isc_start_multiple = nullptr;
  decltype(&::isc_commit_transaction) isc_commit_transaction = nullptr;
  decltype(&::isc_commit_retaining) isc_commit_retaining = nullptr;
  decltype(&::isc_rollback_transaction) isc_rollback_transaction = nullptr;
  decltype(&::isc_prepare_transaction) isc_prepare_transaction = nullptr;
  decltype(&::isc_prepare_transaction2) isc_prepare_transaction2 = nullptr;
  // events
  decltype(&::isc_que_events) isc_que_events = nullptr;
  decltype(&::isc_cancel_events) isc_cancel_events = nullptr;
  decltype(&::isc_event_counts) isc_event_counts = nullptr;
  decltype(&::isc_wait_for_event) isc_wait_for_event = nullptr;
  // user administration
  decltype(&::isc_add_user) isc_add_user = nullptr;
  decltype(&::isc_delete_user) isc_delete_user = nullptr;
  decltype(&::isc_modify_user) isc_modify_user = nullptr;
  // compiled requests (BLR): resolved when the client has them, else null
  decltype(&::isc_compile_request) isc_compile_request = nullptr;
  decltype(&::isc_start_and_send) isc_start_and_send = nullptr;
  decltype(&::isc_release_request) isc_release_request = nullptr;
  // version 6 set: resolved when isc_rollback_retaining exists, otherwise
  // substitutes that raise "<name> é uma função do InterBase 6. ..."
  decltype(&::isc_rollback_retaining) isc_rollback_retaining = nullptr;
  decltype(&::isc_service_attach) isc_service_attach = nullptr;
  decltype(&::isc_service_detach) isc_service_detach = nullptr;
  decltype(&::isc_service_query) isc_service_query = nullptr;
  decltype(&::isc_service_start) isc_service_start = nullptr;
  decltype(&::isc_decode_sql_date) isc_decode_sql_date = nullptr;
  decltype(&::isc_decode_sql_time) isc_decode_sql_time = nullptr;
  decltype(&::isc_decode_timestamp) isc_decode_timestamp = nullptr;
  decltype(&::isc_encode_sql_date) isc_encode_sql_date = nullptr;
  decltype(&::isc_encode_sql_time) isc_encode_sql_time = nullptr;
  decltype(&::isc_encode_timestamp) isc_encode_timestamp = nullptr;
};
#pragma GCC diagnostic pop

// The bound entry points; binds the library on first need (throws the
// missing-library EIBClientError).
const ClientApi& Api();

// The calling thread's own status vector.
ISC_STATUS* StatusVector();

// True when the status vector holds the error code anywhere in its clusters.
bool StatusHasCode(const ISC_STATUS* status, ISC_STATUS code);

// Composes the error of a failed client call from the status vector: the
// server's lines joined by CR LF, one trailing period removed; SQL code -551
// gives EIBInterBaseRoleError, anything else EIBInterBaseError.
[[noreturn]] void RaiseStatusError(const ISC_STATUS* status);

// The text that RaiseStatusError would carry (for callers that must look at it
// before deciding what to raise).
std::string ComposeStatusMessage(const ISC_STATUS* status);

// A composed error captured from a status vector, so that it can be raised
// after further client calls (which reuse the status vector and may release
// the strings it points to), as when a lost connection is closed first.
struct StatusError {
  long sqlCode = 0;
  long engineCode = 0;
  std::string message;
  bool connectionLost = false;  // the vector held 335544741
};
StatusError CaptureStatusError(const ISC_STATUS* status);
[[noreturn]] void RaiseStatusError(const StatusError& error);

// One entry of the vector isc_start_multiple reads, one per database, in the
// client's own layout (pointer, 32-bit length, pointer: 24 bytes on 64-bit).
struct TransactionElement {
  isc_db_handle* database;
  int tpbLength;
  const ISC_UCHAR* tpb;
};

// Error code of a lost connection.
constexpr ISC_STATUS kConnectionLost = 335544741;

// Raises EIBClientError with the index and its message.
[[noreturn]] void RaiseClientError(int index, const std::string& message);

}  // namespace fbdetail
