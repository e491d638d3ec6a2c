#pragma once

// Firebird 3 on-disk structure (ODS 12): page types, header offsets and flags
// as the engine writes them, read from little-endian bytes. Every reader
// takes a span and an offset and checks the bounds itself, so that a damaged
// page can never make it read outside its buffer.

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace ods {

static_assert(std::endian::native == std::endian::little,
              "the readers load little-endian values directly");

using TBytesView = std::span<const std::uint8_t>;

// Page types (pag_type).
enum : std::uint8_t {
  kPageUndefined = 0,
  kPageHeader = 1,
  kPageInventory = 2,
  kPageTransactions = 3,
  kPagePointer = 4,
  kPageData = 5,
  kPageIndexRoot = 6,
  kPageIndex = 7,
  kPageBlob = 8,
  kPageGenerators = 9,
  kPageScns = 10,
  kPageTypeMax = 10
};

// Every page starts with type, flags, reserved, generation, scn, page number.
constexpr std::size_t kPageHeaderSize = 16;
constexpr std::size_t kPageNumberOffset = 12;

// Header page (page 0).
constexpr std::size_t kHdrPageSize = 16;
constexpr std::size_t kHdrOdsVersion = 18;
constexpr std::size_t kHdrPages = 20;
constexpr std::size_t kHdrOldestTransaction = 28;
constexpr std::size_t kHdrOldestActive = 32;
constexpr std::size_t kHdrNextTransaction = 36;
constexpr std::size_t kHdrFlags = 42;
constexpr std::size_t kHdrOdsMinor = 64;
constexpr std::size_t kHdrOldestSnapshot = 72;
constexpr std::size_t kHdrTraHigh = 124;  // four high words: oit, oat, ost, next
constexpr std::size_t kHdrSize = 132;
constexpr std::uint16_t kOdsFirebirdFlag = 0x8000;

// Data page: sequence, relation, count, then (offset, length) per line.
constexpr std::size_t kDpgSequence = 16;
constexpr std::size_t kDpgRelation = 20;
constexpr std::size_t kDpgCount = 22;
constexpr std::size_t kDpgLines = 24;
constexpr std::uint8_t kDpgOrphan = 0x01;
constexpr std::uint8_t kDpgLarge = 0x04;

// Pointer page: sequence, next, count, relation, min space, page vector.
constexpr std::size_t kPpgSequence = 16;
constexpr std::size_t kPpgNext = 20;
constexpr std::size_t kPpgCount = 24;
constexpr std::size_t kPpgRelation = 26;
constexpr std::size_t kPpgPages = 32;

// Index root page: relation, count, then per index (root page, transaction,
// descriptor offset, segment count, flags); each descriptor holds per segment
// the field id, the key type and a selectivity (8 bytes).
constexpr std::size_t kIrtRelation = 16;
constexpr std::size_t kIrtCount = 18;
constexpr std::size_t kIrtIndexes = 20;
constexpr std::size_t kIrtIndexSize = 12;
constexpr std::size_t kIrtRoot = 0;
constexpr std::size_t kIrtDescriptor = 8;
constexpr std::size_t kIrtSegments = 10;
constexpr std::size_t kIrtFlags = 11;
constexpr std::size_t kIrtdSize = 8;
constexpr std::size_t kIrtdField = 0;
constexpr std::size_t kIrtdKeyType = 2;
enum : std::uint8_t {
  kIrtUnique = 1,
  kIrtDescending = 2,
  kIrtInProgress = 4,
  kIrtForeign = 8,
  kIrtPrimary = 16,
  kIrtExpression = 32
};

// B-tree page: right and left sibling, prefix total, relation, length of the
// nodes' area, index id, level (0 = leaf), jump interval, size and count;
// the jump table, then the nodes.
constexpr std::size_t kBtrSibling = 16;
constexpr std::size_t kBtrLeftSibling = 20;
constexpr std::size_t kBtrRelation = 28;
constexpr std::size_t kBtrLength = 30;
constexpr std::size_t kBtrId = 32;
constexpr std::size_t kBtrLevel = 33;
constexpr std::size_t kBtrJumpSize = 36;
constexpr std::size_t kBtrNodes = 39;
// Node kinds, in the top three bits of a node's first byte.
enum : std::uint8_t {
  kBtnNormal = 0,
  kBtnEndLevel = 1,
  kBtnEndBucket = 2,
  kBtnZeroPrefixZeroLength = 3,
  kBtnZeroLength = 4,
  kBtnOneLength = 5
};

// Key types of index segments (irtd_itype); text with a collation of its own
// is kIdxFirstIntl plus 0x7FFF plus the text type (charset | collation << 8).
enum : std::uint16_t {
  kIdxNumeric = 0,
  kIdxString = 1,
  kIdxByteArray = 3,
  kIdxMetadata = 4,
  kIdxSqlDate = 5,
  kIdxSqlTime = 6,
  kIdxTimestamp = 7,
  kIdxNumeric2 = 8,
  kIdxBoolean = 9,
  kIdxFirstIntl = 64
};
constexpr std::uint16_t IntlKeyType(std::uint16_t textType) {
  return std::uint16_t(textType + 0x7FFF + kIdxFirstIntl);
}

// Transaction inventory page: next TIP, then 2 bits per transaction.
constexpr std::size_t kTipNext = 16;
constexpr std::size_t kTipTransactions = 20;

// Page inventory page: min, extent, used, then one bit per page (set = free).
constexpr std::size_t kPipBits = 28;

// Blob page: lead page, sequence, length, pad, data or page vector.
constexpr std::size_t kBlpLeadPage = 16;
constexpr std::size_t kBlpSequence = 20;
constexpr std::size_t kBlpLength = 24;
constexpr std::size_t kBlpData = 28;
constexpr std::uint8_t kBlpPointers = 0x01;

// Record headers: rhd (13 bytes), rhde (long transaction, 16), rhdf
// (fragmented, 22) and the blob header blh (28).
constexpr std::size_t kRhdTransaction = 0;
constexpr std::size_t kRhdBackPage = 4;
constexpr std::size_t kRhdBackLine = 8;
constexpr std::size_t kRhdFlags = 10;
constexpr std::size_t kRhdFormat = 12;
constexpr std::size_t kRhdTraHigh = 14;
constexpr std::size_t kRhdfForwardPage = 16;
constexpr std::size_t kRhdfForwardLine = 20;
constexpr std::size_t kRhdSize = 13;
constexpr std::size_t kRhdeSize = 16;
constexpr std::size_t kRhdfSize = 22;

constexpr std::size_t kBlhMaxSequence = 4;
constexpr std::size_t kBlhFlags = 10;
constexpr std::size_t kBlhLevel = 12;
constexpr std::size_t kBlhLength = 20;
constexpr std::size_t kBlhSubType = 24;
constexpr std::size_t kBlhSize = 28;

enum : std::uint16_t {
  kRhdDeleted = 1,
  kRhdChain = 2,
  kRhdFragment = 4,
  kRhdIncomplete = 8,
  kRhdBlob = 16,
  kRhdStreamBlob = 32,
  kRhdDelta = 32,
  kRhdLarge = 64,
  kRhdDamaged = 128,
  kRhdGcActive = 256,
  kRhdUkModified = 512,
  kRhdLongTranum = 1024
};

// Descriptor types (dsc_dtype) as stored in formats.
enum : std::uint8_t {
  kDtypeUnknown = 0,
  kDtypeText = 1,
  kDtypeCstring = 2,
  kDtypeVarying = 3,
  kDtypeShort = 8,
  kDtypeLong = 9,
  kDtypeQuad = 10,
  kDtypeReal = 11,
  kDtypeDouble = 12,
  kDtypeDFloat = 13,
  kDtypeSqlDate = 14,
  kDtypeSqlTime = 15,
  kDtypeTimestamp = 16,
  kDtypeBlob = 17,
  kDtypeArray = 18,
  kDtypeInt64 = 19,
  kDtypeDbkey = 20,
  kDtypeBoolean = 21
};

// Transaction states kept in the inventory.
enum class TTransactionState : std::uint8_t { Active = 0, Limbo = 1, Dead = 2, Committed = 3 };

constexpr std::uint16_t kFirstUserRelation = 128;
constexpr std::uint32_t kMaxRecordLength = 65535;

// Records per data page and data pages per pointer page, which together turn a
// record number (blob ids) into a data page sequence and a line.
constexpr std::uint32_t MaxRecordsPerPage(std::uint32_t pageSize) {
  return (pageSize - kDpgLines) / (4 + kRhdSize);
}
constexpr std::uint32_t DataPagesPerPointerPage(std::uint32_t pageSize) {
  return ((pageSize - kPpgPages) * 8 / (32 + 8)) & ~7u;
}
constexpr std::uint32_t TransactionsPerTip(std::uint32_t pageSize) {
  return (pageSize - kTipTransactions) * 4;
}

inline bool Fits(TBytesView b, std::size_t offset, std::size_t size) {
  return offset <= b.size() && size <= b.size() - offset;
}
template <typename T>
T Load(TBytesView b, std::size_t offset) {
  T v{};
  if (Fits(b, offset, sizeof v)) {
    std::memcpy(&v, b.data() + offset, sizeof v);
  }
  return v;
}
inline std::uint8_t U8(TBytesView b, std::size_t o) {
  return Load<std::uint8_t>(b, o);
}
inline std::uint16_t U16(TBytesView b, std::size_t o) {
  return Load<std::uint16_t>(b, o);
}
inline std::uint32_t U32(TBytesView b, std::size_t o) {
  return Load<std::uint32_t>(b, o);
}

// The transaction that wrote a record version (rhd, or rhde with its high word).
inline std::uint64_t RecordTransaction(TBytesView record, std::uint16_t flags) {
  std::uint64_t tx = U32(record, kRhdTransaction);
  if ((flags & kRhdLongTranum) != 0) {
    tx |= std::uint64_t(U16(record, kRhdTraHigh)) << 32;
  }
  return tx;
}

}  // namespace ods
