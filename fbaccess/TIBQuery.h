#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fbaccess/IIBDependent.h"
#include "fbaccess/TField.h"
#include "fbaccess/TFieldDef.h"
#include "fbaccess/TParam.h"
#include "fbaccess/TSQLLines.h"
#include "fbaccess/TValue.h"

class TIBDatabase;
class TIBTransaction;

namespace fbdetail {
class TIBSQL;
}

// A SQL statement with named parameters (":NAME") and a forward cursor whose
// fetched rows stay in memory until Close. Used by one thread at a time; must
// not outlive its database and transaction.
//
//   TIBQuery q;
//   q.SetDatabase(&db);                 // takes db.DefaultTransaction()
//   q.SQL().SetText("select ID, NAME from T where ID > :ID");
//   q.ParamNamed("ID").SetValue(10);
//   q.Open();
//   while (!q.AtEnd()) { q.FieldNamed("NAME").AsString(); q.Next(); }
//   q.Close();
class TIBQuery : public IIBDependent {
 public:
  // The name starts the cursor name ("" for queries made at run time).
  explicit TIBQuery(const std::string& name = std::string());
  ~TIBQuery() override;
  TIBQuery(const TIBQuery&) = delete;
  TIBQuery& operator=(const TIBQuery&) = delete;

  TIBDatabase* Database() const { return database_; }
  // Registers the query with the database and, when the query has no
  // transaction yet, takes the database's default transaction. Refused on an
  // open query ("Dataset Aberta", index 33).
  void SetDatabase(TIBDatabase* database);
  TIBTransaction* Transaction() const { return transaction_; }
  void SetTransaction(TIBTransaction* transaction);

  // The statement text as lines; each change closes the query, drops its
  // preparation and rebuilds Params, keeping type and value of same-named
  // parameters.
  TSQLLines& SQL() { return sql_; }
  const TSQLLines& SQL() const { return sql_; }

  // Default true: parameters are parsed out of the text. When false the text
  // goes to the server unchanged and has no Params.
  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool value);

  std::vector<TParam>& Params() { return params_; }
  int ParamCount() const { return int(params_.size()); }
  // The first parameter of that name, ignoring case; EDatabaseError
  // "Parametro '%s' não encontrado" when there is none.
  TParam& ParamNamed(const std::string& name);

  // Attaches the database and starts the transaction when needed, then
  // prepares (also done by Open and ExecQuery).
  void Prepare();
  bool Prepared() const;
  // Closes and drops the prepared statement.
  void Unprepare();
  int StatementType() const;

  // Runs a select and stands on its first row. A statement that is not a
  // select is executed instead and the query stays closed.
  void Open();
  // Releases the cursor and the fetched rows; the statement stays prepared.
  void Close();
  bool Active() const { return active_; }
  // True once Next has tried to move past the last row, at once for an empty
  // result, and whenever the query is closed.
  bool AtEnd() const { return !active_ || atEnd_; }
  void Next();
  // Rows fetched so far (not the size of the result).
  int RowCount() const { return int(rowCount_); }

  // Result columns of the supported types, in select-list order (after
  // Prepare or Open).
  int FieldCount() const { return int(fields_.size()); }
  const TField& Fields(int index) const { return fields_.at(std::size_t(index)); }
  // Ignoring case; EDatabaseError "Campo '%s' não encontrado" when unknown.
  const TField& FieldNamed(std::string_view name) const;
  const std::vector<TFieldDef>& FieldDefs() const { return fieldDefs_; }
  // Array columns are not fields. The whole content of the array column
  // `name` in the current row, read in the query's transaction: a Bytes value
  // that a parameter of a column of the same shape takes, or NULL. Unknown
  // names raise as FieldNamed does.
  TValue ArrayNamed(std::string_view name) const;

  // Runs a statement that returns no rows; the transaction stays active.
  void ExecQuery();

  // Told by the database before it detaches and by the transaction before it
  // ends: the query closes and drops its statement handle.
  void DatabaseClosing() override;
  void TransactionEnding() override;
  // The database or transaction object is destroyed before the query: the
  // query drops its statement and forgets it.
  void DatabaseDestroyed() override;
  void TransactionDestroyed() override;

  // For TField: the column of the current row (nullptr data when no row).
  bool ColumnIsNull(int column) const;
  std::string ColumnText(int column) const;
  void ColumnTextInto(int column, std::string& out) const;
  TValue ColumnValue(int column) const;

 private:
  void SqlChanged();
  void EnsureConnected();
  void PassParams();
  void ExecStatement();
  // The stored row just fetched, or nullptr at the end of the cursor.
  const char* FetchRow();
  void DropRows();
  void Release() noexcept;
  const char* CurrentRow() const { return currentRow_ != nullptr ? currentRow_ : ProcedureRow(); }
  const char* ProcedureRow() const;

  TIBDatabase* database_ = nullptr;
  TIBTransaction* transaction_ = nullptr;
  TSQLLines sql_;
  bool paramCheck_ = true;
  std::vector<TParam> params_;
  // For each marker of the prepared text, in order, the index in params_ of
  // the parameter that fills it.
  std::vector<std::size_t> markerParams_;
  std::unique_ptr<fbdetail::TIBSQL> statement_;
  std::vector<TFieldDef> fieldDefs_;
  std::vector<TField> fields_;
  std::vector<char> firstOfName_;      // 1: no earlier field has the same name
  mutable std::size_t nextField_ = 0;  // where FieldNamed looks first

  bool active_ = false;
  bool atEnd_ = true;
  bool procedureRow_ = false;  // the output area holds a procedure's answer
  // Two rows in the output area's row layout, the current one and the slot
  // the client writes the next one straight into: reading is forward only,
  // so a result of any size takes the same memory.
  std::unique_ptr<std::uint64_t[]> rows_;  // 8-byte aligned
  std::size_t rowsFor_ = 0;                // the row size rows_ was made for
  std::size_t rowSize_ = 0;
  std::size_t rowCount_ = 0;
  const char* currentRow_ = nullptr;  // the current row while the query is open
};
