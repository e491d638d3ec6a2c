#include "fbaccess/detail/TIBSQL.h"

#include <random>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"

namespace fbdetail {

namespace {
constexpr ISC_STATUS kFetchEnd = 100;
constexpr ISC_STATUS kReqSync = 335544572;          // fetch after the end of a cursor
constexpr ISC_STATUS kBadStmtHandle = 335544485;    // statement already gone
constexpr ISC_STATUS kDsqlCursorClose = 335544577;  // cursor not open
constexpr ISC_STATUS kLockConflict = 335544345;
}  // namespace

TIBSQL::TIBSQL(const std::string& objectName) {
  std::random_device rd;
  std::uniform_int_distribution<int> digit(0, 9);
  cursorName_ = objectName;
  for (int i = 0; i < 8; ++i) {
    cursorName_ += char('0' + digit(rd));
  }
}

TIBSQL::~TIBSQL() {
  FreeHandleQuietly();
}

StatementContext TIBSQL::Context() const {
  return StatementContext{database_, transaction_, database_ ? database_->SQLDialect() : 3};
}

void TIBSQL::Prepare(const std::string& processedText, const std::vector<std::string>& names) {
  const ClientApi& api = Api();
  ISC_STATUS* sv = StatusVector();
  FreeHandle();
  const unsigned short dialect = static_cast<unsigned short>(database_->SQLDialect());
  database_->CheckStatus(api.isc_dsql_alloc_statement2(sv, database_->Handle(), &handle_));
  try {
    database_->CheckStatus(api.isc_dsql_prepare(sv, transaction_->Handle(), &handle_, 0,
                                                processedText.c_str(), dialect, nullptr));
    const ISC_SCHAR item = isc_info_sql_stmt_type;
    ISC_SCHAR answer[8] = {};
    database_->CheckStatus(
        api.isc_dsql_sql_info(sv, &handle_, 1, &item, short(sizeof answer), answer));
    if (answer[0] != isc_info_sql_stmt_type) {
      RaiseClientError(0, "Erro desconhecido");
    }
    const short length = short(api.isc_vax_integer(answer + 1, 2));
    statementType_ = int(api.isc_vax_integer(answer + 3, length));
    if (statementType_ == kStmtGetSegment || statementType_ == kStmtPutSegment ||
        statementType_ == kStmtStartTrans) {
      RaiseClientError(5, "Não permitida");
    }

    params_.SetCount(int(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
      params_[int(i)].SetName(names[i]);
    }
    if (!names.empty()) {
      database_->CheckStatus(api.isc_dsql_describe_bind(sv, &handle_, dialect, params_.AsXSQLDA()));
      for (int i = 0; i < params_.Count(); ++i) {
        params_[i].KeepDescribedType();
      }
    }

    if (statementType_ == kStmtSelect || statementType_ == kStmtExecProcedure ||
        statementType_ == kStmtSelectForUpdate) {
      fields_.SetCount(1);
      database_->CheckStatus(api.isc_dsql_describe(sv, &handle_, dialect, fields_.Area()));
      const int described = fields_.Area()->sqld;
      if (described > fields_.Area()->sqln) {
        fields_.SetCount(described);
        database_->CheckStatus(api.isc_dsql_describe(sv, &handle_, dialect, fields_.Area()));
      } else if (described == 0) {
        fields_.SetCount(0);
      }
    } else {
      fields_.SetCount(0);
    }
    fields_.LayOutRow();
  } catch (...) {
    FreeHandleQuietly();
    throw;
  }
  cursorOpen_ = false;
  eof_ = false;
  fetched_ = 0;
}

void TIBSQL::Execute() {
  database_->CheckStatus(Api().isc_dsql_execute(
      StatusVector(), transaction_->Handle(), &handle_,
      static_cast<unsigned short>(database_->SQLDialect()), params_.AsXSQLDA()));
}

bool TIBSQL::TryExecProcedure() {
  fields_.PointAt(nullptr);
  ISC_STATUS* sv = StatusVector();
  const ISC_STATUS st = Api().isc_dsql_execute2(
      sv, transaction_->Handle(), &handle_, static_cast<unsigned short>(database_->SQLDialect()),
      params_.AsXSQLDA(), fields_.AsXSQLDA());
  if (st > 0 && StatusHasCode(sv, kLockConflict)) {
    database_->RaiseStatusError();
  }
  return st <= 0;
}

void TIBSQL::ExecProcedure() {
  fields_.PointAt(nullptr);
  database_->CheckStatus(
      Api().isc_dsql_execute2(StatusVector(), transaction_->Handle(), &handle_,
                              static_cast<unsigned short>(database_->SQLDialect()),
                              params_.AsXSQLDA(), fields_.AsXSQLDA()));
}

void TIBSQL::OpenCursor() {
  const ClientApi& api = Api();
  ISC_STATUS* sv = StatusVector();
  database_->CheckStatus(api.isc_dsql_execute2(sv, transaction_->Handle(), &handle_,
                                               static_cast<unsigned short>(database_->SQLDialect()),
                                               params_.AsXSQLDA(), nullptr));
  cursorOpen_ = true;
  cursorApi_ = &api;
  if (api.isc_dsql_set_cursor_name(sv, &handle_, cursorName_.c_str(), 0) > 0) {
    // The text is taken before the clean-up call, which may overwrite what
    // the status vector points to.
    const StatusError error = CaptureStatusError(sv);
    CloseCursorQuietly();
    database_->RaiseStatusError(error);
  }
  eof_ = false;
  bof_ = true;
  fetched_ = 0;
}

bool TIBSQL::Fetch(char* image) {
  if (!cursorOpen_ || eof_) {
    return false;
  }
  fields_.PointAt(image);
  ISC_STATUS* sv = StatusVector();
  const ISC_STATUS st = cursorApi_->isc_dsql_fetch(
      sv, &handle_, static_cast<unsigned short>(database_->SQLDialect()), fields_.AsXSQLDA());
  if (st == kFetchEnd || (st > 0 && StatusHasCode(sv, kReqSync))) {
    eof_ = true;
    return false;
  }
  if (st > 0) {
    // The text is taken first: closing the cursor is another client call,
    // which may overwrite what the status vector points to.
    const StatusError error = CaptureStatusError(sv);
    CloseCursorQuietly();
    database_->RaiseStatusError(error);
  }
  bof_ = false;
  ++fetched_;
  return true;
}

void TIBSQL::CloseCursor() {
  if (!cursorOpen_) {
    return;
  }
  cursorOpen_ = false;
  eof_ = false;
  fetched_ = 0;
  ISC_STATUS* sv = StatusVector();
  if (Api().isc_dsql_free_statement(sv, &handle_, DSQL_close) > 0 &&
      !StatusHasCode(sv, kBadStmtHandle) && !StatusHasCode(sv, kDsqlCursorClose)) {
    database_->RaiseStatusError();
  }
}

void TIBSQL::CloseCursorQuietly() noexcept {
  if (!cursorOpen_) {
    return;
  }
  cursorOpen_ = false;
  eof_ = false;
  fetched_ = 0;
  ISC_STATUS_ARRAY local{};
  Api().isc_dsql_free_statement(local, &handle_, DSQL_close);
}

void TIBSQL::FreeHandle() {
  if (handle_ == 0) {
    return;
  }
  CloseCursor();
  ISC_STATUS* sv = StatusVector();
  const ISC_STATUS st = Api().isc_dsql_free_statement(sv, &handle_, DSQL_drop);
  // The handle is given up either way: a statement that cannot be dropped
  // belongs to an attachment that is gone or going.
  handle_ = 0;
  statementType_ = 0;
  if (st > 0 && !StatusHasCode(sv, kBadStmtHandle)) {
    database_->RaiseStatusError();
  }
}

void TIBSQL::FreeHandleQuietly() noexcept {
  if (handle_ == 0) {
    return;
  }
  CloseCursorQuietly();
  ISC_STATUS_ARRAY local{};
  Api().isc_dsql_free_statement(local, &handle_, DSQL_drop);
  handle_ = 0;
  statementType_ = 0;
}

}  // namespace fbdetail
