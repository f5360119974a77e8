// The walk of one export: root rows, the rows each one references (its parents, through the
// catalogue's foreign keys) and the rows of the configured relations (its children). Both
// walks keep their own stacks, so that neither a long chain of parents nor a deep tree of
// relations can exhaust the thread's stack.
#include "Corvane.Catalogue.h"
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"
#include "Corvane.ScriptFormat.h"

#include <QSet>
#include <algorithm>
#include <utility>
#include <vector>

namespace Corvane {

namespace {

constexpr int CMaxChain = 128;  // rows in progress in one chain of parents, unless lifted

}  // namespace

// ---------------------------------------------------------------------------------------
// Root rows and relations

// Root rows and the rows of a relation: each row is written, then its own relations are
// walked, before the next row. With the run cache on, the parents and relation rows of the
// next rows are read in batches first; the order of the script does not change. A row's
// relations are walked once, however often it is met, so that a relation from a table to
// itself ends on any data, a cycle included.
void TSliceExporter::VisitRows(const QString& aTable, TRowBatch aRows, const QString& aOrigin) {
  constexpr qsizetype CWindow = 256;
  struct TRows {
    QString Table;
    TRowBatch Rows;
    QString Origin;
    qsizetype Next = 0;       // the row being walked
    qsizetype WindowEnd = 0;  // the end of the rows read ahead with it
    qsizetype Relation = -1;  // the next relation of that row; -1 before the row is visited
  };
  std::vector<TRows> LStack;
  LStack.push_back(TRows{aTable, std::move(aRows), aOrigin});
  while (!LStack.empty()) {
    TRows& LTop = LStack.back();
    if (LTop.Relation < 0) {
      if (LTop.Next >= LTop.WindowEnd) {
        // The next window: the rows walked go, the next ones are fetched, and what they lead
        // to is read ahead. However long the relation, only a window of it is held.
        LTop.Rows.Rows.remove(0, LTop.Next);
        LTop.Next = 0;
        LTop.Rows.Fill(CWindow);
        LTop.WindowEnd = qMin(LTop.Rows.Rows.size(), CWindow);
        if (LTop.WindowEnd > 0 && FCatalogue->Caching()) {
          QSet<QString> LComing;
          ReadAhead(LTop.Table, LTop.Rows.Rows.mid(0, LTop.WindowEnd), true, 0, LComing);
        }
      }
      if (LTop.Next >= LTop.Rows.Rows.size()) {
        const std::exception_ptr LError = LTop.Rows.Error;
        LStack.pop_back();
        if (LError) std::rethrow_exception(LError);
        continue;
      }
      Visit(LTop.Table, LTop.Rows.Rows[LTop.Next], LTop.Origin);
      LTop.Relation = 0;
      continue;
    }
    qsizetype LRelation = LTop.Relation;
    while (LRelation < FChildren.size() && FChildren.at(LRelation).ParentTable != LTop.Table) ++LRelation;
    if (LRelation < FChildren.size() && LTop.Relation == 0 && RelationsWalked(LTop.Table, LTop.Rows.Rows[LTop.Next]))
      LRelation = FChildren.size();
    if (LRelation >= FChildren.size()) {
      LTop.Rows.Rows[LTop.Next] = TDbRow();  // a walked row is not needed again; a long relation frees as it goes
      ++LTop.Next;
      LTop.Relation = -1;
      continue;
    }
    LTop.Relation = LRelation + 1;
    const TChild& LChild = FChildren.at(LRelation);
    const TDbRow& LRow = LTop.Rows.Rows[LTop.Next];
    TRowBatch LRows = RelationRows(LChild, LRow);
    QString LOrigin = ScriptFormat::CChildOrigin + RowDescription(LTop.Table, LRow);
    LStack.push_back(TRows{LChild.TableName, std::move(LRows), std::move(LOrigin)});  // LTop is gone from here
  }
}

// Whether the relations of a row were walked before; from now on they were.
bool TSliceExporter::RelationsWalked(const QString& aTable, const TDbRow& aRow) {
  const QString LIdentity = RowIdentity(aTable, FCatalogue->PrimaryKey(aTable), aRow);
  return !FRelationsWalked.Insert(LIdentity);
}

// The rows of one relation of a row.
TRowBatch TSliceExporter::RelationRows(const TChild& aChild, const TDbRow& aRow) {
  const QStringList& LForeignKey = aChild.ForeignKeyFields;
  const QStringList& LParentKey = aChild.ParentKeyFields;
  if (LForeignKey.isEmpty() || LForeignKey.size() != LParentKey.size())
    throw TCorvaneError("Campos de relacionamento invalidos: " + aChild.TableName);
  // The lookup builds its condition later; an empty column name must fail before the report.
  for (const QString& LColumn : LForeignKey) TSqlLiterals::CheckName(LColumn);
  Emit(TWriteItem{QString(), QStringList(), TDbRow(), aChild.Message, {}});

  FCatalogue->Columns(aChild.TableName);  // a table the catalogue refuses fails before the binding
  QList<TValue> LValues;
  for (const QString& LColumn : LParentKey) LValues.append(aRow.FieldByName(LColumn).Value());
  return FCatalogue->Lookup(TLookup{aChild.TableName, LForeignKey, aChild.Filter, QStringLiteral("R")}, LValues, false);
}

// Rows read ahead come without their BLOBs, which the writer reads. A relation keyed on a
// BLOB column needs it in the walk: it is read here, while the row is the walk's alone.
void TSliceExporter::LoadRelationKeys(const QString& aTable, const TDbRow& aRow) {
  if (!FWalkBlobs || !aRow.HasDeferredBlobs()) return;
  for (const TChild& LChild : std::as_const(FChildren)) {
    if (LChild.ParentTable != aTable) continue;
    for (const QString& LColumn : LChild.ParentKeyFields) {
      bool LDeferred = false;
      try {
        LDeferred = aRow.FieldByName(LColumn).Value().IsUnassigned();
      } catch (const TCorvaneError&) {
        // a missing column fails later, where the relation is walked
      }
      if (LDeferred) {
        FWalkBlobs->Load(aRow);
        return;
      }
    }
  }
}

// The array columns left out of a table are named once, before its first row.
void TSliceExporter::ReportArrays(const QString& aTable) {
  if (FArraysReported.contains(aTable)) return;
  FArraysReported.insert(aTable);
  const QStringList LSkipped = FCatalogue->SkippedArrays(aTable);
  if (!LSkipped.isEmpty())
    Emit(TWriteItem{QString(), QStringList(), TDbRow(),
                    "Campos ARRAY deixados de fora em " + aTable + ": " + LSkipped.join(QLatin1String(", ")) + ".",
                    {}});
}

// ---------------------------------------------------------------------------------------
// Chains of parents: a row is written once, after the rows it references.

// Visits a row and, first, every row it leads to through foreign keys, innermost first. The
// chain of rows in progress is FChain; each frame goes through the row's keys one by one.
void TSliceExporter::Visit(const QString& aTable, const TDbRow& aRow, const QString& aOrigin) {
  // A failure leaves no row in progress behind.
  struct TClear {
    TSliceExporter& FExporter;
    ~TClear() {
      FExporter.FChain.clear();
      FExporter.FInChain.clear();
    }
  } LClear{*this};
  Enter(aTable, aRow, aOrigin);
  if (FChain.isEmpty()) return;  // written before
  while (!FChain.isEmpty()) {
    TChainFrame& LFrame = FChain.last();
    switch (LFrame.Stage) {
      case TChainFrame::TStage::sParents:
        if (LFrame.Next < LFrame.ForeignKeys.size())
          FollowParent(LFrame);
        else
          Leave();
        break;
      case TChainFrame::TStage::sParentDone: {
        // A key that references its parent through columns the parent still has NULL (a
        // unique key holding a deferred reference) needs the parent completed first: the row
        // that completes it is visited now, as a parent of this row.
        const TDeferral* LCompletion =
            FPending.isEmpty() ? nullptr : CompletionFor(*LFrame.Following, LFrame.ParentIdentity);
        if (!LCompletion) {
          LFrame.Following = nullptr;
          LFrame.Stage = TChainFrame::TStage::sParents;
          break;
        }
        LFrame.Stage = TChainFrame::TStage::sCompletionDone;
        LFrame.Completing = LCompletion->ParentIdentity;
        LFrame.CompletingTable = LCompletion->ParentTable;
        const TDeferral LDeferral = *LCompletion;
        Enter(LDeferral.ParentTable, LDeferral.ParentRow, LDeferral.ParentOrigin);
        break;
      }
      case TChainFrame::TStage::sCompletionDone:
        if (!FVisited.Contains(LFrame.Completing))
          throw TCorvaneError("Registro de " + LFrame.CompletingTable + " nao foi gravado. Exportacao cancelada.");
        LFrame.Following = nullptr;
        LFrame.Stage = TChainFrame::TStage::sParents;
        break;
    }
  }
  // Parents left for later are visited once no row is in progress, so that their own walk
  // meets only rows of its own chain.
  if (FDeferCycles && !FResolving) ResolvePending();
}

// A row met by the walk: nothing when it was written before; the cycle's break, or its
// failure, when it is in progress; else a new frame of the chain.
void TSliceExporter::Enter(const QString& aTable, const TDbRow& aRow, const QString& aOrigin) {
  const QStringList LKey = FCatalogue->PrimaryKey(aTable);
  const QString LIdentity = RowIdentity(aTable, LKey, aRow);
  if (FVisited.Contains(LIdentity)) return;
  const auto LInChain = FInChain.constFind(LIdentity);
  if (LInChain != FInChain.constEnd()) {
    if (FDeferCycles) {
      BreakCycle(aTable, LIdentity, aRow, aOrigin, *LInChain);
      return;
    }
    throw TCorvaneError("Dependencia ciclica encontrada em " + aTable + ". Exportacao cancelada.");
  }
  if (!FUnlimitedChains && FChain.size() >= CMaxChain) {
    QString LValues;
    for (const QString& LColumn : LKey)
      LValues += (LValues.isEmpty() ? QString() : QStringLiteral(", ")) + LColumn + QLatin1Char('=') +
                 aRow.FieldByName(LColumn).TextForm();
    throw TCorvaneError("Limite de profundidade das dependencias atingido. Tabela " + aTable + ", chave " + LValues +
                        ": mais de " + QString::number(CMaxChain) + " registros em cadeia.");
  }
  TChainFrame LFrame;
  LFrame.Table = aTable;
  LFrame.Identity = LIdentity;
  LFrame.Row = aRow;
  LFrame.Origin = aOrigin;
  LFrame.Key = LKey;
  if (FDependencies) LFrame.ForeignKeys = FCatalogue->ForeignKeys(aTable);
  FInChain.insert(LIdentity, FChain.size());
  FChain.append(std::move(LFrame));
}

// The next foreign key of the innermost row: its parent is looked up and entered.
void TSliceExporter::FollowParent(TChainFrame& aFrame) {
  const int LIndex = int(aFrame.Next++);
  const TForeignKey& LForeignKey = std::as_const(aFrame.ForeignKeys)[LIndex];
  const QString& LTable = aFrame.Table;
  const TDbRow& LRow = aFrame.Row;
  bool LHasNull = false;
  for (const TForeignKeyLink& LPair : LForeignKey.Links) {
    LHasNull = LRow.FieldByName(LPair.ChildField).IsNull() || LHasNull;
    TSqlLiterals::CheckName(LPair.ParentField);  // an unusable name fails here, as the condition is built
  }
  if (LHasNull) return;  // a key with a null column references nothing
  // A parent written before would be skipped by Enter; with the run cache it is not read again.
  if (FCatalogue->Caching()) {
    const QString LParent = ParentIdentity(LForeignKey, LIndex, LRow);
    // A parent still waiting for its completion is looked up: the walk may have to finish it.
    if (!LParent.isEmpty() && FVisited.Contains(LParent) && (!FDeferCycles || FPending.isEmpty())) return;
  }
  QString LLink;
  QList<TValue> LValues;
  QStringList LParentFields;
  for (const TForeignKeyLink& LPair : LForeignKey.Links) {
    if (!LValues.isEmpty()) LLink += QLatin1String(", ");
    LLink += LPair.ChildField + QLatin1String(" -> ") + LForeignKey.ParentTable + QLatin1Char('.') + LPair.ParentField;
    LParentFields.append(LPair.ParentField);
    LValues.append(LRow.FieldByName(LPair.ChildField).Value());
  }
  const TRowBatch LParent =
      FCatalogue->Lookup(TLookup{LForeignKey.ParentTable, LParentFields, QString(), QStringLiteral("P")}, LValues, true);
  if (LParent.Rows.isEmpty()) {
    if (LParent.Error) std::rethrow_exception(LParent.Error);
    throw TCorvaneError("Dependencia nao encontrada: " + LForeignKey.Name);
  }
  const QString LOrigin =
      "Referenciado por " + RowDescription(LTable, LRow) + "; vinculo: " + LLink + "; FK: " + LForeignKey.Name;
  const TDbRow LParentRow = LParent.Rows.first();
  if (FDeferCycles) {
    aFrame.Following = &LForeignKey;
    aFrame.Link = LLink;
    aFrame.ParentIdentity =
        RowIdentity(LForeignKey.ParentTable, FCatalogue->PrimaryKey(LForeignKey.ParentTable), LParentRow);
    aFrame.Stage = TChainFrame::TStage::sParentDone;
  }
  Enter(LForeignKey.ParentTable, LParentRow, LOrigin);  // aFrame may move from here
}

// The innermost row has all its parents written: it is written, and leaves the chain.
void TSliceExporter::Leave() {
  TChainFrame LFrame = FChain.takeLast();
  FInChain.remove(LFrame.Identity);
  LoadRelationKeys(LFrame.Table, LFrame.Row);
  if (FSkipArrays) ReportArrays(LFrame.Table);
  if (!FDeferCycles) {
    Emit(TWriteItem{LFrame.Table, LFrame.Key, LFrame.Row, LFrame.Origin, {}});
    FVisited.Insert(LFrame.Identity);
    return;
  }
  const QList<TDeferral> LDeferred = std::exchange(LFrame.Deferred, {});
  QStringList LNulls;
  QStringList LNames;
  for (const TDeferral& LDeferral : LDeferred) {
    for (const QString& LColumn : LDeferral.Columns)
      if (!LNulls.contains(LColumn)) LNulls.append(LColumn);
    LNames.append(LDeferral.ForeignKey);
  }
  const QString LOrigin =
      LDeferred.isEmpty() ? LFrame.Origin : LFrame.Origin + "; referencia adiada: " + LNames.join(QLatin1String(", "));
  Emit(TWriteItem{LFrame.Table, LFrame.Key, LFrame.Row, LOrigin, LNulls});
  FVisited.Insert(LFrame.Identity);
  // A parent may be written already: by another reference of this row, or this row itself.
  for (const TDeferral& LDeferral : LDeferred) {
    FPending.append(LDeferral);
    FPendingParents.insert(LDeferral.ParentIdentity);
  }
  for (const TDeferral& LDeferral : LDeferred)
    if (FVisited.Contains(LDeferral.ParentIdentity)) Written(LDeferral.ParentIdentity);
  Written(LFrame.Identity);
}

// Rows in a cycle of foreign keys are met again while still in progress. By default that
// fails the run; with DeferCycles the chain from row aStart to the last one, and back to row
// aStart through the reference being followed now, is broken at the latest of its references
// whose columns are all nullable: the rows after the one that owns it leave the chain
// unwritten (they are visited again later), and that row leaves the reference NULL and goes
// on. The reference being followed now is the latest of all, and then no row leaves.
void TSliceExporter::BreakCycle(const QString& aTable, const QString& aIdentity, const TDbRow& aRow,
                                const QString& aOrigin, qsizetype aStart) {
  QStringList LNames;
  qsizetype LOwner = -1;
  for (qsizetype LDepth = FChain.size() - 1; LDepth >= aStart; --LDepth) {
    const TChainFrame& LFrame = FChain[LDepth];
    if (!LFrame.Following) break;
    if (FCatalogue->Nullable(LFrame.Table, *LFrame.Following)) {
      LOwner = LDepth;
      break;
    }
    LNames.prepend(LFrame.Following->Name);
  }
  if (LOwner < 0)
    throw TCorvaneError("Dependencia ciclica encontrada em " + aTable +
                        ". Exportacao cancelada. Nenhuma chave estrangeira do ciclo aceita nulos: " +
                        LNames.join(QLatin1String(", ")) + ".");
  // The row the deferred reference points to: the one met now, or the next one of the chain.
  QString LParentTable = aTable, LParentIdentity = aIdentity, LParentOrigin = aOrigin;
  TDbRow LParentRow = aRow;
  if (LOwner < FChain.size() - 1) {
    const TChainFrame& LParent = FChain[LOwner + 1];
    LParentTable = LParent.Table;
    LParentIdentity = LParent.Identity;
    LParentRow = LParent.Row;
    LParentOrigin = LParent.Origin;
  }
  while (FChain.size() > LOwner + 1) FInChain.remove(FChain.takeLast().Identity);
  TChainFrame& LFrame = FChain[LOwner];
  const TForeignKey& LForeignKey = *LFrame.Following;
  QStringList LColumns;
  for (const TForeignKeyLink& LPair : LForeignKey.Links) LColumns.append(LPair.ChildField);
  LFrame.Deferred.append(TDeferral{LFrame.Table, LFrame.Key, LFrame.Row, LFrame.Identity, LForeignKey.Name, LColumns,
                                   "Completa referencia adiada: " + LFrame.Link + "; FK: " + LForeignKey.Name,
                                   LParentTable, LParentRow, LParentIdentity, LParentOrigin});
  LFrame.Following = nullptr;
  LFrame.Stage = TChainFrame::TStage::sParents;
}

// The deferral whose completion a key to aParentIdentity waits for, if any.
const TSliceExporter::TDeferral* TSliceExporter::CompletionFor(const TForeignKey& aForeignKey,
                                                               const QString& aParentIdentity) const {
  const TDeferral* LFound = nullptr;
  for (const TDeferral& LDeferral : FPending) {
    if (LDeferral.OwnerIdentity != aParentIdentity) continue;
    const bool LNeeded = std::any_of(aForeignKey.Links.begin(), aForeignKey.Links.end(), [&](const TForeignKeyLink& aLink) {
      return LDeferral.Columns.contains(aLink.ParentField);
    });
    if (!LNeeded) continue;
    if (LFound)  // two completions to wait for: deferring this key could not wait for both
      throw TCorvaneError("Dependencia ciclica encontrada em " + LDeferral.OwnerTable + ". Exportacao cancelada. " +
                          aForeignKey.Name + " depende de " + LFound->ForeignKey + " e " + LDeferral.ForeignKey +
                          ", completadas depois.");
    LFound = &LDeferral;
  }
  return LFound;
}

// A row just written completes the rows that were waiting for it.
void TSliceExporter::Written(const QString& aIdentity) {
  if (!FPendingParents.remove(aIdentity)) return;
  for (qsizetype I = 0; I < FPending.size();) {
    if (FPending[I].ParentIdentity != aIdentity) {
      ++I;
      continue;
    }
    const TDeferral LDeferral = FPending.takeAt(I);
    Complete(LDeferral);
  }
}

// The second statement of a row: its real values, but for references still deferred.
void TSliceExporter::Complete(const TDeferral& aDeferral) {
  QStringList LNulls;
  for (const TDeferral& LOther : std::as_const(FPending))
    if (LOther.OwnerIdentity == aDeferral.OwnerIdentity)
      for (const QString& LColumn : LOther.Columns)
        if (!LNulls.contains(LColumn)) LNulls.append(LColumn);
  TWriteItem LItem{aDeferral.OwnerTable, aDeferral.OwnerKey, aDeferral.OwnerRow, aDeferral.Text, LNulls};
  LItem.Completion = true;
  Emit(std::move(LItem));
}

void TSliceExporter::ResolvePending() {
  FResolving = true;
  struct TReset {
    bool& FFlag;
    ~TReset() { FFlag = false; }
  } LReset{FResolving};
  while (!FPending.isEmpty()) {
    const TDeferral LNext = FPending.first();
    Visit(LNext.ParentTable, LNext.ParentRow, LNext.ParentOrigin);
    // Writing the parent completed every row waiting for it.
    if (!FVisited.Contains(LNext.ParentIdentity))
      throw TCorvaneError("Registro de " + LNext.ParentTable + " nao foi gravado. Exportacao cancelada.");
  }
}

// Reads, in batches, the parents and relation rows that the walk of aRows will look up, and
// theirs in turn, so that the walk finds them without a query each. aComing collects the
// identities of rows about to be written, whose parents need not be read.
void TSliceExporter::ReadAhead(const QString& aTable, const QList<TDbRow>& aRows, bool aWithRelations, int aDepth,
                               QSet<QString>& aComing) {
  constexpr qsizetype CMaxAhead = 2048;  // beyond this the walk reads the rows in windows of its own
  if (aRows.isEmpty() || aDepth > 8) return;
  try {
    const QStringList LKey = FCatalogue->PrimaryKey(aTable);
    for (const TDbRow& LRow : aRows) aComing.insert(RowIdentity(aTable, LKey, LRow));
  } catch (...) {
    return;
  }
  if (FDependencies) {
    QList<TForeignKey> LForeignKeys;
    try {
      LForeignKeys = FCatalogue->ForeignKeys(aTable);
    } catch (...) {
    }
    for (int LIndex = 0; LIndex < LForeignKeys.size(); ++LIndex) {
      const TForeignKey& LForeignKey = LForeignKeys[LIndex];
      QList<QList<TValue>> LTuples;
      try {
        for (const TDbRow& LRow : aRows) {
          const QString LParent = ParentIdentity(LForeignKey, LIndex, LRow);
          if (!LParent.isEmpty() && (FVisited.Contains(LParent) || aComing.contains(LParent))) continue;
          QList<TValue> LTuple;
          for (const TForeignKeyLink& LPair : LForeignKey.Links) {
            const TDbField& LField = LRow.FieldByName(LPair.ChildField);
            if (LField.IsNull()) break;
            LTuple.append(LField.Value());
          }
          if (LTuple.size() == LForeignKey.Links.size()) LTuples.append(LTuple);
        }
      } catch (...) {
        continue;
      }
      if (LTuples.isEmpty()) continue;
      QStringList LParentFields;
      for (const TForeignKeyLink& LPair : LForeignKey.Links) LParentFields.append(LPair.ParentField);
      const QList<TDbRow> LRead = FCatalogue->ReadAhead(
          TLookup{LForeignKey.ParentTable, LParentFields, QString(), QStringLiteral("P")}, LTuples, true);
      if (LRead.size() <= CMaxAhead) ReadAhead(LForeignKey.ParentTable, LRead, false, aDepth + 1, aComing);
    }
  }
  // A lone row's relation is one query either way: looked up when walked, its rows stream
  // instead of being read, perhaps past the limit, here.
  if (!aWithRelations || aRows.size() < 2) return;
  for (const TChild& LChild : std::as_const(FChildren)) {
    if (LChild.ParentTable != aTable) continue;
    const QStringList& LForeignKey = LChild.ForeignKeyFields;
    const QStringList& LParentKey = LChild.ParentKeyFields;
    if (LForeignKey.isEmpty() || LForeignKey.size() != LParentKey.size()) continue;
    QList<QList<TValue>> LTuples;
    try {
      for (const TDbRow& LRow : aRows) {
        LoadRelationKeys(aTable, LRow);
        QList<TValue> LTuple;
        for (const QString& LColumn : LParentKey) LTuple.append(LRow.FieldByName(LColumn).Value());
        LTuples.append(LTuple);
      }
    } catch (...) {
      continue;
    }
    const QList<TDbRow> LRead = FCatalogue->ReadAhead(
        TLookup{LChild.TableName, LForeignKey, LChild.Filter, QStringLiteral("R")}, LTuples, false);
    if (LRead.size() <= CMaxAhead) ReadAhead(LChild.TableName, LRead, true, aDepth + 1, aComing);
  }
}

}  // namespace Corvane
