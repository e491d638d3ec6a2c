#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/FileDamage.h"
#include "support/SampleSchema.h"

namespace testsupport {

// A damaged database made once and placed as often as tests need it: the
// sample schema (named constraints) with one data page zeroed, an older
// backup taken while the data was whole, and, on demand, a big table that
// makes every backup and restore take seconds, or a unique code duplicated
// by writing into a record (a restore then fails on more than foreign keys).
class DamagedFixture {
 public:
  enum class Damage {
    StandaloneTable,  // a page of AVULSOS: level 1 repairs it
    ParentTable,      // a page of CLIENTES: the restore fails on foreign keys
  };
  struct Options {
    Damage damage = Damage::ParentTable;
    int parentRows = 900;
    int bulkRows = 0;                  // rows of table GRANDE (indexed text), 0 for none
    bool duplicateUniqueCode = false;  // table CODIGOS, one code written over another
    bool connectTrigger = false;       // table CONEXOES, a row per attachment by a trigger
  };

  // Builds "MODELO.FDB" and "MODELO-ANTERIOR.FBK" in `folder`.
  DamagedFixture(const std::string& folder, const Options& options);

  // Writes the damaged database to `path` (which must be free), given to the server.
  void PlaceAt(const std::string& path) const;

  const std::string& OlderBackup() const { return olderBackup_; }
  const SampleSchema& Schema() const { return schema_; }
  const DamageReport& Report() const { return damage_; }
  std::string DamagedTable() const;
  // Row counts of every table before the damage.
  const std::map<std::string, long long>& CountsBefore() const { return countsBefore_; }
  // The damaged table's rows a mended database still has.
  long long DamagedTableRowsAfterMend() const;

  // True when `file` has the pages the damaged database had, the server's
  // bookkeeping (header and transaction inventory pages) aside.
  bool HasTheDamagedContent(const std::string& file) const;
  // The zeroed page still reads as zeros in `file` (the original, mended or not).
  bool HoldsTheZeroedPage(const std::string& file) const;
  std::size_t Size() const { return bytes_.size(); }

 private:
  Options options_;
  SampleSchema schema_;
  std::string olderBackup_;
  DamageReport damage_;
  std::map<std::string, long long> countsBefore_;
  std::string bytes_;
};

}  // namespace testsupport
