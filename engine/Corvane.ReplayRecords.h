#pragma once
// What the units of the replay share: the shape of a record as the target takes it, one
// record on its way through the replay, and values as the target compares and shows them.
#include "Corvane.Database.h"
#include "Corvane.Errors.h"
#include "Corvane.ScriptReader.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace Corvane::Replay {

// The statements of one shape of record: a table, its column list and its MATCHING list.
struct TShape {
  QString Table;
  QStringList Columns;  // the columns written, in the script's order
  QStringList Matching;
  std::vector<int> Sources;  // each written column's position among the script's columns
  std::vector<TColumnType> Types;
  std::vector<bool> Wide;        // text the connection carries as BLOB text (see the preflight)
  std::vector<int> KeyColumns;   // positions of the MATCHING columns among Columns
  std::vector<int> Dropped;      // script positions of columns the target lacks, left out
  int TableIndex = 0;            // into the result's tables
};

// One record, its values already of its columns' types.
struct TPending {
  int Index = 0;
  int Shape = 0;
  QString Description;
  std::vector<TValue> Values;
  QString Key;         // table and key values, exactly as written
  bool Found = false;  // the target held its row before the record was written
};

[[noreturn]] void RecordFailure(const TPending& aRecord, const QString& aMessage);

// Values as the column's type compares them: NULL only equals NULL, numbers by value,
// CHAR without its trailing blanks, everything else exactly.
bool SameValue(const TValue& aLeft, const TValue& aRight, const TColumnType& aType);
// A value for a message: long text shortened, BLOBs as their size and a short hash.
QString Shown(const TValue& aValue);
// A key as one exact text: trailing blanks of text do not count, numbers of one column share
// a kind and a scale.
void AppendKeyPart(QString& aKey, const TValue& aValue);
// Catalogue names are CHAR(31): their trailing blanks are padding, leading blanks are part of the name.
QString CatalogueName(const TValue& aValue);
// The value a wide text column is bound or read as (see TShape::Wide).
TValue Carried(const TValue& aValue, bool aWide);

}  // namespace Corvane::Replay
