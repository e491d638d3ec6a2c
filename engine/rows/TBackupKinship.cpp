#include "engine/rows/TBackupKinship.h"

#include "engine/firebird/SqlName.h"
#include "engine/rows/TTableLayout.h"

namespace {

// Tables sampled at most: enough to tell, cheap on a wide schema.
constexpr int kTables = 3;

}  // namespace

bool TBackupKinship::TResult::Foreign() const {
  if (sampled == 0) {
    return false;  // nothing to tell by
  }
  return found * 2 < sampled || same * 2 < found;
}

std::string TBackupKinship::TResult::Text() const {
  return "de " + std::to_string(sampled) + " chaves do banco reparado, " + std::to_string(found) +
         " estão no backup anterior, " + std::to_string(same) + " com o registro igual";
}

TBackupKinship::TResult TBackupKinship::Compare(TConnection& repaired, TConnection& older,
                                                const std::vector<std::string>& tables) {
  TResult result;
  int compared = 0;
  for (const std::string& table : tables) {
    if (compared == kTables) {
      break;
    }
    const TTableLayout layout = TTableLayout::Read(repaired, table);
    std::vector<std::size_t> key;
    for (const std::string& column : layout.PrimaryKey()) {
      key.push_back(layout.IndexOf(column));
    }
    if (key.empty() || layout.IndexOf(layout.PrimaryKey().front()) == layout.Columns().size()) {
      continue;
    }
    // The older backup's rows for those keys: read whole, compared by key.
    TIBQuery lookup;
    lookup.SetDatabase(&older.Database());
    std::string condition;
    for (std::size_t i = 0; i < key.size(); ++i) {
      condition += (i == 0 ? " where " : " and ") + SqlName(layout.Columns()[key[i]]) + " = :K" +
                   std::to_string(i);
    }
    lookup.SQL().SetText("select " + layout.SelectList() + " from " + SqlName(table) + condition);
    TIBQuery fromRepaired;
    fromRepaired.SetDatabase(&repaired.Database());
    fromRepaired.SQL().SetText("select first " + std::to_string(kSample) + " " +
                               layout.SelectList() + " from " + SqlName(table));
    fromRepaired.Open();
    if (fromRepaired.AtEnd()) {
      fromRepaired.Close();
      continue;  // nothing of it was read from the damaged file
    }
    ++compared;
    const std::vector<TFieldType> types = TTableLayout::FieldTypes(fromRepaired);
    std::vector<TValue> values;
    std::vector<TValue> theirs;
    while (!fromRepaired.AtEnd()) {
      layout.ReadRow(fromRepaired, values);
      fromRepaired.Next();
      if (TTableLayout::KeyOf(values, key).empty()) {
        continue;
      }
      ++result.sampled;
      for (std::size_t i = 0; i < key.size(); ++i) {
        TParam& param = lookup.ParamNamed("K" + std::to_string(i));
        param.SetDataType(types[key[i]]);
        param.SetValue(values[key[i]]);
      }
      lookup.Open();
      if (!lookup.AtEnd()) {
        ++result.found;
        layout.ReadRow(lookup, theirs);
        if (TTableLayout::RowText(theirs, layout.Columns().size()) ==
            TTableLayout::RowText(values, layout.Columns().size())) {
          ++result.same;
        }
      }
      lookup.Close();
    }
    fromRepaired.Close();
  }
  return result;
}
