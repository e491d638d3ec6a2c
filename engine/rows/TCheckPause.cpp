#include "engine/rows/TCheckPause.h"

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/rows/ResumeAfterFailure.h"

namespace {

void Execute(TConnection& target, const std::string& sql) {
  TIBQuery& query = target.Query();
  query.Close();
  query.SQL().SetText(sql);
  query.ExecQuery();
  target.Transaction().Commit();
}

}  // namespace

TCheckPause::TCheckPause(TConnection& target, const std::vector<std::string>& tables)
    : target_(target) {
  std::vector<TCheck> found;
  for (const std::string& table : tables) {
    // Each check has two triggers with the same source: before insert (1)
    // and before update (3).
    for (const auto& row :
         SystemRows(target_.Query(),
                    "select c.rdb$constraint_name, t.rdb$trigger_source"
                    " from rdb$relation_constraints c"
                    " join rdb$check_constraints k"
                    " on k.rdb$constraint_name = c.rdb$constraint_name"
                    " join rdb$triggers t on t.rdb$trigger_name = k.rdb$trigger_name"
                    " where c.rdb$relation_name = :NAME"
                    " and c.rdb$constraint_type = 'CHECK'"
                    " and t.rdb$trigger_type = 1",
                    table)) {
      if (row.size() == 2 && row[1].starts_with("CHECK")) {
        found.push_back({table, row[0], row[1]});
      }
    }
  }
  if (target_.Transaction().Active()) {
    target_.Transaction().Commit();
  }
  try {
    for (const TCheck& check : found) {
      Execute(target_,
              "alter table " + SqlName(check.table) + " drop constraint " + SqlName(check.name));
      checks_.push_back(check);  // dropped: to be added again
    }
  } catch (...) {
    Resume();  // the ones dropped before the failure
    throw;
  }
}

TCheckPause::~TCheckPause() {
  if (!resumed_ && !checks_.empty()) {
    ResumeAfterFailure(target_, [this] { Resume(); });
  }
}

void TCheckPause::Resume() {
  resumed_ = true;
  for (const TCheck& check : checks_) {
    Execute(target_, "alter table " + SqlName(check.table) + " add constraint " +
                         SqlName(check.name) + " " + check.source);
  }
}

std::vector<std::string> TCheckPause::Paused() const {
  std::vector<std::string> names;
  for (const TCheck& check : checks_) {
    names.push_back(check.name);
  }
  return names;
}
