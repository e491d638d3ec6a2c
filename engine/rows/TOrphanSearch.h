#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TKeySet.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TRecoveryContext.h"

// Step 7 for one foreign-key violation of the level-1 restore: finds the
// child tables of the parent key the violation is about and lists every key
// that child rows use but the parent table lacks. The server answers that
// itself: by one sort of the child's and the parent's keys together (no
// index needed) when the parent is not much larger than the child, else
// through the parent key's index (not exists); when neither can be asked,
// the parent's keys are loaded once into memory and each child key looked
// up. One object serves one run: it remembers the parent keys it has
// analysed, so that the several violation lines of one parent (one per child
// table) give one record.
class TOrphanSearch {
 public:
  // A child table and its foreign-key columns, in the order of the key they
  // refer to.
  struct TChildReference {
    std::string Table;
    std::string Constraint;
    std::vector<std::string> Fields;
  };

  TOrphanSearch(TRecoveryContext& context, TConnection& target);

  // The record of the parent key behind `line` (a violation line of the
  // restore), or nothing: when nothing refers to that key, when no key is
  // missing, and when an earlier line of this run named the same parent key.
  // A failure while reading one child table is kept (TakeErrors) and the
  // search goes on; any other failure is thrown.
  std::unique_ptr<TInconsistency> checkInconsistencies(const std::string& restoredPath,
                                                       const std::string& line);
  // The errors of the child tables that could not be read since the last
  // call, in order.
  std::vector<std::string> TakeErrors() { return std::exchange(errors_, {}); }

  // The foreign keys that refer to the key constraint, one entry each, ordered
  // by child table. Attaches `target` to the database for the call unless it
  // is attached there already.
  std::vector<TChildReference> getReferencingTables(const std::string& restoredPath,
                                                    const std::string& keyConstraint);
  // The fields of the key constraint, in key order, read from the index that
  // holds the key; needs `target` attached.
  std::vector<std::string> getKeyFields(const std::string& keyConstraint);

  // The parent key a violation line is about: a FOREIGN KEY constraint
  // resolves to the key it refers to and that key's table; any other name is
  // taken as the key itself, with the table as read. Needs `target` attached.
  std::pair<std::string, std::string> ResolveParentKey(const std::string& constraintName,
                                                       const std::string& tableName);

  // How the keys a child uses but its parent lacks are asked for.
  enum class TWay {
    Sorted,    // the server sorts the child's and the parent's keys together
    Lookup,    // the server looks each child row's key up in the parent's index
    InMemory,  // the client holds the parent's keys and looks each child key up
  };
  // The cheaper way for these sizes (rows; negative: not known). A lookup
  // costs the server about four times a sorted row: sorting wins unless the
  // parent outgrows the child; without an active parent index there is no
  // lookup, and without sizes the lookup is the safe guess.
  static TWay ChooseWay(long long parentRows, long long childRows, bool parentIndexActive);

 private:
  // The parent key: its table and fields, whether its index is active, and,
  // once a child needed them in memory, its keys.
  struct TParentKey {
    std::string Table;
    std::vector<std::string> Fields;
    bool IndexActive = false;
    bool KeysLoaded = false;
    TKeySet Keys;
  };
  void LoadParentKeys(TParentKey& parent);
  bool KeyIndexActive(const std::string& keyConstraint);
  // Rows per table as the server's statistics of its active unique indexes
  // give them (exact right after the restore that built them); tables without
  // one are left out.
  std::map<std::string, long long> EstimatedRows();
  // The statement for one child in one way.
  static std::string MissingKeysSql(TWay way, const TChildReference& child,
                                    const TParentKey& parent);
  // Reads the child's distinct keys the parent lacks and appends them, in
  // the order read, to `missing` (and to `seen`).
  void SearchChild(const TChildReference& child, std::size_t position, std::size_t count, TWay way,
                   TParentKey& parent, std::vector<std::string>& missing, TKeySet& seen);

  TRecoveryContext& context_;
  TConnection& target_;
  // Database path and parent key constraint of every key analysed this run.
  std::set<std::pair<std::string, std::string>> analysed_;
  // Database path and foreign key of every child analysed with its parent:
  // a later line about one of them needs no attachment to be passed over.
  std::set<std::pair<std::string, std::string>> coveredForeignKeys_;
  // The errors of child tables not read since the last TakeErrors.
  std::vector<std::string> errors_;
};
