#include "pages/TIndexReader.h"

#include <set>

namespace {

// One node of a b-tree page, its key kept in a buffer shared by the page.
struct TNode {
  std::uint64_t recordNumber = 0;
  std::uint32_t child = 0;  // the page below, on upper levels
  std::size_t keyOffset = 0;
  std::size_t keyLength = 0;
};

enum class TPageEnd { Level, Bucket, Broken };

// Numbers are stored 7 bits a byte, low bits first, the high bit saying
// another byte follows; at most `maxBytes` bytes (the engine's limit).
bool ReadNumber(ods::TBytesView b, std::size_t& at, std::size_t end, int maxBytes, int shift,
                std::uint64_t& value) {
  for (int i = 0; i < maxBytes; ++i) {
    if (at >= end) {
      return false;
    }
    const std::uint8_t byte = b[at++];
    value |= std::uint64_t(byte & 0x7F) << shift;
    shift += 7;
    if ((byte & 0x80) == 0) {
      return true;
    }
  }
  return true;  // the engine stops reading there too
}

// The nodes of one b-tree page in order, keys rebuilt from their prefixes.
// The end-of-bucket node repeats the sibling's first key and is left out.
TPageEnd ParseNodes(ods::TBytesView page, bool leaf, std::vector<TNode>& nodes,
                    std::vector<std::uint8_t>& keys) {
  nodes.clear();
  keys.clear();
  const std::size_t end = ods::U16(page, ods::kBtrLength);
  std::size_t at = ods::kBtrNodes + ods::U16(page, ods::kBtrJumpSize);
  std::size_t previousOffset = 0;
  std::size_t previousLength = 0;
  while (at < end) {
    const std::uint8_t first = page[at++];
    const std::uint8_t kind = first >> 5;
    if (kind == ods::kBtnEndLevel) {
      return TPageEnd::Level;
    }
    if (kind > ods::kBtnOneLength) {
      return TPageEnd::Broken;
    }
    TNode node;
    node.recordNumber = first & 0x1F;
    if (!ReadNumber(page, at, end, 5, 5, node.recordNumber)) {
      return TPageEnd::Broken;
    }
    if (!leaf) {
      std::uint64_t child = 0;
      if (!ReadNumber(page, at, end, 5, 0, child) || child > UINT32_MAX) {
        return TPageEnd::Broken;
      }
      node.child = std::uint32_t(child);
    }
    std::uint64_t prefix = 0;
    if (kind != ods::kBtnZeroPrefixZeroLength && !ReadNumber(page, at, end, 2, 0, prefix)) {
      return TPageEnd::Broken;
    }
    std::uint64_t length = 0;
    if (kind == ods::kBtnOneLength) {
      length = 1;
    } else if (kind == ods::kBtnNormal || kind == ods::kBtnEndBucket) {
      if (!ReadNumber(page, at, end, 2, 0, length)) {
        return TPageEnd::Broken;
      }
    }
    if (prefix > previousLength || length > end - std::min(at, end)) {
      return TPageEnd::Broken;
    }
    if (kind == ods::kBtnEndBucket) {
      return TPageEnd::Bucket;
    }
    node.keyOffset = keys.size();
    node.keyLength = std::size_t(prefix + length);
    keys.insert(keys.end(), keys.begin() + std::ptrdiff_t(previousOffset),
                keys.begin() + std::ptrdiff_t(previousOffset + prefix));
    keys.insert(keys.end(), page.begin() + std::ptrdiff_t(at),
                page.begin() + std::ptrdiff_t(at + length));
    at += length;
    previousOffset = node.keyOffset;
    previousLength = node.keyLength;
    nodes.push_back(node);
  }
  return TPageEnd::Broken;  // the area ended without an end node
}

}  // namespace

std::optional<std::vector<TIndexDescriptor>> TIndexReader::Indexes(std::uint16_t relationId) {
  const std::uint32_t number = reader_.IndexRootPage(relationId);
  const auto page = number == 0 ? nullptr : reader_.File().Page(number);
  if (page == nullptr || (*page)[0] != ods::kPageIndexRoot ||
      ods::U32(*page, ods::kPageNumberOffset) != number ||
      ods::U16(*page, ods::kIrtRelation) != relationId) {
    return std::nullopt;
  }
  const std::uint16_t count = ods::U16(*page, ods::kIrtCount);
  if (!ods::Fits(*page, ods::kIrtIndexes, std::size_t(count) * ods::kIrtIndexSize)) {
    return std::nullopt;
  }
  std::vector<TIndexDescriptor> indexes;
  for (std::uint16_t id = 0; id < count && id <= UINT8_MAX; ++id) {
    const std::size_t at = ods::kIrtIndexes + std::size_t(id) * ods::kIrtIndexSize;
    TIndexDescriptor index;
    index.id = std::uint8_t(id);
    index.rootPage = ods::U32(*page, at + ods::kIrtRoot);
    index.flags = ods::U8(*page, at + ods::kIrtFlags);
    const std::uint8_t segments = ods::U8(*page, at + ods::kIrtSegments);
    const std::size_t descriptor = ods::U16(*page, at + ods::kIrtDescriptor);
    if (index.Usable()) {
      if (segments == 0 || !ods::Fits(*page, descriptor, segments * ods::kIrtdSize)) {
        return std::nullopt;
      }
      for (std::uint8_t s = 0; s < segments; ++s) {
        const std::size_t d = descriptor + s * ods::kIrtdSize;
        index.segments.push_back(TIndexDescriptor::TSegment{
            ods::U16(*page, d + ods::kIrtdField), ods::U16(*page, d + ods::kIrtdKeyType)});
      }
    }
    indexes.push_back(std::move(index));
  }
  return indexes;
}

TIndexWalk TIndexReader::Walk(std::uint16_t relationId, const TIndexDescriptor& index,
                              const TEntryCallback& onEntry) {
  TIndexWalk walk;
  TPageFile& file = reader_.File();
  const std::uint32_t pageSize = reader_.PageSize();
  auto bucket = [&](std::uint32_t number, int level) -> std::shared_ptr<const TPage> {
    auto page = file.Page(number);
    if (page == nullptr || page->size() != pageSize || (*page)[0] != ods::kPageIndex ||
        ods::U32(*page, ods::kPageNumberOffset) != number ||
        ods::U16(*page, ods::kBtrRelation) != relationId ||
        ods::U8(*page, ods::kBtrId) != index.id ||
        (level >= 0 && ods::U8(*page, ods::kBtrLevel) != level) ||
        ods::U16(*page, ods::kBtrLength) > pageSize ||
        ods::kBtrNodes + ods::U16(*page, ods::kBtrJumpSize) > ods::U16(*page, ods::kBtrLength)) {
      return nullptr;
    }
    return page;
  };
  if (!index.Usable()) {
    return walk;
  }
  const auto root = bucket(index.rootPage, -1);
  if (root == nullptr) {
    walk.AddDamagedPage(index.rootPage);
    return walk;
  }

  // Level by level: the pages the level above names, in order, with right
  // siblings filling in where a page above was lost. A page is read once.
  std::set<std::uint32_t> seen;
  std::vector<std::uint32_t> level = {index.rootPage};
  std::vector<TNode> nodes;
  std::vector<std::uint8_t> keys;
  for (int depth = ods::U8(*root, ods::kBtrLevel); depth >= 0; --depth) {
    const bool leaf = depth == 0;
    std::vector<std::uint32_t> below;
    std::set<std::uint32_t> listed(level.begin(), level.end());
    std::size_t next = 0;
    std::uint32_t detour = 0;    // a right sibling the level above did not name
    std::uint32_t expected = 0;  // the right sibling of the page read last
    bool continuous = true;
    bool ended = false;
    for (std::uint64_t read = 0;; ++read) {
      std::uint32_t number = detour;
      if (detour != 0) {
        detour = 0;
      } else if (next < level.size()) {
        number = level[next++];
      } else {
        break;
      }
      if (!seen.insert(number).second) {
        continuous = false;  // named twice: a loop
        continue;
      }
      const auto page = bucket(number, depth);
      const TPageEnd end =
          page == nullptr ? TPageEnd::Broken : ParseNodes(*page, leaf, nodes, keys);
      if (end == TPageEnd::Broken) {
        walk.AddDamagedPage(number);
        continuous = false;
        continue;
      }
      if (leaf) {
        const bool leftmost = read == 0 && ods::U32(*page, ods::kBtrLeftSibling) == 0;
        continuous = continuous && (leftmost || number == expected);
        ++walk.leafPages;
        for (const TNode& n : nodes) {
          ++walk.entries;
          onEntry(n.recordNumber, ods::TBytesView(keys).subspan(n.keyOffset, n.keyLength));
        }
      } else {
        for (const TNode& n : nodes) {
          below.push_back(n.child);
        }
      }
      if (end == TPageEnd::Level) {
        ended = true;
        continuous = continuous && next == level.size();
        continue;
      }
      expected = ods::U32(*page, ods::kBtrSibling);
      const bool named = next < level.size() && level[next] == expected;
      if (!named && expected != 0 && listed.insert(expected).second) {
        detour = expected;
      }
    }
    if (leaf) {
      walk.whole = continuous && ended;
    }
    level = std::move(below);
  }
  return walk;
}
