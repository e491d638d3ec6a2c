#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "fbaccess/TFieldType.h"
#include "fbaccess/TValue.h"

// What copying rows of one table needs to know about it, read from the
// system tables: the columns a row can be copied through (stored ones only:
// a COMPUTED BY column refuses values), its primary key and the foreign keys
// that refer back to the table itself. Also the statements and the insert
// order built from it, shared by every copy of rows between databases.
class TTableLayout {
 public:
  // A foreign key of the table to a key of the same table: the referring
  // columns and, in the same order, the columns they refer to.
  struct TSelfReference {
    std::string Constraint;
    std::vector<std::string> Columns;
    std::vector<std::string> Referenced;
  };

  // A foreign key of the table to a key of another table.
  struct TReference {
    std::string Constraint;
    std::string Table;  // the table referred to
    std::vector<std::string> Columns;
    std::vector<std::string> Referenced;
  };

  // One self-reference over a set of rows: for each row, the text of the key
  // it is referred to by and the text of the key it refers to ("" for none).
  struct TLinks {
    std::vector<std::string> Keys;
    std::vector<std::string> Parents;
  };

  // Reads the layout of `table` through `connection`, which must be attached.
  static TTableLayout Read(TConnection& connection, const std::string& table);

  const std::string& Table() const { return table_; }
  // Stored columns the access layer reads as fields, in the table's column
  // order.
  const std::vector<std::string>& Columns() const { return columns_; }
  // Stored array columns: no fields, so a row carries their whole content
  // after the values of Columns(), in this order.
  const std::vector<std::string>& ArrayColumns() const { return arrayColumns_; }
  const std::vector<std::string>& PrimaryKey() const { return primaryKey_; }
  const std::vector<TSelfReference>& SelfReferences() const { return selfReferences_; }
  // Foreign keys to other tables.
  const std::vector<TReference>& References() const { return references_; }
  // The tables those keys refer to.
  std::vector<std::string> ParentTables() const;
  // Every foreign key of the table, a reference to itself as one to Table().
  std::vector<TReference> ForeignKeys() const;

  // "COL1, COL2, ..." of Columns() and then ArrayColumns(), each as a
  // statement needs it.
  std::string SelectList() const;
  // Position of a column in Columns(); Columns().size() when absent.
  std::size_t IndexOf(const std::string& column) const;
  // The insert of one row of SelectList()'s columns, a parameter per column.
  std::vector<std::string> InsertLines() const;

  static std::vector<std::string> InsertLines(const std::string& table,
                                              const std::vector<std::string>& columns);
  // The parameter marker of the column at `index`: the column's own name, or
  // for a name a marker cannot carry "_" and the position, which no plain
  // column name can equal (those begin with a letter).
  static std::string MarkerName(const std::string& column, std::size_t index);

  // The current row of a select of SelectList() as values: one per field,
  // then each array's whole content. An array that cannot be read (its pages
  // damaged) is left NULL rather than costing the row; returns how many.
  std::size_t ReadRow(const TIBQuery& select, std::vector<TValue>& values) const;
  // The run log's words for `count` arrays ReadRow left NULL in rows read
  // `where` ("no backup anterior", "no banco danificado").
  static std::string UnreadableArraysText(std::size_t count, const std::string& where);
  // The types of the select's fields, in order.
  static std::vector<TFieldType> FieldTypes(const TIBQuery& select);
  // Gives the insert (prepared from InsertLines()) the values of a row read
  // by ReadRow, each field with its type, so that a NULL goes with its
  // column's type too.
  void BindRow(TIBQuery& insert, const std::vector<TFieldType>& types,
               const std::vector<TValue>& values) const;

  // The text of the values at `positions` for matching keys: "" when one of
  // them is NULL (the server checks no reference with a NULL part); text
  // values without trailing blanks, which the server does not compare.
  static std::string KeyOf(const std::vector<TValue>& values,
                           const std::vector<std::size_t>& positions);
  // The key of a row read through Columns() for the operator ("ID=7"); every
  // column when the table has no key the copy carries.
  std::string KeyText(const std::vector<TValue>& values) const;
  // "COL=7" ("COL=NULL"): one part of a key's text.
  static std::string KeyPart(const std::string& column, const TValue& value);
  // The first `count` values of a row as one text, NULL told apart from every
  // value, so that rows of a table without a key can be matched.
  static std::string RowText(const std::vector<TValue>& values, std::size_t count);
  // For rows read through Columns(): the links of every self-reference.
  std::vector<TLinks> LinksOf(const std::vector<std::vector<TValue>>& rows) const;

  // An order of `rows` rows in which every row comes after the rows it refers
  // to through `links`; rows referring to rows outside the set keep their
  // place, and rows in a cycle come last in their original order.
  static std::vector<std::size_t> ParentsFirst(std::size_t rows, const std::vector<TLinks>& links);

 private:
  // The columns a copy carries, in row order: Columns(), then ArrayColumns().
  std::size_t CopiedCount() const { return columns_.size() + arrayColumns_.size(); }
  const std::string& CopiedColumn(std::size_t index) const;

  std::string table_;
  std::vector<std::string> columns_;
  std::vector<std::string> arrayColumns_;
  std::vector<std::string> primaryKey_;
  std::vector<TSelfReference> selfReferences_;
  std::vector<TReference> references_;
};
