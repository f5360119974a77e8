#include "Corvane.Literals.h"

#include "Corvane.Errors.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

namespace Corvane {

namespace {

constexpr int CChunkUnits = 2000;  // no single literal in a script holds more than this
constexpr char CHexDigits[] = "0123456789ABCDEF";

void AppendHex(QString& aOut, const char* aData, qsizetype aSize) {
  const qsizetype LStart = aOut.size();
  aOut.resize(LStart + 2 * aSize);
  QChar* LOut = aOut.data() + LStart;
  for (qsizetype I = 0; I < aSize; ++I) {
    const auto LByte = static_cast<unsigned char>(aData[I]);
    *LOut++ = QLatin1Char(CHexDigits[LByte >> 4]);
    *LOut++ = QLatin1Char(CHexDigits[LByte & 0x0F]);
  }
}

void AppendInteger(QString& aOut, std::int64_t aValue) {
  char LBuffer[24];
  const auto LResult = std::to_chars(LBuffer, LBuffer + sizeof LBuffer, aValue);
  aOut += QLatin1StringView(LBuffer, LResult.ptr - LBuffer);
}


}  // namespace

TSqlLiterals::TSqlLiterals(const QString& aCharacterSet)
    : FCharacterSet(aCharacterSet), FTextEncoding(TTextEncoding::ForCharacterSet(aCharacterSet)) {
  if (!FTextEncoding)
    throw TCorvaneError("Configure CharacterSet da conexao como WIN1252, UTF8, ISO8859_1 ou ASCII.");
}

void TSqlLiterals::CheckName(const QString& aName) {
  for (const QChar LChar : aName)
    if (LChar.unicode() > 0x20) return;
  throw TCorvaneError("Identificador SQL vazio.");
}

QString TSqlLiterals::QuoteName(const QString& aName) {
  CheckName(aName);
  QString LResult;
  LResult.reserve(aName.size() + 2);
  LResult += QLatin1Char('"');
  for (const QChar LChar : aName) {
    if (LChar == QLatin1Char('"')) LResult += QLatin1Char('"');
    LResult += LChar;
  }
  LResult += QLatin1Char('"');
  return LResult;
}

namespace {

// Decimal digits of an exact decimal, fraction without trailing zeros, into aOut.
void AppendDecimal(QString& aOut, std::int64_t aUnscaled, int aScale) {
  // Work on the magnitude as unsigned so that the smallest 64-bit value keeps all its digits.
  const bool LNegative = aUnscaled < 0;
  std::uint64_t LMagnitude =
      LNegative ? std::uint64_t(0) - static_cast<std::uint64_t>(aUnscaled) : static_cast<std::uint64_t>(aUnscaled);
  // Digits from the last: the fraction first (its trailing zeros dropped), then the integer part.
  char LBuffer[48];
  char* LEnd = LBuffer + sizeof LBuffer;
  char* LAt = LEnd;
  bool LFraction = false;
  for (int I = 0; I < aScale; ++I) {
    const char LDigit = char('0' + LMagnitude % 10);
    LMagnitude /= 10;
    if (LFraction || LDigit != '0') {
      *--LAt = LDigit;
      LFraction = true;
    }
  }
  if (LFraction) *--LAt = '.';
  do {
    *--LAt = char('0' + LMagnitude % 10);
    LMagnitude /= 10;
  } while (LMagnitude != 0);
  if (LNegative) *--LAt = '-';
  aOut += QLatin1StringView(LAt, LEnd - LAt);
}

// 17 significant digits, rounded to nearest: plain notation for exponents -3..17, else
// d.dddE±x; trailing zeros of the digits dropped. Writes into aText, returns the length.
int SeventeenDigitText(double aValue, char* aText) {
  char LScientific[64];  // d.dddddddddddddddde±XX
  const auto LConverted = std::to_chars(LScientific, LScientific + sizeof LScientific, std::fabs(aValue),
                                        std::chars_format::scientific, 16);
  const char* LMark = std::find(LScientific, LConverted.ptr, 'e');
  char LDigits[24];
  int LCount = 0;
  for (const char* LAt = LScientific; LAt < LMark; ++LAt)
    if (*LAt != '.') LDigits[LCount++] = *LAt;
  int LExponent = 0;
  std::from_chars(LMark + 1 + (LMark[1] == '+'), LConverted.ptr, LExponent);
  ++LExponent;  // value = 0.d1d2... x 10^LExponent
  while (LCount > 0 && LDigits[LCount - 1] == '0') --LCount;
  if (LCount == 0) LExponent = 0;

  int LLength = 0;
  const auto LPut = [aText, &LLength](char aChar) { aText[LLength++] = aChar; };
  if (aValue < 0) LPut('-');
  if (LExponent >= -3 && LExponent <= 17) {
    if (LExponent <= 0) {
      LPut('0');
      if (LCount > 0) {
        LPut('.');
        for (int I = 0; I < -LExponent; ++I) LPut('0');
        for (int I = 0; I < LCount; ++I) LPut(LDigits[I]);
      }
    } else {
      for (int I = 0; I < LExponent; ++I) LPut(I < LCount ? LDigits[I] : '0');
      if (LCount > LExponent) {
        LPut('.');
        for (int I = LExponent; I < LCount; ++I) LPut(LDigits[I]);
      }
    }
  } else {
    LPut(LDigits[0]);
    if (LCount > 1) {
      LPut('.');
      for (int I = 1; I < LCount; ++I) LPut(LDigits[I]);
    }
    LPut('E');
    LLength = int(std::to_chars(aText + LLength, aText + 48, LExponent - 1).ptr - aText);
  }
  return LLength;
}

// The double that Firebird 3 makes of a text written by SeventeenDigitText, or false where
// it refuses the text ("numeric value is out of range"). Measured against the server, bit
// for bit: it does not round correctly.
// - Without exponent the text is an exact integer with a scale (it always fits 64 bits
//   here); the integer becomes the nearest double, which is divided by 10^scale.
// - With exponent the digits are gathered in a double (value * 10 + digit, rounding once
//   past 2^53) and the result is multiplied or divided by 10^|scale|, scale being the
//   fraction digits minus the exponent; 10^n is the product of two table entries,
//   10^(32*(n/32)) * 10^(n%32). A scale beyond +-308 is refused.
// This file is compiled without contraction to fused multiply-add, as the server is.
bool ServerReading(const char* aText, int aLength, double& aValue) {
  static constexpr double CHigh[] = {1e0, 1e32, 1e64, 1e96, 1e128, 1e160, 1e192, 1e224, 1e256, 1e288};
  static constexpr double CLow[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                                    1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21,
                                    1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31};
  const auto LPowerOfTen = [](int aScale) { return CHigh[aScale >> 5] * CLow[aScale & 31]; };
  const char* LAt = aText;
  const char* const LEnd = aText + aLength;
  const bool LNegative = LAt < LEnd && *LAt == '-';
  if (LNegative) ++LAt;
  const char* const LMark = std::find(LAt, LEnd, 'E');
  int LScale = 0;
  bool LFraction = false;
  double LValue = 0;
  if (LMark == LEnd) {
    std::int64_t LInteger = 0;
    for (; LAt < LEnd; ++LAt) {
      if (*LAt == '.') {
        LFraction = true;
        continue;
      }
      LInteger = LInteger * 10 + (*LAt - '0');
      if (LFraction) ++LScale;
    }
    LValue = double(LInteger);
    if (LScale > 0) LValue /= LPowerOfTen(LScale);
  } else {
    for (; LAt < LMark; ++LAt) {
      if (*LAt == '.') {
        LFraction = true;
        continue;
      }
      LValue = LValue * 10 + (*LAt - '0');
      if (LFraction) ++LScale;
    }
    int LExponent = 0;
    std::from_chars(LMark + 1, LEnd, LExponent);
    LScale -= LExponent;
    if (LScale > 308 || LScale < -308) return false;
    if (LScale > 0)
      LValue /= LPowerOfTen(LScale);
    else if (LScale < 0)
      LValue *= LPowerOfTen(-LScale);
  }
  aValue = LNegative ? -LValue : LValue;
  return std::isfinite(aValue);
}

template <typename TNumber>
bool SameBits(TNumber aLeft, TNumber aRight) {
  return std::memcmp(&aLeft, &aRight, sizeof aLeft) == 0;
}

// Whether the server stores exactly aValue for the text: in a DOUBLE PRECISION column, or,
// for a value of a FLOAT column, after rounding to single precision (refused above FLT_MAX).
bool ReadsBackExactly(const char* aText, int aLength, double aValue, bool aSingle) {
  double LRead = 0;
  if (!ServerReading(aText, aLength, LRead)) return false;
  if (!aSingle) return SameBits(LRead, aValue);
  return std::fabs(LRead) <= double(FLT_MAX) && SameBits(float(LRead), float(aValue));
}

// A finite value as SQL text that the server reads back to the identical bits:
// - the 17-digit text above wherever the server reads that text exactly (nearly always);
// - otherwise the exact form "M * POWER(2E0, K)": M a decimal integer, odd, "-" first for a
//   negative value, |M| < 2^53; K a decimal integer from -1074 to 971, "-" first when
//   negative; value = M x 2^K. The server computes 2^K and the product exactly (subnormals
//   and the extremes included);
// - negative zero, which the server gets only from a negated double literal: "-0E0".
void AppendFloat(QString& aOut, double aValue, bool aSingle) {
  char LText[64];
  const int LLength = SeventeenDigitText(aValue, LText);
  if (ReadsBackExactly(LText, LLength, aValue, aSingle)) {
    aOut += QLatin1StringView(LText, LLength);
    return;
  }
  if (aValue == 0) {
    aOut += QLatin1String("-0E0");
    return;
  }
  int LExponent = 0;
  const double LFraction = std::frexp(std::fabs(aValue), &LExponent);  // [0.5, 1) x 2^LExponent
  std::uint64_t LMantissa = std::uint64_t(std::ldexp(LFraction, 53));
  LExponent -= 53;
  while ((LMantissa & 1) == 0) {
    LMantissa >>= 1;
    ++LExponent;
  }
  if (aValue < 0) aOut += QLatin1Char('-');
  AppendInteger(aOut, std::int64_t(LMantissa));
  aOut += QLatin1String(" * POWER(2E0, ");
  AppendInteger(aOut, LExponent);
  aOut += QLatin1Char(')');
}

}  // namespace

QString TSqlLiterals::DecimalText(std::int64_t aUnscaled, int aScale) {
  QString LResult;
  AppendDecimal(LResult, aUnscaled, aScale);
  return LResult;
}

QString TSqlLiterals::FloatText(double aValue) {
  char LText[64];
  return QString::fromLatin1(LText, SeventeenDigitText(aValue, LText));
}

void TSqlLiterals::AppendTextLiteral(QString& aOut, const QString& aText) const {
  const qsizetype LBegin = aOut.size();
  aOut += QLatin1Char('_');
  aOut += FCharacterSet;
  aOut += QLatin1String(" x'");
  // Plain ASCII is the same bytes in all four sets: write its hex digits straight away.
  const qsizetype LStart = aOut.size();
  aOut.resize(LStart + 2 * aText.size());
  QChar* LOut = aOut.data() + LStart;
  bool LAscii = true;
  for (const QChar LChar : aText) {
    const char16_t LUnit = LChar.unicode();
    if (LUnit >= 0x80) {
      LAscii = false;
      break;
    }
    *LOut++ = QLatin1Char(CHexDigits[LUnit >> 4]);
    *LOut++ = QLatin1Char(CHexDigits[LUnit & 0x0F]);
  }
  if (LAscii) {
    aOut += QLatin1Char('\'');
    return;
  }
  aOut.truncate(LStart);
  QByteArray LBytes;
  if (!FTextEncoding->TryEncode(aText, LBytes)) {
    aOut.truncate(LBegin);
    throw TCorvaneError("Texto nao representavel no charset " + FCharacterSet + ".");
  }
  AppendHex(aOut, LBytes.constData(), LBytes.size());
  aOut += QLatin1Char('\'');
}

// Untranslated text (CHARACTER SET NONE) keeps the text literal of its reading where that
// literal carries exactly its bytes; otherwise its bytes are written as they are.
bool TSqlLiterals::WritesItsBytes(const TValue& aValue) const {
  const QByteArray& LBytes = aValue.AsBytes();
  const QString& LText = aValue.AsText();
  if (LText.size() == LBytes.size()) {
    bool LAscii = true;
    for (qsizetype I = 0; I < LBytes.size() && LAscii; ++I)
      LAscii = static_cast<unsigned char>(LBytes[I]) < 0x80 && LText[I].unicode() == char16_t(LBytes[I]);
    if (LAscii) return true;
  }
  QByteArray LEncoded;
  return FTextEncoding->TryEncode(LText, LEncoded) && LEncoded == LBytes;
}

QString TSqlLiterals::TextLiteral(const QString& aText) const {
  QString LResult;
  AppendTextLiteral(LResult, aText);
  return LResult;
}

QString TSqlLiterals::Literal(const TValue& aValue, const QString& aFieldName) const {
  QString LResult;
  AppendLiteral(LResult, aValue, aFieldName);
  return LResult;
}

namespace {

// A fraction the database cannot hold would be read back as another one: ".1234" is always
// 123 ms and 4 tenths.
void CheckFraction(const TTime& aTime, const QString& aFieldName) {
  if (aTime.Millisecond < 0 || aTime.Millisecond > 999 || aTime.Tenths < 0 || aTime.Tenths > 9)
    throw TCorvaneError("Fracao de segundo invalida no campo " + aFieldName + ".");
}

}  // namespace

void TSqlLiterals::AppendLiteral(QString& aOut, const TValue& aValue, const QString& aFieldName) const {
  // No value at all (a BLOB never read, say) has no literal; writing one would lose data.
  if (aValue.IsUnassigned()) throw TCorvaneError("Campo sem valor: " + aFieldName + ".");
  if (aValue.IsNull()) {
    aOut += QLatin1String("NULL");
    return;
  }
  switch (aValue.Kind()) {
    case TValueKind::vkInteger:
      AppendInteger(aOut, aValue.AsInteger());
      return;
    case TValueKind::vkDecimal:
      AppendDecimal(aOut, aValue.AsDecimal().Unscaled, aValue.AsDecimal().Scale);
      return;
    case TValueKind::vkFloat:
      // SQL has no literal for infinities or NaN; writing one would break the replay.
      if (!std::isfinite(aValue.AsFloat()))
        throw TCorvaneError("Valor de ponto flutuante nao finito no campo " + aFieldName + ".");
      AppendFloat(aOut, aValue.AsFloat(), aValue.IsSingle());
      return;
    case TValueKind::vkDate:
      aOut += QLatin1String("DATE '");
      AppendIsoDate(aOut, aValue.AsDate());
      aOut += QLatin1Char('\'');
      return;
    case TValueKind::vkTime:
      CheckFraction(aValue.AsTime(), aFieldName);
      aOut += QLatin1String("TIME '");
      AppendIsoTime(aOut, aValue.AsTime());
      aOut += QLatin1Char('\'');
      return;
    case TValueKind::vkTimestamp:
      CheckFraction(aValue.AsTimestamp().Time, aFieldName);
      aOut += QLatin1String("TIMESTAMP '");
      AppendIsoDate(aOut, aValue.AsTimestamp().Date);
      aOut += QLatin1Char(' ');
      AppendIsoTime(aOut, aValue.AsTimestamp().Time);
      aOut += QLatin1Char('\'');
      return;
    case TValueKind::vkText:
      if (aValue.IsUntranslated() && !WritesItsBytes(aValue)) {
        // "x'..'": a binary string, which a NONE column takes byte for byte.
        aOut += QLatin1String("x'");
        AppendHex(aOut, aValue.AsBytes().constData(), aValue.AsBytes().size());
        aOut += QLatin1Char('\'');
        return;
      }
      AppendTextLiteral(aOut, aValue.AsText());
      return;
    case TValueKind::vkTextBlob: {
      if (aValue.IsUntranslated() && !WritesItsBytes(aValue)) {
        // The text BLOB form with NONE for the set and bare binary strings (2000 bytes each).
        const QLatin1String LNoneCast(" AS BLOB SUB_TYPE TEXT CHARACTER SET NONE)");
        const QByteArray& LBytes = aValue.AsBytes();
        aOut += QLatin1String("(CAST(x''");
        aOut += LNoneCast;
        for (qsizetype LStart = 0; LStart < LBytes.size(); LStart += CChunkUnits) {
          aOut += QLatin1String(" || CAST(x'");
          AppendHex(aOut, LBytes.constData() + LStart, qMin<qsizetype>(CChunkUnits, LBytes.size() - LStart));
          aOut += QLatin1Char('\'');
          aOut += LNoneCast;
        }
        aOut += QLatin1Char(')');
        return;
      }
      const QString LCast = QLatin1String(" AS BLOB SUB_TYPE TEXT CHARACTER SET ") + FCharacterSet + QLatin1Char(')');
      aOut += QLatin1String("(CAST(");
      AppendTextLiteral(aOut, QString());
      aOut += LCast;
      const QString& LText = aValue.AsText();
      qsizetype LStart = 0;
      while (LStart < LText.size()) {
        qsizetype LLength = qMin<qsizetype>(CChunkUnits, LText.size() - LStart);
        // Never split a surrogate pair: the pair moves whole into the next chunk.
        if (LLength == CChunkUnits && LText[LStart + LLength - 1].isHighSurrogate()) --LLength;
        aOut += QLatin1String(" || CAST(");
        AppendTextLiteral(aOut, LText.mid(LStart, LLength));
        aOut += LCast;
        LStart += LLength;
      }
      aOut += QLatin1Char(')');
      return;
    }
    case TValueKind::vkBytes: {
      const QByteArray& LBytes = aValue.AsBytes();
      aOut += QLatin1String("CAST(x'' AS BLOB SUB_TYPE 0)");
      for (qsizetype LStart = 0; LStart < LBytes.size(); LStart += CChunkUnits) {
        aOut += QLatin1String(" || x'");
        AppendHex(aOut, LBytes.constData() + LStart, qMin<qsizetype>(CChunkUnits, LBytes.size() - LStart));
        aOut += QLatin1Char('\'');
      }
      return;
    }
    case TValueKind::vkBoolean:
      if (!FBooleans) break;
      aOut += aValue.AsBoolean() ? QLatin1String("TRUE") : QLatin1String("FALSE");
      return;
  }
  throw TCorvaneError("Tipo nao suportado no campo " + aFieldName);
}

}  // namespace Corvane
