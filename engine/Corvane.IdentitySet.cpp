#include "Corvane.IdentitySet.h"

#include "Corvane.Errors.h"

#include <QHashFunctions>
#include <algorithm>
#include <cstring>

namespace Corvane {

namespace {

constexpr std::size_t CBlock = 1 << 16;  // units of a block; an identity starts in its first 64K

// An identity's length: one unit below 0x8000, else two.
std::size_t LengthUnits(std::size_t aLength) { return aLength < 0x8000 ? 1 : 2; }

}  // namespace

QStringView TIdentitySet::At(std::uint32_t aWhere) const {
  const char16_t* LStart = FBlocks[aWhere >> 16].get() + (aWhere & 0xFFFF);
  std::size_t LLength = LStart[0];
  if (LLength & 0x8000) {
    LLength = ((LLength & 0x7FFF) << 16) | LStart[1];
    return QStringView(LStart + 2, qsizetype(LLength));
  }
  return QStringView(LStart + 1, qsizetype(LLength));
}

std::size_t TIdentitySet::Find(QStringView aIdentity, std::size_t aHash) const {
  const std::size_t LMask = FSlots.size() - 1;
  const std::uint8_t LTag = TagOf(aHash);
  for (std::size_t LSlot = aHash & LMask;; LSlot = (LSlot + 1) & LMask) {
    const std::uint32_t LWhere = FSlots[LSlot];
    if (LWhere == CEmpty || (FTags[LSlot] == LTag && At(LWhere) == aIdentity)) return LSlot;
  }
}

bool TIdentitySet::Contains(QStringView aIdentity) const {
  if (FCount == 0) return false;
  return FSlots[Find(aIdentity, qHash(aIdentity))] != CEmpty;
}

std::uint32_t TIdentitySet::Store(QStringView aIdentity) {
  const std::size_t LLength = std::size_t(aIdentity.size());
  const std::size_t LUnits = LengthUnits(LLength) + LLength;
  if (LLength >= (std::size_t(1) << 31)) throw TCorvaneError("Chave de registro longa demais.");
  if (FBlocks.empty() || FUsed + LUnits > FRoom) {
    if (FBlocks.size() >= 0xFFFF) throw TCorvaneError("Registros demais em uma exportacao.");
    FRoom = std::max(CBlock, LUnits);
    FBlocks.push_back(std::make_unique_for_overwrite<char16_t[]>(FRoom));
    FUsed = 0;
  }
  char16_t* LStart = FBlocks.back().get() + FUsed;
  if (LLength < 0x8000) {
    *LStart++ = char16_t(LLength);
  } else {
    *LStart++ = char16_t(0x8000 | (LLength >> 16));
    *LStart++ = char16_t(LLength & 0xFFFF);
  }
  std::memcpy(LStart, aIdentity.utf16(), LLength * sizeof(char16_t));
  const std::uint32_t LWhere = std::uint32_t((FBlocks.size() - 1) << 16 | FUsed);
  FUsed += LUnits;
  return LWhere;
}

void TIdentitySet::Grow() {
  std::vector<std::uint32_t> LOld(std::max<std::size_t>(FSlots.size() * 2, 1024), CEmpty);
  LOld.swap(FSlots);
  FTags.assign(FSlots.size(), 0);
  for (const std::uint32_t LWhere : LOld)
    if (LWhere != CEmpty) {
      const std::size_t LHash = qHash(At(LWhere));
      const std::size_t LSlot = Find(At(LWhere), LHash);
      FSlots[LSlot] = LWhere;
      FTags[LSlot] = TagOf(LHash);
    }
}

bool TIdentitySet::Insert(QStringView aIdentity) {
  if ((FCount + 1) * 4 > FSlots.size() * 3) Grow();  // at most three quarters full: probes stay short
  const std::size_t LHash = qHash(aIdentity);
  const std::size_t LSlot = Find(aIdentity, LHash);
  if (FSlots[LSlot] != CEmpty) return false;
  FSlots[LSlot] = Store(aIdentity);
  FTags[LSlot] = TagOf(LHash);
  ++FCount;
  return true;
}

void TIdentitySet::Clear() {
  FBlocks.clear();
  FSlots.clear();
  FTags.clear();
  FUsed = FRoom = 0;
  FCount = 0;
}

}  // namespace Corvane
