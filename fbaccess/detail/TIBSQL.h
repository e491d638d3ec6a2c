#pragma once

// One dynamic SQL statement on the client library: allocation, preparation,
// statement type, descriptors, execution, a forward cursor, release.

#include <ibase.h>

#include <string>
#include <vector>

#include "fbaccess/detail/TIBXSQLDA.h"

class TIBDatabase;
class TIBTransaction;

namespace fbdetail {

struct ClientApi;

// Statement types answered by isc_dsql_sql_info.
enum : int {
  kStmtSelect = 1,
  kStmtGetSegment = 6,
  kStmtPutSegment = 7,
  kStmtExecProcedure = 8,
  kStmtStartTrans = 9,
  kStmtSelectForUpdate = 12
};

class TIBSQL {
 public:
  // The cursor name is the object's name (empty for objects made at run time)
  // followed by 8 random decimal digits, fixed here.
  explicit TIBSQL(const std::string& objectName = std::string());
  // Frees the statement handle, swallowing failures.
  ~TIBSQL();
  TIBSQL(const TIBSQL&) = delete;
  TIBSQL& operator=(const TIBSQL&) = delete;

  void SetDatabase(TIBDatabase* database) { database_ = database; }
  void SetTransaction(TIBTransaction* transaction) { transaction_ = transaction; }
  StatementContext Context() const;

  // Allocates and prepares the processed text; asks the statement type;
  // describes parameters (one entry per name, each named) and result columns.
  // On failure the handle is freed and the statement stays unprepared.
  void Prepare(const std::string& processedText, const std::vector<std::string>& names);
  bool Prepared() const { return handle_ != 0; }
  int StatementType() const { return statementType_; }
  const std::string& CursorName() const { return cursorName_; }

  TIBXSQLDA& Params() { return params_; }
  TIBXSQLDA& Fields() { return fields_; }
  const TIBXSQLDA& Fields() const { return fields_; }

  // Executes a statement that returns no cursor (isc_dsql_execute).
  void Execute();
  // A procedure call with both descriptors. Returns false when it failed with
  // anything but a lock conflict (the caller prepares once more and retries);
  // a lock conflict raises at once.
  bool TryExecProcedure();
  void ExecProcedure();
  // Executes a select and names its cursor; the cursor is then open.
  void OpenCursor();
  // Fetches the next row into the output area's own row image, or into
  // `image` (RowSize() bytes, 8-byte aligned, laid out as the own image). False
  // at the end of the cursor (100, or 335544572). Any other failure closes the
  // cursor and raises.
  bool Fetch(char* image = nullptr);
  bool CursorOpen() const { return cursorOpen_; }
  bool Eof() const { return eof_; }
  long FetchedRows() const { return fetched_; }
  // Releases the cursor (DSQL_close), ignoring 335544485 and 335544577.
  void CloseCursor();
  // Drops the statement (DSQL_drop), ignoring 335544485.
  void FreeHandle();
  // As FreeHandle, for teardown: never raises.
  void FreeHandleQuietly() noexcept;

 private:
  void CloseCursorQuietly() noexcept;

  TIBDatabase* database_ = nullptr;
  TIBTransaction* transaction_ = nullptr;
  isc_stmt_handle handle_ = 0;
  int statementType_ = 0;
  std::string cursorName_;
  TIBXSQLDA params_;
  TIBXSQLDA fields_;
  const ClientApi* cursorApi_ = nullptr;  // the binding, looked up once per cursor
  bool cursorOpen_ = false;
  bool eof_ = false;
  bool bof_ = false;
  long fetched_ = 0;
};

}  // namespace fbdetail
