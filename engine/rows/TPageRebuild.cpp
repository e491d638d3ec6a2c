#include "engine/rows/TPageRebuild.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/firebird/TAttachment.h"
#include "engine/firebird/TServerSchema.h"
#include "engine/rows/TForcedWritesPause.h"
#include "engine/rows/TPageRows.h"
#include "engine/rows/TRowBatcher.h"
#include "engine/rows/TTableLayout.h"
#include "engine/rows/TTriggerPause.h"
#include "engine/rows/TableOrder.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TextUtil.h"

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
  // The target is the run's own database: its page writes need not wait
  // for the disk while it fills.
  TForcedWritesPause fastWrites(target_);
  for (const std::string& table : order.order) {
    context_.ThrowIfCancelled();
    const TTableLayout& layout = layouts[static_cast<std::size_t>(
        std::find(tables.begin(), tables.end(), table) - tables.begin())];
    TRowBatcher rows(target_, layout);
    const TPageRows::TRead read =
        pages.Read(layout, [&](const std::vector<TValue>& values) { rows.Add(values); });
    // Rows refused for a parent given after them (a table that refers to
    // itself) go in on a later pass.
    rows.Retry();
    const long long given = rows.Inserted();
    const std::vector<TRowBatcher::TRefused>& refused = rows.Refused();
    const std::string error = refused.empty() ? std::string() : refused.front().error;
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
    for (const TRowBatcher::TRefused& row : refused) {
      if (loss.keys.size() < kLostKeysKept) {
        loss.keys.push_back(layout.KeyText(row.values));
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
  fastWrites.Resume();
  triggers.Resume();
  if (!triggers.Paused().empty()) {
    context_.WriteLog(triggers.LogLine());
  }
  attachment.Detach();
  return losses;
}
