#include "Corvane.FbClient.h"

#include "Corvane.Cancellation.h"
#include "Corvane.Charsets.h"
#include "Corvane.Database.h"

#include <QStringDecoder>
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace Corvane {

namespace {

// The process-wide choice of client library. Written by the settings on the user-interface
// thread before any connection opens, read by the first load.
QString GLibraryName = QStringLiteral("fbclient.dll");

std::once_flag GLoadOnce;
std::atomic<bool> GLoaded{false};
Fb::TApi GApi;

template <typename TFunction>
void Resolve(void* aLibrary, const QString& aLibraryName, const char* aSymbol, TFunction& aTarget) {
  void* LAddress = ::dlsym(aLibrary, aSymbol);
  if (!LAddress)
    throw TCorvaneError("Funcao " + QString::fromLatin1(aSymbol) + " ausente na biblioteca cliente do Firebird " +
                        aLibraryName);
  aTarget = reinterpret_cast<TFunction>(LAddress);
}

void LoadLibrary() {
  const QString LConfigured = TFbClient::LibraryName();
  const QString LFile = Fb::ResolveLibraryName(LConfigured);
  void* LLibrary = ::dlopen(LFile.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  if (!LLibrary) {
    const char* LReason = ::dlerror();
    throw TCorvaneError("Nao foi possivel carregar a biblioteca cliente do Firebird " + LFile +
                        (LReason ? ": " + QString::fromLocal8Bit(LReason) : QString()));
  }
  Fb::TApi LApi;
  try {
    Resolve(LLibrary, LFile, "isc_attach_database", LApi.FAttachDatabase);
    Resolve(LLibrary, LFile, "isc_detach_database", LApi.FDetachDatabase);
    Resolve(LLibrary, LFile, "isc_start_transaction", LApi.FStartTransaction);
    Resolve(LLibrary, LFile, "isc_rollback_transaction", LApi.FRollbackTransaction);
    Resolve(LLibrary, LFile, "isc_commit_transaction", LApi.FCommitTransaction);
    Resolve(LLibrary, LFile, "isc_dsql_allocate_statement", LApi.FAllocateStatement);
    Resolve(LLibrary, LFile, "isc_dsql_prepare", LApi.FPrepare);
    Resolve(LLibrary, LFile, "isc_dsql_describe", LApi.FDescribe);
    Resolve(LLibrary, LFile, "isc_dsql_describe_bind", LApi.FDescribeBind);
    Resolve(LLibrary, LFile, "isc_dsql_sql_info", LApi.FSqlInfo);
    Resolve(LLibrary, LFile, "isc_dsql_execute", LApi.FExecute);
    Resolve(LLibrary, LFile, "isc_dsql_execute2", LApi.FExecute2);
    Resolve(LLibrary, LFile, "isc_dsql_fetch", LApi.FFetch);
    Resolve(LLibrary, LFile, "isc_dsql_free_statement", LApi.FFreeStatement);
    Resolve(LLibrary, LFile, "isc_open_blob2", LApi.FOpenBlob2);
    Resolve(LLibrary, LFile, "isc_create_blob2", LApi.FCreateBlob2);
    Resolve(LLibrary, LFile, "isc_get_segment", LApi.FGetSegment);
    Resolve(LLibrary, LFile, "isc_put_segment", LApi.FPutSegment);
    Resolve(LLibrary, LFile, "isc_close_blob", LApi.FCloseBlob);
    Resolve(LLibrary, LFile, "isc_cancel_blob", LApi.FCancelBlob);
    Resolve(LLibrary, LFile, "isc_decode_sql_date", LApi.FDecodeSqlDate);
    Resolve(LLibrary, LFile, "isc_decode_sql_time", LApi.FDecodeSqlTime);
    Resolve(LLibrary, LFile, "isc_decode_timestamp", LApi.FDecodeTimestamp);
    Resolve(LLibrary, LFile, "isc_encode_sql_date", LApi.FEncodeSqlDate);
    Resolve(LLibrary, LFile, "isc_encode_sql_time", LApi.FEncodeSqlTime);
    Resolve(LLibrary, LFile, "isc_encode_timestamp", LApi.FEncodeTimestamp);
    Resolve(LLibrary, LFile, "fb_interpret", LApi.FInterpret);
    Resolve(LLibrary, LFile, "fb_cancel_operation", LApi.FCancelOperation);
    Resolve(LLibrary, LFile, "isc_get_client_major_version", LApi.FClientMajorVersion);
    Resolve(LLibrary, LFile, "isc_get_client_minor_version", LApi.FClientMinorVersion);
  } catch (...) {
    ::dlclose(LLibrary);
    throw;
  }
  // The library stays loaded for the life of the process: handles of other threads and
  // the client's own exit handlers may still need it.
  GApi = LApi;
  GLoaded.store(true, std::memory_order_release);
}

}  // namespace

void TFbClient::SetLibraryName(const QString& aName) {
  GLibraryName = aName;
}

QString TFbClient::LibraryName() {
  return GLibraryName;
}

void TFbClient::Start() { Fb::Api(); }

bool TFbClient::Started() { return Fb::Loaded(); }

bool TFbClient::ServesThreads() {
  const Fb::TApi& LApi = Fb::Api();
  const int LMajor = LApi.FClientMajorVersion();
  return LMajor > 2 || (LMajor == 2 && LApi.FClientMinorVersion() >= 5);
}

namespace Fb {

QString ResolveLibraryName(const QString& aName) {
  const QString LName = aName.trimmed();
  // The settings carry the Windows name; this platform's client library stands in for it.
  if (LName.isEmpty() || LName.compare(QLatin1String("fbclient.dll"), Qt::CaseInsensitive) == 0)
    return QStringLiteral("libfbclient.so.2");
  return LName;
}

const TApi& Api() {
  // A throwing call leaves the flag unset, so a later call tries to load again.
  if (!GLoaded.load(std::memory_order_acquire)) std::call_once(GLoadOnce, LoadLibrary);
  return GApi;
}

bool Loaded() noexcept { return GLoaded.load(std::memory_order_acquire); }

// The texts of a status carry names and values in the connection's character set: UTF-8
// for a UTF8 connection, single-byte otherwise. Bytes that are not UTF-8 are read as WIN1252
// instead of becoming replacement characters ("Column unknown CÓDIGO", not "C?DIGO").
namespace {
QString MessagePart(const char* aText) {
  const QByteArray LBytes(aText);
  QStringDecoder LDecoder(QStringDecoder::Utf8);
  const QString LText = LDecoder.decode(LBytes);
  if (!LDecoder.hasError()) return LText;
  return TTextEncoding::ForCharacterSet(QStringLiteral("WIN1252"))->Decode(LBytes);
}
}  // namespace

QString StatusText(const ISC_STATUS* aStatus) {
  QString LText;
  if (!Loaded()) return QStringLiteral("Erro desconhecido da biblioteca cliente do Firebird");
  const ISC_STATUS* LCursor = aStatus;
  char LBuffer[1024];
  for (int LGuard = 0; LGuard < 64; ++LGuard) {
    std::memset(LBuffer, 0, sizeof LBuffer);
    if (GApi.FInterpret(LBuffer, sizeof LBuffer - 1, &LCursor) <= 0) break;
    const QString LPart = MessagePart(LBuffer).trimmed();
    if (LPart.isEmpty()) continue;
    if (!LText.isEmpty()) LText += QLatin1Char(' ');
    LText += LPart;
  }
  if (LText.isEmpty()) LText = "Erro da biblioteca cliente do Firebird (codigo " + QString::number(aStatus[1]) + ")";
  return LText;
}

void RaiseStatus(const ISC_STATUS* aStatus) {
  // The first error code says what happened; a cancelled call is told apart so that the run
  // reports the stop it was asked for, not a failure.
  if (aStatus[0] == isc_arg_gds && aStatus[1] == isc_cancelled) throw TCancelledError(StatusText(aStatus));
  throw TCorvaneError(StatusText(aStatus));
}

TCallGate::TCall::TCall(TCallGate& aGate, bool aCancellable) : FGate(aGate), FCancellable(aCancellable) {
  std::lock_guard LLock(FGate.FMutex);
  ++(FCancellable ? FGate.FCancellable : FGate.FOther);
}

TCallGate::TCall::~TCall() {
  std::lock_guard LLock(FGate.FMutex);
  --(FCancellable ? FGate.FCancellable : FGate.FOther);
}

void TCallGate::Cancel(FB_API_HANDLE* aAttachment) noexcept {
  // Under the lock: no call can start sending while the cancel is being written.
  std::lock_guard LLock(FMutex);
  if (FOther > 0 || FCancellable == 0 || !Loaded()) return;
  TStatus LStatus;
  GApi.FCancelOperation(LStatus.Get(), aAttachment, fb_cancel_raise);
}

void TAttachmentTraits::Release(FB_API_HANDLE& aHandle) noexcept {
  if (!aHandle || !Loaded()) return;
  TStatus LStatus;
  GApi.FDetachDatabase(LStatus.Get(), &aHandle);
  aHandle = FB_API_HANDLE{};
}

void TTransactionTraits::Release(FB_API_HANDLE& aHandle) noexcept {
  if (!aHandle || !Loaded()) return;
  TStatus LStatus;
  GApi.FRollbackTransaction(LStatus.Get(), &aHandle);
  aHandle = FB_API_HANDLE{};
}

void TStatementTraits::Release(FB_API_HANDLE& aHandle) noexcept {
  if (!aHandle || !Loaded()) return;
  TStatus LStatus;
  GApi.FFreeStatement(LStatus.Get(), &aHandle, DSQL_drop);
  aHandle = FB_API_HANDLE{};
}

void TBlobTraits::Release(FB_API_HANDLE& aHandle) noexcept {
  if (!aHandle || !Loaded()) return;
  TStatus LStatus;
  GApi.FCancelBlob(LStatus.Get(), &aHandle);
  aHandle = FB_API_HANDLE{};
}

void TSqlda::Resize(int aCount) {
  if (aCount < 1) aCount = 1;
  const std::size_t LBytes = XSQLDA_LENGTH(std::size_t(aCount));
  const std::size_t LUnits = (LBytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  FMemory.reset(new std::max_align_t[LUnits]);
  std::memset(FMemory.get(), 0, LUnits * sizeof(std::max_align_t));
  XSQLDA* LSqlda = Get();
  LSqlda->version = SQLDA_VERSION1;
  LSqlda->sqln = ISC_SHORT(aCount);
  LSqlda->sqld = 0;
  FData.reset();
  FIndicators.clear();
}

static std::size_t DataSize(const XSQLVAR& aVar) {
  switch (aVar.sqltype & ~1) {
    case SQL_VARYING: return std::size_t(std::max<int>(aVar.sqllen, 0)) + sizeof(ISC_USHORT);
    case SQL_TEXT: return std::size_t(std::max<int>(aVar.sqllen, 0));
    default: return std::size_t(std::max<int>(aVar.sqllen, 8));
  }
}

void TSqlda::AllocateDataBuffers() {
  XSQLDA* LSqlda = Get();
  const int LCount = std::min<int>(LSqlda->sqld, LSqlda->sqln);
  constexpr std::size_t LAlign = alignof(std::max_align_t);
  std::size_t LTotal = 0;
  std::vector<std::size_t> LOffsets(std::size_t(LCount) + 1);
  for (int I = 0; I < LCount; ++I) {
    LOffsets[std::size_t(I)] = LTotal;
    LTotal += (DataSize(LSqlda->sqlvar[I]) + LAlign - 1) / LAlign * LAlign;
  }
  const std::size_t LUnits = LTotal / sizeof(std::max_align_t) + 1;
  FData.reset(new std::max_align_t[LUnits]);
  std::memset(FData.get(), 0, LUnits * sizeof(std::max_align_t));
  FIndicators.assign(std::size_t(LCount) + 1, 0);
  char* LBase = reinterpret_cast<char*>(FData.get());
  for (int I = 0; I < LCount; ++I) {
    XSQLVAR& LVar = LSqlda->sqlvar[I];
    LVar.sqldata = LBase + LOffsets[std::size_t(I)];
    LVar.sqlind = &FIndicators[std::size_t(I)];
    LVar.sqltype = ISC_SHORT(LVar.sqltype | 1);
  }
}

void TParameterBlock::AddString(char aTag, const QByteArray& aValue, const QString& aWhat) {
  // Each item's length is one byte.
  if (aValue.size() > 255) throw TCorvaneError("Valor longo demais para o bloco de parametros: " + aWhat);
  FBytes.append(aTag);
  FBytes.append(char(aValue.size()));
  FBytes.append(aValue);
}

void TParameterBlock::AddInteger(char aTag, std::int32_t aValue) {
  FBytes.append(aTag);
  FBytes.append(char(4));
  for (int I = 0; I < 4; ++I) FBytes.append(char((std::uint32_t(aValue) >> (8 * I)) & 0xFF));
}

void TParameterBlock::AddFlag(char aTag) {
  FBytes.append(aTag);
  FBytes.append(char(0));
}

const QByteArray& TParameterBlock::Bytes() const {
  // The client takes the block's length as a short.
  if (FBytes.size() > 32767) throw TCorvaneError("Bloco de parametros longo demais");
  return FBytes;
}

}  // namespace Fb
}  // namespace Corvane
