#include "engine/TPageRebuild.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/ERunAborted.h"
#include "engine/SqlName.h"
#include "engine/SystemRows.h"
#include "engine/TAttachment.h"
#include "engine/TPageRows.h"
#include "engine/TServerSchema.h"
#include "engine/TTableLayout.h"
#include "engine/TTriggerPause.h"
#include "engine/TableOrder.h"
#include "engine/TextUtil.h"

TPageRebuild::TPageRebuild(TRecoveryContext& context, TConnection& target, std::string pagesFile)
    : context_(context), target_(target), pagesFile_(std::move(pagesFile)) {}

TableLosses TPageRebuild::Fill() {
  TAttachment attachment(target_);
  const std::vector<std::string> tables = UserTables(target_.Query());
  std::vector<TTableLayout> layouts;
  for (const std::string& table : tables) {
    layouts.push_back(TTableLayout::Read(target_, table));
  }
  const TableOrder order = ParentsFirstTables(tables, [&](const std::string& table) {
    const auto at = std::find(tables.begin(), tables.end(), table);
    return at == tables.end() ? std::vector<std::string>()
                              : layouts[std::size_t(at - tables.begin())].ParentTables();
  });
  if (!order.cycle.empty()) {
    context_.WriteLog("Tabelas que se referem umas às outras, preenchidas sem ordem garantida: " +
                      JoinedNames(order.cycle));
  }
  if (target_.Transaction().Active()) {
    target_.Transaction().Commit();
  }
  // The target's own tables name the columns where the file's system
  // tables lost them.
  TPageRows pages(pagesFile_, TServerSchema::Read(target_));
  TTriggerPause triggers(target_, tables);
  TableLosses losses;
  bool versionsFromInventory = true;
  long long rowsRead = 0;
  std::string unreadable;  // why the pages gave nothing, when they did not
  for (const std::string& table : order.order) {
    context_.ThrowIfCancelled();
    const TTableLayout& layout = layouts[static_cast<std::size_t>(
        std::find(tables.begin(), tables.end(), table) - tables.begin())];
    TIBQuery insert;
    insert.SetDatabase(&target_.Database());
    insert.SQL().Assign(layout.InsertLines());
    insert.Prepare();
    TIBQuery shape;
    shape.SetDatabase(&target_.Database());
    shape.SQL().SetText("select " + layout.SelectList() + " from " + SqlName(table));
    shape.Prepare();
    const std::vector<TFieldType> types = TTableLayout::FieldTypes(shape);
    shape.Close();

    long long given = 0;
    std::vector<std::vector<TValue>> refused;
    std::string error;
    const auto tryInsert = [&](const std::vector<TValue>& values) {
      try {
        layout.BindRow(insert, types, values);
        insert.ExecQuery();
        return true;
      } catch (const ERunAborted&) {
        throw;
      } catch (const std::exception& e) {
        error = e.what();
        error = error.substr(0, error.find_first_of("\r\n"));
        return false;
      }
    };
    const TPageRows::TRead read = pages.Read(layout, [&](const std::vector<TValue>& values) {
      if (tryInsert(values)) {
        ++given;
      } else {
        refused.push_back(values);  // most often a row whose parent comes later
      }
    });
    // Rows of a table that refers to itself may need rows read after them.
    bool progress = true;
    while (progress && !refused.empty()) {
      progress = false;
      std::vector<std::vector<TValue>> still;
      for (auto& values : refused) {
        if (tryInsert(values)) {
          ++given;
          progress = true;
        } else {
          still.push_back(std::move(values));
        }
      }
      refused = std::move(still);
    }
    target_.Transaction().Commit();
    versionsFromInventory = versionsFromInventory && read.versionsFromInventory;
    rowsRead += read.rows;
    if (unreadable.empty()) {
      unreadable = read.problem;
    }
    TableLoss& loss = losses[table];
    loss.lost = static_cast<long long>(refused.size());
    // The count is what the pages say: no damaged page and no unreadable
    // record of the table means every row of it was read. (Without the
    // transaction inventory each record's newest version is taken, which
    // changes which values a row has, not how many rows there are.)
    loss.known = read.problem.empty() && read.pagesDamaged == 0 && read.recordsUnreadable == 0;
    for (const auto& values : refused) {
      if (loss.keys.size() < kLostKeysKept) {
        loss.keys.push_back(layout.KeyText(values));
      }
    }
    context_.WriteLog(
        "Tabela " + table + ": " + std::to_string(given) + " registros das páginas do arquivo" +
        (refused.empty()
             ? std::string()
             : ", " + std::to_string(refused.size()) + " recusados pelo banco: " + error) +
        (loss.known ? std::string(".")
                    : "; parte da tabela não pôde ser lida" +
                          (read.problem.empty() ? std::string() : ": " + read.problem) + "."));
  }
  // A file whose pages give no row at all (no Firebird database, or one
  // destroyed through and through) rebuilds nothing: an empty database is
  // no repair.
  if (rowsRead == 0 && !unreadable.empty()) {
    throw std::runtime_error("As páginas do arquivo não puderam ser lidas: " + unreadable);
  }
  if (!versionsFromInventory) {
    context_.WriteLog(
        "O inventário de transações do arquivo não pôde ser lido: de cada registro foi tomada a "
        "versão mais recente gravada.");
  }
  triggers.Resume();
  if (!triggers.Paused().empty()) {
    context_.WriteLog(triggers.LogLine());
  }
  attachment.Detach();
  return losses;
}
