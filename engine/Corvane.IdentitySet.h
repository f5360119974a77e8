#pragma once
// The identities of the rows one run has met. A run may meet millions of rows, and this is
// all that stays of each: the units of its identity, packed one after the other in blocks,
// and one number in a table of open addressing. No string object, no node per row.
#include <QStringView>
#include <cstdint>
#include <memory>
#include <vector>

namespace Corvane {

class TIdentitySet {
public:
  // Adds aIdentity; false when it was there already.
  bool Insert(QStringView aIdentity);
  bool Contains(QStringView aIdentity) const;
  void Clear();
  std::size_t Size() const { return FCount; }

private:
  // Where an identity starts: its block above the low 16 bits, its place in the block below.
  static constexpr std::uint32_t CEmpty = 0xFFFFFFFFu;
  std::size_t Find(QStringView aIdentity, std::size_t aHash) const;  // its slot, or the empty one to take
  static std::uint8_t TagOf(std::size_t aHash) { return std::uint8_t(aHash >> 56); }
  QStringView At(std::uint32_t aWhere) const;
  std::uint32_t Store(QStringView aIdentity);
  void Grow();

  std::vector<std::unique_ptr<char16_t[]>> FBlocks;
  std::size_t FUsed = 0;   // units used in the last block
  std::size_t FRoom = 0;   // its size
  std::vector<std::uint32_t> FSlots;
  std::vector<std::uint8_t> FTags;  // per slot, a byte of its identity's hash: most probes end here
  std::size_t FCount = 0;
};

}  // namespace Corvane
