#include "pages/TTransactionInventory.h"

TTransactionInventory::TTransactionInventory(TPageFile& file, std::vector<std::uint32_t> pages,
                                             std::uint64_t nextTransaction)
    : file_(&file),
      pages_(std::move(pages)),
      nextTransaction_(nextTransaction),
      perPage_(ods::TransactionsPerTip(file.PageSize())) {
  for (const std::uint32_t number : pages_) {
    const auto page = file.Page(number);
    if (page == nullptr || (*page)[0] != ods::kPageTransactions ||
        ods::U32(*page, ods::kPageNumberOffset) != number) {
      damaged_.push_back(number);
    }
  }
  const bool covered = nextTransaction_ == 0 || nextTransaction_ / perPage_ < pages_.size();
  usable_ = !pages_.empty() && damaged_.empty() && covered;
}

ods::TTransactionState TTransactionInventory::State(std::uint64_t transaction) const {
  if (transaction == 0) {
    return ods::TTransactionState::Committed;
  }
  if (file_ == nullptr || (nextTransaction_ != 0 && transaction > nextTransaction_)) {
    return ods::TTransactionState::Active;
  }
  const std::uint64_t index = transaction / perPage_;
  if (index >= pages_.size()) {
    return ods::TTransactionState::Active;
  }
  const auto page = file_->Page(pages_[index]);
  if (page == nullptr) {
    return ods::TTransactionState::Active;
  }
  const std::uint64_t slot = transaction % perPage_;
  const std::uint8_t byte = ods::U8(*page, ods::kTipTransactions + slot / 4);
  return static_cast<ods::TTransactionState>((byte >> (2 * (slot % 4))) & 3);
}
