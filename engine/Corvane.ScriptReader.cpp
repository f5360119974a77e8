#include "Corvane.ScriptReader.h"

#include "Corvane.Charsets.h"
#include "Corvane.Literals.h"
#include "Corvane.ScriptFormat.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

namespace Corvane {

namespace {

const char* const CCharacterSets[] = {"WIN1252", "UTF8", "ISO8859_1", "ASCII"};

// The converter of one of the four sets, one per thread: converters are not shared.
const TTextEncoding* Encoding(QLatin1StringView aName) {
  thread_local std::array<std::unique_ptr<TTextEncoding>, 4> LEncodings;
  for (std::size_t I = 0; I < LEncodings.size(); ++I)
    if (aName == QLatin1StringView(CCharacterSets[I])) {
      if (!LEncodings[I]) LEncodings[I] = TTextEncoding::ForCharacterSet(QLatin1StringView(CCharacterSets[I]));
      return LEncodings[I].get();
    }
  return nullptr;
}

// Reads the pieces of one literal; every step fails by returning false.
class TCursor {
public:
  TCursor(const char* aText, qsizetype aLength) : FAt(aText), FStart(aText), FEnd(aText + aLength) {}
  bool Eat(QLatin1StringView aText) {
    if (FEnd - FAt < aText.size() || std::memcmp(FAt, aText.data(), std::size_t(aText.size())) != 0) return false;
    FAt += aText.size();
    return true;
  }
  bool Peek(char aChar) const { return FAt < FEnd && *FAt == aChar; }
  bool PeekDigit() const { return FAt < FEnd && *FAt >= '0' && *FAt <= '9'; }
  // One digit, taken.
  bool Digit(int& aDigit) {
    if (!PeekDigit()) return false;
    aDigit = *FAt++ - '0';
    return true;
  }
  qsizetype Taken() const { return FAt - FStart; }
  const char* At() const { return FAt; }

  // -?[0-9]+ into an int.
  bool Int(int& aValue) {
    const char* LBegin = FAt;
    if (Peek('-')) ++FAt;
    if (!PeekDigit()) return false;
    while (PeekDigit()) ++FAt;
    std::int64_t LValue = 0;
    const auto LResult = std::from_chars(LBegin, FAt, LValue);
    if (LResult.ec != std::errc() || LResult.ptr != FAt || LValue < std::numeric_limits<int>::min() ||
        LValue > std::numeric_limits<int>::max())
      return false;
    aValue = int(LValue);
    return true;
  }
  // -?[0-9]+(.[0-9]+)?(E-?[0-9]+)?
  bool Number(QByteArray& aText) {
    const char* LBegin = FAt;
    if (Peek('-')) ++FAt;
    if (!Digits()) return false;
    if (Peek('.')) {
      ++FAt;
      if (!Digits()) return false;
    }
    if (Peek('E')) {
      ++FAt;
      if (Peek('-')) ++FAt;
      if (!Digits()) return false;
    }
    aText = QByteArray(LBegin, FAt - LBegin);
    return true;
  }
  // x'HEX' with upper-case digits, as the writer puts them.
  bool Hex(QByteArray& aBytes) {
    if (!Eat(QLatin1StringView("x'"))) return false;
    const char* LBegin = FAt;
    while (FAt < FEnd && ((*FAt >= '0' && *FAt <= '9') || (*FAt >= 'A' && *FAt <= 'F'))) ++FAt;
    if ((FAt - LBegin) % 2 != 0 || !Eat(QLatin1StringView("'"))) return false;
    aBytes = QByteArray::fromHex(QByteArray::fromRawData(LBegin, FAt - 1 - LBegin));
    return true;
  }
  // _SET x'HEX': the set's name and the text its bytes stand for. Bytes that the writer
  // could not have produced from a text (invalid in the set) are refused.
  bool Text(QLatin1StringView& aSet, QString& aText, QByteArray& aBytes) {
    if (!Eat(QLatin1StringView("_"))) return false;
    const char* LBegin = FAt;
    while (FAt < FEnd && ((*FAt >= 'A' && *FAt <= 'Z') || (*FAt >= '0' && *FAt <= '9') || *FAt == '_')) ++FAt;
    aSet = QLatin1StringView(LBegin, FAt - LBegin);
    const TTextEncoding* LEncoding = Encoding(aSet);
    if (!LEncoding || !Eat(QLatin1StringView(" ")) || !Hex(aBytes)) return false;
    aText = LEncoding->Decode(aBytes);
    QByteArray LAgain;
    return LEncoding->TryEncode(aText, LAgain) && LAgain == aBytes;
  }

private:
  bool Digits() {
    if (!PeekDigit()) return false;
    while (PeekDigit()) ++FAt;
    return true;
  }
  const char* FAt;
  const char* FStart;
  const char* FEnd;
};

bool ParseDate(TCursor& aCursor, TDate& aDate) {
  return aCursor.Int(aDate.Year) && aCursor.Eat(QLatin1StringView("-")) && aCursor.Int(aDate.Month) &&
         aCursor.Eat(QLatin1StringView("-")) && aCursor.Int(aDate.Day);
}

// The fraction as the writer puts it: three digits, and a fourth only when it is not zero.
// Any other count would mean another value to Firebird (".5" is half a second) and is refused.
bool ParseTime(TCursor& aCursor, TTime& aTime) {
  if (!(aCursor.Int(aTime.Hour) && aCursor.Eat(QLatin1StringView(":")) && aCursor.Int(aTime.Minute) &&
        aCursor.Eat(QLatin1StringView(":")) && aCursor.Int(aTime.Second) && aCursor.Eat(QLatin1StringView("."))))
    return false;
  int LDigits[4] = {};
  int LCount = 0;
  while (LCount < 4 && aCursor.Digit(LDigits[LCount])) ++LCount;
  if (aCursor.PeekDigit() || (LCount != 3 && !(LCount == 4 && LDigits[3] != 0))) return false;
  aTime.Millisecond = LDigits[0] * 100 + LDigits[1] * 10 + LDigits[2];
  aTime.Tenths = LDigits[3];
  return true;
}

bool ParseTextBlob(TCursor& aCursor, QString& aText, QByteArray& aBytes) {
  // (CAST(_S x'' AS BLOB SUB_TYPE TEXT CHARACTER SET S) || CAST(_S x'..' AS ... S) ...)
  QLatin1StringView LSet;
  QString LPiece;
  QByteArray LPieceBytes;
  if (!aCursor.Eat(QLatin1StringView("(CAST(")) || !aCursor.Text(LSet, LPiece, LPieceBytes) || !LPiece.isEmpty())
    return false;
  const QString LCast = QLatin1String(" AS BLOB SUB_TYPE TEXT CHARACTER SET ") + LSet + QLatin1Char(')');
  const QByteArray LCastBytes = LCast.toLatin1();
  const QLatin1StringView LCastView(LCastBytes);
  if (!aCursor.Eat(LCastView)) return false;
  aText.clear();
  aBytes.clear();
  while (aCursor.Eat(QLatin1StringView(" || CAST("))) {
    QLatin1StringView LChunkSet;
    if (!aCursor.Text(LChunkSet, LPiece, LPieceBytes) || LChunkSet != LSet || !aCursor.Eat(LCastView)) return false;
    aText += LPiece;
    aBytes += LPieceBytes;
  }
  return aCursor.Eat(QLatin1StringView(")"));
}

// The text BLOB form of untranslated bytes:
// (CAST(x'' AS BLOB SUB_TYPE TEXT CHARACTER SET NONE) || CAST(x'..' AS ... NONE) ...)
bool ParseBinaryTextBlob(TCursor& aCursor, QByteArray& aBytes) {
  const QLatin1StringView LCast(" AS BLOB SUB_TYPE TEXT CHARACTER SET NONE)");
  QByteArray LPiece;
  if (!aCursor.Eat(QLatin1StringView("(CAST(")) || !aCursor.Hex(LPiece) || !LPiece.isEmpty() || !aCursor.Eat(LCast))
    return false;
  aBytes.clear();
  while (aCursor.Eat(QLatin1StringView(" || CAST("))) {
    if (!aCursor.Hex(LPiece) || !aCursor.Eat(LCast)) return false;
    aBytes += LPiece;
  }
  return aCursor.Eat(QLatin1StringView(")"));
}

bool ParseBytes(TCursor& aCursor, QByteArray& aBytes) {
  if (!aCursor.Eat(QLatin1StringView("CAST(x'' AS BLOB SUB_TYPE 0)"))) return false;
  aBytes.clear();
  QByteArray LPiece;
  while (aCursor.Eat(QLatin1StringView(" || "))) {
    if (!aCursor.Hex(LPiece)) return false;
    aBytes += LPiece;
  }
  return true;
}

}  // namespace

qsizetype ParseLiteral(const char* aText, qsizetype aLength, TScriptLiteral& aLiteral, QString& aError) {
  using TForm = TScriptLiteral::TForm;
  TCursor LCursor(aText, aLength);
  aLiteral = TScriptLiteral();
  bool LOk = false;
  if (LCursor.Eat(QLatin1StringView("NULL"))) {
    aLiteral.Form = TForm::lfNull;
    LOk = true;
  } else if (LCursor.Peek('-') || LCursor.PeekDigit()) {
    aLiteral.Form = TForm::lfNumber;
    LOk = LCursor.Number(aLiteral.Number);
    // The exact form of a double: M * POWER(2E0, K), M an integer.
    if (LOk && LCursor.Eat(QLatin1StringView(" * POWER(2E0, "))) {
      aLiteral.Exact = true;
      LOk = !aLiteral.Number.contains('.') && !aLiteral.Number.contains('E') && LCursor.Int(aLiteral.Power) &&
            LCursor.Eat(QLatin1StringView(")"));
    }
  } else if (LCursor.Peek('x')) {
    aLiteral.Form = TForm::lfBinaryText;
    LOk = LCursor.Hex(aLiteral.Bytes);
  } else if (LCursor.Peek('(') && QLatin1StringView(LCursor.At(), std::min<qsizetype>(aLength - LCursor.Taken(), 8)) ==
                                      QLatin1StringView("(CAST(x'")) {
    aLiteral.Form = TForm::lfBinaryTextBlob;
    LOk = ParseBinaryTextBlob(LCursor, aLiteral.Bytes);
  } else if (LCursor.Eat(QLatin1StringView("DATE '"))) {
    aLiteral.Form = TForm::lfDate;
    TDate LDate;
    LOk = ParseDate(LCursor, LDate) && LCursor.Eat(QLatin1StringView("'"));
    if (LOk) aLiteral.Value = TValue::Date(LDate);
  } else if (LCursor.Eat(QLatin1StringView("TIME '"))) {
    aLiteral.Form = TForm::lfTime;
    TTime LTime;
    LOk = ParseTime(LCursor, LTime) && LCursor.Eat(QLatin1StringView("'"));
    if (LOk) aLiteral.Value = TValue::Time(LTime);
  } else if (LCursor.Eat(QLatin1StringView("TIMESTAMP '"))) {
    aLiteral.Form = TForm::lfTimestamp;
    TTimestamp LStamp;
    LOk = ParseDate(LCursor, LStamp.Date) && LCursor.Eat(QLatin1StringView(" ")) && ParseTime(LCursor, LStamp.Time) &&
          LCursor.Eat(QLatin1StringView("'"));
    if (LOk) aLiteral.Value = TValue::Timestamp(LStamp);
  } else if (LCursor.Eat(QLatin1StringView("TRUE")) || LCursor.Eat(QLatin1StringView("FALSE"))) {
    aLiteral.Form = TForm::lfBoolean;
    aLiteral.Value = TValue::Boolean(LCursor.Taken() == 4);
    LOk = true;
  } else if (LCursor.Peek('_')) {
    aLiteral.Form = TForm::lfText;
    QLatin1StringView LSet;
    QString LText;
    LOk = LCursor.Text(LSet, LText, aLiteral.Bytes);
    if (LOk) aLiteral.Value = TValue::Text(LText);
  } else if (LCursor.Peek('(')) {
    aLiteral.Form = TForm::lfTextBlob;
    QString LText;
    LOk = ParseTextBlob(LCursor, LText, aLiteral.Bytes);
    if (LOk) aLiteral.Value = TValue::TextBlob(LText);
  } else if (LCursor.Peek('C')) {
    aLiteral.Form = TForm::lfBytes;
    LOk = ParseBytes(LCursor, aLiteral.Bytes);
  }
  if (!LOk) {
    aError = QStringLiteral("valor fora do formato na coluna ") + QString::number(LCursor.Taken() + 1);
    return -1;
  }
  return LCursor.Taken();
}

QString TScriptLiteral::Literal() const {
  switch (Form) {
    case TForm::lfNull: return QStringLiteral("NULL");
    case TForm::lfNumber: return QString::fromLatin1(Number);
    case TForm::lfText:
    case TForm::lfDate:
    case TForm::lfTime:
    case TForm::lfTimestamp: return Value.TextForm().left(40);
    case TForm::lfBoolean: return Value.AsBoolean() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case TForm::lfTextBlob:
    case TForm::lfBinaryTextBlob: return QStringLiteral("(texto longo)");
    case TForm::lfBytes:
    case TForm::lfBinaryText: return QStringLiteral("(binario)");
  }
  return {};
}

namespace {

// The plain decimal text "-?D+(.D+)?" as an integer with aScale fraction digits, exactly.
bool ExactScaled(const QByteArray& aText, int aScale, std::int64_t& aOut) {
  if (aText.contains('E')) return false;
  const qsizetype LDot = aText.indexOf('.');
  QByteArray LDigits = LDot < 0 ? aText : aText.left(LDot);
  QByteArray LFraction = LDot < 0 ? QByteArray() : aText.mid(LDot + 1);
  while (LFraction.size() > aScale && LFraction.endsWith('0')) LFraction.chop(1);
  if (LFraction.size() > aScale) return false;
  LDigits += LFraction;
  LDigits += QByteArray(aScale - LFraction.size(), '0');
  const auto LResult = std::from_chars(LDigits.constData(), LDigits.constData() + LDigits.size(), aOut);
  return LResult.ec == std::errc() && LResult.ptr == LDigits.constData() + LDigits.size();
}

// Whether the double read from aText is the value the text stands for: a float's own text
// (the 17 digits the writer gives every float) or a decimal the double holds exactly. A
// BIGINT or NUMERIC value that a double can only round is not.
bool HeldExactly(const QByteArray& aText, double aValue) {
  if (aText == TSqlLiterals::FloatText(aValue).toLatin1()) return true;
  if (aValue == 0) return aText.count('0') + aText.count('-') + aText.count('.') + aText.count('E') == aText.size();
  if (aText.contains('E')) return false;
  // A decimal U / 10^S is held when U / 5^S is a whole number of at most 53 bits (without
  // its factors of two): then it is that number times a power of two.
  const qsizetype LDot = aText.indexOf('.');
  QByteArray LFraction = LDot < 0 ? QByteArray() : aText.mid(LDot + 1);
  while (LFraction.endsWith('0')) LFraction.chop(1);
  const QByteArray LDigits = (LDot < 0 ? aText : aText.left(LDot)) + LFraction;
  std::int64_t LUnscaled = 0;
  const auto LResult = std::from_chars(LDigits.constData(), LDigits.constData() + LDigits.size(), LUnscaled);
  if (LResult.ec != std::errc() || LResult.ptr != LDigits.constData() + LDigits.size()) return false;
  for (qsizetype I = 0; I < LFraction.size(); ++I) {
    if (LUnscaled % 5 != 0) return false;
    LUnscaled /= 5;
  }
  std::uint64_t LMagnitude = LUnscaled < 0 ? std::uint64_t(0) - std::uint64_t(LUnscaled) : std::uint64_t(LUnscaled);
  while (LMagnitude != 0 && (LMagnitude & 1) == 0) LMagnitude >>= 1;
  return LMagnitude < (std::uint64_t(1) << 53);
}

}  // namespace

TValue TScriptLiteral::ValueFor(const TColumnType& aType, const QString& aColumn) const {
  const TValueKind LKind = aType.Kind;
  if (Form == TForm::lfNull) return TValue::Null(LKind);
  switch (Form) {
    case TForm::lfNumber: {
      if (Exact) {
        if (LKind != TValueKind::vkFloat) break;
        std::int64_t LMantissa = 0;
        const auto LResult = std::from_chars(Number.constData(), Number.constData() + Number.size(), LMantissa);
        // |M| < 2^53, so M is a double; the product is one too wherever the writer made it,
        // which taking it apart again confirms (a product that had to round is refused).
        if (LResult.ptr != Number.constData() + Number.size() || LMantissa >= (std::int64_t(1) << 53) ||
            LMantissa <= -(std::int64_t(1) << 53) || Power < -1200 || Power > 1100)
          break;
        const double LValue = std::ldexp(double(LMantissa), Power);
        if (!std::isfinite(LValue) || std::ldexp(LValue, -Power) != double(LMantissa)) break;
        if (aType.SinglePrecision) {
          if (std::fabs(LValue) > double(std::numeric_limits<float>::max()) || double(float(LValue)) != LValue) break;
          return TValue::SingleFloat(float(LValue));
        }
        return TValue::Float(LValue);
      }
      std::int64_t LUnscaled = 0;
      if (LKind == TValueKind::vkInteger && ExactScaled(Number, 0, LUnscaled)) return TValue::Integer(LUnscaled);
      if (LKind == TValueKind::vkDecimal && ExactScaled(Number, aType.Scale, LUnscaled))
        return TValue::Decimal(LUnscaled, aType.Scale);
      if (LKind == TValueKind::vkFloat) {
        // Correctly rounded: the 17 digits the writer keeps lead back to the same double.
        double LValue = 0;
        const auto LResult = std::from_chars(Number.constData(), Number.constData() + Number.size(), LValue);
        if (LResult.ec == std::errc() && LResult.ptr == Number.constData() + Number.size() && std::isfinite(LValue) &&
            HeldExactly(Number, LValue)) {
          if (aType.SinglePrecision) {
            if (std::fabs(LValue) > double(std::numeric_limits<float>::max()) || double(float(LValue)) != LValue) break;
            return TValue::SingleFloat(float(LValue));
          }
          return TValue::Float(LValue);
        }
      }
      break;
    }
    case TForm::lfDate:
      if (LKind == TValueKind::vkDate) return Value;
      if (LKind == TValueKind::vkTimestamp) return TValue::Timestamp(TTimestamp{Value.AsDate(), TTime{}});
      break;
    case TForm::lfTime:
      if (LKind == TValueKind::vkTime) return Value;
      break;
    case TForm::lfTimestamp:
      if (LKind == TValueKind::vkTimestamp) return Value;
      break;
    case TForm::lfBoolean:
      if (LKind == TValueKind::vkBoolean) return Value;
      break;
    case TForm::lfText:
    case TForm::lfTextBlob:
    case TForm::lfBinaryText:
    case TForm::lfBinaryTextBlob: {
      const bool LBinary = Form == TForm::lfBinaryText || Form == TForm::lfBinaryTextBlob;
      // Into OCTETS or a binary BLOB the bytes go as they are, as the server would take them.
      if (LKind == TValueKind::vkBytes) return TValue::Bytes(Bytes);
      if ((LKind != TValueKind::vkText && LKind != TValueKind::vkTextBlob) || (LBinary && !aType.Untranslated)) break;
      if (aType.Untranslated) {
        // A NONE column stores the bytes untranslated, whatever set the literal named.
        QByteArray LBytes = Bytes;
        if (aType.Fixed && LKind == TValueKind::vkText)
          while (LBytes.endsWith(' ')) LBytes.chop(1);
        const QString LText = LBinary ? QString::fromLatin1(LBytes) : Value.AsText();
        return TValue::UntranslatedText(LKind, LBytes, LText);
      }
      QString LText = Value.AsText();
      if (LKind == TValueKind::vkText) {
        // A CHAR column keeps no trailing blanks that count; the data layer reads it so.
        if (aType.Fixed) {
          qsizetype LEnd = LText.size();
          while (LEnd > 0 && LText[LEnd - 1] == u' ') --LEnd;
          LText.truncate(LEnd);
        }
        return TValue::Text(LText);
      }
      return TValue::TextBlob(LText);
    }
    case TForm::lfBytes:
      if (LKind == TValueKind::vkBytes) return TValue::Bytes(Bytes);
      break;
    case TForm::lfNull: break;
  }
  throw TCorvaneError("Valor " + Literal() + " nao cabe exatamente no campo " + aColumn + " (" + ValueKindName(LKind) +
                      ").");
}

// ---------------------------------------------------------------------------------------
// The script

namespace {

[[noreturn]] void Refuse(const QString& aReason, int aLine) {
  throw TScriptFormatError("Arquivo nao e um script do Corvane: " + aReason +
                           (aLine > 0 ? " (linha " + QString::number(aLine) + ")." : QStringLiteral(".")));
}

// Text of the file: UTF-8 as the exporter writes it, or refused.
QString Utf8Text(const char* aText, qsizetype aLength, int aLine) {
  QStringDecoder LDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString LText = LDecoder.decode(QByteArrayView(aText, aLength));
  if (LDecoder.hasError()) Refuse(QStringLiteral("texto que nao e UTF-8"), aLine);
  return LText;
}

// A double-quoted name as QuoteName writes it, "" for one quote inside; the characters taken.
qsizetype ParseName(const char* aText, qsizetype aLength, QString& aName, int aLine) {
  if (aLength < 2 || aText[0] != '"') return -1;
  QByteArray LName;
  qsizetype I = 1;
  for (;;) {
    if (I >= aLength) return -1;
    if (aText[I] == '"') {
      if (I + 1 < aLength && aText[I + 1] == '"') {
        LName += '"';
        I += 2;
        continue;
      }
      ++I;
      break;
    }
    LName += aText[I++];
  }
  aName = Utf8Text(LName.constData(), LName.size(), aLine);
  if (TrimBlanks(aName).isEmpty()) return -1;
  return I;
}

// "name", "name", ... up to aClose; the characters taken, or -1.
qsizetype ParseNames(const char* aText, qsizetype aLength, QStringList& aNames, QLatin1StringView aClose, int aLine) {
  qsizetype I = 0;
  aNames.clear();
  for (;;) {
    QString LName;
    const qsizetype LTaken = ParseName(aText + I, aLength - I, LName, aLine);
    if (LTaken < 0) return -1;
    aNames << LName;
    I += LTaken;
    if (aLength - I >= 2 && aText[I] == ',' && aText[I + 1] == ' ') {
      I += 2;
      continue;
    }
    if (aLength - I >= aClose.size() && std::memcmp(aText + I, aClose.data(), std::size_t(aClose.size())) == 0)
      return I + aClose.size();
    return -1;
  }
}

bool StartsWith(const char* aText, qsizetype aLength, QLatin1StringView aPrefix) {
  return aLength >= aPrefix.size() && std::memcmp(aText, aPrefix.data(), std::size_t(aPrefix.size())) == 0;
}

// UPDATE OR INSERT INTO "T" ("C", ...) VALUES (literal, ...) MATCHING ("K", ...);
void ParseStatement(const char* aText, qsizetype aLength, TScriptRecord& aRecord) {
  using namespace ScriptFormat;
  const int LLine = aRecord.Line;
  auto LBad = [LLine](const QString& aWhy) { Refuse("comando fora do formato: " + aWhy, LLine); };
  if (!StartsWith(aText, aLength, CStatementStart)) LBad(QStringLiteral("esperado UPDATE OR INSERT INTO"));
  qsizetype I = CStatementStart.size();
  qsizetype LTaken = ParseName(aText + I, aLength - I, aRecord.Table, LLine);
  if (LTaken < 0) LBad(QStringLiteral("nome de tabela"));
  I += LTaken;
  if (!StartsWith(aText + I, aLength - I, QLatin1StringView(" ("))) LBad(QStringLiteral("lista de campos"));
  I += 2;
  LTaken = ParseNames(aText + I, aLength - I, aRecord.Columns, CValues, LLine);
  if (LTaken < 0) LBad(QStringLiteral("lista de campos"));
  I += LTaken;
  aRecord.Values.clear();
  aRecord.Values.reserve(std::size_t(aRecord.Columns.size()));
  for (;;) {
    TScriptLiteral LLiteral;
    QString LError;
    LTaken = ParseLiteral(aText + I, aLength - I, LLiteral, LError);
    if (LTaken < 0) LBad(QString::number(aRecord.Values.size() + 1) + "o valor: " + LError);
    aRecord.Values.push_back(std::move(LLiteral));
    I += LTaken;
    if (StartsWith(aText + I, aLength - I, QLatin1StringView(", "))) {
      I += 2;
      continue;
    }
    if (StartsWith(aText + I, aLength - I, CMatching)) {
      I += CMatching.size();
      break;
    }
    LBad(QStringLiteral("lista de valores"));
  }
  if (qsizetype(aRecord.Values.size()) != aRecord.Columns.size())
    LBad(QStringLiteral("quantidade de valores difere da de campos"));
  LTaken = ParseNames(aText + I, aLength - I, aRecord.Matching, CStatementEnd, LLine);
  if (LTaken < 0 || I + LTaken != aLength) LBad(QStringLiteral("lista MATCHING"));
  for (const QString& LKey : std::as_const(aRecord.Matching))
    if (!aRecord.Columns.contains(LKey)) LBad("campo MATCHING fora da lista de campos: " + LKey);
  for (qsizetype J = 0; J < aRecord.Columns.size(); ++J)
    if (aRecord.Columns.indexOf(aRecord.Columns[J]) != J) LBad("campo repetido: " + aRecord.Columns[J]);
}

}  // namespace

TSliceScript TSliceScript::ReadFile(const QString& aFileName) {
  QFile LFile(aFileName);
  if (!LFile.open(QIODevice::ReadOnly))
    throw TScriptFormatError("Nao foi possivel ler o script " + aFileName + ": " + LFile.errorString());
  return Read(LFile.readAll());
}

TSliceScript TSliceScript::Read(const QByteArray& aBytes) {
  using namespace ScriptFormat;
  TSliceScript LScript;
  LScript.FBytes = aBytes;
  const char* LData = LScript.FBytes.constData();
  const qsizetype LSize = LScript.FBytes.size();
  // Lines end with CR LF or LF; a CR anywhere else is not ours.
  struct TLine {
    qsizetype Start, Length;
  };
  std::vector<TLine> LLines;
  for (qsizetype LStart = 0; LStart < LSize;) {
    const char* LFound = static_cast<const char*>(std::memchr(LData + LStart, '\n', std::size_t(LSize - LStart)));
    const qsizetype LEnd = LFound ? LFound - LData : LSize;
    qsizetype LLength = LEnd - LStart;
    if (LLength > 0 && LData[LEnd - 1] == '\r') --LLength;
    if (std::memchr(LData + LStart, '\r', std::size_t(LLength)))
      Refuse(QStringLiteral("quebra de linha CR isolada"), int(LLines.size()) + 1);
    LLines.push_back({LStart, LLength});
    LStart = LEnd + 1;
  }
  auto LText = [&](std::size_t aIndex) { return QLatin1StringView(LData + LLines[aIndex].Start, LLines[aIndex].Length); };
  if (aBytes.startsWith("\xEF\xBB\xBF")) Refuse(QStringLiteral("marca de ordem de bytes no inicio"), 1);

  std::size_t LLine = 0;
  for (const QLatin1StringView LHeader : CHeader) {
    if (LHeader == CHeader[CNotesAt] && LLine < LLines.size() && LText(LLine) == CCycleNote) {
      LScript.FDefersCycles = true;
      ++LLine;
    }
    if (LHeader == CHeader[CNotesAt] && LLine < LLines.size() && LText(LLine).startsWith(CMaskNoteStart)) ++LLine;
    if (LLine >= LLines.size() || LText(LLine) != LHeader)
      Refuse(QStringLiteral("cabecalho ausente ou diferente"), int(LLine) + 1);
    ++LLine;
  }
  // Record triples until the count line; trailing empty lines after COMMIT are tolerated.
  std::size_t LLast = LLines.size();
  QHash<QString, int> LShapes;
  while (LLast > LLine && LLines[LLast - 1].Length == 0) --LLast;
  for (;;) {
    if (LLine >= LLast)
      Refuse(QStringLiteral("script truncado: falta a contagem final de registros"), int(LLine) + 1);
    const QLatin1StringView LCurrent = LText(LLine);
    // The count line: its prefix and digits only (a row description always holds " | ").
    if (LCurrent.startsWith(CCountPrefix) && !LCurrent.contains(QLatin1StringView(" | "))) break;
    if (LLine + 2 >= LLast) Refuse(QStringLiteral("script truncado no meio de um registro"), int(LLine) + 1);
    if (!LCurrent.startsWith(CCommentStart) || !LText(LLine + 1).startsWith(CCommentStart))
      Refuse(QStringLiteral("esperadas as duas linhas de comentario de um registro"), int(LLine) + 1);
    TRecordLines LRecord;
    LRecord.Description = LLines[LLine].Start + CCommentStart.size();
    LRecord.DescriptionLength = LLines[LLine].Length - CCommentStart.size();
    LRecord.Origin = LLines[LLine + 1].Start + CCommentStart.size();
    LRecord.OriginLength = LLines[LLine + 1].Length - CCommentStart.size();
    LRecord.Statement = LLines[LLine + 2].Start;
    LRecord.StatementLength = LLines[LLine + 2].Length;
    LRecord.Line = int(LLine) + 3;
    LScript.FRecords.push_back(LRecord);
    // Every record is checked now, before any use.
    TScriptRecord LParsed = LScript.Parse(int(LScript.FRecords.size()) - 1);
    const QString LShape = LParsed.Table + QChar(0) + LParsed.Columns.join(QChar(0)) + QChar(1) +
                           LParsed.Matching.join(QChar(0));
    auto LFound = LShapes.constFind(LShape);
    if (LFound == LShapes.constEnd()) {
      LFound = LShapes.insert(LShape, int(LScript.FShapes.size()));
      LScript.FShapes.push_back(TScriptShape{LParsed.Table, LParsed.Columns, LParsed.Matching});
    }
    LScript.FRecords.back().Shape = *LFound;
    const bool LRoot = LParsed.Origin == CRootOrigin;
    LScript.FRecords.back().Walked = LRoot || LParsed.Origin.startsWith(CChildOrigin);
    if (LRoot && LScript.FRootTable.isNull()) LScript.FRootTable = LParsed.Table;
    LLine += 3;
  }
  const QLatin1StringView LCount = LText(LLine).mid(CCountPrefix.size());
  int LDeclared = -1;
  const auto LResult = std::from_chars(LCount.data(), LCount.data() + LCount.size(), LDeclared);
  if (LResult.ec != std::errc() || LResult.ptr != LCount.data() + LCount.size() || LCount.startsWith('0') != (LCount == QLatin1StringView("0")))
    Refuse(QStringLiteral("contagem final ilegivel"), int(LLine) + 1);
  if (LDeclared != LScript.Count())
    Refuse("script truncado: a contagem final diz " + QString::number(LDeclared) + " registros e ha " +
               QString::number(LScript.Count()),
           int(LLine) + 1);
  if (LLine + 1 >= LLast || LText(LLine + 1) != CCommit) Refuse(QStringLiteral("falta o COMMIT final"), int(LLine) + 2);
  if (LLine + 2 != LLast) Refuse(QStringLiteral("linhas depois do COMMIT final"), int(LLine) + 3);
  return LScript;
}

TScriptRecord TSliceScript::Parse(int aIndex) const {
  const TRecordLines& LLines = FRecords[std::size_t(aIndex)];
  const char* LData = FBytes.constData();
  TScriptRecord LRecord;
  LRecord.Number = aIndex + 1;
  LRecord.Line = LLines.Line;
  LRecord.Description = Utf8Text(LData + LLines.Description, LLines.DescriptionLength, LLines.Line - 2);
  LRecord.Origin = Utf8Text(LData + LLines.Origin, LLines.OriginLength, LLines.Line - 1);
  ParseStatement(LData + LLines.Statement, LLines.StatementLength, LRecord);
  return LRecord;
}

TScriptRecord TSliceScript::Record(int aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw TCorvaneError("Registro inexistente no script: " + QString::number(aIndex + 1));
  return Parse(aIndex);
}

}  // namespace Corvane
