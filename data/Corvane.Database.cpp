#include "Corvane.Database.h"

#include "Corvane.Charsets.h"
#include "Corvane.FbClient.h"

#include <QDate>
#include <QHash>
#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <vector>

namespace Corvane {

// ---------------------------------------------------------------------------------------
// Named parameters

namespace {

bool IsNameChar(QChar aChar) {
  const char16_t LUnit = aChar.unicode();
  return (LUnit >= u'A' && LUnit <= u'Z') || (LUnit >= u'a' && LUnit <= u'z') || (LUnit >= u'0' && LUnit <= u'9') ||
         LUnit == u'_';
}

// The closing delimiter of a q'<...>' string for its opening one.
char16_t ClosingDelimiter(char16_t aOpening) {
  switch (aOpening) {
    case u'(': return u')';
    case u'[': return u']';
    case u'{': return u'}';
    case u'<': return u'>';
    default: return aOpening;
  }
}

}  // namespace

TNamedSql ParseNamedSql(const QString& aSQL) {
  TNamedSql LResult;
  QString& LOut = LResult.Positional;
  LOut.reserve(aSQL.size());
  const qsizetype LLength = aSQL.size();
  qsizetype LIndex = 0;
  // Copies aSQL[LIndex, aEnd) unchanged.
  auto LCopyTo = [&](qsizetype aEnd) {
    aEnd = std::min(aEnd, LLength);
    LOut += QStringView(aSQL).mid(LIndex, aEnd - LIndex);
    LIndex = aEnd;
  };
  while (LIndex < LLength) {
    const QChar LChar = aSQL[LIndex];
    const qsizetype LNext = LIndex + 1;
    if (LChar == u'\'' || LChar == u'"') {
      // A quoted string or identifier; a doubled quote stays inside. Unterminated: to the end.
      qsizetype LEnd = LNext;
      while (LEnd < LLength) {
        if (aSQL[LEnd] == LChar) {
          if (LEnd + 1 < LLength && aSQL[LEnd + 1] == LChar) {
            LEnd += 2;
            continue;
          }
          ++LEnd;
          break;
        }
        ++LEnd;
      }
      if (LEnd > LLength) LEnd = LLength;
      LCopyTo(LEnd);
      continue;
    }
    if ((LChar == u'q' || LChar == u'Q') && LNext + 1 < LLength && aSQL[LNext] == u'\'' &&
        (LIndex == 0 || !IsNameChar(aSQL[LIndex - 1]))) {
      // Firebird's alternative string q'<delimiter>...<delimiter>'.
      const char16_t LClose = ClosingDelimiter(aSQL[LNext + 1].unicode());
      qsizetype LEnd = LNext + 2;
      while (LEnd < LLength && !(aSQL[LEnd] == QChar(LClose) && LEnd + 1 < LLength && aSQL[LEnd + 1] == u'\''))
        ++LEnd;
      LCopyTo(LEnd < LLength ? LEnd + 2 : LLength);
      continue;
    }
    if (LChar == u'-' && LNext < LLength && aSQL[LNext] == u'-') {
      const qsizetype LEnd = aSQL.indexOf(QLatin1Char('\n'), LNext);
      LCopyTo(LEnd < 0 ? LLength : LEnd);
      continue;
    }
    if (LChar == u'/' && LNext < LLength && aSQL[LNext] == u'*') {
      const qsizetype LEnd = aSQL.indexOf(QLatin1String("*/"), LNext + 1);
      LCopyTo(LEnd < 0 ? LLength : LEnd + 2);
      continue;
    }
    if (LChar == u':' && LNext < LLength && IsNameChar(aSQL[LNext])) {
      qsizetype LEnd = LNext;
      while (LEnd < LLength && IsNameChar(aSQL[LEnd])) ++LEnd;
      LResult.Names.append(aSQL.mid(LNext, LEnd - LNext));
      LOut += QLatin1Char('?');
      LIndex = LEnd;
      continue;
    }
    LOut += LChar;
    ++LIndex;
  }
  return LResult;
}

// ---------------------------------------------------------------------------------------
// Connection internals

namespace {

// What a connection tells the queries that hold a pointer to it.
class IQueryLink {
public:
  virtual ~IQueryLink() = default;
  // The transaction is about to end: cursors must be closed.
  virtual void TransactionEnding() noexcept = 0;
  // The attachment is about to end: statements must be freed.
  virtual void Detaching() noexcept = 0;
  // The connection object is being destroyed.
  virtual void ConnectionGone() noexcept = 0;
};

constexpr int CCharsetNone = 0;
constexpr int CCharsetOctets = 1;
constexpr int CCharsetUnicodeFss = 3;
constexpr int CCharsetUtf8 = 4;

QString ConnectionNotOpen() { return QStringLiteral("Conexao com o banco de dados nao esta aberta"); }

}  // namespace

struct TDbConnection::TImpl {
  // Parameter list in order of first setting.
  QList<QPair<QString, QString>> FParams;
  bool FLoginPrompt = true;
  bool FSilent = false;
  bool FReadOnly = false;
  TIsolation FIsolation = TIsolation::tiReadCommitted;

  Fb::TAttachment FAttachment;
  Fb::TTransaction FTransaction;
  std::vector<IQueryLink*> FQueries;
  TCancellationPtr FCancellation;
  Fb::TCallGate FGate;  // which calls in progress a stop may cancel

  // Fixed at Open from CharacterSet.
  bool FUtf8Connection = false;
  bool FHasCharacterSet = false;  // false for an empty CharacterSet or NONE
  std::unique_ptr<TTextEncoding> FUtf8;
  std::unique_ptr<TTextEncoding> FSingleByte;

  qsizetype IndexOf(const QString& aName) const {
    for (qsizetype I = 0; I < FParams.size(); ++I)
      if (FParams[I].first.compare(aName, Qt::CaseInsensitive) == 0) return I;
    return -1;
  }
  QString Param(const QString& aName) const {
    const qsizetype LIndex = IndexOf(aName);
    return LIndex < 0 ? QString() : FParams[LIndex].second;
  }
  bool HasParam(const QString& aName) const { return IndexOf(aName) >= 0; }
  void SetParam(const QString& aName, const QString& aValue) {
    const qsizetype LIndex = IndexOf(aName);
    if (aValue.isEmpty()) {
      if (LIndex >= 0) FParams.removeAt(LIndex);
    } else if (LIndex >= 0) {
      FParams[LIndex].second = aValue;
    } else {
      FParams.append({aName, aValue});
    }
  }

  // Encoding of the statement text, metadata names and text parameters of the connection set.
  TTextEncoding& ConnectionEncoding() const { return FUtf8Connection ? *FUtf8 : *FSingleByte; }

  void EndTransactionOfQueries() noexcept {
    for (IQueryLink* LQuery : FQueries) LQuery->TransactionEnding();
  }

  void CloseQuietly() noexcept {
    if (FTransaction.Valid()) {
      EndTransactionOfQueries();
      FTransaction.Reset();
    }
    for (IQueryLink* LQuery : FQueries) LQuery->Detaching();
    FAttachment.Reset();
  }
};

TDbConnection::TDbConnection() : FImpl(std::make_unique<TImpl>()) {}

TDbConnection::~TDbConnection() {
  if (FImpl->FCancellation) FImpl->FCancellation->Leave(this);
  FImpl->CloseQuietly();
  // Queries outliving their connection must not touch it again.
  for (IQueryLink* LQuery : FImpl->FQueries) LQuery->ConnectionGone();
  FImpl->FQueries.clear();
}

void TDbConnection::SetParams(const QString& aText) {
  FImpl->FParams.clear();
  QString LText = aText;
  LText.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  const QStringList LLines = LText.split(QLatin1Char('\n'));
  for (const QString& LLine : LLines) {
    const qsizetype LEqual = LLine.indexOf(QLatin1Char('='));
    if (LEqual <= 0) continue;
    FImpl->SetParam(LLine.left(LEqual), LLine.mid(LEqual + 1));
  }
}

QString TDbConnection::ParamsText() const {
  QString LText;
  for (const auto& LParam : FImpl->FParams) LText += LParam.first + QLatin1Char('=') + LParam.second + QLatin1String("\r\n");
  return LText;
}

QString TDbConnection::Param(const QString& aName) const { return FImpl->Param(aName); }
void TDbConnection::SetParam(const QString& aName, const QString& aValue) { FImpl->SetParam(aName, aValue); }

void TDbConnection::SetLoginPrompt(bool aValue) { FImpl->FLoginPrompt = aValue; }
bool TDbConnection::LoginPrompt() const { return FImpl->FLoginPrompt; }
void TDbConnection::SetSilent(bool aValue) { FImpl->FSilent = aValue; }
bool TDbConnection::Silent() const { return FImpl->FSilent; }
void TDbConnection::SetReadOnly(bool aValue) { FImpl->FReadOnly = aValue; }
bool TDbConnection::ReadOnly() const { return FImpl->FReadOnly; }
void TDbConnection::SetIsolation(TIsolation aValue) { FImpl->FIsolation = aValue; }
TIsolation TDbConnection::Isolation() const { return FImpl->FIsolation; }

QString TDbConnection::AttachmentString() const {
  const QString LProtocol = Param("Protocol").trimmed();
  const QString LServer = Param("Server").trimmed();
  const QString LDatabase = Param("Database");
  if (LProtocol.compare(QLatin1String("NETBEUI"), Qt::CaseInsensitive) == 0)
    return QLatin1String("\\\\") + LServer + QLatin1Char('\\') + LDatabase;
  if (!LServer.isEmpty()) return LServer + QLatin1Char(':') + LDatabase;
  return LDatabase;
}

namespace Fb {

QByteArray AttachmentParameterBlock(const TDbConnection& aConnection) {
  // Every text in UTF-8, as utf8_filename declares. A line with an empty value does not
  // exist, so an empty Param means the line is absent.
  TParameterBlock LBlock(isc_dpb_version1);
  const QString LUser = aConnection.Param("User_Name");
  if (!LUser.isEmpty()) LBlock.AddString(isc_dpb_user_name, LUser.toUtf8(), QStringLiteral("User_Name"));
  const QString LPassword = aConnection.Param("Password");
  if (!LPassword.isEmpty()) LBlock.AddString(isc_dpb_password, LPassword.toUtf8(), QStringLiteral("Password"));
  const QString LCharacterSet = aConnection.Param("CharacterSet").trimmed();
  if (!LCharacterSet.isEmpty() && LCharacterSet.compare(QLatin1String("NONE"), Qt::CaseInsensitive) != 0)
    LBlock.AddString(isc_dpb_lc_ctype, LCharacterSet.toUtf8(), QStringLiteral("CharacterSet"));
  LBlock.AddInteger(isc_dpb_sql_dialect, SQL_DIALECT_V6);
  LBlock.AddFlag(isc_dpb_utf8_filename);
  return LBlock.Bytes();
}

QByteArray TransactionParameterBlock(bool aReadOnly, TIsolation aIsolation) {
  TParameterBlock LBlock(isc_tpb_version3);
  LBlock.AddTag(aReadOnly ? isc_tpb_read : isc_tpb_write);
  switch (aIsolation) {
    case TIsolation::tiSnapshot: LBlock.AddTag(isc_tpb_concurrency); break;
    case TIsolation::tiSerializable: LBlock.AddTag(isc_tpb_consistency); break;
    case TIsolation::tiReadCommitted:
      LBlock.AddTag(isc_tpb_read_committed);
      LBlock.AddTag(isc_tpb_rec_version);
      break;
  }
  LBlock.AddTag(isc_tpb_nowait);
  return LBlock.Bytes();
}

}  // namespace Fb

void TDbConnection::Open() {
  if (IsOpen()) return;
  const QString LDriver = Param("DriverID").trimmed();
  if (!LDriver.isEmpty() && LDriver.compare(QLatin1String("FB"), Qt::CaseInsensitive) != 0)
    throw TCorvaneError("Driver de banco de dados nao suportado: " + LDriver);
  const Fb::TApi& LApi = Fb::Api();
  const QByteArray LBlock = Fb::AttachmentParameterBlock(*this);
  const QByteArray LAttachment = AttachmentString().toUtf8();
  if (LAttachment.size() > 32767) throw TCorvaneError(QStringLiteral("Caminho do banco de dados longo demais"));

  const QString LCharacterSet = Param("CharacterSet").trimmed().toUpper();
  auto LUtf8 = TTextEncoding::ForCharacterSet(QStringLiteral("UTF8"));
  auto LSingleByte = TTextEncoding::ForCharacterSet(SingleByteDecodingSet(LCharacterSet));

  Fb::TAttachment LHandle;
  Fb::TStatus LStatus;
  LApi.FAttachDatabase(LStatus.Get(), short(LAttachment.size()), LAttachment.constData(), LHandle.Ptr(),
                       short(LBlock.size()), LBlock.constData());
  if (LStatus.Failed()) {
    LHandle.Forget();  // a refused attachment hands out no handle
    Fb::RaiseStatus(LStatus.FVector);
  }
  FImpl->FAttachment = std::move(LHandle);
  FImpl->FUtf8Connection = LCharacterSet == QLatin1String("UTF8") || LCharacterSet == QLatin1String("UNICODE_FSS");
  FImpl->FHasCharacterSet = !LCharacterSet.isEmpty() && LCharacterSet != QLatin1String("NONE");
  FImpl->FUtf8 = std::move(LUtf8);
  FImpl->FSingleByte = std::move(LSingleByte);
  if (FImpl->FCancellation) FImpl->FCancellation->Join(this);
}

void TDbConnection::Close() {
  if (FImpl->FCancellation) FImpl->FCancellation->Leave(this);
  FImpl->CloseQuietly();
}

void TDbConnection::SetCancellation(const TCancellationPtr& aCancellation) {
  if (FImpl->FCancellation == aCancellation) return;
  if (FImpl->FCancellation) FImpl->FCancellation->Leave(this);
  FImpl->FCancellation = aCancellation;
  if (FImpl->FCancellation && IsOpen()) FImpl->FCancellation->Join(this);
}

const TCancellationPtr& TDbConnection::Cancellation() const { return FImpl->FCancellation; }

void TDbConnection::CancelOperation() noexcept {
  if (!FImpl->FAttachment.Valid()) return;
  // Raise: the call in flight fails and the attachment stays usable. Nothing in flight, or a
  // call that may not be cancelled: the run sees the request at its next check.
  FImpl->FGate.Cancel(FImpl->FAttachment.Ptr());
}

bool TDbConnection::IsOpen() const { return FImpl->FAttachment.Valid(); }

bool TDbConnection::InTransaction() const { return FImpl->FTransaction.Valid(); }

void TDbConnection::StartTransaction() {
  if (!IsOpen()) throw TCorvaneError(ConnectionNotOpen());
  if (InTransaction()) throw TCorvaneError(QStringLiteral("Ja existe uma transacao ativa"));
  const Fb::TApi& LApi = Fb::Api();
  const QByteArray LBytes = Fb::TransactionParameterBlock(FImpl->FReadOnly, FImpl->FIsolation);
  Fb::TTransaction LHandle;
  Fb::TStatus LStatus;
  const Fb::TCallGate::TCall LCall(FImpl->FGate, false);
  LApi.FStartTransaction(LStatus.Get(), LHandle.Ptr(), short(1), FImpl->FAttachment.Ptr(), short(LBytes.size()),
                         LBytes.constData());
  if (LStatus.Failed()) {
    LHandle.Forget();
    Fb::RaiseStatus(LStatus.FVector);
  }
  FImpl->FTransaction = std::move(LHandle);
}

void TDbConnection::Rollback() {
  if (!InTransaction()) return;
  FImpl->EndTransactionOfQueries();
  const Fb::TApi& LApi = Fb::Api();
  Fb::TStatus LStatus;
  {
    const Fb::TCallGate::TCall LCall(FImpl->FGate, false);
    LApi.FRollbackTransaction(LStatus.Get(), FImpl->FTransaction.Ptr());
  }
  if (LStatus.Failed()) {
    // The transaction is unusable either way; report the failure but do not stay stuck in it.
    const QString LMessage = Fb::StatusText(LStatus.FVector);
    FImpl->FTransaction.Reset();
    throw TCorvaneError(LMessage);
  }
  FImpl->FTransaction.Forget();
}

void TDbConnection::Commit() {
  if (!InTransaction()) throw TCorvaneError(QStringLiteral("Nenhuma transacao ativa"));
  FImpl->EndTransactionOfQueries();
  Fb::TStatus LStatus;
  {
    const Fb::TCallGate::TCall LCall(FImpl->FGate, false);
    Fb::Api().FCommitTransaction(LStatus.Get(), FImpl->FTransaction.Ptr());
  }
  Fb::Check(LStatus);
  FImpl->FTransaction.Forget();
}

// ---------------------------------------------------------------------------------------
// Queries

namespace {

// The server's description of one select-list item, kept for decoding.
struct TColumn {
  short FType = 0;  // without the null flag
  short FScale = 0;
  short FSubType = 0;
  short FLength = 0;
  int FCharset = 0;
};

// The server's description of one input parameter, restored before every binding because
// binding may change the type the client sends.
struct TParamType {
  short FType = 0;
  short FScale = 0;
  short FSubType = 0;
  short FLength = 0;
};

bool MapKind(const TColumn& aColumn, TValueKind& aKind) {
  switch (aColumn.FType) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_QUAD:
      if (aColumn.FScale == 0) {
        aKind = TValueKind::vkInteger;
        return true;
      }
      if (aColumn.FScale < 0 && aColumn.FScale >= -18) {
        aKind = TValueKind::vkDecimal;
        return true;
      }
      return false;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: aKind = TValueKind::vkFloat; return true;
    case SQL_TYPE_DATE: aKind = TValueKind::vkDate; return true;
    case SQL_TYPE_TIME: aKind = TValueKind::vkTime; return true;
    case SQL_TIMESTAMP: aKind = TValueKind::vkTimestamp; return true;
    case SQL_TEXT:
    case SQL_VARYING: aKind = aColumn.FCharset == CCharsetOctets ? TValueKind::vkBytes : TValueKind::vkText; return true;
    case SQL_NULL: aKind = TValueKind::vkText; return true;
    case SQL_BLOB: aKind = aColumn.FSubType == isc_blob_text ? TValueKind::vkTextBlob : TValueKind::vkBytes; return true;
    case SQL_BOOLEAN: aKind = TValueKind::vkBoolean; return true;
    default: return false;
  }
}

constexpr std::int64_t CPowersOfTen[19] = {1LL,
                                            10LL,
                                            100LL,
                                            1000LL,
                                            10000LL,
                                            100000LL,
                                            1000000LL,
                                            10000000LL,
                                            100000000LL,
                                            1000000000LL,
                                            10000000000LL,
                                            100000000000LL,
                                            1000000000000LL,
                                            10000000000000LL,
                                            100000000000000LL,
                                            1000000000000000LL,
                                            10000000000000000LL,
                                            100000000000000000LL,
                                            1000000000000000000LL};

// aUnscaled * 10^-aFromScale expressed with aToScale fraction digits, only when exact.
bool Rescale(std::int64_t aUnscaled, int aFromScale, int aToScale, std::int64_t& aOut) {
  if (aFromScale == aToScale) {
    aOut = aUnscaled;
    return true;
  }
  if (aFromScale < aToScale) {
    const int LShift = aToScale - aFromScale;
    if (LShift > 18) return aUnscaled == 0 ? (aOut = 0, true) : false;
    return !__builtin_mul_overflow(aUnscaled, CPowersOfTen[LShift], &aOut);
  }
  const int LShift = aFromScale - aToScale;
  if (LShift > 18) return aUnscaled == 0 ? (aOut = 0, true) : false;
  if (aUnscaled % CPowersOfTen[LShift] != 0) return false;
  aOut = aUnscaled / CPowersOfTen[LShift];
  return true;
}

// A text holding a plain decimal number ("-12", "3.50", " 7 ") as an integer with aScale
// fraction digits; false when it is no such number, not exact at that scale, or too large.
bool ParseScaled(const QString& aText, int aScale, std::int64_t& aOut) {
  const QString LText = aText.trimmed();
  qsizetype LIndex = 0;
  bool LNegative = false;
  if (LIndex < LText.size() && (LText[LIndex] == u'-' || LText[LIndex] == u'+')) {
    LNegative = LText[LIndex] == u'-';
    ++LIndex;
  }
  unsigned __int128 LMagnitude = 0;
  using TWide = unsigned __int128;
  const TWide LLimit = TWide(std::numeric_limits<std::int64_t>::max()) + 1;
  int LDigits = 0;
  int LFractionDigits = 0;
  bool LInFraction = false;
  for (; LIndex < LText.size(); ++LIndex) {
    const char16_t LUnit = LText[LIndex].unicode();
    if (LUnit == u'.' && !LInFraction) {
      LInFraction = true;
      continue;
    }
    if (LUnit < u'0' || LUnit > u'9') return false;
    ++LDigits;
    const unsigned LDigit = unsigned(LUnit - u'0');
    if (LInFraction) {
      if (LFractionDigits >= aScale) {
        if (LDigit != 0) return false;  // would lose a digit
        continue;
      }
      ++LFractionDigits;
    }
    LMagnitude = LMagnitude * 10 + LDigit;
    if (LMagnitude > LLimit) return false;
  }
  if (LDigits == 0) return false;
  for (; LFractionDigits < aScale; ++LFractionDigits) {
    LMagnitude *= 10;
    if (LMagnitude > LLimit) return false;
  }
  if (LNegative) {
    if (LMagnitude == LLimit) {
      aOut = std::numeric_limits<std::int64_t>::min();
      return true;
    }
    aOut = -std::int64_t(LMagnitude);
    return true;
  }
  if (LMagnitude == LLimit) return false;
  aOut = std::int64_t(LMagnitude);
  return true;
}

// The exact number with aScale fraction digits that the server finds equal to aValue when it
// compares the two: it turns the exact number into a double (the integer to the nearest
// double, divided by 10^aScale) and compares doubles. False when no such number exists.
bool FloatAsScaled(double aValue, int aScale, std::int64_t& aOut) {
  if (!std::isfinite(aValue) || aScale > 18 || std::fabs(aValue) >= 0x1p63) return false;
  char LText[400];  // 19 integer digits at most, a sign, a point and aScale digits
  const auto LResult = std::to_chars(LText, LText + sizeof LText, aValue, std::chars_format::fixed, aScale);
  if (LResult.ec != std::errc()) return false;
  if (!ParseScaled(QString::fromLatin1(LText, LResult.ptr - LText), aScale, aOut)) return false;
  double LBack = double(aOut);
  if (aScale > 0) LBack /= double(CPowersOfTen[aScale]);
  return LBack == aValue;
}

bool ValidDate(const TDate& aDate) {
  return aDate.Year >= 1 && aDate.Year <= 9999 && QDate(aDate.Year, aDate.Month, aDate.Day).isValid();
}

bool ValidTime(const TTime& aTime) {
  return aTime.Hour >= 0 && aTime.Hour <= 23 && aTime.Minute >= 0 && aTime.Minute <= 59 && aTime.Second >= 0 &&
         aTime.Second <= 59 && aTime.Millisecond >= 0 && aTime.Millisecond <= 999 && aTime.Tenths >= 0 &&
         aTime.Tenths <= 9;
}

}  // namespace

// The whole content of a BLOB, read within the connection's active transaction.
QByteArray ReadBlobContent(Fb::TCallGate& aGate, FB_API_HANDLE* aAttachment, FB_API_HANDLE* aTransaction, ISC_QUAD aId) {
  const Fb::TApi& LApi = Fb::Api();
  const Fb::TCallGate::TCall LCall(aGate, false);
  Fb::TBlob LBlob;
  Fb::TStatus LStatus;
  LApi.FOpenBlob2(LStatus.Get(), aAttachment, aTransaction, LBlob.Ptr(), &aId, 0, nullptr);
  if (LStatus.Failed()) {
    LBlob.Forget();
    Fb::RaiseStatus(LStatus.FVector);
  }
  QByteArray LContent;
  constexpr unsigned short CChunk = 32768;
  for (;;) {
    const qsizetype LOld = LContent.size();
    LContent.resize(LOld + CChunk);
    unsigned short LRead = 0;
    const ISC_STATUS LResult = LApi.FGetSegment(LStatus.Get(), LBlob.Ptr(), &LRead, CChunk, LContent.data() + LOld);
    LContent.resize(LOld + LRead);
    if (LResult == isc_segstr_eof) break;
    if (LResult != 0 && LResult != isc_segment) Fb::RaiseStatus(LStatus.FVector);
  }
  LApi.FCloseBlob(LStatus.Get(), LBlob.Ptr());
  Fb::Check(LStatus);
  LBlob.Forget();
  return LContent;
}

// The one decoding of CHARACTER SET NONE, for CHAR, VARCHAR and text BLOBs alike. The server
// hands NONE data over as the stored bytes under every connection set and takes parameters
// for NONE columns the same way, so the bytes are kept as the value. The text read from them
// is for display: the connection set's reading where it gives the same bytes back (so that
// such text is written as before), else the single-byte set's.
TValue UntranslatedValue(TValueKind aKind, const QByteArray& aBytes, bool aUtf8Connection,
                         const TTextEncoding& aSingleByte) {
  if (aUtf8Connection) {
    QString LText = QString::fromUtf8(aBytes);
    if (LText.toUtf8() == aBytes) return TValue::UntranslatedText(aKind, aBytes, LText);
  }
  return TValue::UntranslatedText(aKind, aBytes, aSingleByte.Decode(aBytes));
}

// The value of a BLOB's content: bytes, text in the set the server delivered it in, or the
// untranslated bytes of a NONE text BLOB.
TValue BlobValue(const QByteArray& aContent, bool aText, bool aUtf8, bool aUntranslated,
                 const TTextEncoding& aSingleByte) {
  if (!aText) return TValue::Bytes(aContent);
  if (aUntranslated) return UntranslatedValue(TValueKind::vkTextBlob, aContent, aUtf8, aSingleByte);
  return TValue::TextBlob(aUtf8 ? QString::fromUtf8(aContent) : aSingleByte.Decode(aContent));
}

struct TDbQuery::TImpl final : IQueryLink {
  TDbConnection::TImpl* FConnection = nullptr;
  QString FSQL;
  TNamedSql FParsed;
  // Distinct parameter names (first spelling), their values, and the name of each position.
  QStringList FParamNames;
  QHash<QString, int> FParamIndex;  // upper-cased name -> index into FParamNames
  std::vector<TValue> FParamValues;
  std::vector<int> FPositionParam;

  Fb::TStatement FStatement;
  bool FPrepared = false;
  bool FSelect = false;
  Fb::TSqlda FOut;
  Fb::TSqlda FIn;
  std::vector<TColumn> FColumns;
  std::vector<TDbField> FFields;
  std::vector<TParamType> FParamTypes;
  std::vector<std::vector<char>> FInData;
  std::vector<short> FInIndicators;
  QByteArray FBlobBuffer;
  bool FDeferBlobs = false;
  bool FLookup = false;
  std::vector<TDbRow::TDeferredBlob> FDeferred;  // of the current row
  int FInlineFirst = -1;           // see SetInlineBlobs; -1: none
  int FInlineCount = 0;
  std::vector<int> FInlineOf;      // per column before FInlineFirst: its content's column, or -1

  bool FOpen = false;
  bool FCursorOpen = false;
  bool FSingleRow = false;  // a statement that returns one row without a cursor
  bool FEof = true;

  ~TImpl() override {
    if (FConnection) {
      auto& LQueries = FConnection->FQueries;
      LQueries.erase(std::remove(LQueries.begin(), LQueries.end(), this), LQueries.end());
    }
    // FStatement's own destructor drops the statement while the attachment still exists.
  }

  void TransactionEnding() noexcept override { CloseCursorQuietly(); }

  void Detaching() noexcept override {
    CloseCursorQuietly();
    FStatement.Reset();
    FPrepared = false;
  }

  void ConnectionGone() noexcept override {
    FConnection = nullptr;
    FStatement.Forget();
    FPrepared = false;
  }

  void CloseCursorQuietly() noexcept {
    if (FCursorOpen && FStatement.Valid() && Fb::Loaded()) {
      Fb::TStatus LStatus;
      std::optional<Fb::TCallGate::TCall> LCall;
      if (FConnection) LCall.emplace(FConnection->FGate, false);
      Fb::Api().FFreeStatement(LStatus.Get(), FStatement.Ptr(), DSQL_close);
    }
    FCursorOpen = false;
    FOpen = false;
    FSingleRow = false;
    FEof = true;
  }

  void DropStatement() noexcept {
    CloseCursorQuietly();
    FStatement.Reset();
    FPrepared = false;
  }

  TDbConnection::TImpl& Connection() {
    if (!FConnection) throw TCorvaneError(QStringLiteral("A conexao desta consulta foi liberada"));
    if (!FConnection->FAttachment.Valid()) throw TCorvaneError(ConnectionNotOpen());
    return *FConnection;
  }

  int ParamIndex(const QString& aName) const { return FParamIndex.value(aName.toUpper(), -1); }

  QString DecodeName(const char* aName, short aLength) const {
    const int LLength = std::clamp<int>(aLength, 0, 31);
    const QByteArray LBytes(aName, LLength);
    return FConnection->ConnectionEncoding().Decode(LBytes);
  }

  void Describe(bool aInput, Fb::TSqlda& aSqlda) {
    const Fb::TApi& LApi = Fb::Api();
    auto LDescribe = [&] {
      Fb::TStatus LStatus;
      const Fb::TCallGate::TCall LCall(FConnection->FGate, false);
      if (aInput)
        LApi.FDescribeBind(LStatus.Get(), FStatement.Ptr(), SQLDA_VERSION1, aSqlda.Get());
      else
        LApi.FDescribe(LStatus.Get(), FStatement.Ptr(), SQLDA_VERSION1, aSqlda.Get());
      Fb::Check(LStatus);
    };
    if (aSqlda.Capacity() < 32) aSqlda.Resize(32);
    LDescribe();
    if (aSqlda.Count() > aSqlda.Capacity()) {
      aSqlda.Resize(aSqlda.Count());
      LDescribe();
    }
  }

  int StatementType() {
    const char LItems[] = {isc_info_sql_stmt_type};
    char LBuffer[16] = {};
    Fb::TStatus LStatus;
    const Fb::TCallGate::TCall LCall(FConnection->FGate, false);
    Fb::Api().FSqlInfo(LStatus.Get(), FStatement.Ptr(), short(sizeof LItems), LItems, short(sizeof LBuffer), LBuffer);
    Fb::Check(LStatus);
    if (LBuffer[0] != isc_info_sql_stmt_type) return 0;
    const int LLength = int(static_cast<unsigned char>(LBuffer[1])) | (int(static_cast<unsigned char>(LBuffer[2])) << 8);
    int LValue = 0;
    for (int I = 0; I < LLength && I < 4; ++I) LValue |= int(static_cast<unsigned char>(LBuffer[3 + I])) << (8 * I);
    return LValue;
  }

  void Prepare() {
    TDbConnection::TImpl& LConnection = Connection();
    const Fb::TApi& LApi = Fb::Api();
    QByteArray LText;
    if (!LConnection.ConnectionEncoding().TryEncode(FParsed.Positional, LText))
      throw TCorvaneError(QStringLiteral("Texto SQL com caracteres fora do conjunto de caracteres da conexao"));
    try {
      // Allocating and preparing send the statement's text, however long.
      const Fb::TCallGate::TCall LCall(LConnection.FGate, false);
      if (!FStatement.Valid()) {
        Fb::TStatus LStatus;
        LApi.FAllocateStatement(LStatus.Get(), LConnection.FAttachment.Ptr(), FStatement.Ptr());
        if (LStatus.Failed()) {
          FStatement.Forget();
          Fb::RaiseStatus(LStatus.FVector);
        }
      }
      {
        // Length 0 tells the client the text ends at its NUL: texts beyond 64 KB must not
        // be cut by the short length argument.
        const unsigned short LLength = LText.size() > 65535 ? 0 : static_cast<unsigned short>(LText.size());
        Fb::TStatus LStatus;
        LApi.FPrepare(LStatus.Get(), LConnection.FTransaction.Ptr(), FStatement.Ptr(), LLength, LText.constData(),
                      SQL_DIALECT_V6, nullptr);
        Fb::Check(LStatus);
      }
      const int LType = StatementType();
      FSelect = LType == isc_info_sql_stmt_select || LType == isc_info_sql_stmt_select_for_upd;

      Describe(false, FOut);
      const int LCount = FOut.Count();
      FColumns.assign(std::size_t(LCount), TColumn{});
      FInlineOf.clear();
      FFields.assign(std::size_t(LCount), TDbField{});
      for (int I = 0; I < LCount; ++I) {
        const XSQLVAR& LVar = FOut.Var(I);
        TColumn& LColumn = FColumns[std::size_t(I)];
        LColumn.FType = short(LVar.sqltype & ~1);
        LColumn.FScale = LVar.sqlscale;
        LColumn.FSubType = LVar.sqlsubtype;
        LColumn.FLength = LVar.sqllen;
        LColumn.FCharset = LVar.sqlsubtype & 0xFF;
        TDbField& LField = FFields[std::size_t(I)];
        LField.FName = LVar.aliasname_length > 0 ? DecodeName(LVar.aliasname, LVar.aliasname_length)
                                                 : DecodeName(LVar.sqlname, LVar.sqlname_length);
        if (!MapKind(LColumn, LField.FKind))
          throw TCorvaneError("Tipo de dado nao suportado no campo " + LField.FName + " (tipo " +
                              QString::number(LColumn.FType) + ")");
        LField.FValue = TValue::Null(LField.FKind);
      }
      FOut.AllocateDataBuffers();

      Describe(true, FIn);
      const int LParams = FIn.Count();
      if (LParams != int(FPositionParam.size()))
        throw TCorvaneError("O servidor descreve " + QString::number(LParams) + " parametros, o texto nomeia " +
                            QString::number(FPositionParam.size()));
      FParamTypes.assign(std::size_t(LParams), TParamType{});
      for (int I = 0; I < LParams; ++I) {
        const XSQLVAR& LVar = FIn.Var(I);
        FParamTypes[std::size_t(I)] = {short(LVar.sqltype & ~1), LVar.sqlscale, LVar.sqlsubtype, LVar.sqllen};
      }
      FInData.resize(std::size_t(LParams));
      FInIndicators.assign(std::size_t(LParams), 0);
      FPrepared = true;
    } catch (...) {
      DropStatement();
      throw;
    }
  }

  [[noreturn]] void BindFailure(int aPosition, const TValue& aValue) const {
    throw TCorvaneError("Valor invalido para o parametro " + FParamNames[FPositionParam[std::size_t(aPosition)]] +
                        " (" + ValueKindName(aValue.Kind()) + "): " + aValue.TextForm());
  }

  // A number that no value of the parameter's type equals: a lookup binds NULL, which equals
  // nothing, as the server's own comparison would find nothing; elsewhere it cannot be bound.
  void NoEqualValue(int aPosition, const TValue& aValue) {
    const TValueKind LKind = aValue.Kind();
    if (!FLookup || (LKind != TValueKind::vkInteger && LKind != TValueKind::vkDecimal && LKind != TValueKind::vkFloat))
      BindFailure(aPosition, aValue);
    FInIndicators[std::size_t(aPosition)] = -1;
  }

  char* Storage(int aPosition, std::size_t aBytes) {
    std::vector<char>& LData = FInData[std::size_t(aPosition)];
    if (LData.size() < aBytes) LData.resize(aBytes);
    return LData.data();
  }

  void BindText(int aPosition, XSQLVAR& aVar, const QByteArray& aBytes, const TValue& aValue) {
    if (aBytes.size() > 32765) BindFailure(aPosition, aValue);
    // Sent as a VARCHAR of exactly these bytes: the server converts it to the parameter's
    // type and refuses, with its own message, a value that does not fit.
    char* LData = Storage(aPosition, std::size_t(aBytes.size()) + 2);
    const ISC_USHORT LLength = ISC_USHORT(aBytes.size());
    std::memcpy(LData, &LLength, sizeof LLength);
    if (!aBytes.isEmpty()) std::memcpy(LData + 2, aBytes.constData(), std::size_t(aBytes.size()));
    aVar.sqltype = SQL_VARYING | 1;
    aVar.sqllen = short(aBytes.size());
    aVar.sqlscale = 0;
    aVar.sqldata = LData;
  }

  void BindBlob(int aPosition, XSQLVAR& aVar, const QByteArray& aBytes) {
    TDbConnection::TImpl& LConnection = *FConnection;
    const Fb::TApi& LApi = Fb::Api();
    Fb::TBlob LBlob;
    ISC_QUAD LId{};
    Fb::TStatus LStatus;
    const Fb::TCallGate::TCall LCall(LConnection.FGate, false);
    LApi.FCreateBlob2(LStatus.Get(), LConnection.FAttachment.Ptr(), LConnection.FTransaction.Ptr(), LBlob.Ptr(), &LId,
                      0, nullptr);
    if (LStatus.Failed()) {
      LBlob.Forget();
      Fb::RaiseStatus(LStatus.FVector);
    }
    for (qsizetype LOffset = 0; LOffset < aBytes.size();) {
      const unsigned short LChunk = static_cast<unsigned short>(std::min<qsizetype>(aBytes.size() - LOffset, 32768));
      LApi.FPutSegment(LStatus.Get(), LBlob.Ptr(), LChunk, aBytes.constData() + LOffset);
      Fb::Check(LStatus);
      LOffset += LChunk;
    }
    LApi.FCloseBlob(LStatus.Get(), LBlob.Ptr());
    Fb::Check(LStatus);
    LBlob.Forget();
    char* LData = Storage(aPosition, sizeof(ISC_QUAD));
    std::memcpy(LData, &LId, sizeof LId);
    aVar.sqldata = LData;
  }

  template <typename TNumber>
  void StoreNumber(int aPosition, XSQLVAR& aVar, TNumber aValue) {
    char* LData = Storage(aPosition, sizeof(TNumber));
    std::memcpy(LData, &aValue, sizeof aValue);
    aVar.sqldata = LData;
  }

  void BindOne(int aPosition) {
    const TValue& LValue = FParamValues[std::size_t(FPositionParam[std::size_t(aPosition)])];
    const TParamType& LType = FParamTypes[std::size_t(aPosition)];
    XSQLVAR& LVar = FIn.Var(aPosition);
    LVar.sqltype = short(LType.FType | 1);
    LVar.sqlscale = LType.FScale;
    LVar.sqlsubtype = LType.FSubType;
    LVar.sqllen = LType.FLength;
    short& LIndicator = FInIndicators[std::size_t(aPosition)];
    LVar.sqlind = &LIndicator;
    LVar.sqldata = Storage(aPosition, 8);
    if (LValue.IsUnassigned())
      throw TCorvaneError("Parametro sem valor: " + FParamNames[FPositionParam[std::size_t(aPosition)]]);
    if (LValue.IsNull()) {
      LIndicator = -1;
      return;
    }
    LIndicator = 0;
    const TValueKind LKind = LValue.Kind();
    const Fb::TApi& LApi = Fb::Api();
    switch (LType.FType) {
      case SQL_SHORT:
      case SQL_LONG:
      case SQL_INT64:
      case SQL_QUAD: {
        const int LScale = -LType.FScale;
        std::int64_t LUnscaled = 0;
        bool LOk = false;
        if (LKind == TValueKind::vkInteger)
          LOk = Rescale(LValue.AsInteger(), 0, LScale, LUnscaled);
        else if (LKind == TValueKind::vkDecimal)
          LOk = Rescale(LValue.AsDecimal().Unscaled, LValue.AsDecimal().Scale, LScale, LUnscaled);
        else if (LKind == TValueKind::vkFloat)
          LOk = LScale >= 0 && FloatAsScaled(LValue.AsFloat(), LScale, LUnscaled);
        else if (LKind == TValueKind::vkText)
          LOk = ParseScaled(LValue.AsText(), LScale, LUnscaled);
        if (!LOk || LScale < 0) {
          NoEqualValue(aPosition, LValue);
          return;
        }
        if (LType.FType == SQL_SHORT) {
          if (LUnscaled < std::numeric_limits<std::int16_t>::min() || LUnscaled > std::numeric_limits<std::int16_t>::max())
            NoEqualValue(aPosition, LValue);
          else
            StoreNumber(aPosition, LVar, std::int16_t(LUnscaled));
        } else if (LType.FType == SQL_LONG) {
          if (LUnscaled < std::numeric_limits<std::int32_t>::min() || LUnscaled > std::numeric_limits<std::int32_t>::max())
            NoEqualValue(aPosition, LValue);
          else
            StoreNumber(aPosition, LVar, std::int32_t(LUnscaled));
        } else {
          StoreNumber(aPosition, LVar, LUnscaled);
        }
        return;
      }
      case SQL_FLOAT:
      case SQL_DOUBLE:
      case SQL_D_FLOAT: {
        double LNumber = 0;
        if (LKind == TValueKind::vkFloat) {
          LNumber = LValue.AsFloat();
        } else if (LKind == TValueKind::vkInteger || LKind == TValueKind::vkDecimal) {
          // Through the exact decimal text, so that the result is correctly rounded.
          const QByteArray LText = LValue.TextForm().toLatin1();
          std::from_chars(LText.constData(), LText.constData() + LText.size(), LNumber);
        } else {
          BindFailure(aPosition, LValue);
        }
        if (LType.FType == SQL_FLOAT) {
          if (std::isfinite(LNumber) && std::fabs(LNumber) > double(FLT_MAX))
            NoEqualValue(aPosition, LValue);
          else if (FLookup && double(float(LNumber)) != LNumber && !std::isnan(LNumber))
            LIndicator = -1;  // no FLOAT equals it; rounding would match another value
          else
            StoreNumber(aPosition, LVar, float(LNumber));
        } else {
          StoreNumber(aPosition, LVar, LNumber);
        }
        return;
      }
      case SQL_TYPE_DATE: {
        if (LKind != TValueKind::vkDate || !ValidDate(LValue.AsDate())) BindFailure(aPosition, LValue);
        std::tm LTm{};
        LTm.tm_year = LValue.AsDate().Year - 1900;
        LTm.tm_mon = LValue.AsDate().Month - 1;
        LTm.tm_mday = LValue.AsDate().Day;
        ISC_DATE LDate = 0;
        LApi.FEncodeSqlDate(&LTm, &LDate);
        StoreNumber(aPosition, LVar, LDate);
        return;
      }
      case SQL_TYPE_TIME: {
        if (LKind != TValueKind::vkTime || !ValidTime(LValue.AsTime())) BindFailure(aPosition, LValue);
        const TTime LTime = LValue.AsTime();
        std::tm LTm{};
        LTm.tm_hour = LTime.Hour;
        LTm.tm_min = LTime.Minute;
        LTm.tm_sec = LTime.Second;
        ISC_TIME LEncoded = 0;
        LApi.FEncodeSqlTime(&LTm, &LEncoded);
        LEncoded += ISC_TIME(LTime.Millisecond) * 10 + ISC_TIME(LTime.Tenths);
        StoreNumber(aPosition, LVar, LEncoded);
        return;
      }
      case SQL_TIMESTAMP: {
        TTimestamp LStamp;
        if (LKind == TValueKind::vkTimestamp)
          LStamp = LValue.AsTimestamp();
        else if (LKind == TValueKind::vkDate)
          LStamp.Date = LValue.AsDate();
        else
          BindFailure(aPosition, LValue);
        if (!ValidDate(LStamp.Date) || !ValidTime(LStamp.Time)) BindFailure(aPosition, LValue);
        std::tm LTm{};
        LTm.tm_year = LStamp.Date.Year - 1900;
        LTm.tm_mon = LStamp.Date.Month - 1;
        LTm.tm_mday = LStamp.Date.Day;
        LTm.tm_hour = LStamp.Time.Hour;
        LTm.tm_min = LStamp.Time.Minute;
        LTm.tm_sec = LStamp.Time.Second;
        ISC_TIMESTAMP LEncoded{};
        LApi.FEncodeTimestamp(&LTm, &LEncoded);
        LEncoded.timestamp_time += ISC_TIME(LStamp.Time.Millisecond) * 10 + ISC_TIME(LStamp.Time.Tenths);
        StoreNumber(aPosition, LVar, LEncoded);
        return;
      }
      case SQL_TEXT:
      case SQL_VARYING: {
        const int LCharset = LType.FSubType & 0xFF;
        QByteArray LBytes;
        // NONE and OCTETS compare bytes as they are: untranslated text and bytes go unchanged.
        const bool LAsIs = LValue.IsUntranslated() || LKind == TValueKind::vkBytes;
        if (LCharset == CCharsetOctets || (LCharset == CCharsetNone && LAsIs)) {
          if (!LAsIs) BindFailure(aPosition, LValue);
          LBytes = LValue.AsBytes();
        } else {
          QString LText;
          if (LKind == TValueKind::vkText || LKind == TValueKind::vkTextBlob)
            LText = LValue.AsText();
          else if (LKind == TValueKind::vkInteger)
            LText = LValue.TextForm();
          else
            BindFailure(aPosition, LValue);
          TTextEncoding& LEncoding = (LCharset == CCharsetUtf8 || LCharset == CCharsetUnicodeFss)
                                         ? *FConnection->FUtf8
                                         : FConnection->ConnectionEncoding();
          if (!LEncoding.TryEncode(LText, LBytes))
            throw TCorvaneError("Texto nao representavel no conjunto de caracteres da conexao no parametro " +
                                FParamNames[FPositionParam[std::size_t(aPosition)]]);
        }
        BindText(aPosition, LVar, LBytes, LValue);
        return;
      }
      case SQL_BLOB: {
        QByteArray LBytes;
        if (LType.FSubType == isc_blob_text) {
          if (LKind != TValueKind::vkText && LKind != TValueKind::vkTextBlob) BindFailure(aPosition, LValue);
          if (LValue.IsUntranslated() && (LType.FScale & 0xFF) == CCharsetNone)
            LBytes = LValue.AsBytes();
          else if (!FConnection->ConnectionEncoding().TryEncode(LValue.AsText(), LBytes))
            throw TCorvaneError("Texto nao representavel no conjunto de caracteres da conexao no parametro " +
                                FParamNames[FPositionParam[std::size_t(aPosition)]]);
        } else {
          if (LKind != TValueKind::vkBytes) BindFailure(aPosition, LValue);
          LBytes = LValue.AsBytes();
        }
        BindBlob(aPosition, LVar, LBytes);
        return;
      }
      case SQL_BOOLEAN: {
        if (LKind != TValueKind::vkBoolean) BindFailure(aPosition, LValue);
        StoreNumber(aPosition, LVar, static_cast<unsigned char>(LValue.AsBoolean() ? 1 : 0));
        return;
      }
      case SQL_NULL:
        // Only the indicator matters ("? IS NULL").
        return;
      default:
        throw TCorvaneError("Tipo de parametro nao suportado: " + FParamNames[FPositionParam[std::size_t(aPosition)]]);
    }
  }

  void Bind() {
    for (int I = 0; I < FIn.Count(); ++I) BindOne(I);
  }

  QByteArray ReadBlob(ISC_QUAD aId) {
    return ReadBlobContent(FConnection->FGate, FConnection->FAttachment.Ptr(), FConnection->FTransaction.Ptr(), aId);
  }

  TValue Decode(int aIndex) {
    const TColumn& LColumn = FColumns[std::size_t(aIndex)];
    const XSQLVAR& LVar = FOut.Var(aIndex);
    const TValueKind LKind = FFields[std::size_t(aIndex)].FKind;
    if (*LVar.sqlind == -1 || LColumn.FType == SQL_NULL) return TValue::Null(LKind);
    const char* LData = LVar.sqldata;
    const Fb::TApi& LApi = Fb::Api();
    switch (LColumn.FType) {
      case SQL_SHORT:
      case SQL_LONG:
      case SQL_INT64:
      case SQL_QUAD: {
        std::int64_t LNumber = 0;
        if (LColumn.FType == SQL_SHORT) {
          std::int16_t L16;
          std::memcpy(&L16, LData, sizeof L16);
          LNumber = L16;
        } else if (LColumn.FType == SQL_LONG) {
          std::int32_t L32;
          std::memcpy(&L32, LData, sizeof L32);
          LNumber = L32;
        } else {
          std::memcpy(&LNumber, LData, sizeof LNumber);
        }
        return LColumn.FScale == 0 ? TValue::Integer(LNumber) : TValue::Decimal(LNumber, -LColumn.FScale);
      }
      case SQL_FLOAT: {
        float LNumber;
        std::memcpy(&LNumber, LData, sizeof LNumber);
        return TValue::SingleFloat(LNumber);
      }
      case SQL_DOUBLE:
      case SQL_D_FLOAT: {
        double LNumber;
        std::memcpy(&LNumber, LData, sizeof LNumber);
        return TValue::Float(LNumber);
      }
      case SQL_TYPE_DATE: {
        ISC_DATE LDate;
        std::memcpy(&LDate, LData, sizeof LDate);
        std::tm LTm{};
        LApi.FDecodeSqlDate(&LDate, &LTm);
        return TValue::Date(TDate{LTm.tm_year + 1900, LTm.tm_mon + 1, LTm.tm_mday});
      }
      case SQL_TYPE_TIME: {
        ISC_TIME LTime;
        std::memcpy(&LTime, LData, sizeof LTime);
        std::tm LTm{};
        LApi.FDecodeSqlTime(&LTime, &LTm);
        return TValue::Time(TTime{LTm.tm_hour, LTm.tm_min, LTm.tm_sec, int(LTime % 10000) / 10, int(LTime % 10)});
      }
      case SQL_TIMESTAMP: {
        ISC_TIMESTAMP LStamp;
        std::memcpy(&LStamp, LData, sizeof LStamp);
        std::tm LTm{};
        LApi.FDecodeTimestamp(&LStamp, &LTm);
        return TValue::Timestamp(TTimestamp{TDate{LTm.tm_year + 1900, LTm.tm_mon + 1, LTm.tm_mday},
                                            TTime{LTm.tm_hour, LTm.tm_min, LTm.tm_sec,
                                                  int(LStamp.timestamp_time % 10000) / 10,
                                                  int(LStamp.timestamp_time % 10)}});
      }
      case SQL_TEXT:
      case SQL_VARYING: {
        const char* LBytes = LData;
        int LLength = LColumn.FLength;
        if (LColumn.FType == SQL_VARYING) {
          ISC_USHORT LActual;
          std::memcpy(&LActual, LData, sizeof LActual);
          LLength = std::min<int>(LActual, LColumn.FLength);
          LBytes = LData + sizeof LActual;
        }
        LLength = std::max(LLength, 0);
        if (LColumn.FCharset == CCharsetOctets) return TValue::Bytes(QByteArray(LBytes, LLength));
        if (LColumn.FCharset == CCharsetNone) {
          if (LColumn.FType == SQL_TEXT)
            while (LLength > 0 && LBytes[LLength - 1] == ' ') --LLength;
          return UntranslatedValue(TValueKind::vkText, QByteArray(LBytes, LLength), FConnection->FUtf8Connection,
                                   *FConnection->FSingleByte);
        }
        QString LText = LColumn.FCharset == CCharsetUtf8 || LColumn.FCharset == CCharsetUnicodeFss
                            ? QString::fromUtf8(LBytes, LLength)
                            : FConnection->FSingleByte->Decode(QByteArray::fromRawData(LBytes, LLength));
        if (LColumn.FType == SQL_TEXT) {
          qsizetype LEnd = LText.size();
          while (LEnd > 0 && LText[LEnd - 1] == u' ') --LEnd;
          LText.truncate(LEnd);
        }
        return TValue::Text(LText);
      }
      case SQL_BLOB: {
        ISC_QUAD LId;
        std::memcpy(&LId, LData, sizeof LId);
        const bool LText = LColumn.FSubType == isc_blob_text;
        // The server hands text BLOBs over in the connection set; a connection without one
        // gets them in their own set, which the description names in the scale.
        const int LBlobCharset = LColumn.FScale & 0xFF;
        const bool LUtf8 = FConnection->FUtf8Connection ||
                           (!FConnection->FHasCharacterSet &&
                            (LBlobCharset == CCharsetUtf8 || LBlobCharset == CCharsetUnicodeFss));
        const bool LUntranslated = LText && LBlobCharset == CCharsetNone;
        if (FDeferBlobs) {
          TDbRow::TDeferredBlob LDeferred;
          LDeferred.Field = aIndex;
          std::memcpy(LDeferred.Id, &LId, sizeof LId);
          LDeferred.Text = LText;
          LDeferred.Utf8 = LUtf8;
          LDeferred.Untranslated = LUntranslated;
          FDeferred.push_back(LDeferred);
          return TValue();
        }
        return BlobValue(ReadBlob(LId), LText, LUtf8, LUntranslated, *FConnection->FSingleByte);
      }
      case SQL_BOOLEAN: return TValue::Boolean(static_cast<unsigned char>(LData[0]) != 0);
      default: return TValue::Null(LKind);
    }
  }

  void DecodeRow() {
    FDeferred.clear();
    // The contents of inline BLOBs are taken raw by CurrentRow.
    for (int I = 0; I < int(FFields.size()); ++I)
      if (I < FInlineFirst || I >= FInlineFirst + FInlineCount) FFields[std::size_t(I)].FValue = Decode(I);
  }

  // The column holding the content of each BLOB column, worked out once per description.
  const std::vector<int>& InlineOf() {
    if (FInlineOf.empty() && FInlineFirst > 0) {
      FInlineOf.assign(std::size_t(std::min(FInlineFirst, int(FColumns.size()))), -1);
      int LNext = FInlineFirst;
      for (std::size_t I = 0; I < FInlineOf.size(); ++I)
        if (FColumns[I].FType == SQL_BLOB && LNext < FInlineFirst + FInlineCount && LNext < int(FColumns.size()))
          FInlineOf[I] = FColumns[std::size_t(LNext)].FType == SQL_VARYING ? LNext++ : (LNext++, -1);
    }
    return FInlineOf;
  }

  // The content the server sent along with the row for a deferred BLOB; false when it did not.
  bool InlineContent(const TDbRow::TDeferredBlob& aBlob, TValue& aValue) {
    const std::vector<int>& LInline = InlineOf();
    if (std::size_t(aBlob.Field) >= LInline.size() || LInline[std::size_t(aBlob.Field)] < 0) return false;
    const XSQLVAR& LVar = FOut.Var(LInline[std::size_t(aBlob.Field)]);
    if (*LVar.sqlind == -1) return false;
    std::uint16_t LLength;
    std::memcpy(&LLength, LVar.sqldata, sizeof LLength);
    aValue = BlobValue(QByteArray(LVar.sqldata + 2, LLength), aBlob.Text, aBlob.Utf8, aBlob.Untranslated,
                       *FConnection->FSingleByte);
    return true;
  }

  // The bytes of the input message: the size of the request that executing sends.
  int InputSize() {
    int LSize = 0;
    for (int I = 0; I < FIn.Count(); ++I) LSize += FIn.Var(I).sqllen + 4;
    return LSize;
  }

  void Fetch() {
    // A stop requested while the rows come: the next one is not asked for.
    if (FConnection->FCancellation)
      FConnection->FCancellation->Check(QStringLiteral("Operacao interrompida pelo usuario."));
    Fb::TStatus LStatus;
    ISC_STATUS LResult;
    {
      const Fb::TCallGate::TCall LCall(FConnection->FGate, true);
      LResult = Fb::Api().FFetch(LStatus.Get(), FStatement.Ptr(), SQLDA_VERSION1, FOut.Get());
    }
    if (LResult == 100) {
      FEof = true;
      return;
    }
    if (LStatus.Failed() || LResult != 0) Fb::RaiseStatus(LStatus.FVector);
    FEof = false;
    DecodeRow();
  }

  void Open() {
    TDbConnection::TImpl& LConnection = Connection();
    if (!LConnection.FTransaction.Valid()) throw TCorvaneError(QStringLiteral("Nenhuma transacao ativa"));
    // A stop requested between server calls: the next statement does not start.
    if (LConnection.FCancellation)
      LConnection.FCancellation->Check(QStringLiteral("Operacao interrompida pelo usuario."));
    if (FOpen) CloseCursorQuietly();
    if (FSQL.trimmed().isEmpty()) throw TCorvaneError(QStringLiteral("Texto SQL vazio"));
    if (!FPrepared) Prepare();
    try {
      Bind();
      const Fb::TApi& LApi = Fb::Api();
      Fb::TStatus LStatus;
      std::optional<Fb::TCallGate::TCall> LCall;
      LCall.emplace(LConnection.FGate, InputSize() <= Fb::TCallGate::CSmallRequest);
      if (FSelect) {
        LApi.FExecute(LStatus.Get(), LConnection.FTransaction.Ptr(), FStatement.Ptr(), SQLDA_VERSION1, FIn.Get());
        Fb::Check(LStatus);
        FCursorOpen = true;
        FOpen = true;
        LCall.reset();
        Fetch();
      } else if (!FFields.empty()) {
        // EXECUTE PROCEDURE and RETURNING clauses: one row, no cursor.
        LApi.FExecute2(LStatus.Get(), LConnection.FTransaction.Ptr(), FStatement.Ptr(), SQLDA_VERSION1, FIn.Get(),
                       FOut.Get());
        Fb::Check(LStatus);
        FOpen = true;
        FSingleRow = true;
        FEof = false;
        DecodeRow();
      } else {
        LApi.FExecute(LStatus.Get(), LConnection.FTransaction.Ptr(), FStatement.Ptr(), SQLDA_VERSION1, FIn.Get());
        Fb::Check(LStatus);
        FOpen = true;
        FEof = true;
      }
    } catch (...) {
      CloseCursorQuietly();
      throw;
    }
  }
};

TDbQuery::TDbQuery(TDbConnection& aConnection) : FImpl(std::make_unique<TImpl>()) {
  FImpl->FConnection = aConnection.FImpl.get();
  FImpl->FConnection->FQueries.push_back(FImpl.get());
}

TDbQuery::~TDbQuery() {
  FImpl->CloseCursorQuietly();
  FImpl->FStatement.Reset();
}

void TDbQuery::SetSQL(const QString& aSQL) {
  if (aSQL == FImpl->FSQL) {
    // Same text: the prepared statement and the parameter values stay.
    Close();
    return;
  }
  FImpl->DropStatement();
  FImpl->FSQL = aSQL;
  FImpl->FParsed = ParseNamedSql(aSQL);
  FImpl->FParamNames.clear();
  FImpl->FParamIndex.clear();
  FImpl->FPositionParam.clear();
  for (const QString& LName : FImpl->FParsed.Names) {
    int LIndex = FImpl->ParamIndex(LName);
    if (LIndex < 0) {
      FImpl->FParamNames.append(LName);
      LIndex = int(FImpl->FParamNames.size()) - 1;
      FImpl->FParamIndex.insert(LName.toUpper(), LIndex);
    }
    FImpl->FPositionParam.push_back(LIndex);
  }
  FImpl->FParamValues.assign(std::size_t(FImpl->FParamNames.size()), TValue());
  FImpl->FColumns.clear();
  FImpl->FInlineOf.clear();
  FImpl->FFields.clear();
}

const QString& TDbQuery::SQL() const { return FImpl->FSQL; }

void TDbQuery::SetParam(const QString& aName, const TValue& aValue) {
  const int LIndex = FImpl->ParamIndex(aName);
  if (LIndex < 0) throw TCorvaneError("Parametro nao encontrado: " + aName);
  FImpl->FParamValues[std::size_t(LIndex)] = aValue;
}

void TDbQuery::SetParam(const QString& aName, const QString& aText) { SetParam(aName, TValue::Text(aText)); }

void TDbQuery::SetParam(int aIndex, const TValue& aValue) {
  if (aIndex < 0 || aIndex >= int(FImpl->FParamValues.size()))
    throw TCorvaneError("Parametro nao encontrado: indice " + QString::number(aIndex));
  FImpl->FParamValues[std::size_t(aIndex)] = aValue;
}

void TDbQuery::Open() { FImpl->Open(); }

bool TDbQuery::IsOpen() const { return FImpl->FOpen; }

bool TDbQuery::Eof() const { return !FImpl->FOpen || FImpl->FEof; }

void TDbQuery::Next() {
  if (!FImpl->FOpen || FImpl->FEof) return;
  if (FImpl->FSingleRow) {
    FImpl->FEof = true;
    return;
  }
  FImpl->Connection();
  FImpl->Fetch();
}

void TDbQuery::Close() { FImpl->CloseCursorQuietly(); }

int TDbQuery::FieldCount() const { return int(FImpl->FFields.size()); }

namespace {

const TDbField& FieldAt(const std::vector<TDbField>& aFields, int aIndex) {
  if (aIndex < 0 || aIndex >= int(aFields.size()))
    throw TCorvaneError("Campo nao encontrado: indice " + QString::number(aIndex));
  return aFields[std::size_t(aIndex)];
}

const TDbField& FieldNamed(const std::vector<TDbField>& aFields, const QString& aName) {
  // Names usually come spelled as the server describes them: try the cheap exact match first.
  for (const TDbField& LField : aFields)
    if (LField.Name() == aName) return LField;
  for (const TDbField& LField : aFields)
    if (LField.Name().compare(aName, Qt::CaseInsensitive) == 0) return LField;
  throw TCorvaneError("Campo nao encontrado: " + aName);
}

const std::vector<TDbField> CNoFields;

}  // namespace

const TDbField& TDbQuery::Field(int aIndex) const { return FieldAt(FImpl->FFields, aIndex); }

const TDbField& TDbQuery::FieldByName(const QString& aName) const { return FieldNamed(FImpl->FFields, aName); }

TDbRow TDbQuery::CurrentRow(int aCount) const {
  TDbRow LRow;
  const auto& LFields = FImpl->FFields;
  std::size_t LCount = aCount < 0 ? LFields.size() : std::min(LFields.size(), std::size_t(aCount));
  if (FImpl->FInlineFirst >= 0) LCount = std::min(LCount, std::size_t(FImpl->FInlineFirst));
  LRow.FData = std::make_shared<TDbRow::TData>();
  LRow.FData->Fields.assign(LFields.begin(), LFields.begin() + LCount);
  for (const TDbRow::TDeferredBlob& LDeferred : FImpl->FDeferred) {
    if (std::size_t(LDeferred.Field) >= LCount) continue;
    if (FImpl->FInlineFirst < 0 || !FImpl->InlineContent(LDeferred, LRow.FData->Fields[std::size_t(LDeferred.Field)].FValue))
      LRow.FData->Deferred.push_back(LDeferred);
  }
  return LRow;
}

void TDbQuery::SetDeferBlobs(bool aDefer) { FImpl->FDeferBlobs = aDefer; }

void TDbQuery::SetLookup(bool aLookup) { FImpl->FLookup = aLookup; }

void TDbQuery::SetInlineBlobs(int aFirst, int aCount) {
  FImpl->FInlineFirst = aCount > 0 ? aFirst : -1;
  FImpl->FInlineCount = aCount > 0 ? aCount : 0;
  FImpl->FInlineOf.clear();
}

TDbBlobReader::TDbBlobReader(TDbConnection& aConnection)
    : FConnection(aConnection),
      FSingleByte(TTextEncoding::ForCharacterSet(aConnection.FImpl->FSingleByte
                                                     ? aConnection.FImpl->FSingleByte->Name()
                                                     : QStringLiteral("WIN1252"))) {}

TDbBlobReader::~TDbBlobReader() = default;

void TDbBlobReader::Load(const TDbRow& aRow) {
  if (!aRow.FData || aRow.FData->Deferred.empty()) return;
  if (!FConnection.FImpl->FTransaction.Valid())
    throw TCorvaneError("Nenhuma transacao ativa para ler os BLOBs do registro.");
  std::vector<TDbRow::TDeferredBlob>& LDeferred = aRow.FData->Deferred;
  while (!LDeferred.empty()) {
    const TDbRow::TDeferredBlob& LBlob = LDeferred.front();
    ISC_QUAD LId;
    std::memcpy(&LId, LBlob.Id, sizeof LId);
    aRow.FData->Fields[std::size_t(LBlob.Field)].FValue =
        BlobValue(ReadBlobContent(FConnection.FImpl->FGate, FConnection.FImpl->FAttachment.Ptr(), FConnection.FImpl->FTransaction.Ptr(), LId),
                  LBlob.Text, LBlob.Utf8, LBlob.Untranslated, *FSingleByte);
    LDeferred.erase(LDeferred.begin());
  }
}

const TDbField& TDbRow::Field(int aIndex) const { return FieldAt(FData ? FData->Fields : CNoFields, aIndex); }

const TDbField& TDbRow::FieldByName(const QString& aName) const {
  return FieldNamed(FData ? FData->Fields : CNoFields, aName);
}

const QString& TDbRow::Tag(int aIndex) const {
  static const QString CNone;
  return FData && aIndex >= 0 && aIndex < FData->Tags.size() ? FData->Tags.at(aIndex) : CNone;
}

void TDbRow::SetTag(int aIndex, const QString& aTag) const {
  if (!FData || aIndex < 0) return;
  if (FData->Tags.size() <= aIndex) FData->Tags.resize(aIndex + 1);
  FData->Tags[aIndex] = aTag;
}

}  // namespace Corvane
