#include "Corvane.ReplayMirror.h"

#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstring>

namespace Corvane::Replay {

namespace {

// A table row's RDB$DB_KEY is 8 bytes: kept as a number, a document's rows cost little.
quint64 Identity(const QByteArray& aDbKey) {
  quint64 LIdentity = 0;
  if (aDbKey.size() == qsizetype(sizeof LIdentity))
    std::memcpy(&LIdentity, aDbKey.constData(), sizeof LIdentity);
  else
    LIdentity = qHash(aDbKey);
  return LIdentity;
}

}  // namespace

TTargetOnlyRows::TTargetOnlyRows(TDbConnection& aConnection, TTargetCatalogue& aCatalogue,
                                 const QList<TReplayRelation>& aRelations, const QString& aRoot)
    : FConnection(aConnection), FCatalogue(aCatalogue) {
  // Depth from the root table, as the export reached each relation; relations it never
  // reaches are left out, as the export left them out.
  QHash<QString, int> LDepth{{aRoot, 0}};
  QList<TReplayRelation> LWaiting = aRelations;
  for (bool LGrown = true; LGrown;) {
    LGrown = false;
    for (qsizetype I = 0; I < LWaiting.size();) {
      const auto LParent = LDepth.constFind(LWaiting[I].Parent);
      if (LParent == LDepth.constEnd()) {
        ++I;
        continue;
      }
      TRelation LRelation;
      LRelation.Given = LWaiting[I];
      LRelation.ForeignKeys = ParseNameList(LWaiting[I].ForeignKeys);
      LRelation.ParentKeys = ParseNameList(LWaiting[I].ParentKeys);
      LRelation.Depth = *LParent + 1;
      if (!LDepth.contains(LRelation.Given.Child)) LDepth.insert(LRelation.Given.Child, LRelation.Depth);
      if (LRelation.ForeignKeys.size() == LRelation.ParentKeys.size() && !LRelation.ForeignKeys.isEmpty())
        FRelations.push_back(std::move(LRelation));
      LWaiting.removeAt(I);
      LGrown = true;
    }
  }
  std::stable_sort(FRelations.begin(), FRelations.end(),
                   [](const TRelation& aLeft, const TRelation& aRight) { return aLeft.Depth < aRight.Depth; });
}

void TTargetOnlyRows::AddParent(const QString& aTable, const QStringList& aColumns,
                                const std::vector<TValue>& aValues) {
  for (TRelation& LRelation : FRelations) {
    if (LRelation.Given.Parent != aTable) continue;
    std::vector<TValue> LKey;
    for (const QString& LColumn : std::as_const(LRelation.ParentKeys)) {
      const qsizetype LAt = aColumns.indexOf(LColumn);
      // A NULL parent key reaches no row, as the export's equality found none.
      if (LAt < 0 || aValues[std::size_t(LAt)].IsNull()) break;
      LKey.push_back(aValues[std::size_t(LAt)]);
    }
    if (LKey.size() == std::size_t(LRelation.ParentKeys.size())) LRelation.Parents.push_back(std::move(LKey));
  }
}

void TTargetOnlyRows::Written(const QString& aTable, const QByteArray& aDbKey, const QStringList& aColumns,
                              const std::vector<TValue>& aValues, bool aWalked) {
  bool LChild = false;
  for (const TRelation& LRelation : FRelations) LChild = LChild || LRelation.Given.Child == aTable;
  if (LChild) FWritten[aTable].insert(Identity(aDbKey));
  if (aWalked) AddParent(aTable, aColumns, aValues);
}

QList<TReplayTargetRow> TTargetOnlyRows::Find() {
  QList<TReplayTargetRow> LRows;
  QHash<QString, QSet<QByteArray>> LSeen;
  for (TRelation& LRelation : FRelations) {
    const QString& LChild = LRelation.Given.Child;
    const TTargetTable& LTable = FCatalogue.Table(LChild);
    if (!LTable.Exists || LRelation.Parents.empty()) continue;
    // The row's key names it; the columns later relations start from come with it.
    QStringList LSelect = LTable.PrimaryKey().isEmpty() ? LRelation.ForeignKeys : LTable.PrimaryKey();
    const qsizetype LNamed = LSelect.size();
    for (const TRelation& LLater : FRelations)
      if (LLater.Given.Parent == LChild)
        for (const QString& LColumn : LLater.ParentKeys)
          if (!LSelect.contains(LColumn)) LSelect << LColumn;
    TRowLookup LLookup(FConnection, LChild, LRelation.ForeignKeys, LSelect, {}, LRelation.Given.Filter);
    const std::vector<std::vector<TValue>> LParents = std::move(LRelation.Parents);
    LRelation.Parents.clear();
    const QSet<quint64>& LWritten = FWritten[LChild];
    QSet<QByteArray>& LKnown = LSeen[LChild];
    std::vector<std::pair<QByteArray, std::vector<TValue>>> LNew;
    try {
      LLookup.Find(
          int(LParents.size()),
          [&](int aKey, int aColumn) -> const TValue& { return LParents[std::size_t(aKey)][std::size_t(aColumn)]; },
          [&](TRowLookup::TRow&& aRow) {
            if (LWritten.contains(Identity(aRow.DbKey)) || LKnown.contains(aRow.DbKey)) return;
            LKnown.insert(aRow.DbKey);
            LNew.emplace_back(aRow.DbKey, std::move(aRow.Values));
          });
    } catch (const TCorvaneError& aError) {
      throw TCorvaneError("Relacao " + LRelation.Given.Parent + " -> " + LChild +
                          " nao pode ser percorrida no destino, nada foi gravado: " + aError.Message());
    }
    for (auto& [LDbKey, LValues] : LNew) {
      QStringList LPairs;
      for (qsizetype I = 0; I < LNamed; ++I) LPairs << LSelect[I] + "=" + Shown(LValues[std::size_t(I)]);
      const QString LDescription = LChild + " | " + LPairs.join(QLatin1String(", "));
      FFound.push_back(TFound{LChild, LDescription, LDbKey, LRelation.Depth});
      LRows.append(TReplayTargetRow{LChild, LDescription});
      AddParent(LChild, LSelect, LValues);
    }
  }
  return LRows;
}

// The row outside the document that a failed delete met, named by its key when the
// server's message names the foreign key; else the server's message.
QString TTargetOnlyRows::Referencing(const QString& aMessage, const TFound& aRow) {
  static const QRegularExpression CForeignKey(
      QStringLiteral("FOREIGN KEY constraint \"([^\"]+)\" on table \"([^\"]+)\""));
  const QRegularExpressionMatch LMatch = CForeignKey.match(aMessage);
  if (!LMatch.hasMatch()) return aMessage;
  try {
    TDbQuery LQuery(FConnection);
    LQuery.SetSQL(
        QStringLiteral("SELECT s.RDB$FIELD_NAME, rs.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS c "
                       "JOIN RDB$REF_CONSTRAINTS r ON r.RDB$CONSTRAINT_NAME = c.RDB$CONSTRAINT_NAME "
                       "JOIN RDB$RELATION_CONSTRAINTS u ON u.RDB$CONSTRAINT_NAME = r.RDB$CONST_NAME_UQ "
                       "JOIN RDB$INDEX_SEGMENTS s ON s.RDB$INDEX_NAME = c.RDB$INDEX_NAME "
                       "JOIN RDB$INDEX_SEGMENTS rs ON rs.RDB$INDEX_NAME = u.RDB$INDEX_NAME AND rs.RDB$FIELD_POSITION = "
                       "s.RDB$FIELD_POSITION "
                       "WHERE c.RDB$CONSTRAINT_NAME = :C ORDER BY s.RDB$FIELD_POSITION"));
    LQuery.SetParam("C", TValue::Text(LMatch.captured(1)));
    QStringList LJoin;
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next())
      LJoin << "c." + TSqlLiterals::QuoteName(CatalogueName(LQuery.Field(0).Value())) + " = p." +
                   TSqlLiterals::QuoteName(CatalogueName(LQuery.Field(1).Value()));
    LQuery.Close();
    const QString LTable = LMatch.captured(2);
    QStringList LKey = FCatalogue.Table(LTable).PrimaryKey();
    if (LJoin.isEmpty() || LKey.isEmpty()) return aMessage;
    QStringList LNames;
    for (const QString& LColumn : LKey) LNames << "c." + TSqlLiterals::QuoteName(LColumn);
    LQuery.SetSQL("SELECT FIRST 1 " + LNames.join(QLatin1String(", ")) + " FROM " + TSqlLiterals::QuoteName(LTable) +
                  " c JOIN " + TSqlLiterals::QuoteName(aRow.Table) + " p ON " + LJoin.join(QLatin1String(" AND ")) +
                  " WHERE p.RDB$DB_KEY = :K");
    LQuery.SetParam("K", TValue::Bytes(aRow.DbKey));
    LQuery.Open();
    if (LQuery.Eof()) return aMessage;
    QStringList LPairs;
    for (qsizetype I = 0; I < LKey.size(); ++I) LPairs << LKey[I] + "=" + Shown(LQuery.Field(int(I)).Value());
    LQuery.Close();
    return LTable + " | " + LPairs.join(QLatin1String(", ")) + ", fora do documento, ainda o referencia (" +
           LMatch.captured(1) + ")";
  } catch (const TCorvaneError&) {
    return aMessage;
  }
}

void TTargetOnlyRows::Delete() {
  std::vector<const TFound*> LPending;
  for (const TFound& LRow : FFound) LPending.push_back(&LRow);
  // Rows that reference others first: the deepest relations first, and a row another row
  // still references waits for a later pass (a failed statement changes nothing).
  std::stable_sort(LPending.begin(), LPending.end(),
                   [](const TFound* aLeft, const TFound* aRight) { return aLeft->Depth > aRight->Depth; });
  QHash<QString, std::shared_ptr<TDbQuery>> LDeletes;
  while (!LPending.empty()) {
    std::vector<const TFound*> LRefused;
    QString LFirstError;
    for (const TFound* LRow : LPending) {
      std::shared_ptr<TDbQuery>& LQuery = LDeletes[LRow->Table];
      if (!LQuery) {
        LQuery = std::make_shared<TDbQuery>(FConnection);
        LQuery->SetSQL("DELETE FROM " + TSqlLiterals::QuoteName(LRow->Table) + " WHERE RDB$DB_KEY = :K");
      }
      try {
        LQuery->SetParam("K", TValue::Bytes(LRow->DbKey));
        LQuery->Open();
        LQuery->Close();
      } catch (const TCorvaneError& aError) {
        LQuery->Close();
        if (LRefused.empty()) LFirstError = aError.Message();
        LRefused.push_back(LRow);
      }
    }
    if (LRefused.size() == LPending.size())
      throw TCorvaneError("Espelhamento recusado, nada foi gravado: o registro somente no destino " +
                          LRefused.front()->Description +
                          " nao pode ser excluido: " + Referencing(LFirstError, *LRefused.front()) + ".");
    LPending = std::move(LRefused);
  }
}

}  // namespace Corvane::Replay
