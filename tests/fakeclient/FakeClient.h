#pragma once

// The fake Firebird client library (libfakefbclient.so): exports every isc_*
// function the access layer binds, records each call and answers as a test
// scripts it. No server is involved.
//
// Use from a test program linked with `fakefbclient` (tests/fbaccess/unit is):
//   - Point the layer at it before the first binding:
//       ClientLibrary::UseLibraryFile(FAKE_CLIENT_LIBRARY);
//     (tests/fbaccess/unit does this once in a static initialiser, see
//     FakeClientSetup.cpp there). The layer's dlopen and the test's own link
//     then share one library and one Fake().
//   - Call Fake().Reset() at the start of each test: clears the log, the
//     overrides, the scripted failures and the scripted answers.
//   - Read what the layer sent: Fake().calls (every call, in order), or
//     Fake().CallsTo("isc_attach_database"), Fake().Names(). Each FakeCall has
//     the function name and its arguments rendered as strings (the status
//     vector is never recorded): numbers as decimal text, handles passed by
//     pointer as the handle's value on entry in decimal ("null" for a null
//     pointer), C strings and (length, buffer) pairs as their raw bytes (compare
//     with Bytes({1, 28, 6}) + "sysdba"), XSQLDA contents as RenderXsqlda text.
//     The argument lists of every entry point are listed beside its override
//     below.
//   - Make a call fail: Fake().FailOn("isc_attach_database", {{335544472},
//     {"Your user name and password are not defined."}, -902}); the next call of
//     that function writes the status vector (one isc_arg_gds cluster per code)
//     and returns the first code. isc_interprete then hands out the scripted
//     lines one per call (line i for cluster i), isc_sqlcode returns the SQL
//     code. Failures queue: FailOn twice fails the next two calls.
//   - Decide an answer yourself: set the std::function of the same name, e.g.
//       Fake().isc_dsql_fetch = [](ISC_STATUS* s, isc_stmt_handle*, unsigned short,
//                                  const XSQLDA* d) -> ISC_STATUS { ...; return 0; };
//     The call is still recorded first. Inside an override, Fake().Ok(status)
//     and Fake().Fail(status, failure) write the status vector for you.
//   - Default answers (no override, no failure): success with non-zero new
//     handles; handles passed in are cleared by detach, commit, rollback, close
//     and drop; isc_database_info answers isc_info_db_sql_dialect with
//     `dialect` (3); isc_dsql_sql_info answers isc_info_sql_stmt_type with
//     `statementType`; describe calls set sqld to 0; isc_dsql_fetch returns
//     100 (end of cursor); blobs read `blobContent` in segments of at most
//     `blobSegmentSize` and written segments append to `blobWritten`;
//     isc_service_query hands out `serviceLines` one per call as
//     isc_info_svc_line, then an empty line; arrays are described by
//     `arrayShape`, read as `arrayContent` and written into `arrayWritten`,
//     with ids 0x82:<n>; dates and integers are encoded and
//     decoded as the real client does (isc_vax_integer: little-endian).
//
// A second build, libfakefbclient5.so (same folder), omits the eleven
// version-6 functions (isc_rollback_retaining, the service and the SQL
// date/time functions); libfakefbclientbroken.so also lacks isc_drop_database.

#include <ibase.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct FakeCall {
  std::string function;
  std::vector<std::string> args;
};

// A failure to write into a status vector.
struct FakeFailure {
  std::vector<ISC_STATUS> codes;   // one isc_arg_gds cluster each
  std::vector<std::string> lines;  // what isc_interprete returns, one per cluster
  ISC_LONG sqlCode = -902;         // what isc_sqlcode returns
};

// Raw bytes from a list of small numbers, for comparing rendered buffers.
std::string Bytes(std::initializer_list<int> bytes);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct FakeClient {
  // ---- what was called -------------------------------------------------
  std::vector<FakeCall> calls;
  std::vector<FakeCall> CallsTo(const std::string& function) const;
  std::vector<std::string> Names() const;  // function names in call order

  // ---- scripted failures ----------------------------------------------
  void FailOn(const std::string& function, const FakeFailure& failure);
  // Writes the failure into the status vector and returns its first code.
  ISC_STATUS Fail(ISC_STATUS* status, const FakeFailure& failure);
  // Writes success (1, 0, 0) and returns 0.
  ISC_STATUS Ok(ISC_STATUS* status);

  // ---- scripted answers -----------------------------------------------
  int dialect = 3;                               // isc_database_info
  int statementType = isc_info_sql_stmt_select;  // isc_dsql_sql_info
  std::string blobContent;                       // read by isc_get_segment
  unsigned short blobSegmentSize = 16384;
  std::string blobWritten;                // appended by isc_put_segment
  ISC_ARRAY_DESC arrayShape{};            // isc_array_lookup_bounds (names filled in)
  std::string arrayContent;               // isc_array_get_slice, cut to the buffer
  std::string arrayWritten;               // the last isc_array_put_slice
  std::deque<std::string> serviceLines;   // isc_service_query, one per call
  ISC_LONG sqlCode = 0;                   // isc_sqlcode when no failure set it
  std::vector<std::string> messageLines;  // isc_interprete lines (set by Fail)

  // ---- overrides: when set, they decide the answer ---------------------
  // args: status vector
  std::function<decltype(::isc_sqlcode)> isc_sqlcode;
  std::function<decltype(::isc_interprete)> isc_interprete;
  std::function<decltype(::isc_sql_interprete)> isc_sql_interprete;
  std::function<decltype(::isc_vax_integer)> isc_vax_integer;  // bytes, length
  // args: db, tr, blob handle in, blob id (hex "high:low"), bpb
  std::function<decltype(::isc_open_blob2)> isc_open_blob2;
  std::function<decltype(::isc_create_blob2)> isc_create_blob2;  // db, tr, blob, bpb
  std::function<decltype(::isc_get_segment)> isc_get_segment;    // blob, buffer length
  std::function<decltype(::isc_put_segment)> isc_put_segment;    // blob, bytes
  std::function<decltype(::isc_close_blob)> isc_close_blob;      // blob
  std::function<decltype(::isc_cancel_blob)> isc_cancel_blob;    // blob
  std::function<decltype(::isc_blob_info)> isc_blob_info;        // blob, items, buffer length
  // args: db, tr, table, column
  std::function<decltype(::isc_array_lookup_bounds)> isc_array_lookup_bounds;
  // args: db, tr, array id (hex "high:low"), descriptor (RenderArrayShape), slice length
  std::function<decltype(::isc_array_get_slice)> isc_array_get_slice;
  // args: db, tr, array id, descriptor, slice bytes
  std::function<decltype(::isc_array_put_slice)> isc_array_put_slice;
  std::function<decltype(::isc_decode_date)> isc_decode_date;  // (nothing recorded)
  std::function<decltype(::isc_encode_date)> isc_encode_date;  // (nothing recorded)
  std::function<decltype(::isc_dsql_alloc_statement2)> isc_dsql_alloc_statement2;  // db, stmt
  // args: tr, stmt, SQL text, dialect, xsqlda
  std::function<decltype(::isc_dsql_prepare)> isc_dsql_prepare;
  std::function<decltype(::isc_dsql_sql_info)> isc_dsql_sql_info;  // stmt, items, buffer length
  std::function<decltype(::isc_dsql_describe)> isc_dsql_describe;  // stmt, dialect, xsqlda
  std::function<decltype(::isc_dsql_describe_bind)> isc_dsql_describe_bind;  // same
  std::function<decltype(::isc_dsql_execute)> isc_dsql_execute;    // tr, stmt, dialect, in
  std::function<decltype(::isc_dsql_execute2)> isc_dsql_execute2;  // tr, stmt, dialect, in, out
  // args: db, tr, SQL text, dialect, xsqlda
  std::function<decltype(::isc_dsql_execute_immediate)> isc_dsql_execute_immediate;
  std::function<decltype(::isc_dsql_set_cursor_name)> isc_dsql_set_cursor_name;  // stmt, name
  std::function<decltype(::isc_dsql_fetch)> isc_dsql_fetch;  // stmt, dialect, xsqlda
  std::function<decltype(::isc_dsql_free_statement)> isc_dsql_free_statement;  // stmt, option
  // args: name, db handle in, dpb
  std::function<decltype(::isc_attach_database)> isc_attach_database;
  std::function<decltype(::isc_detach_database)> isc_detach_database;  // db
  std::function<decltype(::isc_database_info)> isc_database_info;      // db, items, buffer length
  std::function<decltype(::isc_drop_database)> isc_drop_database;      // db
  // args: tr handle in, count, then per database: db handle value, tpb bytes
  std::function<decltype(::isc_start_multiple)> isc_start_multiple;
  std::function<decltype(::isc_commit_transaction)> isc_commit_transaction;      // tr
  std::function<decltype(::isc_commit_retaining)> isc_commit_retaining;          // tr
  std::function<decltype(::isc_rollback_transaction)> isc_rollback_transaction;  // tr
  std::function<decltype(::isc_prepare_transaction)> isc_prepare_transaction;    // tr
  std::function<decltype(::isc_prepare_transaction2)> isc_prepare_transaction2;  // tr, message
  std::function<decltype(::isc_que_events)> isc_que_events;
  std::function<decltype(::isc_cancel_events)> isc_cancel_events;
  std::function<decltype(::isc_event_counts)> isc_event_counts;
  std::function<decltype(::isc_wait_for_event)> isc_wait_for_event;
  std::function<decltype(::isc_add_user)> isc_add_user;
  std::function<decltype(::isc_delete_user)> isc_delete_user;
  std::function<decltype(::isc_modify_user)> isc_modify_user;
  std::function<decltype(::isc_rollback_retaining)> isc_rollback_retaining;  // tr
  // args: service name, svc handle in, spb
  std::function<decltype(::isc_service_attach)> isc_service_attach;
  std::function<decltype(::isc_service_detach)> isc_service_detach;  // svc
  // args: svc, send items, request items, buffer length
  std::function<decltype(::isc_service_query)> isc_service_query;
  std::function<decltype(::isc_service_start)> isc_service_start;  // svc, request
  std::function<decltype(::isc_decode_sql_date)> isc_decode_sql_date;
  std::function<decltype(::isc_decode_sql_time)> isc_decode_sql_time;
  std::function<decltype(::isc_decode_timestamp)> isc_decode_timestamp;
  std::function<decltype(::isc_encode_sql_date)> isc_encode_sql_date;
  std::function<decltype(::isc_encode_sql_time)> isc_encode_sql_time;
  std::function<decltype(::isc_encode_timestamp)> isc_encode_timestamp;

  // Back to the state of a freshly loaded library.
  void Reset();

  // ---- used by the exported functions ----------------------------------
  void Record(const char* function, std::vector<std::string> args);
  // True (and the status written) when a failure is queued for the function.
  bool TakeFailure(const std::string& function, ISC_STATUS* status);
  unsigned int NewHandle() { return nextHandle++; }

  unsigned int nextHandle = 1000;
  std::vector<std::pair<std::string, FakeFailure>> queuedFailures;
  const ISC_STATUS* failedStatus = nullptr;  // base of the last written failure
  std::size_t blobReadPosition = 0;
  std::recursive_mutex mutex;
};
#pragma GCC diagnostic pop

// The one fake client of the process.
FakeClient& Fake();

// An array descriptor as text: "T.C dtype=8 len=4 [1:4]" with one bound per
// dimension.
std::string RenderArrayShape(const ISC_ARRAY_DESC& shape);

// XSQLDA contents as text: "version=1 sqln=2 sqld=1" and per variable
// "\n[i] type=... scale=... subtype=... len=... null=... name=... alias=...
// relation=... data=<hex>" (data only when sqldata is set).
std::string RenderXsqlda(const XSQLDA* sqlda);
