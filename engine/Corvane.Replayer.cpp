#include "Corvane.Replayer.h"

#include "Corvane.Errors.h"
#include "Corvane.Literals.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace Corvane {

namespace {

constexpr int CWindow = 2048;  // records read, previewed and written together
constexpr int CBatches[] = {64, 16, 4, 1};  // keys looked up by one query, largest first
constexpr std::size_t CChunk = 16;  // records written by one statement

// Firebird's type codes in RDB$FIELDS.RDB$FIELD_TYPE.
enum : int {
  ftSmallint = 7, ftInteger = 8, ftQuad = 9, ftFloat = 10, ftDFloat = 11, ftDate = 12, ftTime = 13, ftChar = 14,
  ftBigint = 16, ftBoolean = 23, ftDouble = 27, ftTimestamp = 35, ftVarchar = 37, ftCString = 40, ftBlob = 261
};
constexpr int CCharsetNone = 0;
constexpr int CCharsetOctets = 1;

struct TTargetColumn {
  TColumnType Type;
  bool Supported = true;
  bool Computed = false;
};

TTargetColumn TargetColumn(int aType, int aSubType, int aScale, int aCharset) {
  TTargetColumn LColumn;
  TColumnType& LType = LColumn.Type;
  switch (aType) {
    case ftSmallint:
    case ftInteger:
    case ftBigint:
    case ftQuad:
      LType.Kind = aScale < 0 ? TValueKind::vkDecimal : TValueKind::vkInteger;
      LType.Scale = -aScale;
      break;
    case ftFloat: LType = {TValueKind::vkFloat, 0, false, true}; break;
    case ftDouble:
    case ftDFloat: LType.Kind = TValueKind::vkFloat; break;
    case ftDate: LType.Kind = TValueKind::vkDate; break;
    case ftTime: LType.Kind = TValueKind::vkTime; break;
    case ftTimestamp: LType.Kind = TValueKind::vkTimestamp; break;
    case ftChar:
    case ftVarchar:
    case ftCString:
      LType.Kind = aCharset == CCharsetOctets ? TValueKind::vkBytes : TValueKind::vkText;
      LType.Fixed = aType == ftChar && aCharset != CCharsetOctets;
      LType.Untranslated = aCharset == CCharsetNone;
      break;
    case ftBlob:
      LType.Kind = aSubType == 1 ? TValueKind::vkTextBlob : TValueKind::vkBytes;
      LType.Untranslated = aSubType == 1 && aCharset == CCharsetNone;
      break;
    case ftBoolean: LType.Kind = TValueKind::vkBoolean; break;
    default: LColumn.Supported = false; break;
  }
  return LColumn;
}

// Values as the column's type compares them: NULL only equals NULL, numbers by value,
// CHAR without its trailing blanks, everything else exactly.
bool SameValue(const TValue& aLeft, const TValue& aRight, const TColumnType& aType) {
  if (aLeft.IsNull() || aRight.IsNull()) return aLeft.IsNull() && aRight.IsNull();
  if (aLeft.Kind() != aRight.Kind()) return false;
  switch (aLeft.Kind()) {
    case TValueKind::vkFloat: return aLeft.AsFloat() == aRight.AsFloat();
    case TValueKind::vkText:
      if (aLeft.IsUntranslated() || aRight.IsUntranslated()) {
        QByteArrayView LLeft(aLeft.AsBytes()), LRight(aRight.AsBytes());
        if (aType.Fixed) {
          while (LLeft.endsWith(' ')) LLeft.chop(1);
          while (LRight.endsWith(' ')) LRight.chop(1);
        }
        return aLeft.IsUntranslated() == aRight.IsUntranslated() && LLeft == LRight;
      }
      if (aType.Fixed) {
        QStringView LLeft(aLeft.AsText()), LRight(aRight.AsText());
        while (LLeft.endsWith(u' ')) LLeft.chop(1);
        while (LRight.endsWith(u' ')) LRight.chop(1);
        return LLeft == LRight;
      }
      return aLeft.AsText() == aRight.AsText();
    default: return aLeft == aRight;
  }
}

QString Shown(const TValue& aValue) {
  if (aValue.IsNull()) return QStringLiteral("NULL");
  QString LText = aValue.TextForm();
  if (LText.size() > 60) LText = LText.left(57) + QStringLiteral("...");
  return PrintableText(LText);
}

// A key as the server's equality sees it, as one exact text: trailing blanks of text do not
// count, numbers of one column share a kind and a scale.
void AppendKeyPart(QString& aKey, const TValue& aValue) {
  if (aValue.IsNull()) {
    aKey += QLatin1String("n;");
    return;
  }
  QString LText;
  if (aValue.Kind() == TValueKind::vkFloat) {
    const double LValue = aValue.AsFloat() + 0.0;
    std::uint64_t LBits;
    std::memcpy(&LBits, &LValue, sizeof LBits);
    LText = QString::number(LBits, 16);
  } else if (aValue.IsUntranslated()) {
    QByteArray LBytes = aValue.AsBytes();
    while (LBytes.endsWith(' ')) LBytes.chop(1);
    LText = QString::fromLatin1(LBytes.toHex());
  } else {
    LText = aValue.TextForm();
    if (aValue.Kind() == TValueKind::vkText)
      while (LText.endsWith(u' ')) LText.chop(1);
  }
  aKey += QString::number(int(aValue.Kind())) + QLatin1Char(':') + QString::number(LText.size()) + QLatin1Char(':') +
          LText;
}

// The statements of one shape of record: a table, its column list and its MATCHING list.
struct TShape {
  QString Table;
  QStringList Columns;
  QStringList Matching;
  std::vector<TColumnType> Types;
  std::vector<int> KeyColumns;  // positions of the MATCHING columns among Columns
  int TableIndex = 0;           // into the result's tables
  std::unique_ptr<TDbQuery> Write;
  std::map<int, std::unique_ptr<TDbQuery>> Reads;  // by the number of keys they look up
};

// One record of a window, its values already of its columns' types.
struct TPending {
  int Index = 0;
  int Shape = 0;
  QString Description;
  std::vector<TValue> Values;
  QString Key;  // table and key values
};

class TReplayRun {
public:
  TReplayRun(TDbConnection& aConnection, const TSliceReplayer::TProgress& aProgress,
             const TCancellationPtr& aCancellation)
      : FConnection(aConnection), FProgress(aProgress), FCancellation(aCancellation) {}

  TReplayResult Run(const TSliceScript& aScript, bool aDryRun);

private:
  void Report(const QString& aMessage) {
    if (FProgress) FProgress(aMessage);
  }
  void CheckStop() const {
    if (FCancellation) FCancellation->Check(CReplayStopped);
  }
  void CollectShapes(const TSliceScript& aScript);
  void Preflight();
  TPending Pending(const TSliceScript& aScript, int aIndex);
  QString KeyOf(const TShape& aShape, const std::vector<TValue>& aValues) const;
  // The rows of aShape's table whose keys are among aRecords', by key.
  QHash<QString, std::vector<TValue>> ReadRows(TShape& aShape, const std::vector<const TPending*>& aRecords);
  TDbQuery& ReadQuery(TShape& aShape, int aBatch);
  QHash<QString, std::vector<TValue>> ReadWindow(const std::vector<TPending>& aWindow);
  void Write(const TPending& aRecord);
  void WriteChunk(const std::vector<TPending>& aWindow, std::size_t aStart, std::size_t aEnd);
  [[noreturn]] void RecordFailure(const TPending& aRecord, const QString& aMessage);

  TDbConnection& FConnection;
  const TSliceReplayer::TProgress& FProgress;
  const TCancellationPtr& FCancellation;
  std::vector<TShape> FShapes;
  QHash<QString, QHash<QString, TTargetColumn>> FTargetColumns;  // by table, then column
  struct TBlock {
    std::unique_ptr<TDbQuery> Query;
    bool Usable = true;
    bool Worked = false;
  };
  std::map<QString, TBlock> FBlocks;  // by the shapes of their records
  TReplayResult FResult;
};

void TReplayRun::CollectShapes(const TSliceScript& aScript) {
  QHash<QString, int> LTables;
  for (int I = 0; I < aScript.ShapeCount(); ++I) {
    const TScriptShape& LScriptShape = aScript.Shape(I);
    TShape LShape;
    LShape.Table = LScriptShape.Table;
    LShape.Columns = LScriptShape.Columns;
    LShape.Matching = LScriptShape.Matching;
    for (const QString& LColumn : LShape.Matching) LShape.KeyColumns.push_back(int(LShape.Columns.indexOf(LColumn)));
    FShapes.push_back(std::move(LShape));
  }
  // Tables in order of their first record.
  for (int I = 0; I < aScript.Count(); ++I) {
    TShape& LShape = FShapes[std::size_t(aScript.ShapeOf(I))];
    auto LFound = LTables.constFind(LShape.Table);
    if (LFound == LTables.constEnd()) {
      LFound = LTables.insert(LShape.Table, int(FResult.Tables.size()));
      FResult.Tables.append(TReplayTable{LShape.Table, 0, 0, 0, {}});
    }
    LShape.TableIndex = *LFound;
  }
}

// Every table and column the script writes must exist in the target and take values.
void TReplayRun::Preflight() {
  QStringList LProblems;
  TDbQuery LQuery(FConnection);
  LQuery.SetSQL(QStringLiteral(
      "SELECT TRIM(r.RDB$FIELD_NAME), f.RDB$FIELD_TYPE, COALESCE(f.RDB$FIELD_SUB_TYPE, 0), "
      "COALESCE(f.RDB$FIELD_SCALE, 0), COALESCE(f.RDB$CHARACTER_SET_ID, 0), "
      "IIF(f.RDB$COMPUTED_BLR IS NULL, 0, 1), IIF(f.RDB$DIMENSIONS IS NULL, 0, 1) "
      "FROM RDB$RELATION_FIELDS r JOIN RDB$FIELDS f ON f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE "
      "WHERE r.RDB$RELATION_NAME = :T"));
  for (const TReplayTable& LTable : std::as_const(FResult.Tables)) {
    QHash<QString, TTargetColumn> LColumns;
    // Longer names cannot exist in Firebird 3; asking would only fail with a truncation.
    if (LTable.Table.toUtf8().size() <= 31) {
      LQuery.SetParam("T", TValue::Text(LTable.Table));
      for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
        TTargetColumn LColumn =
            TargetColumn(int(LQuery.Field(1).Value().AsInteger()), int(LQuery.Field(2).Value().AsInteger()),
                         int(LQuery.Field(3).Value().AsInteger()), int(LQuery.Field(4).Value().AsInteger()));
        LColumn.Computed = LQuery.Field(5).Value().AsInteger() != 0;
        if (LQuery.Field(6).Value().AsInteger() != 0) LColumn.Supported = false;
        LColumns.insert(LQuery.Field(0).Value().AsText(), LColumn);
      }
      LQuery.Close();
    }
    if (LColumns.isEmpty()) LProblems << "tabela " + LTable.Table + " inexistente";
    FTargetColumns.insert(LTable.Table, LColumns);
  }
  QSet<QString> LSeen;
  for (TShape& LShape : FShapes) {
    const QHash<QString, TTargetColumn>& LColumns = FTargetColumns[LShape.Table];
    if (LColumns.isEmpty()) continue;
    for (const QString& LName : std::as_const(LShape.Columns)) {
      const auto LFound = LColumns.constFind(LName);
      QString LProblem;
      if (LFound == LColumns.constEnd())
        LProblem = "campo " + LShape.Table + "." + LName + " inexistente";
      else if (LFound->Computed)
        LProblem = "campo " + LShape.Table + "." + LName + " calculado, nao gravavel";
      else if (!LFound->Supported)
        LProblem = "campo " + LShape.Table + "." + LName + " de tipo nao suportado";
      if (!LProblem.isEmpty() && !LSeen.contains(LProblem)) {
        LSeen.insert(LProblem);
        LProblems << LProblem;
      }
      LShape.Types.push_back(LFound == LColumns.constEnd() ? TColumnType{} : LFound->Type);
    }
  }
  if (!LProblems.isEmpty())
    throw TCorvaneError("Destino incompativel com o script, nada foi executado: " + LProblems.join(QLatin1String("; ")) +
                        ".");
}

QString TReplayRun::KeyOf(const TShape& aShape, const std::vector<TValue>& aValues) const {
  QString LKey = aShape.Table;
  LKey += QChar(0);
  for (const int LColumn : aShape.KeyColumns) AppendKeyPart(LKey, aValues[std::size_t(LColumn)]);
  return LKey;
}

void TReplayRun::RecordFailure(const TPending& aRecord, const QString& aMessage) {
  throw TCorvaneError("Registro " + QString::number(aRecord.Index + 1) + " (" + aRecord.Description +
                      ") falhou, nada foi gravado: " + aMessage);
}

TPending TReplayRun::Pending(const TSliceScript& aScript, int aIndex) {
  TScriptRecord LRecord = aScript.Record(aIndex);
  TPending LPending;
  LPending.Index = aIndex;
  LPending.Shape = aScript.ShapeOf(aIndex);
  LPending.Description = LRecord.Description;
  const TShape& LShape = FShapes[std::size_t(LPending.Shape)];
  LPending.Values.reserve(LRecord.Values.size());
  try {
    for (std::size_t I = 0; I < LRecord.Values.size(); ++I)
      LPending.Values.push_back(LRecord.Values[I].ValueFor(LShape.Types[I], LShape.Columns[qsizetype(I)]));
  } catch (const TCorvaneError& aError) {
    RecordFailure(LPending, aError.Message());
  }
  LPending.Key = KeyOf(LShape, LPending.Values);
  return LPending;
}

// The query that looks up aBatch keys of aShape at once, made once per size.
TDbQuery& TReplayRun::ReadQuery(TShape& aShape, int aBatch) {
  std::unique_ptr<TDbQuery>& LQuery = aShape.Reads[aBatch];
  if (LQuery) return *LQuery;
  const int LKeys = int(aShape.KeyColumns.size());
  QStringList LNames;
  for (const QString& LColumn : std::as_const(aShape.Columns)) LNames << TSqlLiterals::QuoteName(LColumn);
  const QString LTable = TSqlLiterals::QuoteName(aShape.Table);
  LQuery = std::make_unique<TDbQuery>(FConnection);
  if (LKeys == 1) {
    QString LCondition = TSqlLiterals::QuoteName(aShape.Matching[0]) + QLatin1String(" IN (");
    for (int I = 0; I < aBatch; ++I) LCondition += (I ? QLatin1String(", :K") : QLatin1String(":K")) + QString::number(I);
    LCondition += QLatin1Char(')');
    LQuery->SetSQL("SELECT " + LNames.join(QLatin1String(", ")) + " FROM " + LTable + " WHERE " + LCondition);
    return *LQuery;
  }
  // A list of OR-ed conditions lets the optimizer pick an index on the first key column
  // alone, which may hold every row of the document; joining a list of the keys lets each
  // key find its row through the whole key.
  QString LKeyRows;
  for (int I = 0; I < aBatch; ++I) {
    LKeyRows += I ? QLatin1String(" UNION ALL SELECT ") : QLatin1String("SELECT ");
    for (int J = 0; J < LKeys; ++J)
      LKeyRows += (J ? QLatin1String(", CAST(:K") : QLatin1String("CAST(:K")) + QString::number(I) + QLatin1Char('_') +
                  QString::number(J) + QLatin1String(" AS TYPE OF COLUMN ") + LTable + QLatin1Char('.') +
                  TSqlLiterals::QuoteName(aShape.Matching[J]) + QLatin1String(") AS \"K$") + QString::number(J) +
                  QLatin1Char('"');
    LKeyRows += QLatin1String(" FROM RDB$DATABASE");
  }
  QStringList LJoin;
  for (int J = 0; J < LKeys; ++J)
    LJoin << "\"R$\"." + TSqlLiterals::QuoteName(aShape.Matching[J]) + " = \"K$\".\"K$" + QString::number(J) + "\"";
  for (QString& LName : LNames) LName.prepend(QLatin1String("\"R$\"."));
  LQuery->SetSQL("SELECT " + LNames.join(QLatin1String(", ")) + " FROM (" + LKeyRows + ") \"K$\" JOIN " + LTable +
                 " \"R$\" ON " + LJoin.join(QLatin1String(" AND ")));
  return *LQuery;
}

QHash<QString, std::vector<TValue>> TReplayRun::ReadRows(TShape& aShape, const std::vector<const TPending*>& aRecords) {
  QHash<QString, std::vector<TValue>> LRows;
  const int LKeys = int(aShape.KeyColumns.size());
  const int LColumns = int(aShape.Columns.size());
  for (std::size_t LStart = 0; LStart < aRecords.size();) {
    // Few sizes, each prepared once: a table of a handful of rows needs no query for 64.
    const std::size_t LLeft = aRecords.size() - LStart;
    int LBatch = 1;
    for (const int LSize : CBatches)
      if (std::size_t(LSize) <= LLeft) {
        LBatch = LSize;
        break;
      }
    TDbQuery& LQuery = ReadQuery(aShape, LBatch);
    for (int I = 0; I < LBatch; ++I) {
      const TPending& LRecord = *aRecords[LStart + std::size_t(I)];
      for (int J = 0; J < LKeys; ++J)
        LQuery.SetParam(I * LKeys + J, LRecord.Values[std::size_t(aShape.KeyColumns[std::size_t(J)])]);
    }
    LStart += std::size_t(LBatch);
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
      std::vector<TValue> LValues;
      LValues.reserve(std::size_t(LColumns));
      for (int I = 0; I < LColumns; ++I) LValues.push_back(LQuery.Field(I).Value());
      const QString LKey = KeyOf(aShape, LValues);
      LRows.insert(LKey, std::move(LValues));
    }
    LQuery.Close();
  }
  return LRows;
}

QHash<QString, std::vector<TValue>> TReplayRun::ReadWindow(const std::vector<TPending>& aWindow) {
  std::map<int, std::vector<const TPending*>> LByShape;
  for (const TPending& LRecord : aWindow) LByShape[LRecord.Shape].push_back(&LRecord);
  QHash<QString, std::vector<TValue>> LRows;
  for (const auto& [LShape, LRecords] : LByShape) LRows.insert(ReadRows(FShapes[std::size_t(LShape)], LRecords));
  return LRows;
}

// Consecutive records written by one statement: an EXECUTE BLOCK holding their statements,
// with their values as its parameters, one per shape sequence and kept for the run. The
// server then runs them without a round trip each. A block that fails has changed nothing
// (a statement is undone whole); its records are then written in halves down to single
// records, so that a failing record is named as when written alone.
void TReplayRun::WriteChunk(const std::vector<TPending>& aWindow, std::size_t aStart, std::size_t aEnd) {
  if (aEnd - aStart == 1) {
    Write(aWindow[aStart]);
    return;
  }
  QString LSignature;
  for (std::size_t I = aStart; I < aEnd; ++I) LSignature += QString::number(aWindow[I].Shape) + QLatin1Char(',');
  auto LFound = FBlocks.find(LSignature);
  if (LFound == FBlocks.end()) {
    QString LParams, LBody;
    int LParam = 0;
    for (std::size_t I = aStart; I < aEnd; ++I) {
      const TShape& LShape = FShapes[std::size_t(aWindow[I].Shape)];
      const QString LTable = TSqlLiterals::QuoteName(LShape.Table);
      QStringList LNames, LValues, LKeys;
      for (const QString& LColumn : LShape.Columns) {
        const QString LName = TSqlLiterals::QuoteName(LColumn);
        const QString LVariable = "\"V$" + QString::number(LParam) + "\"";
        LParams += (LParam ? QLatin1String(", ") : QLatin1String("")) + LVariable + " TYPE OF COLUMN " + LTable + "." +
                   LName + " = :P" + QString::number(LParam);
        LNames << LName;
        LValues << ":" + LVariable;
        ++LParam;
      }
      for (const QString& LKey : LShape.Matching) LKeys << TSqlLiterals::QuoteName(LKey);
      LBody += "UPDATE OR INSERT INTO " + LTable + " (" + LNames.join(QLatin1String(", ")) + ") VALUES (" +
               LValues.join(QLatin1String(", ")) + ") MATCHING (" + LKeys.join(QLatin1String(", ")) + ");\n";
    }
    TBlock LBlock;
    LBlock.Query = std::make_unique<TDbQuery>(FConnection);
    LBlock.Query->SetSQL("EXECUTE BLOCK (" + LParams + ") AS BEGIN\n" + LBody + "END");
    LFound = FBlocks.emplace(LSignature, std::move(LBlock)).first;
  }
  TBlock& LBlock = LFound->second;
  if (LBlock.Usable) {
    try {
      int LParam = 0;
      for (std::size_t I = aStart; I < aEnd; ++I)
        for (const TValue& LValue : aWindow[I].Values) LBlock.Query->SetParam(LParam++, LValue);
      LBlock.Query->Open();
      LBlock.Query->Close();
      LBlock.Worked = true;
      return;
    } catch (const TCorvaneError&) {
      // A block the server never took (too large, say) is not tried again.
      if (!LBlock.Worked) LBlock.Usable = false;
    }
  }
  // Halves, down to single records: a record that fails is then named.
  const std::size_t LMiddle = aStart + (aEnd - aStart) / 2;
  WriteChunk(aWindow, aStart, LMiddle);
  WriteChunk(aWindow, LMiddle, aEnd);
}

void TReplayRun::Write(const TPending& aRecord) {
  TShape& LShape = FShapes[std::size_t(aRecord.Shape)];
  if (!LShape.Write) {
    QStringList LNames, LParams, LKeys;
    for (qsizetype I = 0; I < LShape.Columns.size(); ++I) {
      LNames << TSqlLiterals::QuoteName(LShape.Columns[I]);
      LParams << ":P" + QString::number(I);
    }
    for (const QString& LKey : std::as_const(LShape.Matching)) LKeys << TSqlLiterals::QuoteName(LKey);
    LShape.Write = std::make_unique<TDbQuery>(FConnection);
    LShape.Write->SetSQL("UPDATE OR INSERT INTO " + TSqlLiterals::QuoteName(LShape.Table) + " (" +
                         LNames.join(QLatin1String(", ")) + ") VALUES (" + LParams.join(QLatin1String(", ")) +
                         ") MATCHING (" + LKeys.join(QLatin1String(", ")) + ")");
  }
  try {
    for (std::size_t I = 0; I < aRecord.Values.size(); ++I) LShape.Write->SetParam(int(I), aRecord.Values[I]);
    LShape.Write->Open();
    LShape.Write->Close();
  } catch (const TCorvaneError& aError) {
    RecordFailure(aRecord, aError.Message());
  }
}

TReplayResult TReplayRun::Run(const TSliceScript& aScript, bool aDryRun) {
  Report(QStringLiteral("Lendo o script: ") + QString::number(aScript.Count()) + QStringLiteral(" registros."));
  CollectShapes(aScript);
  FConnection.StartTransaction();
  Report(QStringLiteral("Conferindo tabelas e campos do destino..."));
  Preflight();

  // Windows of records: the target rows they will meet are read together, after every
  // earlier window has been written, so each row is seen as its statement will find it. A
  // key that comes again starts a new window.
  QHash<QString, int> LLastWriter;  // the record that writes each key last
  for (int LStart = 0; LStart < aScript.Count();) {
    std::vector<TPending> LWindow;
    QSet<QString> LKeys;
    CheckStop();
    for (int I = LStart; I < aScript.Count() && int(LWindow.size()) < CWindow; ++I) {
      TPending LRecord = Pending(aScript, I);
      if (LKeys.contains(LRecord.Key)) break;
      LKeys.insert(LRecord.Key);
      LWindow.push_back(std::move(LRecord));
    }
    const QHash<QString, std::vector<TValue>> LBefore = ReadWindow(LWindow);
    QStringList LStates;
    for (const TPending& LRecord : LWindow) {
      const TShape& LShape = FShapes[std::size_t(LRecord.Shape)];
      TReplayTable& LTable = FResult.Tables[LShape.TableIndex];
      const auto LFound = LBefore.constFind(LRecord.Key);
      QString LState;
      if (LFound == LBefore.constEnd()) {
        ++LTable.Inserted;
        ++FResult.Inserted;
        LState = QStringLiteral("novo");
      } else {
        QStringList LChanged;
        for (std::size_t I = 0; I < LRecord.Values.size(); ++I)
          if (!SameValue(LFound->at(I), LRecord.Values[I], LShape.Types[I])) LChanged << LShape.Columns[qsizetype(I)];
        if (LChanged.isEmpty()) {
          ++LTable.Unchanged;
          ++FResult.Unchanged;
          LState = QStringLiteral("inalterado");
        } else {
          ++LTable.Changed;
          ++FResult.Changed;
          LTable.ChangedRows.append(TReplayChange{LRecord.Index + 1, LRecord.Description, LChanged});
          LState = "alterado em " + LChanged.join(QLatin1String(", "));
        }
      }
      LLastWriter.insert(LRecord.Key, LRecord.Index);
      LStates << LState;
    }
    // The records of the window, a few per statement; progress once they are written.
    for (std::size_t I = 0; I < LWindow.size(); I += CChunk) {
      const std::size_t LEnd = std::min(LWindow.size(), I + CChunk);
      CheckStop();
      WriteChunk(LWindow, I, LEnd);
      if (FProgress)
        for (std::size_t J = I; J < LEnd; ++J)
          Report("Registro " + QString::number(LWindow[J].Index + 1) + ": " + LWindow[J].Description + " - " +
                 LStates[qsizetype(J)] + ".");
    }
    LStart += int(LWindow.size());
  }

  // Every row as its last statement left it, read back in the same transaction.
  Report(QStringLiteral("Conferindo os registros gravados..."));
  QSet<int> LDivergent;
  for (int LStart = 0; LStart < aScript.Count();) {
    CheckStop();
    std::vector<TPending> LWindow;
    int I = LStart;
    for (; I < aScript.Count() && int(LWindow.size()) < CWindow; ++I) {
      TPending LRecord = Pending(aScript, I);
      if (LLastWriter.value(LRecord.Key) == I) LWindow.push_back(std::move(LRecord));
    }
    LStart = I;
    const QHash<QString, std::vector<TValue>> LAfter = ReadWindow(LWindow);
    for (const TPending& LRecord : LWindow) {
      const TShape& LShape = FShapes[std::size_t(LRecord.Shape)];
      const auto LFound = LAfter.constFind(LRecord.Key);
      if (LFound == LAfter.constEnd()) {
        FResult.Divergences.append(
            TReplayDivergence{LRecord.Index + 1, LRecord.Description, QString(), QString(), QStringLiteral("ausente")});
        LDivergent.insert(LRecord.Index);
        continue;
      }
      for (std::size_t C = 0; C < LRecord.Values.size(); ++C)
        if (!SameValue(LFound->at(C), LRecord.Values[C], LShape.Types[C])) {
          FResult.Divergences.append(TReplayDivergence{LRecord.Index + 1, LRecord.Description,
                                                       LShape.Columns[qsizetype(C)], Shown(LRecord.Values[C]),
                                                       Shown(LFound->at(C))});
          LDivergent.insert(LRecord.Index);
        }
    }
  }
  FResult.Divergent = int(LDivergent.size());

  for (TShape& LShape : FShapes) {
    LShape.Write.reset();
    LShape.Reads.clear();
  }
  FBlocks.clear();
  if (aDryRun) {
    FConnection.Rollback();
    Report(QStringLiteral("Simulacao concluida: transacao desfeita, nada foi gravado."));
  } else {
    // The point of no return: a stop requested up to here rolls everything back; one that
    // arrives from here on lets the commit finish.
    if (FCancellation && !FCancellation->EnterCommit()) CheckStop();
    FConnection.Commit();
    FResult.Committed = true;
    Report(QStringLiteral("Transacao confirmada."));
  }
  return std::move(FResult);
}

}  // namespace

void TSliceReplayer::OpenTarget(TDbConnection& aConnection, const QString& aParameters) {
  aConnection.SetLoginPrompt(false);
  aConnection.SetParams(aParameters);
  aConnection.SetParam("CharacterSet", "UTF8");
  aConnection.SetSilent(true);
  aConnection.Open();
}

TSliceReplayer::TSliceReplayer(TDbConnection& aConnection) : FConnection(aConnection) {}

TSliceReplayer& TSliceReplayer::DryRun(bool aDryRun) {
  FDryRun = aDryRun;
  return *this;
}

TSliceReplayer& TSliceReplayer::Progress(const TProgress& aProgress) {
  FProgress = aProgress;
  return *this;
}

TSliceReplayer& TSliceReplayer::Cancellation(const TCancellationPtr& aCancellation) {
  FCancellation = aCancellation;
  return *this;
}

TReplayResult TSliceReplayer::Run(const TSliceScript& aScript) {
  if (!FConnection.IsOpen()) throw TCorvaneError(QStringLiteral("Abra a conexao com o destino antes de reproduzir."));
  if (FConnection.InTransaction())
    throw TCorvaneError(QStringLiteral("Utilize uma conexao sem transacao ativa para reproduzir o script."));
  if (FConnection.Param(QStringLiteral("CharacterSet")).trimmed().compare(QLatin1String("UTF8"), Qt::CaseInsensitive) != 0)
    throw TCorvaneError(QStringLiteral("Utilize uma conexao UTF8 para reproduzir o script."));
  // One read-write snapshot: the preview and the statements see the same database, and
  // nothing stays written unless everything succeeded.
  const bool LReadOnly = FConnection.ReadOnly();
  const TIsolation LIsolation = FConnection.Isolation();
  struct TRestore {
    TDbConnection& FConnection;
    bool FReadOnly;
    TIsolation FIsolation;
    TCancellationPtr FCancellation;  // the connection's own
    ~TRestore() {
      try {
        FConnection.Rollback();
      } catch (...) {
        // the failure that brought us here is the one to report
      }
      FConnection.SetReadOnly(FReadOnly);
      FConnection.SetIsolation(FIsolation);
      FConnection.SetCancellation(FCancellation);
    }
  } LRestore{FConnection, LReadOnly, LIsolation, FConnection.Cancellation()};
  FConnection.SetReadOnly(false);
  FConnection.SetIsolation(TIsolation::tiSnapshot);
  if (FCancellation) FConnection.SetCancellation(FCancellation);
  try {
    if (FCancellation) FCancellation->Check(CReplayStopped);
    TReplayRun LRun(FConnection, FProgress, FCancellation);
    return LRun.Run(aScript, FDryRun);
  } catch (...) {
    // Before the commit a stop makes the call in flight fail with its own text; the run
    // reports the stop, and TRestore rolls back on the way out.
    if (FCancellation && FCancellation->Requested() && !FCancellation->Committing())
      throw TCancelledError(CReplayStopped);
    throw;
  }
}

}  // namespace Corvane
