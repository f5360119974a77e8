#include "Corvane.Literals.h"

#include "Corvane.Errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>

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
// d.dddE±x; trailing zeros of the digits dropped.
void AppendFloat(QString& aOut, double aValue) {
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

  char LText[64];
  int LLength = 0;
  const auto LPut = [&LText, &LLength](char aChar) { LText[LLength++] = aChar; };
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
    LLength = int(std::to_chars(LText + LLength, LText + sizeof LText, LExponent - 1).ptr - LText);
  }
  aOut += QLatin1StringView(LText, LLength);
}

}  // namespace

QString TSqlLiterals::DecimalText(std::int64_t aUnscaled, int aScale) {
  QString LResult;
  AppendDecimal(LResult, aUnscaled, aScale);
  return LResult;
}

QString TSqlLiterals::FloatText(double aValue) {
  QString LResult;
  AppendFloat(LResult, aValue);
  return LResult;
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
      AppendFloat(aOut, aValue.AsFloat());
      return;
    case TValueKind::vkDate:
      aOut += QLatin1String("DATE '");
      AppendIsoDate(aOut, aValue.AsDate());
      aOut += QLatin1Char('\'');
      return;
    case TValueKind::vkTime:
      aOut += QLatin1String("TIME '");
      AppendIsoTime(aOut, aValue.AsTime());
      aOut += QLatin1Char('\'');
      return;
    case TValueKind::vkTimestamp:
      aOut += QLatin1String("TIMESTAMP '");
      AppendIsoDate(aOut, aValue.AsTimestamp().Date);
      aOut += QLatin1Char(' ');
      AppendIsoTime(aOut, aValue.AsTimestamp().Time);
      aOut += QLatin1Char('\'');
      return;
    case TValueKind::vkText:
      AppendTextLiteral(aOut, aValue.AsText());
      return;
    case TValueKind::vkTextBlob: {
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
      break;
  }
  throw TCorvaneError("Tipo nao suportado no campo " + aFieldName);
}

}  // namespace Corvane
