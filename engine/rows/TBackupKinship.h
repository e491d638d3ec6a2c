#pragma once

#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"

// Whether an older backup is of this database at all: rows read from the
// damaged database are looked up by key in the older backup. Rows changed
// since the backup are a few; another company's database with the same
// schema has the same keys holding other rows throughout.
class TBackupKinship {
 public:
  struct TResult {
    int sampled = 0;  // keyed rows of the repaired database looked up
    int found = 0;    // of them, keys the older backup has
    int same = 0;     // of those, rows equal in every column
    // Most rows that share a key differ, or most keys are missing.
    bool Foreign() const;
    // "de 200 chaves comparadas, 180 estão no backup, 175 iguais".
    std::string Text() const;
  };

  // Rows sampled per table.
  static constexpr int kSample = 100;

  // Both connections attached; `tables` in the order to try (the first few
  // with a primary key are sampled).
  static TResult Compare(TConnection& repaired, TConnection& older,
                         const std::vector<std::string>& tables);
};
