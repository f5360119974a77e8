#include "Corvane.Catalogue.h"

#include "Corvane.Literals.h"

#include <QSet>
#include <algorithm>

namespace Corvane {

namespace {

// Names are stored padded with blanks; only the padding goes. A leading blank belongs to a
// quoted identifier (" id" is not "id").
const QString CPrimaryKeySql = QStringLiteral(
    "SELECT TRIM(TRAILING FROM s.RDB$FIELD_NAME) AS FIELD_NAME FROM RDB$RELATION_CONSTRAINTS c JOIN RDB$INDEX_SEGMENTS s "
    "ON s.RDB$INDEX_NAME = c.RDB$INDEX_NAME WHERE c.RDB$RELATION_NAME = :T AND c.RDB$CONSTRAINT_TYPE = "
    "'PRIMARY KEY' ORDER BY s.RDB$FIELD_POSITION");

const QString CColumnsSql = QStringLiteral(
    "SELECT TRIM(TRAILING FROM r.RDB$FIELD_NAME) AS FIELD_NAME, f.RDB$DIMENSIONS, f.RDB$FIELD_TYPE, f.RDB$FIELD_SUB_TYPE, "
    "(SELECT TRIM(TRAILING FROM s.RDB$CHARACTER_SET_NAME) FROM RDB$CHARACTER_SETS s WHERE s.RDB$CHARACTER_SET_ID = "
    "f.RDB$CHARACTER_SET_ID), f.RDB$FIELD_LENGTH FROM RDB$RELATION_FIELDS r JOIN RDB$FIELDS f "
    "ON f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE WHERE r.RDB$RELATION_NAME = :T AND f.RDB$COMPUTED_BLR IS NULL "
    "ORDER BY r.RDB$FIELD_POSITION");

constexpr int CBlobType = 261;
constexpr int CInlineBytes = 8192;  // of the contents sent along with one row, as the server describes them
constexpr int CInlineMost = 2048;   // characters or bytes of one BLOB sent along with its row
// A row the server describes larger than this gets no contents along: with them, its message
// could pass the server's limit of 64 KB.
constexpr qint64 CInlineRowBytes = 40000;

const QString CForeignKeysSql = QStringLiteral(
    "SELECT TRIM(TRAILING FROM c.RDB$CONSTRAINT_NAME) AS FK_NAME, TRIM(TRAILING FROM p.RDB$RELATION_NAME) AS P_TABLE, "
    "TRIM(TRAILING FROM s.RDB$FIELD_NAME) AS C_FIELD, TRIM(TRAILING FROM ps.RDB$FIELD_NAME) AS P_FIELD FROM RDB$RELATION_CONSTRAINTS c "
    "JOIN RDB$REF_CONSTRAINTS r ON r.RDB$CONSTRAINT_NAME = c.RDB$CONSTRAINT_NAME JOIN RDB$RELATION_CONSTRAINTS p "
    "ON p.RDB$CONSTRAINT_NAME = r.RDB$CONST_NAME_UQ JOIN RDB$INDEX_SEGMENTS s ON s.RDB$INDEX_NAME = "
    "c.RDB$INDEX_NAME JOIN RDB$INDEX_SEGMENTS ps ON ps.RDB$INDEX_NAME = p.RDB$INDEX_NAME AND "
    "ps.RDB$FIELD_POSITION = s.RDB$FIELD_POSITION WHERE c.RDB$RELATION_NAME = :T ORDER BY "
    "c.RDB$CONSTRAINT_NAME, s.RDB$FIELD_POSITION");

const QString CNotNullSql = QStringLiteral(
    "SELECT TRIM(TRAILING FROM r.RDB$FIELD_NAME) AS FIELD_NAME FROM RDB$RELATION_FIELDS r JOIN RDB$FIELDS f "
    "ON f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE WHERE r.RDB$RELATION_NAME = :T AND "
    "(r.RDB$NULL_FLAG = 1 OR f.RDB$NULL_FLAG = 1)");

// Firebird 3 names hold at most 31 bytes (UTF-8); the catalogue holds no longer one, and the
// server would refuse it as a parameter ("string right truncation") instead of finding nothing.
bool CatalogueCanHold(const QString& aName) {
  if (aName.size() > 31) return false;
  return aName.toUtf8().size() <= 31;
}

}  // namespace

TSliceCatalogue::TLease::~TLease() {
  if (FQuery) FCatalogue->Return(std::move(FQuery));
}

void TSliceCatalogue::BeginRun(bool aCaching, bool aSkipArrays) {
  EndRun();
  FCaching = aCaching;
  FSkipArrays = aSkipArrays;
  FSkippedArrays.clear();
}

void TSliceCatalogue::EndRun() noexcept {
  FAhead.clear();
  FUnionSql.clear();
  FUnionCount.clear();
  FIdle.clear();
  FPrimaryKeys.clear();
  FColumns.clear();
  FSelectLists.clear();
  FForeignKeys.clear();
  FNotNull.clear();
}

TSliceCatalogue::TLease TSliceCatalogue::Query(const QString& aSQL) { return Query(aSQL, TSelectList()); }

TSliceCatalogue::TLease TSliceCatalogue::Query(const QString& aSQL, const TSelectList& aSelect) {
  auto LIdle = FIdle.find(aSQL);
  if (LIdle != FIdle.end() && !LIdle->second.empty()) {
    std::unique_ptr<TDbQuery> LQuery = std::move(LIdle->second.back());
    LIdle->second.pop_back();
    return TLease(*this, std::move(LQuery));
  }
  auto LQuery = std::make_unique<TDbQuery>(FConnection);
  LQuery->SetSQL(aSQL);
  // A run that caches hands its rows to a writer on another thread, which reads their BLOBs.
  LQuery->SetDeferBlobs(FCaching);
  // Rows are found by equality only: a key value of another numeric type (a DOUBLE column
  // referencing an INTEGER key) finds what the server's own comparison would.
  LQuery->SetLookup(true);
  LQuery->SetInlineBlobs(aSelect.Columns, aSelect.Inline);
  return TLease(*this, std::move(LQuery));
}

void TSliceCatalogue::Return(std::unique_ptr<TDbQuery> aQuery) noexcept {
  try {
    aQuery->Close();
    if (FCaching) FIdle[aQuery->SQL()].push_back(std::move(aQuery));
  } catch (...) {
    // A query that cannot be closed is dropped; its owner frees the statement.
  }
}

QStringList TSliceCatalogue::PrimaryKey(const QString& aTable) {
  if (FCaching) {
    const auto LFound = FPrimaryKeys.constFind(aTable);
    if (LFound != FPrimaryKeys.constEnd()) return *LFound;
  }
  QStringList LResult;
  if (CatalogueCanHold(aTable)) {
    TLease LQuery = Query(CPrimaryKeySql);
    LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
    LQuery->Open();
    for (; !LQuery->Eof(); LQuery->Next()) LResult << LQuery->Field(0).TextForm();
  }
  if (LResult.isEmpty()) throw TCorvaneError("Tabela sem chave primaria: " + aTable);
  if (FCaching) FPrimaryKeys.insert(aTable, LResult);
  return LResult;
}

QString TSliceCatalogue::Columns(const QString& aTable) {
  if (FCaching) {
    const auto LFound = FColumns.constFind(aTable);
    if (LFound != FColumns.constEnd()) return *LFound;
  }
  QString LResult;
  TSelectList LSelect;
  QStringList LBlobs;  // the content of each BLOB column, as an expression of its own
  qint64 LRowBytes = 0;
  if (CatalogueCanHold(aTable)) {
    TLease LQuery = Query(CColumnsSql);
    LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
    LQuery->Open();
    for (; !LQuery->Eof(); LQuery->Next()) {
      const QString LName = LQuery->Field(0).TextForm();
      const bool LBlob = !LQuery->Field(2).IsNull() && LQuery->Field(2).Value().AsInteger() == CBlobType;
      const qint64 LSubType = LQuery->Field(3).IsNull() ? 0 : LQuery->Field(3).Value().AsInteger();
      // Text may be described in the connection's set at four bytes a character: counted so.
      const qint64 LType = LQuery->Field(2).IsNull() ? 0 : LQuery->Field(2).Value().AsInteger();
      const qint64 LLength = LQuery->Field(5).IsNull() ? 8 : LQuery->Field(5).Value().AsInteger();
      LRowBytes += (LType == 14 || LType == 37 ? 4 * LLength : LLength) + 8;
      if (!LQuery->Field(1).IsNull()) {
        if (!FSkipArrays) throw TCorvaneError("Campo ARRAY ainda nao suportado: " + aTable + "." + LName);
        // Firebird has no literal for an array: the column stays out of the statements.
        QStringList& LSkipped = FSkippedArrays[aTable];
        if (!LSkipped.contains(LName)) LSkipped.append(LName);
        continue;
      }
      if (!LResult.isEmpty()) LResult += QLatin1String(", ");
      LResult += TSqlLiterals::QuoteName(LName);
      ++LSelect.Columns;
      if (LBlob) {
        // Binary and text BLOBs come along with their row when short: the text in its own
        // set, which the server then delivers as it delivers the BLOB; others by themselves.
        const QString LSet = LSubType == 0 ? QStringLiteral("OCTETS") : LQuery->Field(4).TextForm();
        if ((LSubType == 0 || LSubType == 1) && !LSet.isEmpty())
          LBlobs << QLatin1String("IIF(") + (LSubType == 0 ? QLatin1String("OCTET_LENGTH(") : QLatin1String("CHAR_LENGTH(")) +
                        TSqlLiterals::QuoteName(LName) + QLatin1String(") <= %1, CAST(") + TSqlLiterals::QuoteName(LName) +
                        QLatin1String(" AS VARCHAR(%1) CHARACTER SET ") + LSet + QLatin1String("), NULL)");
        else
          LBlobs << QStringLiteral("CAST(NULL AS VARCHAR(1) CHARACTER SET OCTETS)");
      }
    }
  }
  if (LResult.isEmpty()) throw TCorvaneError("Tabela inexistente ou sem campos gravaveis: " + aTable);
  if (FCaching) {
    FColumns.insert(aTable, LResult);
    LSelect.Text = LResult;
    if (!LBlobs.isEmpty() && LRowBytes <= CInlineRowBytes) {
      const int LMost = qMin(CInlineMost, CInlineBytes / 4 / int(LBlobs.size()));
      for (const QString& LBlob : std::as_const(LBlobs)) LSelect.Text += QLatin1String(", ") + LBlob.arg(LMost);
      LSelect.Inline = int(LBlobs.size());
    }
    FSelectLists.insert(aTable, LSelect);
  }
  return LResult;
}

TSliceCatalogue::TSelectList TSliceCatalogue::SelectList(const QString& aTable) {
  if (!FCaching) return TSelectList{Columns(aTable), 0, 0};
  Columns(aTable);
  return FSelectLists.value(aTable);
}

QList<TForeignKey> TSliceCatalogue::ForeignKeys(const QString& aTable) {
  if (FCaching) {
    const auto LFound = FForeignKeys.constFind(aTable);
    if (LFound != FForeignKeys.constEnd()) return *LFound;
  }
  QList<TForeignKey> LResult;
  if (CatalogueCanHold(aTable)) {
    TLease LQuery = Query(CForeignKeysSql);
    LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
    LQuery->Open();
    for (; !LQuery->Eof(); LQuery->Next()) {
      const QString LName = LQuery->FieldByName(QStringLiteral("FK_NAME")).TextForm();
      // Consecutive rows of one constraint form one foreign key.
      if (LResult.isEmpty() || LResult.last().Name != LName)
        LResult.append(TForeignKey{LName, LQuery->FieldByName(QStringLiteral("P_TABLE")).TextForm(), {}, {}});
      LResult.last().Links.append(TForeignKeyLink{LQuery->FieldByName(QStringLiteral("C_FIELD")).TextForm(),
                                                  LQuery->FieldByName(QStringLiteral("P_FIELD")).TextForm()});
    }
  }
  if (FCaching) {
    for (TForeignKey& LForeignKey : LResult) {
      try {
        for (const QString& LColumn : PrimaryKey(LForeignKey.ParentTable)) {
          for (const TForeignKeyLink& LLink : std::as_const(LForeignKey.Links))
            if (LLink.ParentField == LColumn) LForeignKey.PrimaryKeyFields.append(LLink.ChildField);
        }
      } catch (...) {
        LForeignKey.PrimaryKeyFields.clear();  // the walk meets and reports a parent without key
      }
      if (LForeignKey.PrimaryKeyFields.size() != LForeignKey.Links.size()) LForeignKey.PrimaryKeyFields.clear();
    }
    FForeignKeys.insert(aTable, LResult);
  }
  return LResult;
}

bool TSliceCatalogue::Nullable(const QString& aTable, const TForeignKey& aForeignKey) {
  QStringList LNotNull;
  if (FCaching && FNotNull.contains(aTable)) {
    LNotNull = FNotNull.value(aTable);
  } else {
    LNotNull = PrimaryKey(aTable);
    {
      TLease LQuery = Query(CNotNullSql);
      LQuery->SetParam(QStringLiteral("T"), TValue::Text(aTable));
      LQuery->Open();
      for (; !LQuery->Eof(); LQuery->Next()) LNotNull << LQuery->Field(0).TextForm();
    }
    if (FCaching) FNotNull.insert(aTable, LNotNull);
  }
  return std::none_of(aForeignKey.Links.begin(), aForeignKey.Links.end(),
                      [&LNotNull](const TForeignKeyLink& aLink) { return LNotNull.contains(aLink.ChildField); });
}

namespace {

constexpr int CBranches = 128;           // lookups per read-ahead query (Firebird allows 255 contexts)
constexpr qsizetype CMaxSql = 60000;     // characters of a read-ahead query, below the 64 KB limit
constexpr qsizetype CMaxRows = 2048;     // rows one read-ahead query may hold

QString Condition(const TLookup& aLookup, const QString& aPrefix) {
  QString LCondition;
  for (qsizetype I = 0; I < aLookup.Columns.size(); ++I) {
    if (I > 0) LCondition += QLatin1String(" AND ");
    LCondition += TSqlLiterals::QuoteName(aLookup.Columns[I]) + QLatin1String(" = :") + aPrefix + QString::number(I);
  }
  if (!aLookup.Filter.isEmpty()) LCondition += QLatin1String(" AND (") + aLookup.Filter + QLatin1Char(')');
  return LCondition;
}

void AppendValueKey(QString& aKey, const TValue& aValue) {
  aKey += QChar(0x1E);
  if (aValue.IsNull()) {
    aKey += QLatin1Char('n');
    return;
  }
  aKey += QChar(u'a' + int(aValue.Kind()));
  // Only compared, never read: integers as their four raw units, texts after their length.
  const auto LAppendBits = [&aKey](std::uint64_t aBits) {
    const char16_t LUnits[4] = {char16_t(aBits), char16_t(aBits >> 16), char16_t(aBits >> 32), char16_t(aBits >> 48)};
    aKey.append(reinterpret_cast<const QChar*>(LUnits), 4);
  };
  switch (aValue.Kind()) {
    case TValueKind::vkInteger:
      LAppendBits(std::uint64_t(aValue.AsInteger()));
      return;
    case TValueKind::vkText:
    case TValueKind::vkTextBlob: {
      if (aValue.IsUntranslated()) {  // its bytes, which two texts of one reading differ in
        const QByteArray& LBytes = aValue.AsBytes();
        aKey += QLatin1Char('r');
        LAppendBits(std::uint64_t(LBytes.size()));
        for (const char LByte : LBytes) aKey += QChar(char16_t(static_cast<unsigned char>(LByte)));
        return;
      }
      const QString& LText = aValue.AsText();
      LAppendBits(std::uint64_t(LText.size()));
      aKey += LText;
      return;
    }
    default: {
      const QString LText = aValue.TextForm();
      LAppendBits(std::uint64_t(LText.size()));
      aKey += LText;
    }
  }
}

}  // namespace

const QString& TSliceCatalogue::BranchParam(qsizetype aBranch, qsizetype aColumn) {
  while (FBranchParams.size() <= aBranch) FBranchParams.append(QStringList());
  QStringList& LNames = FBranchParams[aBranch];
  while (LNames.size() <= aColumn)
    LNames.append(QLatin1Char('B') + QString::number(aBranch) + QLatin1Char('_') + QString::number(LNames.size()));
  return LNames[aColumn];
}

QString TSliceCatalogue::LookupKey(const TLookup& aLookup, const QList<TValue>& aValues) const {
  QString LKey;
  LKey.reserve(aLookup.Table.size() + aLookup.Filter.size() + 64);
  LKey += aLookup.Table;
  LKey += QChar(0x1F);
  for (const QString& LColumn : aLookup.Columns) {
    LKey += LColumn;
    LKey += QChar(0x1F);
  }
  LKey += aLookup.Filter;
  LKey += QChar(0x1F);
  LKey += aLookup.Prefix;
  return aValues.isEmpty() ? LKey : ValuesKey(LKey, aValues);
}

QString TSliceCatalogue::ValuesKey(const QString& aShape, const QList<TValue>& aValues) {
  QString LKey;
  LKey.reserve(aShape.size() + 16 * aValues.size());
  LKey += aShape;
  for (const TValue& LValue : aValues) AppendValueKey(LKey, LValue);
  return LKey;
}

TRowBatch TSliceCatalogue::Lookup(const TLookup& aLookup, const QList<TValue>& aValues, bool aFirstOnly) {
  TRowBatch LBatch;
  if (FCaching && !FAhead.isEmpty()) {
    auto LFound = FAhead.find(LookupKey(aLookup, aValues));
    if (LFound != FAhead.end()) {
      LBatch.Rows = std::move(*LFound);
      FAhead.erase(LFound);
      return LBatch;
    }
  }
  const TSelectList LSelect = SelectList(aLookup.Table);
  LBatch.Cursor = std::make_unique<TLease>(Query("SELECT " + LSelect.Text + " FROM " +
                                                 TSqlLiterals::QuoteName(aLookup.Table) + " WHERE " +
                                                 Condition(aLookup, aLookup.Prefix), LSelect));
  TDbQuery& LQuery = **LBatch.Cursor;
  for (qsizetype I = 0; I < aValues.size(); ++I) LQuery.SetParam(aLookup.Prefix + QString::number(I), aValues[I]);
  LQuery.Open();
  if (aFirstOnly) {
    LBatch.Fill(1);
    LBatch.Cursor.reset();
  }
  return LBatch;
}

void TRowBatch::Fill(qsizetype aCount) {
  if (!Cursor) return;
  try {
    TDbQuery& LQuery = **Cursor;
    while (Rows.size() < aCount && !LQuery.Eof()) {
      Rows.append(LQuery.CurrentRow());
      LQuery.Next();
    }
    if (LQuery.Eof()) Cursor.reset();
  } catch (...) {
    Error = std::current_exception();
    Cursor.reset();
  }
}

QList<TDbRow> TSliceCatalogue::ReadAhead(const TLookup& aLookup, const QList<QList<TValue>>& aTuples,
                                         bool aFirstOnly) noexcept {
  QList<TDbRow> LRead;
  if (!FCaching) return LRead;
  try {
    // Distinct tuples not kept yet.
    QList<QList<TValue>> LTuples;
    QList<QString> LKeys;
    QSet<QString> LSeen;
    const QString LShape = LookupKey(aLookup, {});
    for (const QList<TValue>& LTuple : aTuples) {
      const QString LKey = ValuesKey(LShape, LTuple);
      if (FAhead.contains(LKey) || LSeen.contains(LKey)) continue;
      LSeen.insert(LKey);
      LTuples.append(LTuple);
      LKeys.append(LKey);
    }
    const TSelectList LSelect = SelectList(aLookup.Table);
    const QString& LColumns = LSelect.Text;
    const QString LTable = TSqlLiterals::QuoteName(aLookup.Table);
    qsizetype LNext = 0;
    while (LNext < LTuples.size()) {
      // One branch per tuple, each with the very condition of a lone lookup, tagged with
      // its number: every branch delivers the rows that lookup would, in the same order.
      // The text for a batch of a given size is built once per run.
      const QString LSize = LShape + QLatin1Char('#') + QString::number(qMin<qsizetype>(CBranches, LTuples.size() - LNext));
      QString LSql = FUnionSql.value(LSize);
      qsizetype LCount = FUnionCount.value(LSize);
      if (LSql.isEmpty()) {
        while (LNext + LCount < LTuples.size() && LCount < CBranches) {
          const QString LBranch = QLatin1String("SELECT ") + LColumns + QLatin1String(", ") +
                                  QString::number(LCount) + QLatin1String(" FROM ") + LTable +
                                  QLatin1String(" WHERE ") +
                                  Condition(aLookup, QLatin1Char('B') + QString::number(LCount) + QLatin1Char('_'));
          if (LCount > 0 && LSql.size() + LBranch.size() + 11 > CMaxSql) break;
          if (LCount > 0) LSql += QLatin1String(" UNION ALL ");
          LSql += LBranch;
          ++LCount;
        }
        FUnionSql.insert(LSize, LSql);
        FUnionCount.insert(LSize, LCount);
      }
      TLease LQuery = Query(LSql, LSelect);
      for (qsizetype B = 0; B < LCount; ++B) {
        const QList<TValue>& LTuple = LTuples[LNext + B];
        for (qsizetype I = 0; I < LTuple.size(); ++I) LQuery->SetParam(BranchParam(B, I), LTuple[I]);
      }
      LQuery->Open();
      QList<QList<TDbRow>> LGroups(LCount);
      const int LWidth = LQuery->FieldCount() - 1;
      // The branches come one after the other. Past CMaxRows rows the reading stops: the
      // branches complete by then are kept, the others are looked up on their own and
      // streamed, so that a long relation is never held whole.
      qsizetype LRows = 0, LComplete = LCount, LLast = 0;
      bool LInOrder = true;
      for (; !LQuery->Eof(); LQuery->Next()) {
        const qint64 LBranch = LQuery->Field(LWidth).Value().AsInteger();
        if (LBranch < 0 || LBranch >= LCount) continue;
        if (aFirstOnly && !LGroups[LBranch].isEmpty()) continue;
        LInOrder = LInOrder && LBranch >= LLast;
        LLast = qMax<qsizetype>(LLast, LBranch);
        if (++LRows > CMaxRows) {
          LComplete = LInOrder ? LBranch : 0;  // out of order, no branch is known complete
          break;
        }
        LGroups[LBranch].append(LQuery->CurrentRow(LWidth));
      }
      for (qsizetype B = 0; B < LComplete; ++B) {
        // A parent that was not found is looked up again on its own, which reports it.
        if (aFirstOnly && LGroups[B].isEmpty()) continue;
        LRead += LGroups[B];
        FAhead.insert(LKeys[LNext + B], LGroups[B]);
      }
      LNext += LCount;
    }
  } catch (...) {
    // Reading ahead only saves time; whatever failed here fails again, in its place, later.
  }
  return LRead;
}

}  // namespace Corvane
