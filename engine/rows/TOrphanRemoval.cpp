#include "engine/rows/TOrphanRemoval.h"

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/firebird/TAttachment.h"
#include "engine/rows/TTableLayout.h"
#include "engine/rows/TTriggerPause.h"

TOrphanRemoval::TOrphanRemoval(TConnection& target) : target_(target) {}

TableLosses TOrphanRemoval::Remove() {
  TAttachment attachment(target_);
  std::vector<TTableLayout> layouts;
  std::vector<std::string> tables = UserTables(target_.Query());
  for (const std::string& table : tables) {
    layouts.push_back(TTableLayout::Read(target_, table));
  }
  TTriggerPause triggers(target_, tables);  // no delete trigger writes elsewhere
  TableLosses losses;
  // A pass that removes rows may orphan the rows below them: again until
  // one removes nothing (each pass removes at least one row).
  for (bool removed = true; removed;) {
    removed = false;
    for (const TTableLayout& layout : layouts) {
      const std::string& table = layout.Table();
      for (const TTableLayout::TReference& key : layout.ForeignKeys()) {
        const std::string condition =
            MissingParentCondition(key.Table, key.Columns, key.Referenced);
        TIBQuery select;
        select.SetDatabase(&target_.Database());
        select.SQL().SetText("select " + layout.SelectList() + " from " + SqlName(table) + " C" +
                             condition);
        select.Open();
        long long rows = 0;
        std::vector<TValue> values;
        while (!select.AtEnd()) {
          layout.ReadRow(select, values);
          TableLoss& loss = losses[table];
          if (loss.keys.size() < kLostKeysKept) {
            loss.keys.push_back(layout.KeyText(values));
          }
          ++rows;
          select.Next();
        }
        select.Close();
        if (rows == 0) {
          continue;
        }
        TIBQuery remove;
        remove.SetDatabase(&target_.Database());
        remove.SQL().SetText("delete from " + SqlName(table) + " C" + condition);
        remove.ExecQuery();
        target_.Transaction().Commit();
        losses[table].lost += rows;
        removed = true;
      }
    }
  }
  if (target_.Transaction().Active()) {
    target_.Transaction().Commit();
  }
  triggers.Resume();
  attachment.Detach();
  return losses;
}
