#include "Corvane.ReplayWriter.h"

#include "Corvane.Literals.h"

#include <QRegularExpression>
#include <algorithm>

namespace Corvane::Replay {

namespace {

// Blocks kept prepared: a document of irregular shapes meets many signatures, and each
// prepared block holds memory on both sides until it is freed.
constexpr std::size_t CKeptBlocks = 24;
constexpr int CSlots = 16;                  // records one block writes at most
constexpr std::size_t CShapesPerBlock = 4;  // shapes one block can write

QString Variable(const TShape& aShape, int aColumn, int aParam) {
  const QString LTable = TSqlLiterals::QuoteName(aShape.Table);
  const QString LType = aShape.Wide[std::size_t(aColumn)]
                            ? QStringLiteral("BLOB SUB_TYPE TEXT CHARACTER SET UTF8")
                            : "TYPE OF COLUMN " + LTable + "." + TSqlLiterals::QuoteName(aShape.Columns[aColumn]);
  return "\"V$" + QString::number(aParam) + "\" " + LType + " = :P" + QString::number(aParam);
}

// The server's text for the failures another transaction causes, said as such.
QString Explained(const QString& aMessage, const TPending& aRecord) {
  if (aMessage.contains(QLatin1String("lock conflict")) || aMessage.contains(QLatin1String("concurrent update")) ||
      aMessage.contains(QLatin1String("deadlock")))
    return "outra transacao mantem este registro bloqueado; tente de novo depois que ela terminar (" + aMessage + ")";
  if (!aRecord.Found && aMessage.contains(QLatin1String("violation of PRIMARY or UNIQUE KEY")))
    return "a chave nao existia no destino quando a reproducao comecou: outra transacao gravou ou mantem bloqueado um "
           "registro com ela (" +
           aMessage + ")";
  return aMessage;
}

}  // namespace

void TRecordWriter::Release() {
  FSingles.clear();
  FBlocks.clear();
  FUses.clear();
}

// A block has a fixed number of slots, each able to write a record of any shape of a small
// set: a slot's selector says which statement runs. A block then serves every run of records
// drawn from its set, in any order and mix, so a document of irregular shapes needs few of them.
TRecordWriter::TBlock& TRecordWriter::Block(const std::vector<int>& aShapes, int aSlots) {
  QString LSignature = QString::number(aSlots) + QLatin1Char(':');
  for (const int LShape : aShapes) LSignature += QString::number(LShape) + QLatin1Char(',');
  auto LFound = FBlocks.find(LSignature);
  if (LFound != FBlocks.end()) {
    FUses.splice(FUses.end(), FUses, LFound->second.Use);
    return LFound->second;
  }
  if (FBlocks.size() >= CKeptBlocks) {
    FBlocks.erase(FUses.front());
    FUses.pop_front();
  }
  QString LParams, LBody;
  int LParam = 0;
  for (int LSlot = 0; LSlot < aSlots; ++LSlot) {
    const int LSelector = LParam++;
    LParams += (LSelector ? QLatin1String(", ") : QLatin1String("")) + "\"V$" + QString::number(LSelector) +
               "\" INTEGER = :P" + QString::number(LSelector);
    for (qsizetype LPosition = 0; LPosition < qsizetype(aShapes.size()); ++LPosition) {
      const TShape& LShape = FShapes[std::size_t(aShapes[std::size_t(LPosition)])];
      QStringList LNames, LValues, LKeys;
      for (qsizetype C = 0; C < LShape.Columns.size(); ++C) {
        LParams += ", " + Variable(LShape, int(C), LParam);
        LNames << TSqlLiterals::QuoteName(LShape.Columns[C]);
        LValues << ":\"V$" + QString::number(LParam) + "\"";
        ++LParam;
      }
      for (const QString& LKey : LShape.Matching) LKeys << TSqlLiterals::QuoteName(LKey);
      LBody += "IF (\"V$" + QString::number(LSelector) + "\" = " + QString::number(LPosition) +
               ") THEN UPDATE OR INSERT INTO " + TSqlLiterals::QuoteName(LShape.Table) + " (" +
               LNames.join(QLatin1String(", ")) + ") VALUES (" + LValues.join(QLatin1String(", ")) + ") MATCHING (" +
               LKeys.join(QLatin1String(", ")) + ");\n";
    }
  }
  TBlock LBlock;
  LBlock.Query = std::make_unique<TDbQuery>(FConnection);
  LBlock.Query->SetSQL("EXECUTE BLOCK (" + LParams + ") AS BEGIN\n" + LBody + "END");
  LBlock.Use = FUses.insert(FUses.end(), LSignature);
  return FBlocks.emplace(LSignature, std::move(LBlock)).first->second;
}

// Consecutive records by one statement: the server runs them without a round trip each. A
// block that fails has changed nothing (a statement is undone whole); its records are then
// written in halves down to single records, so that a failing record is named as when
// written alone.
void TRecordWriter::Write(const std::vector<TPending>& aRecords, std::size_t aStart, std::size_t aEnd) {
  if (aEnd - aStart == 1) {
    WriteOne(aRecords[aStart]);
    return;
  }
  std::vector<int> LShapes;
  for (std::size_t I = aStart; I < aEnd; ++I)
    if (std::find(LShapes.begin(), LShapes.end(), aRecords[I].Shape) == LShapes.end())
      LShapes.push_back(aRecords[I].Shape);
  std::sort(LShapes.begin(), LShapes.end());
  const std::size_t LMiddle = aStart + (aEnd - aStart) / 2;
  // Few shapes per block, so that its statements stay within what the server compiles at once.
  if (aEnd - aStart > std::size_t(CSlots) || LShapes.size() > CShapesPerBlock) {
    Write(aRecords, aStart, LMiddle);
    Write(aRecords, LMiddle, aEnd);
    return;
  }
  // Slots in powers of two: the halves of a block the server refused use smaller blocks.
  int LSlots = 2;
  while (std::size_t(LSlots) < aEnd - aStart) LSlots *= 2;
  TBlock& LBlock = Block(LShapes, LSlots);
  if (LBlock.Usable) {
    try {
      int LParam = 0;
      for (int LSlot = 0; LSlot < LSlots; ++LSlot) {
        const std::size_t LRecord = aStart + std::size_t(LSlot);
        const bool LUsed = LRecord < aEnd;
        const int LPosition =
            LUsed ? int(std::find(LShapes.begin(), LShapes.end(), aRecords[LRecord].Shape) - LShapes.begin()) : -1;
        LBlock.Query->SetParam(LParam++, LUsed ? TValue::Integer(LPosition) : TValue::Null(TValueKind::vkInteger));
        for (int P = 0; P < int(LShapes.size()); ++P) {
          const TShape& LShape = FShapes[std::size_t(LShapes[std::size_t(P)])];
          for (std::size_t C = 0; C < std::size_t(LShape.Columns.size()); ++C)
            LBlock.Query->SetParam(LParam++, P == LPosition ? Carried(aRecords[LRecord].Values[C], LShape.Wide[C])
                                                            : TValue::Null(LShape.Types[C].Kind));
        }
      }
      LBlock.Query->Open();
      LBlock.Query->Close();
      LBlock.Worked = true;
      return;
    } catch (const TCorvaneError&) {
      // A block the server never took (too large, say) is not tried again.
      if (!LBlock.Worked) LBlock.Usable = false;
    }
  }
  Write(aRecords, aStart, LMiddle);
  Write(aRecords, LMiddle, aEnd);
}

void TRecordWriter::WriteOne(const TPending& aRecord) {
  const TShape& LShape = FShapes[std::size_t(aRecord.Shape)];
  std::unique_ptr<TDbQuery>& LQuery = FSingles[aRecord.Shape];
  if (!LQuery) {
    QStringList LNames, LParams, LKeys;
    for (qsizetype I = 0; I < LShape.Columns.size(); ++I) {
      LNames << TSqlLiterals::QuoteName(LShape.Columns[I]);
      LParams << (LShape.Wide[std::size_t(I)]
                      ? "CAST(:P" + QString::number(I) + " AS BLOB SUB_TYPE TEXT CHARACTER SET UTF8)"
                      : ":P" + QString::number(I));
    }
    for (const QString& LKey : LShape.Matching) LKeys << TSqlLiterals::QuoteName(LKey);
    LQuery = std::make_unique<TDbQuery>(FConnection);
    LQuery->SetSQL("UPDATE OR INSERT INTO " + TSqlLiterals::QuoteName(LShape.Table) + " (" +
                   LNames.join(QLatin1String(", ")) + ") VALUES (" + LParams.join(QLatin1String(", ")) +
                   ") MATCHING (" + LKeys.join(QLatin1String(", ")) + ")");
  }
  try {
    for (std::size_t I = 0; I < aRecord.Values.size(); ++I)
      LQuery->SetParam(int(I), Carried(aRecord.Values[I], LShape.Wide[I]));
    LQuery->Open();
    LQuery->Close();
  } catch (const TCorvaneError& aError) {
    LQuery->Close();
    // A value the column's parameter cannot take: its column, not the parameter, is named.
    static const QRegularExpression CParameter(QStringLiteral("parametro P(\\d+)"));
    const QRegularExpressionMatch LMatch = CParameter.match(aError.Message());
    const int LColumn = LMatch.hasMatch() ? LMatch.captured(1).toInt() : -1;
    if (LColumn >= 0 && LColumn < LShape.Columns.size())
      RecordFailure(aRecord, "campo " + LShape.Table + "." + LShape.Columns[LColumn] + ": valor " +
                                 Shown(aRecord.Values[std::size_t(LColumn)]) + " nao cabe no campo do destino (" +
                                 aError.Message() + ")");
    RecordFailure(aRecord, Explained(aError.Message(), aRecord));
  }
}

}  // namespace Corvane::Replay
