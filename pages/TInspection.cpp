#include "pages/TInspection.h"

#include <algorithm>
#include <map>
#include <set>

#include "pages/Ods.h"
#include "pages/TRecordsGone.h"
#include "pages/TTableReader.h"

namespace {

std::string TableLabel(const TInspectedTable& t) {
  return t.name.empty() ? "relação " + std::to_string(t.relationId) : t.name;
}

// Tables whose pointer pages were lost while the file's essential structures
// held: the server opens the database but cannot walk those tables.
struct TPointerLoss {
  std::vector<std::string> tables;
  std::uint64_t rows = 0;  // readable from those tables' pages
  bool dataLost = false;   // data pages or records lost too, anywhere
};

std::string List(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    out += (out.empty() ? "" : ", ") + n;
  }
  return out;
}

void Verdict(TInspectionResult& r, bool structural, const TPointerLoss& pointers,
             std::uint64_t rows, const std::vector<std::string>& hurtTables) {
  auto& v = r.verdict;
  if (!structural && !pointers.tables.empty()) {
    r.level = 2;
    v.push_back("Nível 2: há páginas de ponteiros danificadas (tabelas " + List(pointers.tables) +
                "), mas o cabeçalho, o inventário de transações, a RDB$PAGES e as tabelas de "
                "sistema estão legíveis; o servidor deve conseguir abrir o banco.");
    v.push_back(
        "Sem as páginas de ponteiros o servidor não percorre essas tabelas: o reparo as refaz "
        "com as linhas lidas direto das páginas (" +
        std::to_string(pointers.rows) +
        " linhas legíveis nelas); as demais passam pela validação, backup e restauração.");
    if (pointers.dataLost) {
      v.push_back("As linhas das páginas de dados perdidas só voltam de um backup anterior.");
    }
    return;
  }
  if (r.damagedCount == 0 && !structural) {
    r.level = 1;
    v.push_back("Nível 1: nenhuma página danificada foi encontrada; o servidor deve ler o banco.");
    v.push_back(
        "O reparo esperado é o do próprio servidor: validação, backup e restauração, sem perda de "
        "linhas.");
    return;
  }
  if (!structural) {
    r.level = 2;
    const std::string tables = List(hurtTables);
    v.push_back(
        "Nível 2: há páginas danificadas" +
        (tables.empty() ? std::string(" fora das tabelas de dados") : " nas tabelas " + tables) +
        ", mas o cabeçalho, o inventário de transações, as páginas de ponteiros e as "
        "tabelas de sistema estão legíveis.");
    v.push_back(
        "O servidor deve conseguir abrir o banco: a validação com correção (mend), o backup e a "
        "restauração recuperam as demais linhas; as linhas das páginas perdidas só voltam de um "
        "backup anterior.");
    return;
  }
  r.level = 3;
  std::vector<std::string> parts;
  if (!r.headerValid) {
    parts.push_back("o cabeçalho");
  }
  if (!r.inventoryUsable) {
    parts.push_back("o inventário de transações");
  }
  if (!r.pagesRelationIntact) {
    parts.push_back("a RDB$PAGES");
  }
  if (!r.systemTablesIntact) {
    parts.push_back("as tabelas de sistema");
  }
  std::string what;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    what += (i == 0 ? "" : (i + 1 == parts.size() ? " e " : ", ")) + parts[i];
  }
  if (what.empty()) {
    what = "páginas de ponteiros";
  }
  v.push_back("Nível 3: estruturas essenciais estão danificadas (" + what +
              "); o servidor provavelmente não abre ou não percorre o banco.");
  v.push_back("As linhas devem ser lidas direto das páginas (" + std::to_string(rows) +
              " linhas legíveis) e inseridas num banco novo" +
              (r.systemTablesIntact ? std::string(".")
                                    : ", com as tabelas e colunas tiradas de um backup anterior."));
  if (!r.inventoryUsable) {
    v.push_back(
        "Sem o inventário de transações, vale a versão mais nova de cada linha, mesmo que sua "
        "transação não tenha sido confirmada.");
  }
}

}  // namespace

TInspectionResult TInspection::Run(const std::string& path,
                                   const std::optional<TSchema>& otherSchema) {
  TInspectionResult r;
  r.path = path;
  std::unique_ptr<TTableReader> tables;
  try {
    tables = std::make_unique<TTableReader>(path, otherSchema);
  } catch (const std::exception& e) {
    r.error = e.what();
    r.verdict.push_back("Não foi possível examinar o arquivo: " + r.error);
    return r;
  }
  r.opened = true;
  TPageReader& reader = tables->Pages();
  const THeaderPage& header = reader.Header();
  r.fileSize = reader.File().FileSize();
  r.pageSize = reader.PageSize();
  r.pageSizeProbed = !header.Valid();
  r.pageCount = r.fileSize / r.pageSize;
  r.wholePages = r.fileSize % r.pageSize == 0;
  r.headerValid = header.Valid();
  if (r.headerValid) {
    r.odsMajor = header.odsMajor;
    r.odsMinor = header.odsMinor;
    r.nextTransaction = header.nextTransaction;
    r.oldestInteresting = header.oldestInteresting;
    r.oldestActive = header.oldestActive;
    r.oldestSnapshot = header.oldestSnapshot;
    r.headerFlags = header.flags;
  }
  const TPageScan& scan = reader.Scan();
  r.pageTypes = scan.typeCounts;
  r.freePages = scan.freePages;
  r.pagesRelationIntact = reader.PagesRelationIntact();
  r.inventoryUsable = reader.Inventory().Usable();
  r.systemTablesIntact = tables->SystemTablesIntact();

  // What each page was for, to name the damaged ones.
  std::map<std::uint32_t, std::string> roles;
  const auto& names = tables->RelationNames();
  auto relationName = [&](std::uint16_t id) {
    const auto n = names.find(id);
    return n != names.end() && !n->second.empty() ? n->second : "relação " + std::to_string(id);
  };
  for (const auto& [relation, pages] : reader.PointerPages()) {
    for (const TSequencedPage& p : pages) {
      roles[p.page] = "página de ponteiros de " + relationName(relation);
    }
  }
  for (const std::uint32_t p : reader.Inventory().Pages()) {
    roles[p] = "inventário de transações";
  }
  roles[0] = "cabeçalho";
  bool structural =
      !r.headerValid || !r.inventoryUsable || !r.pagesRelationIntact || !r.systemTablesIntact;
  std::map<std::uint32_t, std::string> damaged;  // page -> reason
  for (const TDamagedPage& d : scan.damaged) {
    damaged[d.page] = d.reason;
  }
  if (!r.headerValid) {
    damaged.emplace(0, "cabeçalho ilegível");
  }
  for (const std::uint32_t p : reader.Inventory().DamagedPages()) {
    damaged.emplace(p, "não é uma página de inventário de transações");
  }
  for (const std::uint32_t p : reader.PagesRelationDamage()) {
    roles.emplace(p, "página de RDB$PAGES");
    damaged.emplace(p, "não é uma página de RDB$PAGES válida");
  }
  for (const std::uint32_t p : tables->OwnSchema().damagedPages) {
    roles.emplace(p, "página de tabela de sistema");
    damaged.emplace(p, "não é uma página de dados válida");
  }

  // Every user table: the schema's, then relations whose pages carry an id
  // the schema does not know.
  std::set<std::uint16_t> ids;
  for (const auto& [id, table] : tables->Schema().tables) {
    ids.insert(id);
  }
  for (const auto& [id, pages] : scan.dataPages) {
    if (id >= ods::kFirstUserRelation) {
      ids.insert(id);
    }
  }
  std::uint64_t rows = 0;
  std::vector<std::string> hurtTables;
  TPointerLoss pointerLoss;
  std::set<std::uint32_t> pointerPagesLost;  // of the tables below
  for (const std::uint16_t id : ids) {
    TInspectedTable t;
    t.relationId = id;
    const TSchemaTable* known = tables->Schema().Find(id);
    t.name = known != nullptr ? known->name : (names.count(id) ? names.at(id) : "");
    t.schemaKnown = known != nullptr && !known->formats.empty();
    TReadCounts counts;
    if (t.schemaKnown) {
      counts = tables->Read(id, [](const TRow&) {});
    } else {
      reader.ReadRecords(
          id, [](const TRecordImage&) { return true; }, counts);
    }
    t.dataPages = counts.dataPages;
    t.records = counts.recordsRead;
    t.backVersions = counts.backVersionsSkipped;
    t.undecodable = counts.recordsUndecodable;
    t.deleted = counts.deletedRecords;
    t.pagesDamaged = counts.pagesDamaged;
    t.pagesScanned = counts.pagesScanned;
    if (t.schemaKnown) {
      // The index still names every record, those whose page is gone too.
      const TRecordsGone::TResult gone = TRecordsGone::Find(*tables, id);
      t.destroyed = gone.gone.size();
      t.destroyedKnown = gone.indexRead && gone.indexWhole;
    }
    std::uint64_t pointerPages = 0;
    for (const std::uint32_t p : counts.damagedPages) {
      const bool pointer = roles.count(p) != 0 && roles[p].rfind("página de ponteiros", 0) == 0;
      roles.emplace(p, "página de dados de " + TableLabel(t));
      damaged.emplace(p, pointer ? "não é a página de ponteiros esperada"
                                 : "não é uma página de dados desta tabela");
      if (pointer) {
        ++pointerPages;
        pointerPagesLost.insert(p);
      }
    }
    if (pointerPages != 0) {
      pointerLoss.tables.push_back(TableLabel(t));
      pointerLoss.rows += t.records;
    }
    if (t.pagesDamaged > pointerPages || t.undecodable != 0 || t.destroyed != 0) {
      pointerLoss.dataLost = true;
    }
    if (t.pagesDamaged != 0 || t.undecodable != 0) {
      hurtTables.push_back(TableLabel(t));
    }
    rows += t.records;
    r.tables.push_back(std::move(t));
  }
  r.damagedCount = std::max<std::uint64_t>(scan.damagedCount, damaged.size());
  for (const auto& [page, reason] : damaged) {
    if (r.damaged.size() >= TPageScan::kMaxListedDamage) {
      break;
    }
    const auto role = roles.find(page);
    if (role != roles.end() && role->second.rfind("página de ponteiros", 0) == 0 &&
        pointerPagesLost.count(page) == 0) {
      structural = true;  // a pointer page of no table read above
    }
    r.damaged.push_back(TInspectedPage{
        page, role == roles.end() ? "página sem dono conhecido" : role->second, reason});
  }
  Verdict(r, structural, pointerLoss, rows, hurtTables);
  return r;
}
