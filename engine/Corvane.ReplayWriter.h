#pragma once
// The statements of the replay: consecutive records written by one EXECUTE BLOCK, a record
// that fails written alone so that it is named, and only a bounded number of blocks kept
// prepared, whatever the length or the irregularity of the script.
#include "Corvane.ReplayRecords.h"

#include <list>
#include <map>
#include <memory>

namespace Corvane::Replay {

class TRecordWriter {
public:
  TRecordWriter(TDbConnection& aConnection, const std::vector<TShape>& aShapes)
      : FConnection(aConnection), FShapes(aShapes) {}
  // Writes aRecords[aStart, aEnd) in script order, the whole range or nothing of it.
  void Write(const std::vector<TPending>& aRecords, std::size_t aStart, std::size_t aEnd);
  // Frees every prepared statement.
  void Release();

private:
  void WriteOne(const TPending& aRecord);
  struct TBlock {
    std::unique_ptr<TDbQuery> Query;
    bool Usable = true;
    bool Worked = false;
    std::list<QString>::iterator Use;
  };
  TBlock& Block(const std::vector<int>& aShapes, int aSlots);

  TDbConnection& FConnection;
  const std::vector<TShape>& FShapes;
  std::map<int, std::unique_ptr<TDbQuery>> FSingles;  // by shape
  std::map<QString, TBlock> FBlocks;                  // by the set of shapes they write
  std::list<QString> FUses;                           // the blocks' signatures, least recently used first
};

}  // namespace Corvane::Replay
