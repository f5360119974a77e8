#include "Corvane.Exporter.h"

#include "Corvane.Catalogue.h"
#include "Corvane.Errors.h"
#include "Corvane.Literals.h"
#include "Corvane.ScriptFormat.h"

#include <QFileInfo>
#include <QSaveFile>
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

constexpr int CMaxChain = 128;             // rows in progress in one parent chain
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
  TRunGuard(TDbConnection& aConnection, TSliceCatalogue& aCatalogue)
      : FConnection(aConnection), FCatalogue(aCatalogue),
        FReadOnly(aConnection.ReadOnly()), FIsolation(aConnection.Isolation()) {}
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

// A relation walked from its own child rows would never end, so a configuration whose
// relations lead from a table back to itself is refused before anything is read.
void TSliceExporter::CheckRelationTree() const {
  enum TMark { mNew, mOpen, mDone };
  QHash<QString, TMark> LMarks;
  std::function<void(const QString&)> LWalk = [&](const QString& aTable) {
    LMarks[aTable] = mOpen;
    for (const TChild& LChild : FChildren) {
      if (LChild.ParentTable != aTable) continue;
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

namespace {

void AppendLine(QByteArray& aScript, const QString& aLine) {
  aScript += aLine.toUtf8();
  aScript += "\r\n";
}

}  // namespace

QString TSliceExporter::Generate() { return QString::fromUtf8(RunScript()); }

QByteArray TSliceExporter::RunScript() {
  if (FTable.isEmpty() || FKeys.isEmpty()) throw TCorvaneError("Informe tabela e chave antes de gerar o script.");
  if (FConnection->InTransaction())
    throw TCorvaneError("Utilize uma conexao sem transacao ativa para exportar.");
  CheckRelationTree();

  FScript.clear();
  FVisited.clear();
  FVisiting.clear();
  FChain.clear();
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

  TRunGuard LGuard(*FConnection, *FCatalogue);
  FConnection->SetReadOnly(true);
  FConnection->SetIsolation(TIsolation::tiSnapshot);
  FCatalogue->BeginRun(FRunCache, FSkipArrays);
  FConnection->StartTransaction();
  LGuard.Started();

  qsizetype LNotes = 0;
  for (const QLatin1StringView LLine : ScriptFormat::CHeader) {
    if (LLine == ScriptFormat::CHeader[ScriptFormat::CNotesAt]) LNotes = FScript.size();
    AppendLine(FScript, LLine);
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
    Walk([this, &LRoots]() { VisitRows(FTable, std::move(LRoots), CRootOrigin); });
  }
  if (FCompleted) FScript.insert(LNotes, QByteArray(ScriptFormat::CCycleNote.data(), ScriptFormat::CCycleNote.size()) + "\r\n");
  AppendLine(FScript, ScriptFormat::CCountPrefix + QString::number(FCount));
  AppendLine(FScript, ScriptFormat::CCommit);
  Report("Total de registros exportados: " + QString::number(FCount));
  LGuard.Finish();
  return std::exchange(FScript, QByteArray());  // nothing else reads the lines of a finished run
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
    for (const TWriteItem& LItem : LChunk) Write(LItem);
  if (const std::exception_ptr LError = LQueue.Error()) std::rethrow_exception(LError);
}

void TSliceExporter::Emit(TWriteItem&& aItem) {
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

// Root rows and the rows of a relation: each row is written, then its own relations are
// walked, before the next row. With the run cache on, the parents and relation rows of the
// next rows are read in batches first; the order of the script does not change.
void TSliceExporter::VisitRows(const QString& aTable, TRowBatch aRows, const QString& aOrigin) {
  constexpr qsizetype CWindow = 256;
  for (qsizetype LStart = 0; LStart < aRows.Rows.size(); LStart += CWindow) {
    const qsizetype LEnd = qMin(aRows.Rows.size(), LStart + CWindow);
    if (FCatalogue->Caching()) {
      QSet<QString> LComing;
      ReadAhead(aTable, aRows.Rows.mid(LStart, LEnd - LStart), true, 0, LComing);
    }
    for (qsizetype I = LStart; I < LEnd; ++I) {
      Visit(aTable, aRows.Rows[I], aOrigin);
      VisitChildren(aTable, aRows.Rows[I]);
      aRows.Rows[I] = TDbRow();  // a walked row is not needed again; a long relation frees as it goes
    }
  }
  if (aRows.Error) std::rethrow_exception(aRows.Error);
}

// ---------------------------------------------------------------------------------------
// Rows: a row is written once, after the rows it references.

QString CommentText(const QString& aText) {
  bool LPlain = true;
  for (const QChar LChar : aText)
    if (LChar == QLatin1Char('\r') || LChar == QLatin1Char('\n') || LChar == QLatin1Char('\t')) {
      LPlain = false;
      break;
    }
  if (LPlain) return aText;
  QString LResult = aText;
  LResult.replace(QLatin1Char('\r'), QLatin1String("\\r"));
  LResult.replace(QLatin1Char('\n'), QLatin1String("\\n"));
  LResult.replace(QLatin1Char('\t'), QLatin1String("\\t"));
  return LResult;
}

// Tags a row carries through the run: its identity, its description, then one parent
// identity per foreign key.
constexpr int CTagIdentity = 0;
constexpr int CTagDescription = 1;
constexpr int CTagParents = 2;

QString TSliceExporter::Describe(const QString& aTable, const QStringList& aKey, const TDbRow& aRow) {
  QString LResult = CommentText(aTable) + QLatin1String(" | ");
  for (qsizetype I = 0; I < aKey.size(); ++I) {
    if (I > 0) LResult += QLatin1String(", ");
    LResult += CommentText(aKey[I]) + QLatin1Char('=') + CommentText(aRow.FieldByName(aKey[I]).TextForm());
  }
  return LResult;
}

// The description of a row named in the origin of another, worked out once per row.
QString TSliceExporter::RowDescription(const QString& aTable, const TDbRow& aRow) {
  const QString LKnown = aRow.Tag(CTagDescription);
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

void AppendSize(TSliceExporter::TIdentityText& aOut, qsizetype aSize) { AppendBits(aOut, std::uint64_t(aSize)); }

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
                              LStamp.Time.Minute, LStamp.Time.Second, LStamp.Time.Millisecond})
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

void TSliceExporter::AppendIdentityTable(TIdentityText& aIdentity, const QString& aTable) {
  AppendSize(aIdentity, aTable.size());
  AppendText(aIdentity, aTable);
}

QString TSliceExporter::RowIdentity(const QString& aTable, const QStringList& aKey, const TDbRow& aRow) const {
  // A row read ahead had its identity worked out then; a row belongs to one table only.
  const QString LKnown = aRow.Tag(CTagIdentity);
  if (!LKnown.isNull()) return LKnown;
  TIdentityText LText;
  AppendIdentityTable(LText, aTable);
  for (const QString& LColumn : aKey) AppendIdentityPart(LText, aRow.FieldByName(LColumn).Value(), LColumn);
  const QString LIdentity = IdentityString(LText);
  if (FCatalogue->Caching()) aRow.SetTag(CTagIdentity, LIdentity);
  return LIdentity;
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

// Rows in a cycle of foreign keys are met again while still in progress. By default that
// fails the run; with DeferCycles the cycle is broken at one of its nullable references (see
// BreakCycle) and the chain keeps, beside the identities, what that needs.
struct TSliceExporter::TBreak {
  qsizetype Depth;  // the chain row whose reference is deferred
  QString ParentTable;
  TDbRow ParentRow;
  QString ParentIdentity;
  QString ParentOrigin;
};

void TSliceExporter::Visit(const QString& aTable, const TDbRow& aRow, const QString& aOrigin) {
  const QStringList LKey = FCatalogue->PrimaryKey(aTable);
  const QString LIdentity = RowIdentity(aTable, LKey, aRow);
  if (FVisited.contains(LIdentity)) return;
  const qsizetype LInChain = FVisiting.indexOf(LIdentity);
  if (LInChain >= 0) {
    if (FDeferCycles) BreakCycle(aTable, LIdentity, aRow, aOrigin, LInChain);
    throw TCorvaneError("Dependencia ciclica encontrada em " + aTable + ". Exportacao cancelada.");
  }
  if (FVisiting.size() >= CMaxChain) throw TCorvaneError("Limite de profundidade das dependencias atingido.");

  if (!FDeferCycles) {
    FVisiting.append(LIdentity);
    struct TLeave {
      QStringList& FChain;
      ~TLeave() { FChain.removeLast(); }
    } LLeave{FVisiting};

    if (FDependencies) VisitParents(aTable, aRow);
    LoadRelationKeys(aTable, aRow);
    if (FSkipArrays) ReportArrays(aTable);
    Emit(TWriteItem{aTable, LKey, aRow, aOrigin, {}});
    FVisited.insert(LIdentity);
    return;
  }

  {
    FVisiting.append(LIdentity);
    FChain.append(TChainFrame{aTable, LIdentity, aRow, aOrigin, nullptr, {}});
    struct TLeave {
      TSliceExporter& FExporter;
      ~TLeave() {
        FExporter.FVisiting.removeLast();
        FExporter.FChain.removeLast();
      }
    } LLeave{*this};

    if (FDependencies) VisitParents(aTable, aRow);
    LoadRelationKeys(aTable, aRow);
    if (FSkipArrays) ReportArrays(aTable);
    const QList<TDeferral> LDeferred = std::exchange(FChain.last().Deferred, {});
    QStringList LNulls;
    QStringList LNames;
    for (const TDeferral& LDeferral : LDeferred) {
      for (const QString& LColumn : LDeferral.Columns)
        if (!LNulls.contains(LColumn)) LNulls.append(LColumn);
      LNames.append(LDeferral.ForeignKey);
    }
    Emit(TWriteItem{aTable, LKey, aRow,
                    LDeferred.isEmpty() ? aOrigin : aOrigin + "; referencia adiada: " + LNames.join(QLatin1String(", ")),
                    LNulls});
    FVisited.insert(LIdentity);
    // A parent may be written already: by another reference of this row, or this row itself.
    for (const TDeferral& LDeferral : LDeferred) {
      FPending.append(LDeferral);
      FPendingParents.insert(LDeferral.ParentIdentity);
    }
    for (const TDeferral& LDeferral : LDeferred)
      if (FVisited.contains(LDeferral.ParentIdentity)) Written(LDeferral.ParentIdentity);
    Written(LIdentity);
  }
  // Parents left for later are visited once no row is in progress, so that their own walk
  // meets only rows of its own chain.
  if (FVisiting.isEmpty() && !FResolving) ResolvePending();
}

// The chain from row aStart to the last one, and back to row aStart through the reference
// being followed now, is a cycle. It is broken at the latest of its references whose columns
// are all nullable: the walk unwinds to the row that owns it, which leaves that reference
// NULL and goes on; the rows between are visited again later. The reference being followed
// now is the latest of all, and then nothing unwinds.
void TSliceExporter::BreakCycle(const QString& aTable, const QString& aIdentity, const TDbRow& aRow,
                                const QString& aOrigin, qsizetype aStart) {
  QStringList LNames;
  for (qsizetype LDepth = FChain.size() - 1; LDepth >= aStart; --LDepth) {
    const TChainFrame& LFrame = FChain[LDepth];
    if (!LFrame.Following) break;
    if (FCatalogue->Nullable(LFrame.Table, *LFrame.Following)) {
      if (LDepth == FChain.size() - 1) throw TBreak{LDepth, aTable, aRow, aIdentity, aOrigin};
      const TChainFrame& LParent = FChain[LDepth + 1];
      throw TBreak{LDepth, LParent.Table, LParent.Row, LParent.Identity, LParent.Origin};
    }
    LNames.prepend(LFrame.Following->Name);
  }
  throw TCorvaneError("Dependencia ciclica encontrada em " + aTable +
                      ". Exportacao cancelada. Nenhuma chave estrangeira do ciclo aceita nulos: " +
                      LNames.join(QLatin1String(", ")) + ".");
}

// A key that references its parent through columns the parent still has NULL (a unique key
// holding a deferred reference) needs the parent completed first: the row that completes it
// is visited now, as a parent of the row in progress.
void TSliceExporter::CompleteParent(const TForeignKey& aForeignKey, const QString& aParentIdentity) {
  const TDeferral* LFound = nullptr;
  for (const TDeferral& LDeferral : std::as_const(FPending)) {
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
  if (!LFound) return;
  const TDeferral LDeferral = *LFound;
  Visit(LDeferral.ParentTable, LDeferral.ParentRow, LDeferral.ParentOrigin);
  if (!FVisited.contains(LDeferral.ParentIdentity))
    throw TCorvaneError("Registro de " + LDeferral.ParentTable + " nao foi gravado. Exportacao cancelada.");
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
    if (!FVisited.contains(LNext.ParentIdentity))
      throw TCorvaneError("Registro de " + LNext.ParentTable + " nao foi gravado. Exportacao cancelada.");
  }
}

// Writes one row: its description, its origin and its statement. A row that fails takes its
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
  FScript += LLines.toUtf8();
  ++FCount;
  FCompleted = FCompleted || aItem.Completion;
  if (FProgress)
    Report("Registro " + QString::number(FCount) + ": " + LTable + (aItem.Completion ? " completado." : " exportado."));
}

// ---------------------------------------------------------------------------------------
// The walk: parents through the catalogue's foreign keys, children through the relations.

// The identity of the row a foreign key points to, known without reading it when the key
// names the parent's whole primary key; empty otherwise.
QString TSliceExporter::ParentIdentity(const TForeignKey& aForeignKey, int aIndex, const TDbRow& aRow) {
  if (aForeignKey.PrimaryKeyFields.isEmpty()) return {};
  // Worked out once per row and key, empty when there is none.
  const QString LKnown = aRow.Tag(CTagParents + aIndex);
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

void TSliceExporter::VisitParents(const QString& aTable, const TDbRow& aRow) {
  const QList<TForeignKey> LForeignKeys = FCatalogue->ForeignKeys(aTable);
  for (int LIndex = 0; LIndex < LForeignKeys.size(); ++LIndex) {
    const TForeignKey& LForeignKey = LForeignKeys[LIndex];
    bool LHasNull = false;
    for (const TForeignKeyLink& LPair : LForeignKey.Links) {
      LHasNull = aRow.FieldByName(LPair.ChildField).IsNull() || LHasNull;
      TSqlLiterals::CheckName(LPair.ParentField);  // an unusable name fails here, as the condition is built
    }
    if (LHasNull) continue;  // a key with a null column references nothing
    // A parent written before would be skipped by Visit; with the run cache it is not read again.
    if (FCatalogue->Caching()) {
      const QString LParent = ParentIdentity(LForeignKey, LIndex, aRow);
      // A parent still waiting for its completion is looked up: the walk may have to finish it.
      if (!LParent.isEmpty() && FVisited.contains(LParent) && (!FDeferCycles || FPending.isEmpty())) continue;
    }
    QString LLink;
    QList<TValue> LValues;
    QStringList LParentFields;
    for (const TForeignKeyLink& LPair : LForeignKey.Links) {
      if (!LValues.isEmpty()) LLink += QLatin1String(", ");
      LLink += LPair.ChildField + QLatin1String(" -> ") + LForeignKey.ParentTable + QLatin1Char('.') + LPair.ParentField;
      LParentFields.append(LPair.ParentField);
      LValues.append(aRow.FieldByName(LPair.ChildField).Value());
    }
    const TRowBatch LParent =
        FCatalogue->Lookup(TLookup{LForeignKey.ParentTable, LParentFields, QString(), QStringLiteral("P")}, LValues, true);
    if (LParent.Rows.isEmpty()) {
      if (LParent.Error) std::rethrow_exception(LParent.Error);
      throw TCorvaneError("Dependencia nao encontrada: " + LForeignKey.Name);
    }
    const QString LOrigin =
        "Referenciado por " + RowDescription(aTable, aRow) + "; vinculo: " + LLink + "; FK: " + LForeignKey.Name;
    if (!FDeferCycles) {
      Visit(LForeignKey.ParentTable, LParent.Rows.first(), LOrigin);
      continue;
    }
    const qsizetype LDepth = FChain.size() - 1;
    FChain[LDepth].Following = &LForeignKey;
    try {
      Visit(LForeignKey.ParentTable, LParent.Rows.first(), LOrigin);
      if (!FPending.isEmpty())
        CompleteParent(LForeignKey, RowIdentity(LForeignKey.ParentTable, FCatalogue->PrimaryKey(LForeignKey.ParentTable),
                                                LParent.Rows.first()));
    } catch (const TBreak& aBreak) {
      if (aBreak.Depth != LDepth) throw;  // the reference to leave NULL belongs to an earlier row
      QStringList LColumns;
      for (const TForeignKeyLink& LPair : LForeignKey.Links) LColumns.append(LPair.ChildField);
      const TChainFrame& LFrame = FChain[LDepth];
      FChain[LDepth].Deferred.append(TDeferral{aTable, FCatalogue->PrimaryKey(aTable), aRow, LFrame.Identity, LForeignKey.Name, LColumns,
                                               "Completa referencia adiada: " + LLink + "; FK: " + LForeignKey.Name,
                                               aBreak.ParentTable, aBreak.ParentRow, aBreak.ParentIdentity,
                                               aBreak.ParentOrigin});
    }
    FChain[LDepth].Following = nullptr;
  }
}

void TSliceExporter::VisitChildren(const QString& aTable, const TDbRow& aRow) {
  for (const TChild& LChild : std::as_const(FChildren)) {
    if (LChild.ParentTable != aTable) continue;
    const QStringList& LForeignKey = LChild.ForeignKeyFields;
    const QStringList& LParentKey = LChild.ParentKeyFields;
    if (LForeignKey.isEmpty() || LForeignKey.size() != LParentKey.size())
      throw TCorvaneError("Campos de relacionamento invalidos: " + LChild.TableName);
    // The lookup builds its condition later; an empty column name must fail before the report.
    for (const QString& LColumn : LForeignKey) TSqlLiterals::CheckName(LColumn);
    Emit(TWriteItem{QString(), QStringList(), TDbRow(), LChild.Message, {}});

    FCatalogue->Columns(LChild.TableName);  // a table the catalogue refuses fails before the binding
    QList<TValue> LValues;
    for (const QString& LColumn : LParentKey) LValues.append(aRow.FieldByName(LColumn).Value());
    TRowBatch LRows =
        FCatalogue->Lookup(TLookup{LChild.TableName, LForeignKey, LChild.Filter, QStringLiteral("R")}, LValues, false);
    VisitRows(LChild.TableName, std::move(LRows), ScriptFormat::CChildOrigin + RowDescription(aTable, aRow));
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
          if (!LParent.isEmpty() && (FVisited.contains(LParent) || aComing.contains(LParent))) continue;
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
  if (!aWithRelations) return;
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
  const QByteArray LScript = RunScript();
  Report(QStringLiteral("Gravando arquivo SQL..."));
  // The bytes go to a temporary file beside the target, which replaces the target only
  // after every byte has been written and flushed: a failure leaves any old file intact.
  QSaveFile LFile(aFileName);
  LFile.setDirectWriteFallback(false);
  // Unbuffered: a write that Qt buffered would fail only when commit() flushes it, and
  // commit() does not notice that failure; it would replace the target with a truncated file.
  if (!LFile.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    // The temporary file is made in the target's folder: when the folder is there and the
    // target could be replaced, it is the folder that refused.
    const QFileInfo LTarget(aFileName);
    const QString LFolder = LTarget.absolutePath();
    if (QFileInfo(LFolder).isDir() && (!LTarget.exists() || LTarget.isWritable()))
      throw TCorvaneError("Nao foi possivel criar o arquivo temporario na pasta " + LFolder + ": " + LFile.errorString());
    throw TCorvaneError("Nao foi possivel criar o arquivo " + aFileName + ": " + LFile.errorString());
  }
  const auto LFail = [&LFile, &aFileName]() {
    const QString LError = LFile.errorString();
    LFile.cancelWriting();
    throw TCorvaneError("Nao foi possivel gravar o arquivo " + aFileName + ": " + LError);
  };
  // A short write carries no reason; writing the rest again fails with the system's own
  // (a full disk, a file size limit).
  constexpr qsizetype CPiece = 1 << 20;
  for (qsizetype LDone = 0; LDone < LScript.size();) {
    const qint64 LWritten = LFile.write(LScript.constData() + LDone, qMin(CPiece, LScript.size() - LDone));
    if (LWritten <= 0) LFail();
    LDone += LWritten;
  }
  if (!LFile.flush()) LFail();
  if (!LFile.commit())
    throw TCorvaneError("Nao foi possivel gravar o arquivo " + aFileName + ": " + LFile.errorString());
}

}  // namespace Corvane
