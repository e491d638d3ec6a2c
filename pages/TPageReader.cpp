#include "pages/TPageReader.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "pages/Ods.h"
#include "pages/TRecordCodec.h"
#include "pages/TRecordFormat.h"
#include "pages/TSystemFormats.h"

namespace {

// Bounds on chains that damage could turn into cycles.
constexpr int kMaxFragments = 70000;
constexpr int kMaxVersions = 100000;

std::size_t HeaderSize(std::uint16_t flags) {
  if ((flags & ods::kRhdIncomplete) != 0) {
    return ods::kRhdfSize;
  }
  return (flags & ods::kRhdLongTranum) != 0 ? ods::kRhdeSize : ods::kRhdSize;
}

}  // namespace

TPageReader::TPageReader(const std::string& path) : file_(path) {
  header_ = THeaderPage::Read(file_);
  if (header_.Valid()) {
    file_.SetPageSize(header_.pageSize);
  } else {
    const std::uint32_t probed = THeaderPage::ProbePageSize(file_);
    if (probed == 0) {
      throw std::runtime_error("Não foi possível achar o tamanho de página de " + path);
    }
    file_.SetPageSize(probed);
  }
  ReadPagesRelation();
}

const TPageScan& TPageReader::Scan() {
  if (!scan_) {
    scan_ = std::make_unique<TPageScan>(TPageScan::Run(file_));
  }
  return *scan_;
}

void TPageReader::ReadPagesRelation() {
  // RDB$PAGES's own pointer pages: a chain from the header, else the scan's.
  std::vector<TSequencedPage> own;
  if (header_.Valid()) {
    std::set<std::uint32_t> seen;
    std::uint32_t next = header_.pagesRelation;
    for (std::uint32_t sequence = 0; next != 0 && seen.insert(next).second; ++sequence) {
      own.push_back(TSequencedPage{sequence, next});
      const auto page = file_.Page(next);
      if (page == nullptr || (*page)[0] != ods::kPagePointer ||
          ods::U16(*page, ods::kPpgRelation) != TSystemFormats::kPages) {
        break;
      }
      next = ods::U32(*page, ods::kPpgNext);
    }
  } else {
    const auto& scanned = Scan().pointerPages;
    if (const auto found = scanned.find(TSystemFormats::kPages); found != scanned.end()) {
      own = found->second;
    }
  }
  pointerPages_[TSystemFormats::kPages] = own;

  const TRecordFormat format = *TSystemFormats::For(TSystemFormats::kPages);
  const auto& fields = format.Fields();
  std::map<std::uint16_t, std::vector<TSequencedPage>> listed;
  std::vector<TSequencedPage> tips;
  TReadCounts counts;
  ReadRecords(
      TSystemFormats::kPages,
      [&](const TRecordImage& record) {
        if (record.data.size() != format.Length()) {
          return false;
        }
        const ods::TBytesView b(record.data);
        const std::uint32_t page = ods::U32(b, fields[TSystemFormats::Pages::kPageNumber].offset);
        const std::uint16_t relation =
            ods::U16(b, fields[TSystemFormats::Pages::kRelationId].offset);
        const std::uint32_t sequence = ods::U32(b, fields[TSystemFormats::Pages::kSequence].offset);
        const std::uint16_t type = ods::U16(b, fields[TSystemFormats::Pages::kType].offset);
        if (type == ods::kPagePointer) {
          listed[relation].push_back(TSequencedPage{sequence, page});
        } else if (type == ods::kPageTransactions) {
          tips.push_back(TSequencedPage{sequence, page});
        } else if (type == ods::kPageIndexRoot) {
          indexRootPages_.emplace(relation, page);
        }
        return true;
      },
      counts);
  pagesRelationIntact_ =
      header_.Valid() && !own.empty() && counts.pagesDamaged == 0 && counts.recordsUndecodable == 0;
  pagesRelationDamage_ = counts.damagedPages;

  for (auto& [relation, pages] : listed) {
    if (relation != TSystemFormats::kPages) {
      std::sort(pages.begin(), pages.end());
      pointerPages_[relation] = pages;
    }
  }
  std::sort(tips.begin(), tips.end());
  std::vector<std::uint32_t> tipPages;
  for (const TSequencedPage& t : tips) {
    tipPages.push_back(t.page);
  }
  if (!pagesRelationIntact_) {
    // Complete what RDB$PAGES gave with the pages that carry their own relation id.
    for (const auto& [relation, pages] : Scan().pointerPages) {
      auto& known = pointerPages_[relation];
      for (const TSequencedPage& p : pages) {
        if (std::none_of(known.begin(), known.end(),
                         [&](const TSequencedPage& k) { return k.page == p.page; })) {
          known.push_back(p);
        }
      }
      std::sort(known.begin(), known.end());
    }
    if (Scan().tipPages.size() > tipPages.size()) {
      tipPages = Scan().tipPages;
    }
  }
  inventory_ = TTransactionInventory(file_, std::move(tipPages),
                                     header_.Valid() ? header_.nextTransaction : 0);
}

std::uint32_t TPageReader::IndexRootPage(std::uint16_t relationId) {
  if (const auto listed = indexRootPages_.find(relationId); listed != indexRootPages_.end()) {
    return listed->second;
  }
  if (pagesRelationIntact_) {
    return 0;
  }
  const auto& scanned = Scan().indexRootPages;
  const auto found = scanned.find(relationId);
  return found == scanned.end() ? 0 : found->second;
}

std::vector<TSequencedPage> TPageReader::DataPages(std::uint16_t relationId, TReadCounts& counts) {
  const std::uint32_t perPointerPage = ods::DataPagesPerPointerPage(PageSize());
  std::vector<TSequencedPage> pages;
  bool scan = !pagesRelationIntact_;
  std::uint32_t expected = 0;
  const auto listed = pointerPages_.find(relationId);
  if (listed != pointerPages_.end()) {
    for (const TSequencedPage& pp : listed->second) {
      const auto page = file_.Page(pp.page);
      if (page == nullptr || (*page)[0] != ods::kPagePointer ||
          ods::U32(*page, ods::kPageNumberOffset) != pp.page ||
          ods::U16(*page, ods::kPpgRelation) != relationId ||
          ods::U32(*page, ods::kPpgSequence) != pp.sequence ||
          ods::U16(*page, ods::kPpgCount) > perPointerPage) {
        counts.AddDamagedPage(pp.page);
        scan = true;
        continue;
      }
      if (pp.sequence != expected) {
        scan = true;
      }
      expected = pp.sequence + 1;
      const std::uint16_t count = ods::U16(*page, ods::kPpgCount);
      for (std::uint32_t slot = 0; slot < count; ++slot) {
        const std::uint32_t number = ods::U32(*page, ods::kPpgPages + 4 * slot);
        if (number != 0) {
          pages.push_back(TSequencedPage{pp.sequence * perPointerPage + slot, number});
        }
      }
    }
  } else if (pagesRelationIntact_ && relationId != TSystemFormats::kPages) {
    return pages;  // RDB$PAGES whole and silent: the relation has no pages
  }
  if (scan) {
    counts.pagesScanned = true;
    const auto& scanned = Scan().dataPages;
    if (const auto found = scanned.find(relationId); found != scanned.end()) {
      std::set<std::uint32_t> known;
      for (const TSequencedPage& p : pages) {
        known.insert(p.page);
      }
      for (const TSequencedPage& p : found->second) {
        if (known.insert(p.page).second) {
          pages.push_back(p);
        }
      }
    }
  }
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end(),
                          [](const TSequencedPage& a, const TSequencedPage& b) {
                            return a.page == b.page;
                          }),
              pages.end());
  return pages;
}

bool TPageReader::ValidDataPage(const TPage& page, std::uint32_t number,
                                std::uint16_t relationId) const {
  return page.size() == PageSize() && page[0] == ods::kPageData &&
         ods::U32(page, ods::kPageNumberOffset) == number &&
         ods::U16(page, ods::kDpgRelation) == relationId &&
         ods::kDpgLines + 4u * ods::U16(page, ods::kDpgCount) <= page.size();
}

std::optional<TPageReader::TSlot> TPageReader::Slot(std::uint32_t number, std::uint16_t line,
                                                    std::uint16_t relationId) {
  auto page = file_.Page(number);
  if (page == nullptr || !ValidDataPage(*page, number, relationId) ||
      line >= ods::U16(*page, ods::kDpgCount)) {
    return std::nullopt;
  }
  const std::size_t entry = ods::kDpgLines + 4u * line;
  TSlot slot;
  slot.offset = ods::U16(*page, entry);
  slot.length = ods::U16(*page, entry + 2);
  if (slot.offset < ods::kDpgLines || slot.length < ods::kRhdSize ||
      !ods::Fits(*page, slot.offset, slot.length)) {
    return std::nullopt;
  }
  slot.flags = ods::U16(*page, slot.offset + ods::kRhdFlags);
  slot.page = std::move(page);
  return slot;
}

bool TPageReader::Assemble(const TSlot& first, std::uint16_t relationId,
                           std::vector<std::uint8_t>& out) {
  TSlot slot = first;
  for (int hops = 0;; ++hops) {
    const std::size_t header = HeaderSize(slot.flags);
    if (slot.length < header || hops > kMaxFragments) {
      return false;
    }
    const ods::TBytesView bytes(slot.page->data() + slot.offset, slot.length);
    if (!TRecordCodec::Unpack(bytes.subspan(header), out, ods::kMaxRecordLength)) {
      return false;
    }
    if ((slot.flags & ods::kRhdIncomplete) == 0) {
      return true;
    }
    const std::uint32_t page = ods::U32(bytes, ods::kRhdfForwardPage);
    const std::uint16_t line = ods::U16(bytes, ods::kRhdfForwardLine);
    const auto next = Slot(page, line, relationId);
    if (!next || (next->flags & ods::kRhdFragment) == 0) {
      return false;
    }
    slot = *next;
  }
}

void TPageReader::ReadRecords(std::uint16_t relationId, const TRecordCallback& onRecord,
                              TReadCounts& counts, const TPlaceCallback& onUndecodable) {
  const bool useInventory = inventory_.Usable();
  counts.tipUsed = useInventory;
  std::uint64_t chainSeen = 0;
  std::uint64_t chainGiven = 0;
  for (const TSequencedPage& listed : DataPages(relationId, counts)) {
    const auto page = file_.Page(listed.page);
    if (page == nullptr || !ValidDataPage(*page, listed.page, relationId)) {
      counts.AddDamagedPage(listed.page);
      continue;
    }
    ++counts.dataPages;
    const std::uint16_t lines = ods::U16(*page, ods::kDpgCount);
    for (std::uint16_t line = 0; line < lines; ++line) {
      const auto undecodable = [&] {
        ++counts.recordsUndecodable;
        if (onUndecodable) {
          onUndecodable(listed.page, line);
        }
      };
      const std::size_t entry = ods::kDpgLines + 4u * line;
      if (ods::U16(*page, entry) == 0) {
        continue;  // an empty line
      }
      const auto slot = Slot(listed.page, line, relationId);
      if (!slot) {
        undecodable();
        continue;
      }
      if ((slot->flags & ods::kRhdChain) != 0) {
        ++chainSeen;
        continue;
      }
      if ((slot->flags & (ods::kRhdFragment | ods::kRhdBlob)) != 0) {
        continue;
      }
      // From the primary version back to the newest committed one. A delta
      // flag means the next older version holds only differences against
      // this one, so its data is kept for that.
      TSlot version = *slot;
      bool haveNewer = false;
      for (int depth = 0; depth < kMaxVersions; ++depth) {
        const ods::TBytesView header(version.page->data() + version.offset, version.length);
        const std::uint64_t tx = ods::RecordTransaction(header, version.flags);
        const bool committed =
            !useInventory || inventory_.State(tx) == ods::TTransactionState::Committed;
        const bool deleted = (version.flags & ods::kRhdDeleted) != 0;
        const bool needData = committed ? !deleted : (version.flags & ods::kRhdDelta) != 0;
        if ((version.flags & ods::kRhdDamaged) != 0) {
          undecodable();
          break;
        }
        if (needData) {
          scratch_.clear();
          if (!Assemble(version, relationId, scratch_)) {
            undecodable();
            break;
          }
          if (haveNewer) {
            // This version was stored as differences against newer_.
            std::vector<std::uint8_t> differences;
            differences.swap(scratch_);
            scratch_ = newer_;
            if (!TRecordCodec::ApplyDiff(differences, scratch_)) {
              undecodable();
              break;
            }
          }
        }
        if (committed) {
          if (deleted) {
            ++counts.deletedRecords;
          } else {
            if (onRecord(TRecordImage{listed.page, line, ods::U8(header, ods::kRhdFormat), tx,
                                      scratch_})) {
              ++counts.recordsRead;
            } else {
              undecodable();
            }
            chainGiven += depth > 0 ? 1 : 0;
          }
          break;
        }
        if (depth == 0) {
          ++counts.uncommittedSkipped;
        }
        haveNewer = (version.flags & ods::kRhdDelta) != 0;
        if (haveNewer) {
          newer_ = scratch_;
        }
        const std::uint32_t backPage = ods::U32(header, ods::kRhdBackPage);
        const std::uint16_t backLine = ods::U16(header, ods::kRhdBackLine);
        if (backPage == 0) {
          break;  // inserted by a transaction that did not commit
        }
        const auto back = Slot(backPage, backLine, relationId);
        if (!back || (back->flags & ods::kRhdChain) == 0) {
          undecodable();
          break;
        }
        version = *back;
      }
    }
  }
  counts.backVersionsSkipped += chainSeen > chainGiven ? chainSeen - chainGiven : 0;
}

std::uint32_t TPageReader::DataPageOf(std::uint16_t relationId, std::uint32_t sequence) {
  const std::uint32_t perPointerPage = ods::DataPagesPerPointerPage(PageSize());
  const auto listed = pointerPages_.find(relationId);
  if (listed != pointerPages_.end()) {
    const std::uint32_t ppSequence = sequence / perPointerPage;
    for (const TSequencedPage& pp : listed->second) {
      if (pp.sequence != ppSequence) {
        continue;
      }
      const auto page = file_.Page(pp.page);
      const std::uint32_t slot = sequence % perPointerPage;
      if (page != nullptr && (*page)[0] == ods::kPagePointer &&
          ods::U32(*page, ods::kPageNumberOffset) == pp.page &&
          ods::U16(*page, ods::kPpgRelation) == relationId &&
          slot < ods::U16(*page, ods::kPpgCount)) {
        const std::uint32_t number = ods::U32(*page, ods::kPpgPages + 4 * slot);
        if (number != 0) {
          return number;
        }
      }
    }
  }
  if (!scan_ && pagesRelationIntact_) {
    Scan();  // a pointer page let us down: look at the pages themselves
  }
  const auto& scanned = Scan().dataPages;
  const auto found = scanned.find(relationId);
  if (found == scanned.end()) {
    return 0;
  }
  const auto at =
      std::lower_bound(found->second.begin(), found->second.end(), TSequencedPage{sequence, 0});
  return at != found->second.end() && at->sequence == sequence ? at->page : 0;
}

std::optional<std::vector<std::uint8_t>> TPageReader::ReadBlob(const std::uint8_t* blobId) {
  const ods::TBytesView id(blobId, 8);
  const std::uint16_t relationId = ods::U16(id, 0);
  const std::uint64_t number = std::uint64_t(ods::U32(id, 4)) | (std::uint64_t(id[3]) << 32);
  const std::uint32_t perPage = ods::MaxRecordsPerPage(PageSize());
  const std::uint64_t sequence = number / perPage;
  if (sequence > UINT32_MAX) {
    return std::nullopt;
  }
  const std::uint32_t page = DataPageOf(relationId, std::uint32_t(sequence));
  if (page == 0) {
    return std::nullopt;
  }
  const auto slot = Slot(page, std::uint16_t(number % perPage), relationId);
  if (!slot || (slot->flags & ods::kRhdBlob) == 0 || (slot->flags & ods::kRhdDamaged) != 0 ||
      slot->length < ods::kBlhSize) {
    return std::nullopt;
  }
  const ods::TBytesView header(slot->page->data() + slot->offset, slot->length);
  const std::uint8_t level = ods::U8(header, ods::kBlhLevel);
  const std::uint64_t length = ods::U32(header, ods::kBlhLength);
  if (length > kMaxBlobBytes || length > file_.FileSize()) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> raw;
  if (!ReadBlobPages(*slot, level, length, raw)) {
    return std::nullopt;
  }
  if ((slot->flags & ods::kRhdStreamBlob) != 0) {
    if (raw.size() < length) {
      return std::nullopt;
    }
    raw.resize(length);
    return raw;
  }
  // Segmented: each segment carries its 16-bit length first.
  std::vector<std::uint8_t> content;
  content.reserve(length);
  std::size_t at = 0;
  while (content.size() < length) {
    if (!ods::Fits(raw, at, 2)) {
      return std::nullopt;
    }
    const std::size_t segment = ods::U16(raw, at);
    at += 2;
    if (!ods::Fits(raw, at, segment) || content.size() + segment > length) {
      return std::nullopt;
    }
    content.insert(content.end(), raw.begin() + at, raw.begin() + at + segment);
    at += segment;
  }
  return content;
}

bool TPageReader::ReadBlobPages(const TSlot& slot, std::uint8_t level, std::uint64_t length,
                                std::vector<std::uint8_t>& raw) {
  const ods::TBytesView body(slot.page->data() + slot.offset + ods::kBlhSize,
                             slot.length - ods::kBlhSize);
  if (level == 0) {
    raw.assign(body.begin(), body.end());
    return true;
  }
  if (level > 2) {
    return false;
  }
  const std::uint32_t perPage = PageSize() - std::uint32_t(ods::kBlpData);
  // Segment length words make the pages hold a little more than the data.
  const std::uint64_t maxRaw = length + 2 * (length + 1) + perPage;
  const std::uint32_t maxSequence =
      ods::U32(ods::TBytesView(slot.page->data() + slot.offset, slot.length), ods::kBlhMaxSequence);
  auto append = [&](std::uint32_t number, std::uint32_t sequence) {
    const auto page = file_.Page(number);
    if (page == nullptr || (*page)[0] != ods::kPageBlob ||
        ods::U32(*page, ods::kPageNumberOffset) != number ||
        ods::U32(*page, ods::kBlpSequence) != sequence || ((*page)[1] & ods::kBlpPointers) != 0) {
      return false;
    }
    const std::uint16_t used = ods::U16(*page, ods::kBlpLength);
    if (used > perPage || raw.size() + used > maxRaw) {
      return false;
    }
    raw.insert(raw.end(), page->begin() + ods::kBlpData, page->begin() + ods::kBlpData + used);
    return true;
  };
  const std::size_t vector = body.size() / 4;
  if (level == 1) {
    for (std::uint32_t sequence = 0; sequence < vector && sequence <= maxSequence; ++sequence) {
      if (!append(ods::U32(body, 4 * sequence), sequence)) {
        return false;
      }
    }
    return true;
  }
  const std::uint32_t pointers = perPage / 4;
  std::shared_ptr<const TPage> pointerPage;
  std::uint32_t pointerIndex = UINT32_MAX;
  for (std::uint32_t sequence = 0; sequence <= maxSequence; ++sequence) {
    if (sequence / pointers != pointerIndex) {
      pointerIndex = sequence / pointers;
      if (pointerIndex >= vector) {
        return false;
      }
      const std::uint32_t number = ods::U32(body, 4 * pointerIndex);
      pointerPage = file_.Page(number);
      if (pointerPage == nullptr || (*pointerPage)[0] != ods::kPageBlob ||
          ods::U32(*pointerPage, ods::kPageNumberOffset) != number ||
          ((*pointerPage)[1] & ods::kBlpPointers) == 0) {
        return false;
      }
    }
    const std::uint32_t number = ods::U32(*pointerPage, ods::kBlpData + 4 * (sequence % pointers));
    if (!append(number, sequence)) {
      return false;
    }
  }
  return true;
}
