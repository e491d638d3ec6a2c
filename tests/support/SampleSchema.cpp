#include "support/SampleSchema.h"

#include <set>

namespace testsupport {

namespace {

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    text += (i == 0 ? "" : separator) + parts[i];
  }
  return text;
}

// Column names with their type, e.g. "ID integer not null".
std::string Declare(const std::vector<std::string>& columns, const std::string& type,
                    const std::string& suffix) {
  std::vector<std::string> declared;
  for (const std::string& column : columns) {
    declared.push_back(column + " " + type + suffix);
  }
  return Join(declared, ", ");
}

}  // namespace

SampleSchema::SampleSchema(Kind kind, int parentRows) : kind_(kind), parentRows_(parentRows) {}

std::vector<std::string> SampleSchema::KeyColumns() const {
  switch (kind_) {
    case Kind::TwoColumnKey:
      return {"ID", "SEQ"};
    case Kind::TextKey:
      return {"CODIGO"};
    default:
      return {"ID"};
  }
}

std::string SampleSchema::KeyExpression() const {
  return Join(KeyColumns(), " || '|' || ");
}

std::vector<SampleSchema::Child> SampleSchema::Children() const {
  std::vector<std::string> columns;
  for (const std::string& key : KeyColumns()) {
    columns.push_back(kind_ == Kind::TextKey ? "CLIENTE_CODIGO" : "CLIENTE_" + key);
  }
  const std::string expression = Join(columns, " || '|' || ");
  return {{"PEDIDOS", expression}, {"NOTAS", expression}};
}

std::string SampleSchema::Script() const {
  const bool named = kind_ != Kind::ServerNamed;
  const std::string type = kind_ == Kind::TextKey ? "varchar(40)" : "integer";
  const std::vector<std::string> keys = KeyColumns();
  std::vector<std::string> childKeys;
  for (const std::string& key : keys) {
    childKeys.push_back(kind_ == Kind::TextKey ? "CLIENTE_CODIGO" : "CLIENTE_" + key);
  }
  // The key values of parent row number k (a PSQL variable).
  std::vector<std::string> values{":k"};
  if (kind_ == Kind::TwoColumnKey) {
    values = {"(:k + 1) / 2", "mod(:k + 1, 2) + 1"};
  } else if (kind_ == Kind::TextKey) {
    // Every code shares its first 20 characters with many others.
    values = {"iif(mod(:k, 10) = 0, 'CLIENTE D''AVILA NR ', 'CLIENTE DE TESTE NR ') || :k"};
  }
  const auto primaryKey = [&](const std::string& table, const std::string& columns) {
    return named ? ", constraint PK_" + table + " primary key (" + columns + ")"
                 : ", primary key (" + columns + ")";
  };
  const auto foreignKey = [&](const std::string& table) {
    return std::string(named ? ", constraint FK_" + table + "_CLIENTES" : ",") + " foreign key (" +
           Join(childKeys, ", ") + ") references CLIENTES (" + Join(keys, ", ") + ")";
  };
  std::string parentKey = primaryKey("CLIENTES", Join(keys, ", "));
  if (kind_ == Kind::KeyUsingIndex) {
    parentKey += " using index IX_CLIENTES_CHAVE";
  }
  const std::string n = std::to_string(parentRows_);
  const std::string parentPick = "    k = i;\n";
  const auto childPick = [&](int factor) {
    return "    k = mod(i * " + std::to_string(factor) + ", " + n +
           ") + 1;\n"
           "    if (mod(k, 3) = 0) then k = k - 1;\n";
  };
  return "create table CLIENTES (" + Declare(keys, type, " not null") +
         ", NOME varchar(60), CIDADE varchar(40), NASCIMENTO date, SALDO numeric(15,2),"
         " OBS varchar(80)" +
         parentKey + ");\n" + "create table PEDIDOS (ID integer not null, " +
         Declare(childKeys, type, "") + ", VALOR numeric(15,2)" + primaryKey("PEDIDOS", "ID") +
         foreignKey("PEDIDOS") + ");\n" + "create table NOTAS (ID integer not null, " +
         Declare(childKeys, type, "") + ", TEXTO varchar(80)" + primaryKey("NOTAS", "ID") +
         foreignKey("NOTAS") + ");\n" +
         "create table AVULSOS (ID integer not null, DESCRICAO varchar(60)" +
         primaryKey("AVULSOS", "ID") + ");\n" +
         "commit;\n"
         "set term ^;\n"
         "execute block as\n"
         "  declare i integer = 1;\n"
         "  declare k integer;\n"
         "begin\n"
         "  while (i <= " +
         n + ") do begin\n" + parentPick + "    insert into CLIENTES (" + Join(keys, ", ") +
         ", NOME, CIDADE, NASCIMENTO, SALDO, OBS) values (" + Join(values, ", ") +
         ", 'Cliente ' || :i, 'Cidade ' || mod(:i, 37), dateadd(:i day to date '1950-01-01'),"
         " :i * 1.25, iif(mod(:i, 4) = 0, null, 'Obs ' || :i));\n"
         "    i = i + 1;\n"
         "  end\n"
         "  i = 1;\n"
         "  while (i <= " +
         n + ") do begin\n" + childPick(7) + "    insert into PEDIDOS (ID, " +
         Join(childKeys, ", ") + ", VALOR) values (:i, " + Join(values, ", ") +
         ", :i * 0.5);\n"
         "    i = i + 1;\n"
         "  end\n"
         "  i = 1;\n"
         "  while (i <= " +
         n + " / 2) do begin\n" + childPick(13) + "    insert into NOTAS (ID, " +
         Join(childKeys, ", ") + ", TEXTO) values (:i, " + Join(values, ", ") +
         ", 'Nota ' || :i);\n"
         "    i = i + 1;\n"
         "  end\n"
         "  i = 1;\n"
         "  while (i <= 2000) do begin\n"
         "    insert into AVULSOS (ID, DESCRICAO) values (:i, 'Avulso ' || :i);\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ;^\n";
}

std::vector<std::string> SampleSchema::ReferencedAmong(const FixtureDatabase& db,
                                                       const std::vector<std::string>& keys) const {
  std::set<std::string> referenced;
  for (const Child& child : Children()) {
    for (const std::string& key :
         db.Column("select distinct " + child.keyExpression + " as K from " + child.table +
                   " where " + child.keyExpression + " is not null")) {
      referenced.insert(key);
    }
  }
  std::vector<std::string> result;
  for (const std::string& key : keys) {
    if (referenced.count(key) != 0) {
      result.push_back(key);
    }
  }
  return result;
}

FixtureDatabase SampleSchema::CreateDatabase(const std::string& path) const {
  return FixtureDatabase::Create(path, Script());
}

}  // namespace testsupport
