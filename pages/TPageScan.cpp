#include "pages/TPageScan.h"

#include <algorithm>
#include <set>

#include "pages/Ods.h"

namespace {

bool AllZero(ods::TBytesView b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t c) { return c == 0; });
}

}  // namespace

void TPageScan::AddDamage(std::uint32_t page, std::string reason) {
  ++damagedCount;
  if (damaged.size() < kMaxListedDamage) {
    damaged.push_back(TDamagedPage{page, std::move(reason)});
  }
}

bool TPageScan::IsDamaged(std::uint32_t page) const {
  return std::binary_search(
      damaged.begin(), damaged.end(), TDamagedPage{page, {}},
      [](const TDamagedPage& a, const TDamagedPage& b) { return a.page < b.page; });
}

TPageScan TPageScan::Run(const TPageFile& file) {
  TPageScan scan;
  const std::uint32_t pageSize = file.PageSize();
  const std::uint32_t perPip = (pageSize - std::uint32_t(ods::kPipBits)) * 8;
  std::vector<std::uint8_t> pip;  // the inventory page covering the current pages
  std::uint32_t pipSequence = UINT32_MAX;

  file.ForEachPage([&](const std::uint32_t number, const ods::TBytesView page) {
    const std::uint8_t type = page[0];
    if (number / perPip != pipSequence) {
      // The inventory page of this range sits just before it (the first at page 1).
      pipSequence = number / perPip;
      const std::uint32_t pipPage = pipSequence == 0 ? 1 : pipSequence * perPip - 1;
      TPage bytes;
      pip.clear();
      if (file.ReadPage(pipPage, bytes) && bytes[0] == ods::kPageInventory &&
          ods::U32(bytes, ods::kPageNumberOffset) == pipPage) {
        pip = std::move(bytes);
      }
    }
    const std::uint32_t bit = number % perPip;
    const bool free = !pip.empty() && (pip[ods::kPipBits + bit / 8] & (1u << (bit % 8))) != 0;
    if (free) {
      // Released pages keep their old content; none of it is live.
      ++scan.freePages;
      return;
    }
    if (type == ods::kPageUndefined) {
      ++scan.typeCounts[0];
      if (!AllZero(page)) {
        scan.AddDamage(number, "tipo de página zero com conteúdo");
      } else {
        scan.AddDamage(number, pip.empty() ? "zerada (sem inventário para dizer se está livre)"
                                           : "zerada, mas em uso segundo o inventário");
      }
      return;
    }
    if (type > ods::kPageTypeMax) {
      ++scan.typeCounts[0];
      scan.AddDamage(number, "tipo de página desconhecido (" + std::to_string(type) + ")");
      return;
    }
    ++scan.typeCounts[type];
    // Page 0 carries 0 as its number, like every page its own.
    if (ods::U32(page, ods::kPageNumberOffset) != number) {
      scan.AddDamage(number, "traz o número de outra página");
      return;
    }
    if (type == ods::kPageData) {
      const std::uint16_t count = ods::U16(page, ods::kDpgCount);
      if (ods::kDpgLines + 4u * count > pageSize) {
        scan.AddDamage(number, "página de dados com contagem impossível");
        return;
      }
      scan.dataPages[ods::U16(page, ods::kDpgRelation)].push_back(
          TSequencedPage{ods::U32(page, ods::kDpgSequence), number});
    } else if (type == ods::kPagePointer) {
      if (ods::U16(page, ods::kPpgCount) > ods::DataPagesPerPointerPage(pageSize)) {
        scan.AddDamage(number, "página de ponteiros com contagem impossível");
        return;
      }
      scan.pointerPages[ods::U16(page, ods::kPpgRelation)].push_back(
          TSequencedPage{ods::U32(page, ods::kPpgSequence), number});
    } else if (type == ods::kPageIndexRoot) {
      scan.indexRootPages.emplace(ods::U16(page, ods::kIrtRelation), number);
    } else if (type == ods::kPageTransactions) {
      scan.tipNext[number] = ods::U32(page, ods::kTipNext);
    } else if (type == ods::kPageHeader && number != 0) {
      scan.AddDamage(number, "página de cabeçalho fora do lugar");
    }
  });
  for (auto& [relation, pages] : scan.dataPages) {
    std::sort(pages.begin(), pages.end());
  }
  for (auto& [relation, pages] : scan.pointerPages) {
    std::sort(pages.begin(), pages.end());
  }
  // The first inventory page is the one no other points to; follow the chain.
  std::set<std::uint32_t> pointedTo;
  for (const auto& [page, next] : scan.tipNext) {
    pointedTo.insert(next);
  }
  for (const auto& [page, next] : scan.tipNext) {
    if (pointedTo.count(page) == 0) {
      std::set<std::uint32_t> seen;
      for (std::uint32_t p = page; p != 0 && scan.tipNext.count(p) && seen.insert(p).second;
           p = scan.tipNext[p]) {
        scan.tipPages.push_back(p);
      }
      break;
    }
  }
  return scan;
}
