#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/TConnection.h"
#include "engine/TInconsistency.h"
#include "engine/TKeySet.h"
#include "engine/TRecoveryContext.h"

// Step 7 for one foreign-key violation of the level-1 restore: finds the
// child tables of the parent key the violation is about and lists every key
// that child rows use but the parent table lacks. The server answers that
// itself through the parent key's index; when that index is not active, the
// parent's keys are loaded once into memory and each child key looked up. One object serves one
// run: it remembers the parent keys it has analysed, so that the several violation lines of one
// parent (one per child table) give one record.
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
  // Failures while reading one child table are shown and the search goes on;
  // any other failure is thrown.
  std::unique_ptr<TInconsistency> checkInconsistencies(const std::string& restoredPath,
                                                       const std::string& line);

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

 private:
  // The parent key: its table and fields, and, when the server cannot look
  // keys up through an active index, its keys.
  struct TParentKey {
    std::string Table;
    std::vector<std::string> Fields;
    bool InServer = false;
    TKeySet Keys;
  };
  void LoadParentKeys(TParentKey& parent);
  bool KeyIndexActive(const std::string& keyConstraint);
  // Reads the child's distinct keys the parent lacks and appends them, in
  // the order read, to `missing` (and to `seen`).
  void SearchChild(const TChildReference& child, std::size_t position, std::size_t count,
                   const TParentKey& parent, std::vector<std::string>& missing, TKeySet& seen);

  TRecoveryContext& context_;
  TConnection& target_;
  // Database path and parent key constraint of every key analysed this run.
  std::set<std::pair<std::string, std::string>> analysed_;
};
