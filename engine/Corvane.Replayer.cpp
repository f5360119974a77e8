#include "Corvane.Replayer.h"

#include "Corvane.Errors.h"
#include "Corvane.Literals.h"
#include "Corvane.ReplayLookup.h"
#include "Corvane.ReplayMirror.h"
#include "Corvane.ReplayRecords.h"
#include "Corvane.ReplayPreflight.h"
#include "Corvane.ReplayWriter.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>

namespace Corvane {

namespace {

using namespace Replay;

constexpr int CWindow = 2048;       // records read, previewed and written together
constexpr std::size_t CChunk = 16;  // records written by one statement

// The target row a record of a window met: by the record's position in the window.
using TMet = std::vector<std::optional<TRowLookup::TRow>>;

// The state of a row written by more than one record (a deferred reference completed
// later): the target's row before its first record, counted once its last record is seen.
struct TOpenRow {
  int Record = 0;
  QString Description;
  std::optional<std::vector<TValue>> Before;
};

class TReplayRun {
public:
  TReplayRun(TDbConnection& aConnection, const TSliceReplayer::TProgress& aProgress,
             const TCancellationPtr& aCancellation)
      : FConnection(aConnection), FProgress(aProgress), FCancellation(aCancellation), FCatalogue(aConnection) {}

  TReplayResult Run(const TSliceScript& aScript, bool aDryRun, bool aMirror, bool aSkipMissing,
                    const QList<TReplayRelation>& aRelations);

private:
  void Report(const QString& aMessage) {
    if (FProgress) FProgress(aMessage);
  }
  void CheckStop() const {
    if (FCancellation) FCancellation->Check(CReplayStopped);
  }
  void CollectShapes(const TSliceScript& aScript);
  TPending Pending(const TSliceScript& aScript, int aIndex, bool aCountDropped = false);
  QString KeyOf(const TShape& aShape, const std::vector<TValue>& aValues) const;
  TMet Met(const std::vector<TPending>& aWindow);
  void FindRepeatedKeys(const TSliceScript& aScript);
  void Compare(const TSliceScript& aScript, std::vector<TPending>& aWindow, QStringList& aStates);
  void Count(const TPending& aRecord, int aRecordNumber, const QString& aDescription,
             const std::vector<TValue>* aBefore, QString& aState);
  void ReadBack(const TSliceScript& aScript, TTargetOnlyRows& aTargetOnly);
  std::map<QString, qint64> Sequences();

  TDbConnection& FConnection;
  const TSliceReplayer::TProgress& FProgress;
  const TCancellationPtr& FCancellation;
  TTargetCatalogue FCatalogue;
  std::vector<TShape> FShapes;
  std::vector<std::unique_ptr<TRowLookup>> FLookups;  // by shape
  QList<TDroppedColumn> FDropped;
  std::vector<int> FDroppedValues;  // values other than NULL left out, by FDropped
  QHash<QString, int> FLastWriter;  // the record that writes each key last
  bool FWritersKnown = false;       // FLastWriter complete before the first window
  QSet<QString> FRepeated;          // keys written by more than one record
  QHash<QString, TOpenRow> FOpen;   // of FRepeated, between their first and last record
  QSet<QString> FWalkedKeys;        // of FRepeated, those whose first record the walk reached
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
    FShapes.push_back(std::move(LShape));
  }
  // Tables in order of their first record.
  for (int I = 0; I < aScript.Count(); ++I) {
    TShape& LShape = FShapes[std::size_t(aScript.ShapeOf(I))];
    auto LFound = LTables.constFind(LShape.Table);
    if (LFound == LTables.constEnd()) {
      LFound = LTables.insert(LShape.Table, int(FResult.Tables.size()));
      FResult.Tables.append(TReplayTable{LShape.Table, 0, 0, 0, {}, 0});
    }
    LShape.TableIndex = *LFound;
  }
}

QString TReplayRun::KeyOf(const TShape& aShape, const std::vector<TValue>& aValues) const {
  QString LKey = aShape.Table;
  LKey += QChar(0);
  for (const int LColumn : aShape.KeyColumns) AppendKeyPart(LKey, aValues[std::size_t(LColumn)]);
  return LKey;
}

TPending TReplayRun::Pending(const TSliceScript& aScript, int aIndex, bool aCountDropped) {
  TScriptRecord LRecord = aScript.Record(aIndex);
  TPending LPending;
  LPending.Index = aIndex;
  LPending.Shape = aScript.ShapeOf(aIndex);
  LPending.Description = LRecord.Description;
  const TShape& LShape = FShapes[std::size_t(LPending.Shape)];
  LPending.Values.reserve(LShape.Sources.size());
  try {
    for (std::size_t I = 0; I < LShape.Sources.size(); ++I) {
      const std::size_t LSource = std::size_t(LShape.Sources[I]);
      LPending.Values.push_back(
          LRecord.Values[LSource].ValueFor(LShape.Types[I], LShape.Table + "." + LRecord.Columns[qsizetype(LSource)]));
    }
  } catch (const TCorvaneError& aError) {
    RecordFailure(LPending, aError.Message());
  }
  if (aCountDropped)
    for (const int LSource : LShape.Dropped)
      if (LRecord.Values[std::size_t(LSource)].Form != TScriptLiteral::TForm::lfNull)
        for (qsizetype D = 0; D < FDropped.size(); ++D)
          if (FDropped[D].Table == LShape.Table && FDropped[D].Column == LRecord.Columns[LSource])
            ++FDroppedValues[std::size_t(D)];
  LPending.Key = KeyOf(LShape, LPending.Values);
  return LPending;
}

// The target row each record of the window meets, found as the server compares its key.
TMet TReplayRun::Met(const std::vector<TPending>& aWindow) {
  std::map<int, std::vector<int>> LByShape;
  for (std::size_t I = 0; I < aWindow.size(); ++I) LByShape[aWindow[I].Shape].push_back(int(I));
  TMet LMet(aWindow.size());
  for (const auto& LGroup : LByShape) {
    // Named, not bound: the lambdas below capture them.
    const int LShapeIndex = LGroup.first;
    const std::vector<int>& LRecords = LGroup.second;
    const TShape& LShape = FShapes[std::size_t(LShapeIndex)];
    std::unique_ptr<TRowLookup>& LLookup = FLookups[std::size_t(LShapeIndex)];
    if (!LLookup)
      LLookup = std::make_unique<TRowLookup>(FConnection, LShape.Table, LShape.Matching, LShape.Columns, LShape.Wide);
    try {
      LLookup->Find(
          int(LRecords.size()),
          [&](int aKey, int aColumn) -> const TValue& {
            return aWindow[std::size_t(LRecords[std::size_t(aKey)])]
                .Values[std::size_t(LShape.KeyColumns[std::size_t(aColumn)])];
          },
          [&](TRowLookup::TRow&& aRow) {
            const std::size_t LAt = std::size_t(LRecords[std::size_t(aRow.Key)]);
            if (!LMet[LAt]) LMet[LAt] = std::move(aRow);
          });
    } catch (const TKeyFailure& aFailure) {
      const TPending& LRecord = aWindow[std::size_t(LRecords[std::size_t(aFailure.Key)])];
      const QString LColumn = aFailure.Column >= 0 && aFailure.Column < LShape.Matching.size()
                                  ? LShape.Table + "." + LShape.Matching[aFailure.Column]
                                  : LShape.Table + "(" + LShape.Matching.join(QLatin1String(", ")) + ")";
      RecordFailure(LRecord, "a chave nao cabe no campo " + LColumn + " do destino (" + aFailure.Message() + ")");
    }
  }
  return LMet;
}

// Scripts that complete deferred references write some rows twice: those rows are known
// before the first of their records, so that each row is counted once.
void TReplayRun::FindRepeatedKeys(const TSliceScript& aScript) {
  if (!aScript.DefersCycles()) return;
  for (int I = 0; I < aScript.Count(); ++I) {
    const TPending LRecord = Pending(aScript, I);
    if (FLastWriter.contains(LRecord.Key)) FRepeated.insert(LRecord.Key);
    FLastWriter.insert(LRecord.Key, I);
  }
  FWritersKnown = true;
}

void TReplayRun::Count(const TPending& aRecord, int aRecordNumber, const QString& aDescription,
                       const std::vector<TValue>* aBefore, QString& aState) {
  const TShape& LShape = FShapes[std::size_t(aRecord.Shape)];
  TReplayTable& LTable = FResult.Tables[LShape.TableIndex];
  if (!aBefore) {
    ++LTable.Inserted;
    ++FResult.Inserted;
    aState = QStringLiteral("novo");
    return;
  }
  TReplayChange LChange{aRecordNumber, aDescription, {}, {}};
  for (std::size_t I = 0; I < aRecord.Values.size(); ++I)
    if (!SameValue(aBefore->at(I), aRecord.Values[I], LShape.Types[I])) {
      LChange.Columns << LShape.Columns[qsizetype(I)];
      LChange.Values.append(
          TReplayColumnChange{LShape.Columns[qsizetype(I)], Shown(aBefore->at(I)), Shown(aRecord.Values[I])});
    }
  if (LChange.Columns.isEmpty()) {
    ++LTable.Unchanged;
    ++FResult.Unchanged;
    aState = QStringLiteral("inalterado");
    return;
  }
  ++LTable.Changed;
  ++FResult.Changed;
  aState = "alterado em " + LChange.Columns.join(QLatin1String(", "));
  LTable.ChangedRows.append(std::move(LChange));
}

// The preview of a window: each record against the row it meets, each row counted once.
void TReplayRun::Compare(const TSliceScript& aScript, std::vector<TPending>& aWindow, QStringList& aStates) {
  const TMet LMet = Met(aWindow);
  QHash<QByteArray, int> LMeeting;  // target row -> the window's record that met it
  for (std::size_t I = 0; I < aWindow.size(); ++I) {
    TPending& LRecord = aWindow[I];
    const TShape& LShape = FShapes[std::size_t(LRecord.Shape)];
    const std::optional<TRowLookup::TRow>& LRow = LMet[I];
    LRecord.Found = LRow.has_value();
    if (LRow) {
      const QByteArray LIdentity = QByteArray::number(LShape.TableIndex) + ':' + LRow->DbKey;
      const auto LOther = LMeeting.constFind(LIdentity);
      if (LOther != LMeeting.constEnd())
        FResult.Divergences.append(TReplayDivergence{LRecord.Index + 1,
                                                     LRecord.Description,
                                                     {},
                                                     {},
                                                     {},
                                                     "encontra no destino o mesmo registro que o registro " +
                                                         QString::number(aWindow[std::size_t(*LOther)].Index + 1) +
                                                         " (" + aWindow[std::size_t(*LOther)].Description +
                                                         "): o destino compara a chave de outra forma"});
      else
        LMeeting.insert(LIdentity, int(I));
    }
    QString LState;
    if (FRepeated.contains(LRecord.Key)) {
      auto LOpen = FOpen.find(LRecord.Key);
      if (LOpen == FOpen.end() && aScript.Walked(LRecord.Index)) FWalkedKeys.insert(LRecord.Key);
      if (LOpen == FOpen.end())
        LOpen = FOpen.insert(LRecord.Key, TOpenRow{LRecord.Index + 1, LRecord.Description,
                                                   LRow ? std::optional(LRow->Values) : std::nullopt});
      if (FLastWriter.value(LRecord.Key) == LRecord.Index) {
        Count(LRecord, LOpen->Record, LOpen->Description, LOpen->Before ? &*LOpen->Before : nullptr, LState);
        FOpen.erase(LOpen);
      } else {
        LState = QStringLiteral("gravado agora e completado adiante");
      }
    } else {
      Count(LRecord, LRecord.Index + 1, LRecord.Description, LRow ? &LRow->Values : nullptr, LState);
    }
    if (!FWritersKnown) FLastWriter.insert(LRecord.Key, LRecord.Index);
    FResult.Records.append(TReplayRecordState{LRecord.Index + 1, FResult.Tables[LShape.TableIndex].Table,
                                              LRecord.Description, LState});
    aStates << LState;
  }
}

// Every row as its last statement left it, read back in the same transaction.
void TReplayRun::ReadBack(const TSliceScript& aScript, TTargetOnlyRows& aTargetOnly) {
  QSet<int> LDivergent;
  for (const TReplayDivergence& LDivergence : std::as_const(FResult.Divergences)) LDivergent.insert(LDivergence.Record);
  for (int LStart = 0; LStart < aScript.Count();) {
    CheckStop();
    std::vector<TPending> LWindow;
    int I = LStart;
    for (; I < aScript.Count() && int(LWindow.size()) < CWindow; ++I) {
      TPending LRecord = Pending(aScript, I);
      if (FLastWriter.value(LRecord.Key) == I) LWindow.push_back(std::move(LRecord));
    }
    LStart = I;
    const TMet LAfter = Met(LWindow);
    // Two records whose keys differ here but that the target compares as one row: within a
    // window they are named together; across windows the earlier one reads back the later
    // one's key, a divergence all the same.
    QHash<QByteArray, int> LOwners;
    for (std::size_t W = 0; W < LWindow.size(); ++W) {
      const TPending& LRecord = LWindow[W];
      const TShape& LShape = FShapes[std::size_t(LRecord.Shape)];
      const std::optional<TRowLookup::TRow>& LRow = LAfter[W];
      if (!LRow) {
        FResult.Divergences.append(TReplayDivergence{LRecord.Index + 1, LRecord.Description, QString(), QString(),
                                                     QStringLiteral("ausente"), QString()});
        LDivergent.insert(LRecord.Index + 1);
        continue;
      }
      for (std::size_t C = 0; C < LRecord.Values.size(); ++C)
        if (!SameValue(LRow->Values[C], LRecord.Values[C], LShape.Types[C])) {
          FResult.Divergences.append(TReplayDivergence{LRecord.Index + 1, LRecord.Description,
                                                       LShape.Columns[qsizetype(C)], Shown(LRecord.Values[C]),
                                                       Shown(LRow->Values[C]), QString()});
          LDivergent.insert(LRecord.Index + 1);
        }
      const QByteArray LIdentity = QByteArray::number(LShape.TableIndex) + ':' + LRow->DbKey;
      const auto LOwner = LOwners.constFind(LIdentity);
      if (LOwner != LOwners.constEnd()) {
        FResult.Divergences.append(TReplayDivergence{
            LRecord.Index + 1,
            LRecord.Description,
            {},
            {},
            {},
            "gravado no mesmo registro do destino que o registro " + QString::number(*LOwner) +
                ": o destino compara a chave de outra forma e guarda um registro onde o script tem dois"});
        LDivergent.insert(LRecord.Index + 1);
      } else {
        LOwners.insert(LIdentity, LRecord.Index + 1);
      }
      // Only rows the walk reached lead to related rows: a row the document merely depends on
      // has relations of its own document.
      aTargetOnly.Written(LShape.Table, LRow->DbKey, LShape.Columns, LRecord.Values,
                          aScript.Walked(LRecord.Index) || FWalkedKeys.contains(LRecord.Key));
    }
  }
  FResult.Divergent = int(LDivergent.size());
}

// The user's sequences, by name: a dry run says which of them it moved.
std::map<QString, qint64> TReplayRun::Sequences() {
  QStringList LNames;
  {
    TDbQuery LQuery(FConnection);
    LQuery.SetSQL(
        QStringLiteral("SELECT RDB$GENERATOR_NAME FROM RDB$GENERATORS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0"));
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) LNames << CatalogueName(LQuery.Field(0).Value());
  }
  std::map<QString, qint64> LValues;
  auto LRead = [&](const QStringList& aNames) {
    QStringList LReads;
    for (const QString& LName : aNames) LReads << "GEN_ID(" + TSqlLiterals::QuoteName(LName) + ", 0)";
    TDbQuery LQuery(FConnection);
    LQuery.SetSQL("SELECT " + LReads.join(QLatin1String(", ")) + " FROM RDB$DATABASE");
    LQuery.Open();
    for (qsizetype I = 0; I < aNames.size(); ++I) LValues[aNames[I]] = LQuery.Field(int(I)).Value().AsInteger();
  };
  for (qsizetype LStart = 0; LStart < LNames.size(); LStart += 200) {
    const QStringList LPart = LNames.mid(LStart, 200);
    try {
      LRead(LPart);
    } catch (const TCorvaneError&) {
      // A sequence the user may not read (no USAGE) is left out, not the whole dry run.
      for (const QString& LName : LPart) {
        try {
          LRead(QStringList{LName});
        } catch (const TCorvaneError&) {
        }
      }
    }
  }
  return LValues;
}

TReplayResult TReplayRun::Run(const TSliceScript& aScript, bool aDryRun, bool aMirror, bool aSkipMissing,
                              const QList<TReplayRelation>& aRelations) {
  Report(QStringLiteral("Lendo o script: ") + QString::number(aScript.Count()) + QStringLiteral(" registros."));
  CollectShapes(aScript);
  FLookups.resize(FShapes.size());
  FConnection.StartTransaction();
  Report(QStringLiteral("Conferindo tabelas e campos do destino..."));
  QStringList LTables;
  for (const TReplayTable& LTable : std::as_const(FResult.Tables)) LTables << LTable.Table;
  FDropped = Preflight(FCatalogue, FShapes, LTables, aSkipMissing);
  FDroppedValues.assign(std::size_t(FDropped.size()), 0);
  const std::map<QString, qint64> LSequences = aDryRun ? Sequences() : std::map<QString, qint64>();
  FindRepeatedKeys(aScript);

  // Windows of records: the target rows they will meet are read together, after every
  // earlier window has been written, so each row is seen as its statement will find it. A
  // key that comes again starts a new window.
  TRecordWriter LWriter(FConnection, FShapes);
  for (int LStart = 0; LStart < aScript.Count();) {
    CheckStop();
    std::vector<TPending> LWindow;
    QSet<QString> LKeys;
    for (int I = LStart; I < aScript.Count() && int(LWindow.size()) < CWindow; ++I) {
      TPending LRecord = Pending(aScript, I, true);
      if (LKeys.contains(LRecord.Key)) break;
      LKeys.insert(LRecord.Key);
      LWindow.push_back(std::move(LRecord));
    }
    QStringList LStates;
    Compare(aScript, LWindow, LStates);
    // The records of the window, a few per statement; progress once they are written.
    for (std::size_t I = 0; I < LWindow.size(); I += CChunk) {
      const std::size_t LEnd = std::min(LWindow.size(), I + CChunk);
      CheckStop();
      LWriter.Write(LWindow, I, LEnd);
      if (FProgress)
        for (std::size_t J = I; J < LEnd; ++J)
          Report("Registro " + QString::number(LWindow[J].Index + 1) + ": " + LWindow[J].Description + " - " +
                 LStates[qsizetype(J)] + ".");
    }
    LStart += int(LWindow.size());
  }
  LWriter.Release();
  for (qsizetype D = 0; D < FDropped.size(); ++D)
    FResult.Dropped.append(TReplayDroppedColumn{FDropped[D].Table, FDropped[D].Column, FDroppedValues[std::size_t(D)]});

  Report(QStringLiteral("Conferindo os registros gravados..."));
  TTargetOnlyRows LTargetOnly(FConnection, FCatalogue, aRelations, aScript.RootTable());
  ReadBack(aScript, LTargetOnly);

  // Rows of the document's relations that only the target holds: listed, or deleted with the mirror.
  if (!aRelations.isEmpty()) {
    Report(QStringLiteral("Procurando registros somente no destino..."));
    FResult.TargetOnly = LTargetOnly.Find();
    for (const TReplayTargetRow& LRow : std::as_const(FResult.TargetOnly))
      for (TReplayTable& LTable : FResult.Tables)
        if (LTable.Table == LRow.Table) ++LTable.TargetOnly;
    if (aMirror && !FResult.TargetOnly.isEmpty()) {
      CheckStop();
      Report("Excluindo " + QString::number(FResult.TargetOnly.size()) + " registros somente no destino...");
      LTargetOnly.Delete();
    }
    FResult.Mirrored = aMirror;
  }

  for (std::unique_ptr<TRowLookup>& LLookup : FLookups) LLookup.reset();
  if (aDryRun) {
    for (const auto& [LName, LAfter] : Sequences())
      if (LSequences.count(LName) && LSequences.at(LName) != LAfter)
        FResult.Sequences.append(TReplaySequence{LName, LSequences.at(LName), LAfter});
    FConnection.Rollback();
    Report(
        FResult.Sequences.isEmpty()
            ? QStringLiteral("Simulacao concluida: transacao desfeita, nada foi gravado.")
            : QStringLiteral("Simulacao concluida: transacao desfeita; sequencias movidas pelo destino nao voltam."));
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

TSliceReplayer& TSliceReplayer::Related(const QList<TReplayRelation>& aRelations) {
  FRelations = aRelations;
  return *this;
}

TSliceReplayer& TSliceReplayer::Mirror(bool aMirror) {
  FMirror = aMirror;
  return *this;
}

TSliceReplayer& TSliceReplayer::SkipMissingColumns(bool aSkip) {
  FSkipMissing = aSkip;
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
  if (FConnection.Param(QStringLiteral("CharacterSet")).trimmed().compare(QLatin1String("UTF8"), Qt::CaseInsensitive) !=
      0)
    throw TCorvaneError(QStringLiteral("Utilize uma conexao UTF8 para reproduzir o script."));
  if (FMirror && FRelations.isEmpty())
    throw TCorvaneError(QStringLiteral("Espelhar o documento requer as suas relacoes: informe --related."));
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
    return LRun.Run(aScript, FDryRun, FMirror, FSkipMissing, FRelations);
  } catch (...) {
    // Before the commit a stop makes the call in flight fail with its own text; the run
    // reports the stop, and TRestore rolls back on the way out.
    if (FCancellation && FCancellation->Requested() && !FCancellation->Committing())
      throw TCancelledError(CReplayStopped);
    throw;
  }
}

}  // namespace Corvane
