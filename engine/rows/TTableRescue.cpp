#include "engine/rows/TTableRescue.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

#include "engine/firebird/SqlName.h"
#include "engine/firebird/TAttachment.h"
#include "engine/rows/KeyText.h"
#include "engine/rows/TForcedWritesPause.h"
#include "engine/rows/TKeySet.h"
#include "engine/rows/TRowBatcher.h"
#include "engine/rows/TTriggerPause.h"
#include "engine/run/TextUtil.h"

namespace {

std::string IntegerKey(long long key) {
  std::string text;
  AppendLookupValue(text, std::to_string(key), true);
  return text;
}

void Quietly(TIBQuery& query) {
  try {
    query.Close();
  } catch (...) {
    // the statement goes with its attachment anyway
  }
}

}  // namespace

// Where a row came from.
enum class TSource { Server, Pages, OlderBackup };

// The work on one table: the insert statements, the keys (or rows) the
// target holds, the rows waiting for their block, the rows that could not be
// inserted yet and the counts.
class TTableRescue::TRun {
 public:
  TRun(TRecoveryContext& context, TConnection& damaged, TConnection& target, TConnection* older,
       TTableLayout layout)
      : context_(context),
        damaged_(damaged),
        older_(older),
        layout_(std::move(layout)),
        rows_(target, layout_) {
    for (const std::string& column : layout_.PrimaryKey()) {
      keyPositions_.push_back(layout_.IndexOf(column));
      if (keyPositions_.back() == layout_.Columns().size()) {
        keyPositions_.clear();  // a key column the copy cannot carry: matched as whole rows
        break;
      }
    }
    LoadTargetRows(target);
  }

  void ReadDamaged();
  // The server could not read the table at all.
  void Unreadable(const std::string& error) {
    NoteUnreadable(error);
    counts_.LostKnown = false;
  }
  // True when the server failed somewhere on the table: the pages may hold more.
  bool ServerFailed() const { return !firstReadError_.empty(); }
  void ReadPages(TPageRows& pages);
  // Takes from the older backup the rows of keys the damaged file could not
  // answer for.
  void FillFromOlder();
  void RetryDeferred();
  TCounts Counts();

 private:
  bool Keyed() const { return !keyPositions_.empty(); }
  // The where clause that reads only the unread key ranges; empty when the
  // whole table must be read.
  std::string UnreadCondition() const;
  // More unread ranges than this read the older table whole.
  static constexpr std::size_t kMaxUnreadRanges = 64;
  bool InUnreadRange(const std::vector<TValue>& values) const {
    if (allUnread_) {
      return true;
    }
    const TValue& key = values[rangeKey_];
    if (key.IsNull()) {
      return false;
    }
    const long long value = key.AsInt64();
    return std::any_of(unread_.begin(), unread_.end(), [value](const auto& range) {
      return range.first <= value && value <= range.second;
    });
  }
  // Rows without a key match on their fields: an array the damaged file
  // could not give must not make its row differ from the older backup's.
  std::string Identity(const std::vector<TValue>& values) const {
    return Keyed() ? TTableLayout::KeyOf(values, keyPositions_)
                   : TTableLayout::RowText(values, layout_.Columns().size());
  }
  // True when the row is not in the target yet (and is counted in now).
  bool Claim(const std::vector<TValue>& values);
  // Queues the row for its block; a full block goes in at once.
  void Insert(const std::vector<TValue>& values, TSource source) {
    rows_.Add(values, static_cast<int>(source));
  }
  void LoadTargetRows(TConnection& target);
  // Reads rows of the open select to its end or to its first error; the
  // last key read goes to `lastKey`. False when a read failed.
  bool Drain(TIBQuery& select, std::size_t keyPosition, long long& lastKey, int& rows,
             std::string& error);
  void ReadByKeyRanges(std::size_t keyPosition, TFieldType keyType);
  // True when the whole table was read without an error.
  bool ReadInStorageOrder();
  void NoteUnreadable(const std::string& error);

  TRecoveryContext& context_;
  TConnection& damaged_;
  TConnection* older_;
  TTableLayout layout_;
  TRowBatcher rows_;  // the inserts into the target
  std::vector<std::size_t> keyPositions_;
  TKeySet keys_;                                     // keyed tables
  std::unordered_map<std::string, long long> held_;  // tables matched as whole rows
  std::vector<std::string> failedKeys_;
  // Key ranges the damaged database could not give; older rows are taken
  // only there (elsewhere a row it lacks was deleted since). Everything is
  // unread when the table could not be read by key.
  std::vector<std::pair<long long, long long>> unread_;
  bool allUnread_ = true;
  // Part of the key range was left unread without narrowing it to single
  // keys (the index there could not be read at all).
  bool unnarrowed_ = false;
  // Every row of the table was read, in storage order or from pages read
  // whole: keys that failed by key were no rows (their index page was lost,
  // not their row).
  bool everyRowSeen_ = false;
  std::size_t rangeKey_ = 0;  // position of the integer key read by ranges
  TCounts counts_;
  std::string firstReadError_;
  std::size_t unreadableArrays_ = 0;  // in rows read from the damaged file
};

void TTableRescue::TRun::LoadTargetRows(TConnection& target) {
  TIBQuery select;
  select.SetDatabase(&target.Database());
  select.SQL().SetText("select " + layout_.SelectList() + " from " + SqlName(layout_.Table()));
  select.Open();
  std::vector<TValue> values;
  while (!select.AtEnd()) {
    layout_.ReadRow(select, values);
    Claim(values);
    select.Next();
  }
  select.Close();
}

bool TTableRescue::TRun::Claim(const std::vector<TValue>& values) {
  const std::string identity = Identity(values);
  if (Keyed()) {
    return keys_.Insert(identity);
  }
  // Rows without a key: each copy of a row in the target stands for one row.
  ++held_[identity];
  return true;
}

void TTableRescue::TRun::RetryDeferred() {
  // Most often a row of a table that refers to itself whose parent came
  // later: tried again once the rest is in.
  rows_.Retry();
  for (const TRowBatcher::TRefused& row : rows_.Refused()) {
    context_.WriteLog("  Registro não inserido em " + layout_.Table() + ": " + row.error);
  }
  counts_.Lost += static_cast<long long>(rows_.Refused().size());
}

void TTableRescue::TRun::NoteUnreadable(const std::string& error) {
  if (firstReadError_.empty()) {
    firstReadError_ = error;
  }
}

bool TTableRescue::TRun::Drain(TIBQuery& select, std::size_t keyPosition, long long& lastKey,
                               int& rows, std::string& error) {
  std::vector<TValue> values;
  try {
    select.Open();
    while (!select.AtEnd()) {
      unreadableArrays_ += layout_.ReadRow(select, values);
      if (keyPosition < values.size()) {
        lastKey = values[keyPosition].AsInt64();
      }
      ++rows;
      if (Claim(values)) {
        Insert(values, TSource::Server);
      }
      select.Next();
    }
    select.Close();
    return true;
  } catch (const std::exception& e) {
    error = FirstLine(e.what());
    Quietly(select);
    return false;
  }
}

void TTableRescue::TRun::ReadByKeyRanges(std::size_t keyPosition, TFieldType keyType) {
  long long lowest = std::numeric_limits<long long>::min();
  long long highest = std::numeric_limits<long long>::max();
  if (keyType == TFieldType::Integer) {
    lowest = std::numeric_limits<std::int32_t>::min();
    highest = std::numeric_limits<std::int32_t>::max();
  } else if (keyType == TFieldType::Smallint) {
    lowest = std::numeric_limits<std::int16_t>::min();
    highest = std::numeric_limits<std::int16_t>::max();
  }
  const std::string key = SqlName(layout_.PrimaryKey().front());
  TIBQuery select;
  select.SetDatabase(&damaged_.Database());
  select.SQL().SetText("select first " + std::to_string(kBatchRows) + " " + layout_.SelectList() +
                       " from " + SqlName(layout_.Table()) + " where " + key + " >= :LO and " +
                       key + " <= :HI order by " + key);
  select.Prepare();

  // Ranges still to read, the lowest last so that it is read first.
  std::vector<std::pair<long long, long long>> ranges{{lowest, highest}};
  int failures = 0;
  // Single keys failed one after the other: past kFailedKeyRun, the index
  // pages of this part of the key range are taken as lost (a key that holds
  // no row fails there too), and ranges that fail at once are left unread
  // instead of narrowed, until a read succeeds again. Without this, a lost
  // index page in a sparse key range costs a failed read per key.
  int failedKeyRun = 0;
  while (!ranges.empty()) {
    auto [from, to] = ranges.back();
    ranges.pop_back();
    for (;;) {
      select.ParamNamed("LO").SetValue(TValue(from));
      select.ParamNamed("HI").SetValue(TValue(to));
      long long last = from;
      int rows = 0;
      std::string error;
      if (Drain(select, keyPosition, last, rows, error)) {
        failedKeyRun = 0;
        if (rows < kBatchRows || last == to) {
          break;  // the range is read
        }
        from = last + 1;
        continue;
      }
      NoteUnreadable(error);
      // The rows before the error are in; the failure lies after them.
      if (rows > 0) {
        failedKeyRun = 0;
        if (last == to) {
          break;
        }
        from = last + 1;
      }
      if (++failures > kMaxFailedReads) {
        counts_.LostKnown = false;  // the rest stays unread
        unnarrowed_ = true;
        unread_.emplace_back(from, to);
        unread_.insert(unread_.end(), ranges.begin(), ranges.end());
        ranges.clear();
        break;
      }
      if (from == to) {
        failedKeys_.push_back(IntegerKey(from));  // a row it cannot read, or a lost index page
        unread_.emplace_back(from, to);
        ++failedKeyRun;
        break;
      }
      if (failedKeyRun >= kFailedKeyRun) {
        counts_.LostKnown = false;
        unnarrowed_ = true;
        unread_.emplace_back(from, to);
        break;
      }
      const long long middle =
          from +
          static_cast<long long>(
              (static_cast<unsigned long long>(to) - static_cast<unsigned long long>(from)) / 2);
      ranges.emplace_back(middle + 1, to);
      ranges.emplace_back(from, middle);
      break;
    }
  }
}

bool TTableRescue::TRun::ReadInStorageOrder() {
  TIBQuery select;
  select.SetDatabase(&damaged_.Database());
  // Without an order the server reads the data pages as they are stored,
  // through no index: rows whose index pages are lost come too.
  select.SQL().SetText("select " + layout_.SelectList() + " from " + SqlName(layout_.Table()));
  long long last = 0;
  int rows = 0;
  std::string error;
  if (!Drain(select, layout_.Columns().size(), last, rows, error)) {
    NoteUnreadable(error);
    return false;
  }
  return true;
}

void TTableRescue::TRun::ReadDamaged() {
  try {
    TIBQuery probe;
    probe.SetDatabase(&damaged_.Database());
    probe.SQL().SetText("select " + layout_.SelectList() + " from " + SqlName(layout_.Table()));
    probe.Prepare();  // a destroyed pointer page already fails here, for any statement
  } catch (const std::exception& e) {
    NoteUnreadable(FirstLine(e.what()));
    counts_.LostKnown = false;
    return;
  }
  if (keyPositions_.size() == 1) {
    const TFieldType type = rows_.Types()[keyPositions_.front()];
    if (type == TFieldType::Smallint || type == TFieldType::Integer ||
        type == TFieldType::LargeInt) {
      try {
        ReadByKeyRanges(keyPositions_.front(), type);
        allUnread_ = false;
        rangeKey_ = keyPositions_.front();
        if (!unread_.empty()) {
          // What the key could not reach may still be read in storage order
          // (rows already in are not taken twice). Read to its end, the table
          // showed every row it has.
          everyRowSeen_ = ReadInStorageOrder();
          if (everyRowSeen_) {
            counts_.LostKnown = true;
            unread_.clear();  // a key not seen holds no row now: none from the older backup
          }
        }
        return;
      } catch (const std::exception& e) {
        NoteUnreadable(FirstLine(e.what()));
        counts_.LostKnown = false;
        return;
      }
    }
  }
  if (!ReadInStorageOrder()) {
    counts_.LostKnown = false;  // nothing tells how many rows came after the error
  }
}

void TTableRescue::TRun::ReadPages(TPageRows& pages) {
  // Rows of a table without a key match on their fields: each row the target
  // holds stands for one row of the pages.
  std::unordered_map<std::string, long long> matched;
  // Rows of a table that refers to itself are kept and inserted parents
  // first: in storage order a child often comes before its parent.
  const bool parentsFirst = !layout_.SelfReferences().empty();
  std::vector<std::vector<TValue>> missing;
  auto take = [&](const std::vector<TValue>& values) {
    if (parentsFirst) {
      missing.push_back(values);
    } else {
      Insert(values, TSource::Pages);
    }
  };
  const TPageRows::TRead read = pages.Read(layout_, [&](const std::vector<TValue>& values) {
    if (Keyed()) {
      // Where the server read the key range, what it gave is the table.
      if (InUnreadRange(values) && Claim(values)) {
        take(values);
      }
      return;
    }
    const std::string identity = Identity(values);
    long long& seen = matched[identity];
    long long& held = held_[identity];
    if (seen < held) {
      ++seen;  // the server gave it already
      return;
    }
    ++seen;
    ++held;
    take(values);
  });
  for (const std::size_t row :
       TTableLayout::ParentsFirst(missing.size(), layout_.LinksOf(missing))) {
    Insert(missing[row], TSource::Pages);
  }
  if (!read.problem.empty()) {
    context_.WriteLog("  Leitura de " + layout_.Table() +
                      " nas páginas do arquivo: " + read.problem);
    return;
  }
  if (read.whole) {
    // Every row the table holds was seen: a key missing now holds no row.
    counts_.LostKnown = true;
    everyRowSeen_ = true;
    allUnread_ = false;
    unread_.clear();
  } else {
    context_.WriteLog("  Leitura de " + layout_.Table() +
                      " nas páginas do arquivo: " + std::to_string(read.rows) + " registros; " +
                      std::to_string(read.pagesDamaged) + " página(s) danificada(s), " +
                      std::to_string(read.recordsUnreadable) + " registro(s) ilegível(is).");
  }
  if (read.blobsUnreadable > 0) {
    context_.WriteLog("  " + layout_.Table() + ": " + std::to_string(read.blobsUnreadable) +
                      " valor(es) blob ilegível(is) nas páginas do arquivo; as linhas foram "
                      "copiadas com o valor vazio (NULL).");
  }
}

std::string TTableRescue::TRun::UnreadCondition() const {
  if (allUnread_ || unread_.empty() || unread_.size() > kMaxUnreadRanges) {
    return {};
  }
  // Integer bounds only: written out, they need no parameter. The lowest
  // 64-bit integer has no literal of its own, so open ends are left open.
  constexpr long long kLowest = std::numeric_limits<long long>::min();
  constexpr long long kHighest = std::numeric_limits<long long>::max();
  const std::string key = SqlName(layout_.Columns()[rangeKey_]);
  std::string condition;
  for (const auto& [from, to] : unread_) {
    if (from == kLowest && to == kHighest) {
      return {};
    }
    condition += condition.empty() ? " where " : " or ";
    if (from == kLowest) {
      condition += key + " <= " + std::to_string(to);
    } else if (to == kHighest) {
      condition += key + " >= " + std::to_string(from);
    } else {
      condition += key + " between " + std::to_string(from) + " and " + std::to_string(to);
    }
  }
  return condition;
}

void TTableRescue::TRun::FillFromOlder() {
  if (older_ == nullptr || (!allUnread_ && unread_.empty())) {
    return;  // the damaged file answered for every key: nothing to take
  }
  TIBQuery select;
  select.SetDatabase(&older_->Database());
  // Only the unread key ranges, through the key's index, when they are few;
  // InUnreadRange still decides for each row.
  select.SQL().SetText("select " + layout_.SelectList() + " from " + SqlName(layout_.Table()) +
                       UnreadCondition());
  select.Open();
  // Missing rows of a table that refers to itself are kept and inserted
  // parents first; any other table's go in as they are read.
  const bool parentsFirst = !layout_.SelfReferences().empty();
  std::vector<std::vector<TValue>> missing;
  std::vector<TValue> values;
  auto take = [&] {
    if (parentsFirst) {
      missing.push_back(values);
    } else {
      Insert(values, TSource::OlderBackup);
    }
  };
  while (!select.AtEnd()) {
    layout_.ReadRow(select, values);
    if (!InUnreadRange(values)) {
      // read from the damaged database: not there any more
    } else if (Keyed()) {
      if (keys_.Insert(Identity(values))) {
        take();
      }
    } else {
      auto held = held_.find(Identity(values));
      if (held != held_.end() && held->second > 0) {
        --held->second;
      } else {
        take();
      }
    }
    select.Next();
  }
  select.Close();
  for (const std::size_t row :
       TTableLayout::ParentsFirst(missing.size(), layout_.LinksOf(missing))) {
    Insert(missing[row], TSource::OlderBackup);
  }
}

TTableRescue::TCounts TTableRescue::TRun::Counts() {
  counts_.FromDamaged = rows_.Inserted(static_cast<int>(TSource::Server));
  counts_.FromPages = rows_.Inserted(static_cast<int>(TSource::Pages));
  counts_.FromOlderBackup = rows_.Inserted(static_cast<int>(TSource::OlderBackup));
  // A key that failed is a lost row only where the index could be trusted:
  // not when the whole table read in storage order without it, and not
  // where its pages were found lost.
  if (!everyRowSeen_ && !unnarrowed_) {
    for (const std::string& key : failedKeys_) {
      // Not given by the older backup either: the key is still free.
      if (!keys_.Contains(key)) {
        ++counts_.Lost;
      }
    }
  }
  if (!firstReadError_.empty()) {
    context_.WriteLog("  Leitura de " + layout_.Table() +
                      " no banco danificado: " + firstReadError_);
  }
  if (unreadableArrays_ > 0) {
    context_.WriteLog("  " + layout_.Table() + ": " +
                      TTableLayout::UnreadableArraysText(unreadableArrays_, "no banco danificado"));
  }
  return counts_;
}

TTableRescue::TTableRescue(TRecoveryContext& context, TConnection& damaged, TConnection& target,
                           TConnection* older, std::string pagesFile)
    : context_(context),
      damaged_(damaged),
      target_(target),
      older_(older),
      pages_(pagesFile.empty() ? context.DatabasePath() : std::move(pagesFile)) {}

TTableRescue::TCounts TTableRescue::Rescue(const std::string& table) {
  TAttachment targetAttachment(target_);
  // A file the server cannot even attach (cut before pages it reads at the
  // attach) still has its pages.
  std::unique_ptr<TAttachment> damagedAttachment;
  std::string attachError;
  try {
    damagedAttachment = std::make_unique<TAttachment>(damaged_);
  } catch (const std::exception& e) {
    attachError = FirstLine(e.what());
  }
  std::unique_ptr<TAttachment> olderAttachment;
  if (older_ != nullptr) {
    olderAttachment = std::make_unique<TAttachment>(*older_);
  }
  TCounts counts;
  try {
    // The target is the run's own: its pages go to the disk once, at the
    // end, not one by one as the server's cache lets them go.
    TForcedWritesPause writes(target_);
    // Rebuilt rows keep their values: no trigger of the target runs on them.
    TTriggerPause triggers(target_, {table});
    TRun run(context_, damaged_, target_, older_, TTableLayout::Read(target_, table));
    if (damagedAttachment != nullptr) {
      run.ReadDamaged();
    } else {
      run.Unreadable(attachError);
    }
    if (run.ServerFailed()) {
      run.ReadPages(pages_);
    }
    run.FillFromOlder();
    run.RetryDeferred();
    counts = run.Counts();
    target_.Transaction().Commit();
    triggers.Resume();
    if (!triggers.Paused().empty()) {
      context_.WriteLog("  " + triggers.LogLine());
    }
    writes.Resume();
  } catch (...) {
    if (target_.Transaction().Active()) {
      target_.Transaction().Rollback();
    }
    throw;
  }
  for (TConnection* read : {&damaged_, older_}) {
    if (read != nullptr && read->Database().Connected() && read->Transaction().Active()) {
      read->Transaction().Rollback();  // nothing was written there
    }
  }
  context_.WriteLog(LogLine(table, counts));
  return counts;
}

std::string TTableRescue::LogLine(const std::string& table, const TCounts& counts) {
  return "Tabela " + table + ": " + std::to_string(counts.FromDamaged) +
         " registros lidos do banco danificado, " + std::to_string(counts.FromPages) +
         " das páginas do arquivo, " + std::to_string(counts.FromOlderBackup) +
         " do backup anterior, " +
         (counts.LostKnown ? std::to_string(counts.Lost) + " perdidos."
                           : "perdidos: " + std::to_string(counts.Lost) +
                                 " conhecidos; parte da tabela não pôde ser lida, o total "
                                 "perdido não é conhecido.");
}
