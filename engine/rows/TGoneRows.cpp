#include "engine/rows/TGoneRows.h"

#include <exception>
#include <memory>

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/firebird/TAttachment.h"
#include "engine/rows/TTableLayout.h"
#include "engine/run/ERunAborted.h"
#include "pages/TRecordsGone.h"
#include "pages/TTableReader.h"

namespace {

// "ID=7, SERIE=A", as the other lost keys read.
std::string KeyText(const std::vector<std::string>& columns, const std::vector<TValue>& key) {
  std::string text;
  for (std::size_t i = 0; i < columns.size() && i < key.size(); ++i) {
    text += (text.empty() ? "" : ", ") + TTableLayout::KeyPart(columns[i], key[i]);
  }
  return text;
}

// Every record of the table still reads from its pages: a cut index names
// no destroyed record, and none was. Read only when the index was cut.
bool RecordsIntact(TTableReader& pages, std::uint16_t relationId) {
  const TReadCounts counts = pages.Read(relationId, [](const TRow&) {});
  return counts.pagesDamaged == 0 && counts.recordsUndecodable == 0;
}

}  // namespace

TGoneRows::TCopyFindings TGoneRows::ReadCopy(const std::string& copyPath,
                                             const std::atomic<bool>* stop) {
  TCopyFindings findings;
  std::unique_ptr<TTableReader> pages;
  try {
    pages = std::make_unique<TTableReader>(copyPath);
  } catch (const std::exception&) {
    return findings;  // nothing to tell by
  }
  for (const auto& [relationId, table] : pages->Schema().tables) {
    if (stop != nullptr && stop->load()) {
      return TCopyFindings();
    }
    TCopyFindings::TTable entry;
    try {
      entry.found = TRecordsGone::Find(*pages, relationId);
    } catch (const std::exception&) {
      continue;  // a table whose pages cannot be told by
    }
    // Read only when the index was cut and named no destroyed record; a
    // failure is the count's, as when it was read there.
    if (entry.found.indexRead && entry.found.gone.empty() && !entry.found.indexWhole) {
      try {
        entry.recordsIntact = RecordsIntact(*pages, relationId);
      } catch (const std::exception&) {
        entry.intactFailure = std::current_exception();
      }
    }
    findings.tables.emplace(table.name, std::move(entry));
  }
  findings.readable = true;
  return findings;
}

TGoneRows::TGoneRows(TConnection& result, std::string copyPath)
    : result_(result), copyPath_(std::move(copyPath)) {}

TGoneRows::TGoneRows(TConnection& result, TCopyFindings findings)
    : result_(result), findings_(std::move(findings)) {}

TableLosses TGoneRows::Count() {
  TableLosses losses;
  if (!findings_) {
    findings_ = ReadCopy(copyPath_);
  }
  if (!findings_->readable) {
    return losses;  // nothing to tell by
  }
  TAttachment attachment(result_);
  for (const std::string& table : UserTables(result_.Query())) {
    const auto copied = findings_->tables.find(table);
    if (copied == findings_->tables.end()) {
      continue;  // a table the copy's schema does not know
    }
    const TRecordsGone::TResult& found = copied->second.found;
    if (!found.indexRead) {
      continue;
    }
    if (found.gone.empty()) {
      if (!found.indexWhole && copied->second.intactFailure) {
        std::rethrow_exception(copied->second.intactFailure);
      }
      if (found.indexWhole || copied->second.recordsIntact) {
        losses[table];  // every record accounted for: nothing destroyed
      } else {
        notes_.push_back("Registros destruídos em " + table +
                         ": o índice da chave não pôde ser lido inteiro; não podem ser contados.");
        losses[table].known = false;
      }
      continue;
    }
    TableLoss& loss = losses[table];
    const bool keyed = found.primaryKey && found.keysDecoded;
    loss.known = found.indexWhole && keyed;
    if (!keyed) {
      notes_.push_back("Registros destruídos em " + table + ": " +
                       std::to_string(found.gone.size()) +
                       " no arquivo, sem chave para procurá-los no banco reparado.");
      continue;
    }
    // One lookup per destroyed record: few, against every key of the table.
    std::string condition;
    for (std::size_t i = 0; i < found.keyColumns.size(); ++i) {
      condition += (i == 0 ? " where " : " and ") + SqlName(found.keyColumns[i]) + " = :K" +
                   std::to_string(i);
    }
    TIBQuery lookup;
    lookup.SetDatabase(&result_.Database());
    lookup.SQL().SetText("select count(*) from " + SqlName(table) + condition);
    for (const TRecordsGone::TGone& gone : found.gone) {
      if (gone.key.size() != found.keyColumns.size()) {
        loss.known = false;
        continue;
      }
      for (std::size_t i = 0; i < gone.key.size(); ++i) {
        lookup.ParamNamed("K" + std::to_string(i)).SetValue(gone.key[i]);
      }
      lookup.Open();
      const bool present = !lookup.AtEnd() && lookup.Fields(0).AsString() != "0";
      lookup.Close();
      if (!present) {
        ++loss.lost;
        if (loss.keys.size() < kLostKeysKept) {
          loss.keys.push_back(KeyText(found.keyColumns, gone.key));
        }
      }
    }
    notes_.push_back("Registros destruídos em " + table + ": " + std::to_string(found.gone.size()) +
                     " no arquivo; " + std::to_string(loss.lost) +
                     " deles não voltaram de nenhuma fonte" +
                     (found.indexWhole ? "." : " (o índice da chave não pôde ser lido inteiro)."));
  }
  if (result_.Transaction().Active()) {
    result_.Transaction().Rollback();  // only read
  }
  attachment.Detach();
  return losses;
}
