#pragma once

#include <string>
#include <vector>

#include "support/FixtureDatabase.h"

namespace testsupport {

// The tables the repair tests damage: a parent CLIENTES, two children PEDIDOS
// and NOTAS referring to it, and a table AVULSOS that no foreign key refers to.
// Children refer to parents spread over all of CLIENTES' data pages, but never
// to a parent whose row number (1-based, in insertion order) is a multiple of
// 3: those parents are unreferenced, so a repair that brings back rows no
// child needs, or reads the wrong child column, is caught. The children's own
// ID values run over the same range as the parent's IDs, for the same reason.
class SampleSchema {
 public:
  enum class Kind {
    NamedConstraints,  // PK_CLIENTES, FK_PEDIDOS_CLIENTES, FK_NOTAS_CLIENTES
    ServerNamed,       // inline PRIMARY KEY / REFERENCES: INTEG_nn, RDB$PRIMARYnn
    KeyUsingIndex,     // PK_CLIENTES ... using index IX_CLIENTES_CHAVE
    TwoColumnKey,      // CLIENTES (ID, SEQ); children (CLIENTE_ID, CLIENTE_SEQ)
    TextKey,           // CLIENTES (CODIGO varchar); some codes hold a single quote
  };

  // One child table and the SQL expression of its foreign-key columns that
  // gives the same text as the parent's KeyExpression for the row it refers to.
  struct Child {
    std::string table;
    std::string keyExpression;
  };

  explicit SampleSchema(Kind kind, int parentRows = 3000);

  Kind GetKind() const { return kind_; }
  // SQL creating and filling the tables (to be run in a new database).
  std::string Script() const;

  std::string ParentTable() const { return "CLIENTES"; }
  std::vector<std::string> KeyColumns() const;
  // Key text of a parent row, e.g. "ID" or "ID || '|' || SEQ".
  std::string KeyExpression() const;
  std::vector<Child> Children() const;
  std::string StandaloneTable() const { return "AVULSOS"; }
  std::string StandaloneKeyExpression() const { return "ID"; }
  int ParentRows() const { return parentRows_; }

  // The keys among `keys` that at least one child row refers to, in order.
  std::vector<std::string> ReferencedAmong(const FixtureDatabase& db,
                                           const std::vector<std::string>& keys) const;

  // Creates a database at `path` holding this schema.
  FixtureDatabase CreateDatabase(const std::string& path) const;

 private:
  Kind kind_;
  int parentRows_;
};

}  // namespace testsupport
