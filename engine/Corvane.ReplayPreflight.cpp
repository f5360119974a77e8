#include "Corvane.ReplayPreflight.h"

#include <QSet>

namespace Corvane::Replay {

namespace {

// Firebird's type codes in RDB$FIELDS.RDB$FIELD_TYPE.
enum : int {
  ftSmallint = 7, ftInteger = 8, ftQuad = 9, ftFloat = 10, ftDFloat = 11, ftDate = 12, ftTime = 13, ftChar = 14,
  ftBigint = 16, ftBoolean = 23, ftDouble = 27, ftTimestamp = 35, ftVarchar = 37, ftCString = 40, ftBlob = 261
};
constexpr int CCharsetNone = 0;
constexpr int CCharsetOctets = 1;
// A UTF8 connection describes a text parameter in up to 4 bytes per character, at most 32765
// bytes: longer text of a narrower set travels as BLOB text.
constexpr int CLongestCarried = 8191;

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

QString Listed(const QString& aTable, const QStringList& aColumns) {
  return aTable + "(" + aColumns.join(QLatin1String(", ")) + ")";
}

}  // namespace

const TTargetTable& TTargetCatalogue::Table(const QString& aTable) {
  auto LFound = FTables.constFind(aTable);
  if (LFound != FTables.constEnd()) return *LFound;
  TTargetTable LTable;
  // Longer names cannot exist in Firebird 3; asking would only fail with a truncation.
  if (aTable.toUtf8().size() <= 31) {
    TDbQuery LQuery(FConnection);
    LQuery.SetSQL(QStringLiteral("SELECT COALESCE(RDB$RELATION_TYPE, IIF(RDB$VIEW_BLR IS NULL, 0, 1)) "
                                 "FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = :T"));
    LQuery.SetParam("T", TValue::Text(aTable));
    LQuery.Open();
    LTable.Exists = !LQuery.Eof();
    if (LTable.Exists) LTable.RelationType = int(LQuery.Field(0).Value().AsInteger());
    LQuery.Close();
  }
  if (LTable.Exists) {
    TDbQuery LQuery(FConnection);
    LQuery.SetSQL(QStringLiteral(
        "SELECT r.RDB$FIELD_NAME, f.RDB$FIELD_TYPE, COALESCE(f.RDB$FIELD_SUB_TYPE, 0), "
        "COALESCE(f.RDB$FIELD_SCALE, 0), COALESCE(f.RDB$CHARACTER_SET_ID, 0), "
        "IIF(f.RDB$COMPUTED_BLR IS NULL, 0, 1), IIF(f.RDB$DIMENSIONS IS NULL, 0, 1), "
        "IIF(COALESCE(r.RDB$NULL_FLAG, f.RDB$NULL_FLAG, 0) = 1 AND r.RDB$DEFAULT_VALUE IS NULL AND "
        "f.RDB$DEFAULT_VALUE IS NULL AND r.RDB$IDENTITY_TYPE IS NULL, 1, 0), COALESCE(f.RDB$CHARACTER_LENGTH, 0) "
        "FROM RDB$RELATION_FIELDS r JOIN RDB$FIELDS f ON f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE "
        "WHERE r.RDB$RELATION_NAME = :T ORDER BY r.RDB$FIELD_POSITION"));
    LQuery.SetParam("T", TValue::Text(aTable));
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
      const int LCharset = int(LQuery.Field(4).Value().AsInteger());
      TTargetColumn LColumn = TargetColumn(int(LQuery.Field(1).Value().AsInteger()),
                                           int(LQuery.Field(2).Value().AsInteger()),
                                           int(LQuery.Field(3).Value().AsInteger()), LCharset);
      LColumn.Computed = LQuery.Field(5).Value().AsInteger() != 0;
      if (LQuery.Field(6).Value().AsInteger() != 0) LColumn.Supported = false;
      LColumn.Required = LQuery.Field(7).Value().AsInteger() != 0 && !LColumn.Computed;
      LColumn.Wide = LColumn.Type.Kind == TValueKind::vkText && LCharset != CCharsetNone &&
                     LCharset != CCharsetOctets && LQuery.Field(8).Value().AsInteger() > CLongestCarried;
      const QString LName = CatalogueName(LQuery.Field(0).Value());
      LTable.Order << LName;
      LTable.Columns.insert(LName, LColumn);
    }
    LQuery.Close();
    // Primary and unique keys, and unique indices on plain columns: what identifies a row.
    LQuery.SetSQL(QStringLiteral(
        "SELECT i.RDB$INDEX_NAME, s.RDB$FIELD_NAME FROM RDB$INDICES i "
        "JOIN RDB$INDEX_SEGMENTS s ON s.RDB$INDEX_NAME = i.RDB$INDEX_NAME "
        "LEFT JOIN RDB$RELATION_CONSTRAINTS c ON c.RDB$INDEX_NAME = i.RDB$INDEX_NAME "
        "WHERE i.RDB$RELATION_NAME = :T AND i.RDB$UNIQUE_FLAG = 1 AND COALESCE(i.RDB$INDEX_INACTIVE, 0) = 0 "
        "AND i.RDB$EXPRESSION_BLR IS NULL "
        "ORDER BY IIF(c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY', 0, 1), i.RDB$INDEX_NAME, s.RDB$FIELD_POSITION"));
    LQuery.SetParam("T", TValue::Text(aTable));
    QString LIndex;
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
      const QString LName = CatalogueName(LQuery.Field(0).Value());
      if (LName != LIndex || LTable.UniqueKeys.isEmpty()) LTable.UniqueKeys.append(QStringList());
      LIndex = LName;
      LTable.UniqueKeys.last() << CatalogueName(LQuery.Field(1).Value());
    }
    LQuery.Close();
    // Trigger types: odd is BEFORE; 3 and 5 are BEFORE UPDATE and BEFORE DELETE alone.
    LQuery.SetSQL(QStringLiteral(
        "SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$RELATION_NAME = :T AND COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0 "
        "AND MOD(RDB$TRIGGER_TYPE, 2) = 1 AND RDB$TRIGGER_TYPE NOT IN (3, 5)"));
    LQuery.SetParam("T", TValue::Text(aTable));
    LQuery.Open();
    LTable.FillsOnInsert = LQuery.Field(0).Value().AsInteger() > 0;
    LQuery.Close();
  }
  return *FTables.insert(aTable, LTable);
}

QList<TDroppedColumn> Preflight(TTargetCatalogue& aCatalogue, std::vector<TShape>& aShapes, const QStringList& aTables,
                                bool aSkipMissing) {
  QStringList LProblems;
  QSet<QString> LSeen;
  auto LProblem = [&](const QString& aProblem) {
    if (LSeen.contains(aProblem)) return;
    LSeen.insert(aProblem);
    LProblems << aProblem;
  };
  for (const QString& LName : aTables) {
    const TTargetTable& LTable = aCatalogue.Table(LName);
    if (!LTable.Exists || LTable.Columns.isEmpty())
      LProblem("tabela " + LName + " inexistente");
    else if (LTable.RelationType == 1)
      LProblem("tabela " + LName + " e uma view no destino, nao guarda registros");
    else if (LTable.RelationType == 4 || LTable.RelationType == 5)
      LProblem("tabela " + LName + " e temporaria (GLOBAL TEMPORARY) no destino, nao guarda registros");
    else if (LTable.RelationType != 0)
      LProblem("tabela " + LName + " nao e uma tabela comum no destino (tipo " + QString::number(LTable.RelationType) +
               "), nao guarda registros");
  }
  QList<TDroppedColumn> LDropped;
  QSet<QString> LDroppedSeen;
  for (TShape& LShape : aShapes) {
    const TTargetTable& LTable = aCatalogue.Table(LShape.Table);
    if (!LTable.Exists || LTable.Columns.isEmpty() || LTable.RelationType != 0) continue;
    const QStringList LScriptColumns = LShape.Columns;
    LShape.Columns.clear();
    for (qsizetype I = 0; I < LScriptColumns.size(); ++I) {
      const QString& LName = LScriptColumns[I];
      const auto LFound = LTable.Columns.constFind(LName);
      if (LFound == LTable.Columns.constEnd()) {
        if (aSkipMissing && !LShape.Matching.contains(LName)) {
          LShape.Dropped.push_back(int(I));
          if (!LDroppedSeen.contains(LShape.Table + QChar(0) + LName)) {
            LDroppedSeen.insert(LShape.Table + QChar(0) + LName);
            LDropped.append(TDroppedColumn{LShape.Table, LName});
          }
          continue;
        }
        LProblem("campo " + LShape.Table + "." + LName + " inexistente");
      } else if (LFound->Computed) {
        LProblem("campo " + LShape.Table + "." + LName + " calculado, nao gravavel");
      } else if (!LFound->Supported) {
        LProblem("campo " + LShape.Table + "." + LName + " de tipo nao suportado");
      }
      const bool LKnown = LFound != LTable.Columns.constEnd();
      LShape.Columns << LName;
      LShape.Sources.push_back(int(I));
      LShape.Types.push_back(LKnown ? LFound->Type : TColumnType{});
      LShape.Wide.push_back(LKnown && LFound->Wide);
    }
    LShape.KeyColumns.clear();
    for (const QString& LColumn : std::as_const(LShape.Matching))
      LShape.KeyColumns.push_back(int(LShape.Columns.indexOf(LColumn)));
    // MATCHING must find at most one row, or one statement overwrites several.
    bool LUnique = false;
    for (const QStringList& LKey : LTable.UniqueKeys) {
      bool LCovered = true;
      for (const QString& LColumn : LKey) LCovered = LCovered && LShape.Matching.contains(LColumn);
      LUnique = LUnique || LCovered;
    }
    if (!LUnique)
      LProblem("chave MATCHING " + Listed(LShape.Table, LShape.Matching) +
               " nao e chave primaria nem unica no destino" +
               (LTable.UniqueKeys.isEmpty() ? QString()
                                            : " (chave primaria: " + Listed(LShape.Table, LTable.PrimaryKey()) + ")"));
    if (!LTable.FillsOnInsert)
      for (const QString& LColumn : LTable.Order)
        if (LTable.Columns.value(LColumn).Required && !LShape.Columns.contains(LColumn))
          LProblem("campo " + LShape.Table + "." + LColumn + " obrigatorio no destino (NOT NULL, sem valor padrao) "
                   "e ausente do script");
  }
  if (!LProblems.isEmpty())
    throw TCorvaneError("Destino incompativel com o script, nada foi executado: " + LProblems.join(QLatin1String("; ")) +
                        ".");
  return LDropped;
}

}  // namespace Corvane::Replay
