#include "Corvane.ReplayWriter.h"

#include "Corvane.Literals.h"

#include <QRegularExpression>

namespace Corvane::Replay {

namespace {

// Blocks kept prepared: a document of irregular shapes meets many signatures, and each
// prepared block holds memory on both sides until it is freed.
constexpr std::size_t CKeptBlocks = 24;

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
           "registro com ela (" + aMessage + ")";
  return aMessage;
}

}  // namespace

void TRecordWriter::Release() {
  FSingles.clear();
  FBlocks.clear();
  FUses.clear();
}

TRecordWriter::TBlock& TRecordWriter::Block(const std::vector<TPending>& aRecords, std::size_t aStart,
                                            std::size_t aEnd) {
  QString LSignature;
  for (std::size_t I = aStart; I < aEnd; ++I) LSignature += QString::number(aRecords[I].Shape) + QLatin1Char(',');
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
  for (std::size_t I = aStart; I < aEnd; ++I) {
    const TShape& LShape = FShapes[std::size_t(aRecords[I].Shape)];
    QStringList LNames, LValues, LKeys;
    for (qsizetype C = 0; C < LShape.Columns.size(); ++C) {
      LParams += (LParam ? QLatin1String(", ") : QLatin1String("")) + Variable(LShape, int(C), LParam);
      LNames << TSqlLiterals::QuoteName(LShape.Columns[C]);
      LValues << ":\"V$" + QString::number(LParam) + "\"";
      ++LParam;
    }
    for (const QString& LKey : LShape.Matching) LKeys << TSqlLiterals::QuoteName(LKey);
    LBody += "UPDATE OR INSERT INTO " + TSqlLiterals::QuoteName(LShape.Table) + " (" + LNames.join(QLatin1String(", ")) +
             ") VALUES (" + LValues.join(QLatin1String(", ")) + ") MATCHING (" + LKeys.join(QLatin1String(", ")) +
             ");\n";
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
  TBlock& LBlock = Block(aRecords, aStart, aEnd);
  if (LBlock.Usable) {
    try {
      int LParam = 0;
      for (std::size_t I = aStart; I < aEnd; ++I) {
        const TShape& LShape = FShapes[std::size_t(aRecords[I].Shape)];
        for (std::size_t C = 0; C < aRecords[I].Values.size(); ++C)
          LBlock.Query->SetParam(LParam++, Carried(aRecords[I].Values[C], LShape.Wide[C]));
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
  const std::size_t LMiddle = aStart + (aEnd - aStart) / 2;
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
    for (std::size_t I = 0; I < aRecord.Values.size(); ++I) LQuery->SetParam(int(I), Carried(aRecord.Values[I], LShape.Wide[I]));
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
