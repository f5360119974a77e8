#include "Corvane.Exporter.h"

#include "Corvane.Catalogue.h"
#include "Corvane.Errors.h"
#include "Corvane.Literals.h"
#include "Corvane.ScriptFormat.h"
#include "Corvane.ScriptSink.h"

#include <QSet>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace Corvane {

namespace {

constexpr qsizetype CMaxStatement = 65000;  // UTF-8 bytes of one statement
const QString CRootOrigin = ScriptFormat::CRootOrigin;

qsizetype Utf8Length(QStringView aText) {
  qsizetype LLength = 0;
  const QChar* LChar = aText.constData();
  const QChar* LEnd = LChar + aText.size();
  for (; LChar < LEnd; ++LChar) {
    const char16_t LUnit = LChar->unicode();
    if (LUnit < 0x80)
      LLength += 1;
    else if (LUnit < 0x800)
      LLength += 2;
    else if (QChar::isHighSurrogate(LUnit) && LChar + 1 < LEnd && LChar[1].isLowSurrogate()) {
      LLength += 4;
      ++LChar;
    } else
      LLength += 3;
  }
  return LLength;
}

// Restores the connection's transaction options, and rolls back a transaction the run
// started, whatever way the run ends. The export never commits.
class TRunGuard {
public:
  TRunGuard(TDbConnection& aConnection, TSliceCatalogue& aCatalogue, const TCancellationPtr& aCancellation)
      : FConnection(aConnection), FCatalogue(aCatalogue),
        FReadOnly(aConnection.ReadOnly()), FIsolation(aConnection.Isolation()),
        FCancellation(aConnection.Cancellation()) {
    if (aCancellation) FConnection.SetCancellation(aCancellation);
  }
  ~TRunGuard() {
    FCatalogue.EndRun();
    if (FStarted && FConnection.InTransaction()) {
      try {
        FConnection.Rollback();
      } catch (...) {
        // The run's own failure is the one to report.
      }
    }
    FConnection.SetReadOnly(FReadOnly);
    FConnection.SetIsolation(FIsolation);
    FConnection.SetCancellation(FCancellation);
  }
  void Started() { FStarted = true; }
  // The normal end: a failed rollback is reported like any other failure.
  void Finish() {
    FCatalogue.EndRun();
    FConnection.Rollback();
  }

private:
  TDbConnection& FConnection;
  TSliceCatalogue& FCatalogue;
  bool FReadOnly;
  TIsolation FIsolation;
  TCancellationPtr FCancellation;  // the connection's own, restored at the end
  bool FStarted = false;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Configuration

TSliceExporter::TSliceExporter(TDbConnection* aConnection) : FConnection(aConnection) {}

TSliceExporter::~TSliceExporter() = default;

std::shared_ptr<TSliceExporter> TSliceExporter::Create(TDbConnection* aConnection) {
  if (!aConnection) throw TCorvaneError("Informe uma conexao para o exportador.");
  QString LCharacterSet = aConnection->Param(QStringLiteral("CharacterSet")).trimmed();
  for (QChar& LChar : LCharacterSet)
    if (LChar >= QLatin1Char('a') && LChar <= QLatin1Char('z')) LChar = QChar(LChar.unicode() - 32);
  auto LLiterals = std::make_unique<TSqlLiterals>(LCharacterSet);  // refuses other sets
  std::shared_ptr<TSliceExporter> LExporter(new TSliceExporter(aConnection));
  LExporter->FCharacterSet = LCharacterSet;
  LExporter->FLiterals = std::move(LLiterals);
  LExporter->FKeyLiterals = std::make_unique<TSqlLiterals>(LCharacterSet);
  LExporter->FCatalogue = std::make_unique<TSliceCatalogue>(*aConnection);
  return LExporter;
}

ISliceExporterPtr TSliceExporter::New(TDbConnection* aConnection) { return Create(aConnection); }

ISliceExporterPtr TSliceExporter::Table(const QString& aTable) {
  FTable = aTable.trimmed();
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Key(const QString& aField, const TValue& aValue) {
  if (aField.trimmed().isEmpty() || aValue.IsNull() || aValue.IsUnassigned())
    throw TCorvaneError("Informe campo e valor da chave.");
  if (FKeys.contains(aField)) throw TCorvaneError("Campo de chave repetido: " + aField);
  FKeys.append(aField);
  FValues.append(aValue);
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::IncludeChildren(const QString& aTable, const QString& aForeignKey,
                                                  const QString& aParentKey) {
  return IncludeRelated(FTable, aTable, aForeignKey, aParentKey, QString());
}

ISliceExporterPtr TSliceExporter::IncludeRelated(const QString& aParentTable, const QString& aTable,
                                                 const QString& aForeignKeys, const QString& aParentKeys,
                                                 const QString& aFilter) {
  FChildren.append(TChild{aParentTable, aTable, aForeignKeys, aParentKeys, aFilter, ParseNameList(aForeignKeys),
                          ParseNameList(aParentKeys), "Consultando registros relacionados em " + aTable + "..."});
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Dependencies(bool aEnabled) {
  FDependencies = aEnabled;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::DeferCycles(bool aEnabled) {
  FDeferCycles = aEnabled;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::SkipArrays(bool aEnabled) {
  FSkipArrays = aEnabled;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Cancellation(const TCancellationPtr& aCancellation) {
  FCancellation = aCancellation;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Booleans(bool aEnabled) {
  FLiterals->SetBooleans(aEnabled);
  FKeyLiterals->SetBooleans(aEnabled);
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::UnlimitedChains(bool aEnabled) {
  FUnlimitedChains = aEnabled;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Masking(const TMaskRulesPtr& aRules) {
  FMaskRules = aRules;
  return shared_from_this();
}

ISliceExporterPtr TSliceExporter::Progress(const TSliceProgress& aCallback) {
  FProgress = aCallback;
  return shared_from_this();
}

void TSliceExporter::ListTables(QStringList* aTables) {
  if (!aTables) throw TArgumentError("Informe a lista de tabelas.");
  QStringList LSorted;
  const auto LAdd = [&LSorted](const QString& aName) {
    const auto LLess = [](const QString& aLeft, const QString& aRight) {
      return QString::compare(aLeft, aRight, Qt::CaseInsensitive) < 0;
    };
    const auto LAt = std::lower_bound(LSorted.begin(), LSorted.end(), aName, LLess);
    if (LAt != LSorted.end() && QString::compare(*LAt, aName, Qt::CaseInsensitive) == 0) return;
    LSorted.insert(LAt, aName);
  };
  for (const QString& LName : std::as_const(*aTables)) LAdd(LName);
  if (!FTable.isEmpty()) LAdd(FTable);
  for (const TChild& LChild : std::as_const(FChildren)) {
    LAdd(LChild.ParentTable);
    LAdd(LChild.TableName);
  }
  *aTables = LSorted;
}

void TSliceExporter::Report(const QString& aMessage) {
  if (FProgress) FProgress(aMessage);
}

// A relation from a table to itself is walked once per row, which ends on any data. A chain
// of relations through other tables back to one of them is refused before anything is read.
void TSliceExporter::CheckRelationTree() const {
  enum TMark { mNew, mOpen, mDone };
  QHash<QString, TMark> LMarks;
  std::function<void(const QString&)> LWalk = [&](const QString& aTable) {
    LMarks[aTable] = mOpen;
    for (const TChild& LChild : FChildren) {
      if (LChild.ParentTable != aTable || LChild.TableName == aTable) continue;
      const TMark LMark = LMarks.value(LChild.TableName, mNew);
      if (LMark == mOpen)
        throw TCorvaneError("Relacionamentos configurados formam um ciclo na tabela " + LChild.TableName +
                            ". Exportacao cancelada.");
      if (LMark == mNew) LWalk(LChild.TableName);
    }
    LMarks[aTable] = mDone;
  };
  for (const TChild& LChild : FChildren)
    if (LMarks.value(LChild.ParentTable, mNew) == mNew) LWalk(LChild.ParentTable);
}

// ---------------------------------------------------------------------------------------
// One run: header, root rows with everything they lead to, footer.

template <typename TWork>
auto TSliceExporter::Stoppable(TWork&& aWork) -> decltype(aWork()) {
  try {
    CheckStop();
    return aWork();
  } catch (...) {
    // A stop makes the server call in flight fail with its own text: the run reports the stop.
    if (FCancellation && FCancellation->Requested()) throw TCancelledError(CExportStopped);
    throw;
  }
}

QString TSliceExporter::Generate() {
  return Stoppable([this]() {
    CheckRun();
    TScriptSink LSink;
    RunScript(LSink);
    return QString::fromUtf8(LSink.Take());
  });
}

void TSliceExporter::CheckRun() const {
  if (FTable.isEmpty() || FKeys.isEmpty()) throw TCorvaneError("Informe tabela e chave antes de gerar o script.");
  if (FConnection->InTransaction())
    throw TCorvaneError("Utilize uma conexao sem transacao ativa para exportar.");
  CheckRelationTree();
}

void TSliceExporter::RunScript(TScriptSink& aSink) {
  struct TSinkSet {
    TSliceExporter& FExporter;
    ~TSinkSet() { FExporter.FSink = nullptr; }
  } LSinkSet{*this};
  FSink = &aSink;
  FVisited.Clear();
  FTableNumbers.clear();
  FInChain.clear();
  FChain.clear();
  FRelationsWalked.Clear();
  FPending.clear();
  FPendingParents.clear();
  FResolving = false;
  FCompleted = false;
  FArraysReported.clear();
  FStatementFrames.clear();
  FCount = 0;
  Report("Consultando " + FTable + " e suas dependencias...");

  QString LCondition;
  for (qsizetype I = 0; I < FKeys.size(); ++I) {
    if (I > 0) LCondition += QLatin1String(" AND ");
    LCondition += TSqlLiterals::QuoteName(FKeys[I]) + QLatin1String(" = :P") + QString::number(I);
  }

  TRunGuard LGuard(*FConnection, *FCatalogue, FCancellation);
  FConnection->SetReadOnly(true);
  FConnection->SetIsolation(TIsolation::tiSnapshot);
  FCatalogue->BeginRun(FRunCache, FSkipArrays);
  FConnection->StartTransaction();
  LGuard.Started();
  FMasker.reset();
  if (FMaskRules) {
    FMasker = std::make_unique<TMasker>(FMaskRules, *FConnection, FCharacterSet);
    if (FMasker->RandomKey())
      Report(QStringLiteral("Mascaramento com chave aleatoria: outra exportacao dara outros valores."));
  }

  for (const QLatin1StringView LLine : ScriptFormat::CHeader) {
    if (LLine == ScriptFormat::CHeader[ScriptFormat::CNotesAt]) {
      aSink.Mark();
      if (FMasker) aSink.AppendLine(QString(ScriptFormat::CCommentStart + CommentText(FMasker->Note())));
    }
    aSink.AppendLine(QString(LLine));
  }
  {
    TRowBatch LRoots;
    TDbQuery LRoot(*FConnection);
    LRoot.SetSQL("SELECT " + FCatalogue->Columns(FTable) + " FROM " + TSqlLiterals::QuoteName(FTable) +
                 " WHERE " + LCondition);
    for (qsizetype I = 0; I < FValues.size(); ++I) LRoot.SetParam("P" + QString::number(I), FValues[I]);
    LRoot.Open();
    if (LRoot.Eof()) throw TCorvaneError("Registro nao encontrado em " + FTable + ".");
    try {
      for (; !LRoot.Eof(); LRoot.Next()) LRoots.Rows.append(LRoot.CurrentRow());
    } catch (...) {
      LRoots.Error = std::current_exception();
    }
    // Keys that cover no unique key select several rows: all are exported, and the user is told.
    if (LRoots.Rows.size() > 1)
      Report("A chave informada seleciona " + QString::number(LRoots.Rows.size()) + " registros de " + FTable +
             "; todos serao exportados.");
    Walk([this, &LRoots]() { VisitRows(FTable, std::move(LRoots), CRootOrigin); });
  }
  if (FCompleted) aSink.InsertAtMark(QByteArray(ScriptFormat::CCycleNote.data(), ScriptFormat::CCycleNote.size()) + "\r\n");
  aSink.AppendLine(QString(ScriptFormat::CCountPrefix + QString::number(FCount)));
  aSink.AppendLine(QString(ScriptFormat::CCommit));
  Report("Total de registros exportados: " + QString::number(FCount));
  LGuard.Finish();
}

// ---------------------------------------------------------------------------------------
// Walking and writing side by side.
//
// With the run cache on, the walk runs on a thread of its own and hands its rows and
// progress messages, in order, to the caller's thread, which writes the rows and reports:
// waiting for the server and writing literals overlap. The writer stops at the first row
// that fails, just where one thread would have stopped, and the walk stops with it. Both
// use the run's transaction, the walk for its queries and the writer for the BLOBs of the
// rows it writes; the client library takes their calls one at a time.

class TSliceExporter::TWriteQueue {
public:
  struct TStopped {};  // thrown into the walk once the writer has given up

  // The walk's side. Items travel in chunks, so that the threads rarely meet, and never wait
  // long, so that progress keeps coming.
  void Push(TWriteItem&& aItem) {
    FPending.push_back(std::move(aItem));
    if (FPending.size() >= CChunk || std::chrono::steady_clock::now() - FFlushed >= CLatency) Flush();
  }
  void Flush() {
    FFlushed = std::chrono::steady_clock::now();
    if (FPending.empty()) return;
    std::unique_lock LLock(FMutex);
    FRoom.wait(LLock, [this] { return FStopped || FChunks.size() < CMaxChunks; });
    if (FStopped) throw TStopped();
    FChunks.push_back(std::exchange(FPending, {}));
    FReady.notify_one();
    // Written rows die here, on the thread that made them: freeing memory of another thread
    // makes both contend for the allocator.
    std::vector<std::vector<TWriteItem>> LSpent = std::exchange(FSpent, {});
    LLock.unlock();
  }
  void Finish(std::exception_ptr aError) {
    std::lock_guard LLock(FMutex);
    FError = std::move(aError);
    FDone = true;
    FReady.notify_one();
  }

  // The writer's side: the next chunk, or false once the walk has ended and all is taken.
  bool Take(std::vector<TWriteItem>& aChunk) {
    std::unique_lock LLock(FMutex);
    if (!aChunk.empty()) FSpent.push_back(std::exchange(aChunk, {}));
    FReady.wait(LLock, [this] { return FDone || !FChunks.empty(); });
    if (FChunks.empty()) return false;
    aChunk = std::move(FChunks.front());
    FChunks.pop_front();
    FRoom.notify_one();
    return true;
  }
  void Stop() {
    std::lock_guard LLock(FMutex);
    FStopped = true;
    FRoom.notify_all();
  }
  std::exception_ptr Error() {
    std::lock_guard LLock(FMutex);
    return FError;
  }

private:
  static constexpr std::size_t CChunk = 64;
  static constexpr std::size_t CMaxChunks = 64;  // bounds the rows held between the threads
  static constexpr std::chrono::milliseconds CLatency{50};
  std::vector<TWriteItem> FPending;  // the walk's own, not yet handed over
  std::chrono::steady_clock::time_point FFlushed = std::chrono::steady_clock::now();
  std::mutex FMutex;
  std::condition_variable FReady, FRoom;
  std::deque<std::vector<TWriteItem>> FChunks;
  std::vector<std::vector<TWriteItem>> FSpent;  // written, handed back to be freed by the walk
  std::exception_ptr FError;
  bool FDone = false;
  bool FStopped = false;
};

void TSliceExporter::Walk(const std::function<void()>& aWalk) {
  if (!FRunCache) {  // the plain path: each row is written as the walk reaches it
    aWalk();
    return;
  }
  TWriteQueue LQueue;
  TDbBlobReader LBlobs(*FConnection), LWalkBlobs(*FConnection);
  struct TReset {
    TSliceExporter* FExporter;
    ~TReset() {
      FExporter->FQueue = nullptr;
      FExporter->FBlobs = nullptr;
      FExporter->FWalkBlobs = nullptr;
    }
  } LReset{this};
  FBlobs = &LBlobs;
  FWalkBlobs = &LWalkBlobs;
  FQueue = &LQueue;
  std::thread LWalker;
  try {
    if (TFbClient::ServesThreads()) LWalker = std::thread([&aWalk, &LQueue]() {
      std::exception_ptr LError;
      try {
        aWalk();
      } catch (const TWriteQueue::TStopped&) {
      } catch (...) {
        LError = std::current_exception();  // reported after the rows the walk handed over before it
      }
      try {
        LQueue.Flush();
      } catch (const TWriteQueue::TStopped&) {
      } catch (...) {
        if (!LError) LError = std::current_exception();
      }
      LQueue.Finish(LError);
    });
  } catch (const std::system_error&) {
  }
  if (!LWalker.joinable()) {
    FQueue = nullptr;  // one thread only: the walk writes each row as it goes
    aWalk();
    return;
  }
  struct TJoin {
    TWriteQueue& FQueue;
    std::thread& FThread;
    ~TJoin() {
      FQueue.Stop();
      FThread.join();
    }
  } LJoin{LQueue, LWalker};
  std::vector<TWriteItem> LChunk;
  while (LQueue.Take(LChunk))
    for (const TWriteItem& LItem : LChunk) {
      CheckStop();
      Write(LItem);
    }
  if (const std::exception_ptr LError = LQueue.Error()) std::rethrow_exception(LError);
}

void TSliceExporter::Emit(TWriteItem&& aItem) {
  CheckStop();
  if (FQueue)
    FQueue->Push(std::move(aItem));
  else
    Write(aItem);
}

void TSliceExporter::Write(const TWriteItem& aItem) {
  if (aItem.Table.isEmpty())
    Report(aItem.Text);
  else
    WriteRow(aItem);
}

// ---------------------------------------------------------------------------------------
// Rows: their comments, their identities and their statements. The walk that decides which
// rows, and in what order, is in Corvane.Walk.cpp.

QString CommentText(const QString& aText) { return PrintableText(aText); }

// Tags a row carries through the run: its identity, its description, then one parent
// identity per foreign key.
constexpr int CTagIdentity = 0;
constexpr int CTagDescription = 1;
constexpr int CTagParents = 2;

QString TSliceExporter::Describe(const QString& aTable, const QStringList& aKey, const TDbRow& aRow) const {
  QString LResult = CommentText(aTable) + QLatin1String(" | ");
  for (qsizetype I = 0; I < aKey.size(); ++I) {
    if (I > 0) LResult += QLatin1String(", ");
    const TDbField& LField = aRow.FieldByName(aKey[I]);
    // A masked key shows its masked value: the comments carry no real value either.
    const TMasker::TColumn* LMask = FMasker ? FMasker->Find(aTable, LField.Name()) : nullptr;
    LResult += CommentText(aKey[I]) + QLatin1Char('=') +
               CommentText(LMask ? FMasker->Masked(*LMask, LField.Value()).TextForm() : LField.TextForm());
  }
  return LResult;
}

// The description of a row named in the origin of another, worked out once per row.
QString TSliceExporter::RowDescription(const QString& aTable, const TDbRow& aRow) {
  const QString& LKnown = aRow.Tag(CTagDescription);
  if (!LKnown.isNull()) return LKnown;
  const QString LResult = Describe(aTable, FCatalogue->PrimaryKey(aTable), aRow);
  if (FCatalogue->Caching()) aRow.SetTag(CTagDescription, LResult);
  return LResult;
}

namespace {

// Fixed-width pieces of an identity, written as raw UTF-16 units: never parsed, only compared.
void AppendBits(TSliceExporter::TIdentityText& aOut, std::uint64_t aBits) {
  const char16_t LUnits[4] = {char16_t(aBits), char16_t(aBits >> 16), char16_t(aBits >> 32), char16_t(aBits >> 48)};
  aOut.append(LUnits, 4);
}

// A length: one unit below 0x8000, else two with the high bit of the first set.
void AppendSize(TSliceExporter::TIdentityText& aOut, qsizetype aSize) {
  if (aSize < 0x8000) {
    aOut.append(char16_t(aSize));
    return;
  }
  aOut.append(char16_t(0x8000 | ((aSize >> 16) & 0x7FFF)));
  aOut.append(char16_t(aSize & 0xFFFF));
}

void AppendText(TSliceExporter::TIdentityText& aOut, const QString& aText) {
  aOut.append(reinterpret_cast<const char16_t*>(aText.utf16()), aText.size());
}

QString IdentityString(const TSliceExporter::TIdentityText& aText) {
  return QString(reinterpret_cast<const QChar*>(aText.constData()), aText.size());
}

}  // namespace

// An identity is the table name and each key value in a short exact form, every piece of
// fixed width or preceded by its length, so that equal identities mean the same row. Equal
// numbers are one form whatever their scale; a value whose literal cannot be written
// fails here as its literal would, so that a row fails where it always has.
void TSliceExporter::AppendIdentityPart(TIdentityText& aIdentity, const TValue& aValue, const QString& aColumn) const {
  if (aValue.IsNull()) {
    aIdentity.append(u'n');
    return;
  }
  switch (aValue.Kind()) {
    case TValueKind::vkInteger:
      aIdentity.append(u'i');
      AppendBits(aIdentity, std::uint64_t(aValue.AsInteger()));
      return;
    case TValueKind::vkDecimal: {
      TDecimal LDecimal = aValue.AsDecimal();
      while (LDecimal.Scale > 0 && LDecimal.Unscaled % 10 == 0) {
        LDecimal.Unscaled /= 10;
        --LDecimal.Scale;
      }
      if (LDecimal.Scale > 0) {
        aIdentity.append(u'd');
        aIdentity.append(char16_t(LDecimal.Scale));
      } else {
        aIdentity.append(u'i');
      }
      AppendBits(aIdentity, std::uint64_t(LDecimal.Unscaled));
      return;
    }
    case TValueKind::vkFloat: {
      const double LValue = aValue.AsFloat() + 0.0;  // -0 and 0 are one key
      if (!std::isfinite(LValue)) break;
      std::uint64_t LBits;
      std::memcpy(&LBits, &LValue, sizeof LBits);
      aIdentity.append(u'f');
      AppendBits(aIdentity, LBits);
      return;
    }
    case TValueKind::vkDate:
    case TValueKind::vkTime:
    case TValueKind::vkTimestamp: {
      const TTimestamp LStamp = aValue.Kind() == TValueKind::vkDate   ? TTimestamp{aValue.AsDate(), TTime{}}
                                : aValue.Kind() == TValueKind::vkTime ? TTimestamp{TDate{}, aValue.AsTime()}
                                                                      : aValue.AsTimestamp();
      aIdentity.append(char16_t(u'a' + int(aValue.Kind())));
      for (const int LPart : {LStamp.Date.Year, LStamp.Date.Month, LStamp.Date.Day, LStamp.Time.Hour,
                              LStamp.Time.Minute, LStamp.Time.Second, LStamp.Time.Millisecond, LStamp.Time.Tenths})
        AppendBits(aIdentity, std::uint64_t(std::int64_t(LPart)));
      return;
    }
    case TValueKind::vkText: {
      if (aValue.IsUntranslated()) {  // its bytes: two byte strings may read as one text
        const QByteArray& LBytes = aValue.AsBytes();
        aIdentity.append(u'r');
        AppendSize(aIdentity, LBytes.size());
        for (const char LByte : LBytes) aIdentity.append(char16_t(static_cast<unsigned char>(LByte)));
        return;
      }
      const QString& LText = aValue.AsText();
      for (const QChar LChar : LText)
        if (LChar.unicode() >= 0x80) {
          FScratch.clear();
          FKeyLiterals->AppendLiteral(FScratch, aValue, aColumn);  // fails for text the set cannot hold
          break;
        }
      aIdentity.append(u'x');
      AppendSize(aIdentity, LText.size());
      AppendText(aIdentity, LText);
      return;
    }
    default:
      break;
  }
  // Everything else, and whatever must fail, as its literal.
  FScratch.clear();
  FKeyLiterals->AppendLiteral(FScratch, aValue, aColumn);
  aIdentity.append(u'l');
  AppendSize(aIdentity, FScratch.size());
  AppendText(aIdentity, FScratch);
}

// The table as its number in the run: an identity is all that stays of a row, so it is short.
void TSliceExporter::AppendIdentityTable(TIdentityText& aIdentity, const QString& aTable) const {
  auto LFound = FTableNumbers.constFind(aTable);
  if (LFound == FTableNumbers.constEnd()) LFound = FTableNumbers.insert(aTable, FTableNumbers.size());
  AppendSize(aIdentity, *LFound);
}

QString TSliceExporter::RowIdentity(const QString& aTable, const QStringList& aKey, const TDbRow& aRow) const {
  // A row read ahead had its identity worked out then; a row belongs to one table only.
  const QString& LKnown = aRow.Tag(CTagIdentity);
  if (!LKnown.isNull()) return LKnown;
  TIdentityText LText;
  AppendIdentityTable(LText, aTable);
  for (const QString& LColumn : aKey) AppendIdentityPart(LText, aRow.FieldByName(LColumn).Value(), LColumn);
  const QString LIdentity = IdentityString(LText);
  if (FCatalogue->Caching()) aRow.SetTag(CTagIdentity, LIdentity);
  return LIdentity;
}

// lines back out; the walk stops there.
void TSliceExporter::WriteRow(const TWriteItem& aItem) {
  const QString& LTable = aItem.Table;
  const TDbRow& LRow = aItem.Row;
  // Rows the walk read ahead come without their BLOBs: reading them here overlaps the walk.
  if (FBlobs) FBlobs->Load(LRow);
  // The rows of one table all carry the same columns, so the run cache keeps the text around
  // the values: "UPDATE OR INSERT INTO T (columns) VALUES (" and ") MATCHING (key);".
  TStatementFrame LFrame;
  const auto LKnown = FStatementFrames.constFind(LTable);
  if (LKnown != FStatementFrames.constEnd() && LKnown->Fields == LRow.FieldCount()) {
    LFrame = *LKnown;
  } else {
    LFrame.Fields = LRow.FieldCount();
    LFrame.Head = ScriptFormat::CStatementStart + TSqlLiterals::QuoteName(LTable) + QLatin1String(" (");
    for (int I = 0; I < LRow.FieldCount(); ++I) {
      if (I > 0) LFrame.Head += QLatin1String(", ");
      LFrame.Head += TSqlLiterals::QuoteName(LRow.Field(I).Name());
    }
    LFrame.Head += ScriptFormat::CValues;
    LFrame.Tail = ScriptFormat::CMatching;
    for (qsizetype I = 0; I < aItem.Key.size(); ++I) {
      if (I > 0) LFrame.Tail += QLatin1String(", ");
      LFrame.Tail += TSqlLiterals::QuoteName(aItem.Key[I]);
    }
    LFrame.Tail += ScriptFormat::CStatementEnd;
    if (FRunCache) FStatementFrames.insert(LTable, LFrame);
  }
  // The three lines are made apart and join the script, as UTF-8, only once complete.
  QString& LLines = FRowLines;
  LLines.clear();
  LLines += QLatin1String("-- ");
  LLines += Describe(LTable, aItem.Key, LRow);
  LLines += QLatin1String("\r\n-- ");
  LLines += CommentText(aItem.Text);
  LLines += QLatin1String("\r\n");
  const qsizetype LStatement = LLines.size();
  LLines += LFrame.Head;
  for (int I = 0; I < LRow.FieldCount(); ++I) {
    const TDbField& LField = LRow.Field(I);
    if (I > 0) LLines += QLatin1String(", ");
    if (!aItem.Nulls.isEmpty() && aItem.Nulls.contains(LField.Name()))
      LLines += QLatin1String("NULL");
    else if (const TMasker::TColumn* LMask = FMasker ? FMasker->Find(LTable, LField.Name()) : nullptr)
      FLiterals->AppendLiteral(LLines, FMasker->MaskForScript(*LMask, LField.Value()), LField.Name());
    else
      FLiterals->AppendLiteral(LLines, LField.Value(), LField.Name());
  }
  LLines += LFrame.Tail;
  // A UTF-16 unit takes at most three UTF-8 bytes: short statements need no counting.
  const qsizetype LUnits = LLines.size() - LStatement;
  if (LUnits * 3 > CMaxStatement && Utf8Length(QStringView(LLines).mid(LStatement)) > CMaxStatement)
    throw TCorvaneError("Registro de " + LTable + " excede o limite SQL de 65 KB desta versao. " +
                        "Um pacote com importacao parametrizada sera necessario para BLOBs grandes.");
  LLines += QLatin1String("\r\n");
  FSink->Append(LLines);
  ++FCount;
  FCompleted = FCompleted || aItem.Completion;
  if (FProgress)
    Report("Registro " + QString::number(FCount) + ": " + LTable + (aItem.Completion ? " completado." : " exportado."));
}

// The identity of the row a foreign key points to, known without reading it when the key
// names the parent's whole primary key; empty otherwise.
QString TSliceExporter::ParentIdentity(const TForeignKey& aForeignKey, int aIndex, const TDbRow& aRow) {
  if (aForeignKey.PrimaryKeyFields.isEmpty()) return {};
  // Worked out once per row and key, empty when there is none.
  const QString& LKnown = aRow.Tag(CTagParents + aIndex);
  if (!LKnown.isNull()) return LKnown;
  QString LIdentity = QStringLiteral("");
  try {
    const QStringList LKey = FCatalogue->PrimaryKey(aForeignKey.ParentTable);
    TIdentityText LText;
    AppendIdentityTable(LText, aForeignKey.ParentTable);
    bool LHasNull = false;
    for (qsizetype I = 0; I < LKey.size() && !LHasNull; ++I) {
      const TDbField& LField = aRow.FieldByName(aForeignKey.PrimaryKeyFields[I]);
      LHasNull = LField.IsNull();
      if (!LHasNull) AppendIdentityPart(LText, LField.Value(), LKey[I]);
    }
    if (!LHasNull) LIdentity = IdentityString(LText);
  } catch (...) {
    // the walk itself meets and reports whatever failed here
  }
  aRow.SetTag(CTagParents + aIndex, LIdentity);
  return LIdentity;
}

QStringList ParseNameList(const QString& aList) {
  QStringList LItems;
  if (aList.isEmpty()) return LItems;
  const auto LIsBlank = [](QChar aChar) { return aChar.unicode() >= 1 && aChar.unicode() <= 32; };
  const qsizetype LSize = aList.size();
  qsizetype I = 0;
  while (true) {
    while (I < LSize && LIsBlank(aList[I])) ++I;
    QString LItem;
    if (I < LSize && aList[I] == QLatin1Char('"')) {
      ++I;
      while (I < LSize) {
        if (aList[I] == QLatin1Char('"')) {
          if (I + 1 < LSize && aList[I + 1] == QLatin1Char('"')) {
            LItem += QLatin1Char('"');
            I += 2;
            continue;
          }
          ++I;
          break;
        }
        LItem += aList[I++];
      }
    } else {
      while (I < LSize && aList[I] != QLatin1Char(',') && !LIsBlank(aList[I])) LItem += aList[I++];
    }
    LItems << LItem;
    while (I < LSize && LIsBlank(aList[I])) ++I;
    if (I >= LSize) break;
    if (aList[I] == QLatin1Char(',')) {
      ++I;
      if (I >= LSize) {  // a comma at the very end yields an empty last item
        LItems << QString();
        break;
      }
    }
    // Otherwise a blank ended an unquoted item and the next item starts here.
  }
  return LItems;
}

// ---------------------------------------------------------------------------------------
// Saving: the script reaches the target only once it is complete.

void TSliceExporter::SaveToFile(const QString& aFileName) {
  Stoppable([&]() { SaveScript(aFileName); });
}

void TSliceExporter::SaveScript(const QString& aFileName) {
  CheckRun();
  // Rows go to a temporary file beside the target as they are written, which replaces the
  // target only after every byte has been written and flushed: a failure leaves any old
  // file intact. Only a run that may defer references can need a note in the header later.
  TScriptSink LSink(aFileName, FDeferCycles);
  RunScript(LSink);
  Report(QStringLiteral("Gravando arquivo SQL..."));
  // The last moment a stop can keep the file from appearing.
  LSink.Commit([this]() { CheckStop(); });
}

}  // namespace Corvane
