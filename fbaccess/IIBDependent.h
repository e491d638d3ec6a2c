#pragma once

// A statement that depends on a database attachment and a transaction. The
// database tells its dependents before it detaches, the transaction before it
// commits or rolls back, so that open cursors close and statement handles are
// freed while the handles they belong to are still valid.
class IIBDependent {
 public:
  virtual ~IIBDependent() = default;
  virtual void DatabaseClosing() = 0;
  virtual void TransactionEnding() = 0;
  // The database or transaction object itself goes away: a dependent that
  // outlives it must forget it, so that it never reaches it again.
  virtual void DatabaseDestroyed() {}
  virtual void TransactionDestroyed() {}
};
