#include "engine/TOrphanRemoval.h"

#include "engine/SqlName.h"
#include "engine/TAttachment.h"
#include "engine/TTableLayout.h"
#include "engine/TTriggerPause.h"

namespace {

// A row of `table` (as C) whose key names no row of `parent` (as P); a key
// with a NULL part names nothing, as the server checks it.
std::string OrphanCondition(const std::string& parent, const std::vector<std::string>& columns,
                            const std::vector<std::string>& referenced) {
  std::string condition;
  std::string match;
  for (std::size_t i = 0; i < columns.size() && i < referenced.size(); ++i) {
    condition +=
        (i == 0 ? " where " : " and ") + std::string("C.") + SqlName(columns[i]) + " is not null";
    match += (i == 0 ? " where " : " and ") + std::string("P.") + SqlName(referenced[i]) + " = C." +
             SqlName(columns[i]);
  }
  return condition + " and not exists (select 1 from " + SqlName(parent) + " P" + match + ")";
}

}  // namespace

TOrphanRemoval::TOrphanRemoval(TConnection& target) : target_(target) {}

TableLosses TOrphanRemoval::Remove(const std::vector<std::string>& tables) {
  TAttachment attachment(target_);
  TTriggerPause triggers(target_, tables);  // no delete trigger writes elsewhere
  TableLosses losses;
  // A pass that removes rows may orphan the rows below them: again until
  // one removes nothing (each pass removes at least one row).
  for (bool removed = true; removed;) {
    removed = false;
    for (const std::string& table : tables) {
      const TTableLayout layout = TTableLayout::Read(target_, table);
      std::vector<std::pair<std::string, std::vector<std::string>>> parents;
      std::vector<std::vector<std::string>> columns;
      for (const auto& reference : layout.References()) {
        parents.push_back({reference.Table, reference.Referenced});
        columns.push_back(reference.Columns);
      }
      for (const auto& self : layout.SelfReferences()) {
        parents.push_back({table, self.Referenced});
        columns.push_back(self.Columns);
      }
      for (std::size_t r = 0; r < parents.size(); ++r) {
        const std::string condition =
            OrphanCondition(parents[r].first, columns[r], parents[r].second);
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
