#include "Corvane.Values.h"

#include "Corvane.Errors.h"

#include <QDate>
#include <QRegularExpression>

#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace Corvane {

QString ValueKindName(TValueKind aKind) {
  switch (aKind) {
    case TValueKind::vkInteger: return QStringLiteral("vkInteger");
    case TValueKind::vkDecimal: return QStringLiteral("vkDecimal");
    case TValueKind::vkFloat: return QStringLiteral("vkFloat");
    case TValueKind::vkDate: return QStringLiteral("vkDate");
    case TValueKind::vkTime: return QStringLiteral("vkTime");
    case TValueKind::vkTimestamp: return QStringLiteral("vkTimestamp");
    case TValueKind::vkText: return QStringLiteral("vkText");
    case TValueKind::vkTextBlob: return QStringLiteral("vkTextBlob");
    case TValueKind::vkBytes: return QStringLiteral("vkBytes");
    case TValueKind::vkBoolean: return QStringLiteral("vkBoolean");
  }
  return QStringLiteral("vkUnknown");
}

TValue TValue::Null(TValueKind aKind) {
  TValue LValue;
  LValue.FState = TState::sNull;
  LValue.FKind = aKind;
  return LValue;
}

TValue TValue::Assigned(TValueKind aKind) {
  TValue LValue = Null(aKind);
  LValue.FState = TState::sAssigned;
  return LValue;
}

TValue TValue::Integer(std::int64_t aValue) {
  TValue LValue = Assigned(TValueKind::vkInteger);
  LValue.FInteger = aValue;
  return LValue;
}

TValue TValue::Decimal(std::int64_t aUnscaled, int aScale) {
  // Scale 0 is tolerated (an integer written as a decimal); beyond 18 digits an int64 cannot
  // hold a meaningful fraction and the text form would be wrong.
  if (aScale < 0 || aScale > 18) throw TArgumentError("Escala decimal invalida: " + QString::number(aScale));
  TValue LValue = Assigned(TValueKind::vkDecimal);
  LValue.FInteger = aUnscaled;
  LValue.FScale = aScale;
  return LValue;
}

TValue TValue::Float(double aValue) {
  TValue LValue = Assigned(TValueKind::vkFloat);
  LValue.FFloat = aValue;
  return LValue;
}

TValue TValue::SingleFloat(float aValue) {
  TValue LValue = Float(double(aValue));
  LValue.FSingle = true;
  return LValue;
}

TValue TValue::Date(const TDate& aValue) {
  TValue LValue = Assigned(TValueKind::vkDate);
  LValue.FTimestamp.Date = aValue;
  return LValue;
}

TValue TValue::Time(const TTime& aValue) {
  TValue LValue = Assigned(TValueKind::vkTime);
  LValue.FTimestamp.Time = aValue;
  return LValue;
}

TValue TValue::Timestamp(const TTimestamp& aValue) {
  TValue LValue = Assigned(TValueKind::vkTimestamp);
  LValue.FTimestamp = aValue;
  return LValue;
}

TValue TValue::Text(const QString& aValue) {
  TValue LValue = Assigned(TValueKind::vkText);
  LValue.FText = aValue;
  return LValue;
}

TValue TValue::TextBlob(const QString& aValue) {
  TValue LValue = Assigned(TValueKind::vkTextBlob);
  LValue.FText = aValue;
  return LValue;
}

TValue TValue::Bytes(const QByteArray& aValue) {
  TValue LValue = Assigned(TValueKind::vkBytes);
  LValue.FBytes = aValue;
  return LValue;
}

TValue TValue::UntranslatedText(TValueKind aKind, const QByteArray& aBytes, const QString& aText) {
  if (aKind != TValueKind::vkText && aKind != TValueKind::vkTextBlob)
    throw TArgumentError(QStringLiteral("Texto sem traducao exige vkText ou vkTextBlob."));
  TValue LValue = Assigned(aKind);
  LValue.FText = aText;
  LValue.FBytes = aBytes;
  LValue.FUntranslated = true;
  return LValue;
}

TValue TValue::Boolean(bool aValue) {
  TValue LValue = Assigned(TValueKind::vkBoolean);
  LValue.FInteger = aValue ? 1 : 0;
  return LValue;
}

namespace {

void AppendPadded(QString& aOut, int aValue, int aWidth) {
  // The magnitude as unsigned: negating the smallest int overflows.
  unsigned LMagnitude = static_cast<unsigned>(aValue);
  if (aValue < 0) {
    aOut += QLatin1Char('-');
    LMagnitude = 0u - LMagnitude;
  }
  char LBuffer[16];
  char* LEnd = LBuffer + sizeof LBuffer;
  char* LAt = LEnd;
  do {
    *--LAt = char('0' + LMagnitude % 10);
    LMagnitude /= 10;
  } while (LMagnitude != 0 && LAt > LBuffer);
  while (LEnd - LAt < aWidth && LAt > LBuffer) *--LAt = '0';
  aOut += QLatin1StringView(LAt, LEnd - LAt);
}


QString DecimalTextForm(std::int64_t aUnscaled, int aScale) {
  // Work on the unsigned magnitude so that INT64_MIN needs no special case.
  const bool LNegative = aUnscaled < 0;
  const std::uint64_t LMagnitude = LNegative ? std::uint64_t(0) - std::uint64_t(aUnscaled) : std::uint64_t(aUnscaled);
  QString LDigits = QString::number(LMagnitude);
  if (aScale > 0) {
    if (LDigits.size() <= aScale) LDigits = QString(aScale - LDigits.size() + 1, QLatin1Char('0')) + LDigits;
    QString LFraction = LDigits.right(aScale);
    LDigits.chop(aScale);
    int LEnd = LFraction.size();
    while (LEnd > 0 && LFraction[LEnd - 1] == QLatin1Char('0')) --LEnd;
    LFraction.truncate(LEnd);
    if (!LFraction.isEmpty()) LDigits += QLatin1Char('.') + LFraction;
  }
  if (LNegative && LMagnitude != 0) LDigits.prepend(QLatin1Char('-'));
  return LDigits;
}

QString FloatTextForm(double aValue) {
  char LBuffer[64];
  const auto LResult = std::to_chars(LBuffer, LBuffer + sizeof LBuffer, aValue);
  return QString::fromLatin1(LBuffer, int(LResult.ptr - LBuffer));
}

}  // namespace

void AppendIsoDate(QString& aOut, const TDate& aDate) {
  AppendPadded(aOut, aDate.Year, 4);
  aOut += QLatin1Char('-');
  AppendPadded(aOut, aDate.Month, 2);
  aOut += QLatin1Char('-');
  AppendPadded(aOut, aDate.Day, 2);
}

void AppendIsoTime(QString& aOut, const TTime& aTime) {
  AppendPadded(aOut, aTime.Hour, 2);
  aOut += QLatin1Char(':');
  AppendPadded(aOut, aTime.Minute, 2);
  aOut += QLatin1Char(':');
  AppendPadded(aOut, aTime.Second, 2);
  aOut += QLatin1Char('.');
  AppendPadded(aOut, aTime.Millisecond, 3);
  if (aTime.Tenths != 0) AppendPadded(aOut, aTime.Tenths, 1);
}

QString TrimBlanks(const QString& aText) {
  qsizetype LStart = 0;
  qsizetype LEnd = aText.size();
  while (LStart < LEnd && aText[LStart].unicode() <= 0x20) ++LStart;
  while (LEnd > LStart && aText[LEnd - 1].unicode() <= 0x20) --LEnd;
  return aText.mid(LStart, LEnd - LStart);
}

QString PrintableText(const QString& aText) {
  const auto LIsControl = [](char16_t aUnit) { return aUnit < 0x20 || (aUnit >= 0x7F && aUnit <= 0x9F); };
  if (std::none_of(aText.begin(), aText.end(), [&](QChar aChar) { return LIsControl(aChar.unicode()); })) return aText;
  QString LResult;
  LResult.reserve(aText.size() + 8);
  for (const QChar LChar : aText) {
    const char16_t LUnit = LChar.unicode();
    if (!LIsControl(LUnit))
      LResult += LChar;
    else if (LUnit == u'\r')
      LResult += QLatin1String("\\r");
    else if (LUnit == u'\n')
      LResult += QLatin1String("\\n");
    else if (LUnit == u'\t')
      LResult += QLatin1String("\\t");
    else {
      constexpr char CHex[] = "0123456789ABCDEF";
      LResult += QLatin1String("\\x");
      LResult += QLatin1Char(CHex[LUnit >> 4]);
      LResult += QLatin1Char(CHex[LUnit & 0xF]);
    }
  }
  return LResult;
}

QString TValue::TextForm() const {
  if (FState != TState::sAssigned) return {};
  switch (FKind) {
    case TValueKind::vkInteger: return QString::number(FInteger);
    case TValueKind::vkDecimal: return DecimalTextForm(FInteger, FScale);
    case TValueKind::vkFloat: return FloatTextForm(FFloat);
    case TValueKind::vkDate: {
      QString LText;
      AppendIsoDate(LText, FTimestamp.Date);
      return LText;
    }
    case TValueKind::vkTime: {
      QString LText;
      AppendIsoTime(LText, FTimestamp.Time);
      return LText;
    }
    case TValueKind::vkTimestamp: {
      QString LText;
      AppendIsoDate(LText, FTimestamp.Date);
      LText += QLatin1Char(' ');
      AppendIsoTime(LText, FTimestamp.Time);
      return LText;
    }
    case TValueKind::vkText:
    case TValueKind::vkTextBlob: return FText;
    case TValueKind::vkBytes: return QString::fromLatin1(FBytes.toHex().toUpper());
    case TValueKind::vkBoolean: return FInteger != 0 ? QStringLiteral("True") : QStringLiteral("False");
  }
  return {};
}

bool TValue::operator==(const TValue& aOther) const {
  if (FState != aOther.FState) return false;
  // A null is a null whatever item it came from; unassigned carries nothing to compare.
  if (FState != TState::sAssigned) return true;
  if (FKind != aOther.FKind) return false;
  switch (FKind) {
    case TValueKind::vkInteger:
    case TValueKind::vkBoolean: return FInteger == aOther.FInteger;
    case TValueKind::vkDecimal: return FInteger == aOther.FInteger && FScale == aOther.FScale;
    case TValueKind::vkFloat:
      // Bitwise, so that a NaN equals itself and 0.0 differs from -0.0: values must
      // round-trip exactly, not compare arithmetically.
      return std::memcmp(&FFloat, &aOther.FFloat, sizeof FFloat) == 0;
    case TValueKind::vkDate: return FTimestamp.Date == aOther.FTimestamp.Date;
    case TValueKind::vkTime: return FTimestamp.Time == aOther.FTimestamp.Time;
    case TValueKind::vkTimestamp: return FTimestamp == aOther.FTimestamp;
    case TValueKind::vkText:
    case TValueKind::vkTextBlob:
      // Untranslated text is its bytes: two byte strings may read as one text.
      if (FUntranslated || aOther.FUntranslated) return FUntranslated == aOther.FUntranslated && FBytes == aOther.FBytes;
      return FText == aOther.FText;
    case TValueKind::vkBytes: return FBytes == aOther.FBytes;
  }
  return false;
}

namespace {

// An optional "-", digits, and with aFraction an optional "." and more digits: the unscaled
// integer and the number of fraction digits.
bool ParseExact(const QString& aText, bool aFraction, std::int64_t& aUnscaled, int& aScale) {
  static const QRegularExpression LInteger(QStringLiteral("^([-+]?)([0-9]+)$"));
  static const QRegularExpression LDecimal(QStringLiteral("^([-+]?)([0-9]*)(?:\\.([0-9]*))?$"));
  const QRegularExpressionMatch LMatch = (aFraction ? LDecimal : LInteger).match(aText);
  if (!LMatch.hasMatch()) return false;
  const QString LDigits = LMatch.captured(2) + LMatch.captured(3);
  if (LDigits.isEmpty() || LMatch.captured(3).size() > 18) return false;
  aScale = int(LMatch.captured(3).size());
  // Accumulated negatively, so that the smallest 64-bit value fits.
  std::int64_t LValue = 0;
  for (const QChar LDigit : LDigits)
    if (__builtin_mul_overflow(LValue, 10, &LValue) || __builtin_sub_overflow(LValue, LDigit.unicode() - u'0', &LValue))
      return false;
  if (LMatch.captured(1) != QLatin1String("-")) {
    if (LValue == std::numeric_limits<std::int64_t>::min()) return false;
    LValue = -LValue;
  }
  aUnscaled = LValue;
  return true;
}

bool ParseTime(const QString& aText, TTime& aTime) {
  static const QRegularExpression LPattern(QStringLiteral("^([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\\.([0-9]{1,4}))?$"));
  const QRegularExpressionMatch LMatch = LPattern.match(aText);
  if (!LMatch.hasMatch()) return false;
  // Fraction digits as Firebird reads them: ".5" is half a second.
  const int LFraction = LMatch.captured(4).leftJustified(4, QLatin1Char('0')).toInt();
  aTime = TTime{LMatch.captured(1).toInt(), LMatch.captured(2).toInt(), LMatch.captured(3).toInt(), LFraction / 10,
                LFraction % 10};
  return aTime.Hour <= 23 && aTime.Minute <= 59 && aTime.Second <= 59;
}

bool ParseDate(const QString& aText, TDate& aDate) {
  static const QRegularExpression LPattern(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})$"));
  const QRegularExpressionMatch LMatch = LPattern.match(aText);
  if (!LMatch.hasMatch()) return false;
  aDate = TDate{LMatch.captured(1).toInt(), LMatch.captured(2).toInt(), LMatch.captured(3).toInt()};
  return aDate.Year >= 1 && QDate(aDate.Year, aDate.Month, aDate.Day).isValid();
}

}  // namespace

bool ValueFromText(const QString& aText, TValueKind aKind, TValue& aValue) {
  const QString LText = TrimBlanks(aText);
  switch (aKind) {
    case TValueKind::vkInteger:
    case TValueKind::vkDecimal: {
      std::int64_t LUnscaled = 0;
      int LScale = 0;
      if (!ParseExact(LText, true, LUnscaled, LScale)) return false;
      // An integer may be written with a fraction of zeros ("7.00").
      while (aKind == TValueKind::vkInteger && LScale > 0 && LUnscaled % 10 == 0) {
        LUnscaled /= 10;
        --LScale;
      }
      if (aKind == TValueKind::vkInteger && LScale > 0) return false;
      aValue = LScale == 0 ? TValue::Integer(LUnscaled) : TValue::Decimal(LUnscaled, LScale);
      return true;
    }
    case TValueKind::vkFloat: {
      static const QRegularExpression LPattern(QStringLiteral("^[-+]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][-+]?[0-9]+)?$"));
      if (!LPattern.match(LText).hasMatch()) return false;
      const QByteArray LBytes = LText.toLatin1().mid(LText.startsWith(u'+') ? 1 : 0);
      double LNumber = 0;
      const auto LResult = std::from_chars(LBytes.constData(), LBytes.constData() + LBytes.size(), LNumber);
      if (LResult.ec != std::errc() || LResult.ptr != LBytes.constData() + LBytes.size() || !std::isfinite(LNumber))
        return false;
      aValue = TValue::Float(LNumber);
      return true;
    }
    case TValueKind::vkDate: {
      TDate LDate;
      if (!ParseDate(LText, LDate)) return false;
      aValue = TValue::Date(LDate);
      return true;
    }
    case TValueKind::vkTime: {
      TTime LTime;
      if (!ParseTime(LText, LTime)) return false;
      aValue = TValue::Time(LTime);
      return true;
    }
    case TValueKind::vkTimestamp: {
      TTimestamp LStamp;
      if (LText.size() < 11 || (LText[10] != u' ' && LText[10] != u'T') || !ParseDate(LText.left(10), LStamp.Date) ||
          !ParseTime(LText.mid(11), LStamp.Time))
        return false;
      aValue = TValue::Timestamp(LStamp);
      return true;
    }
    case TValueKind::vkBoolean:
      if (LText.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        aValue = TValue::Boolean(true);
        return true;
      }
      if (LText.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
        aValue = TValue::Boolean(false);
        return true;
      }
      return false;
    case TValueKind::vkBytes: {
      static const QRegularExpression LPattern(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
      if (!LPattern.match(LText).hasMatch()) return false;
      aValue = TValue::Bytes(QByteArray::fromHex(LText.toLatin1()));
      return true;
    }
    case TValueKind::vkText:
    case TValueKind::vkTextBlob: aValue = TValue::Text(aText); return true;
  }
  return false;
}

QString ValueTextForm(TValueKind aKind) {
  switch (aKind) {
    case TValueKind::vkInteger: return QStringLiteral("numero inteiro, ex.: -12");
    case TValueKind::vkDecimal: return QStringLiteral("numero com ponto decimal, ex.: -12.50");
    case TValueKind::vkFloat: return QStringLiteral("numero com ponto decimal, ex.: -12.5 ou 1.5E-3");
    case TValueKind::vkDate: return QStringLiteral("data AAAA-MM-DD, ex.: 2024-01-31");
    case TValueKind::vkTime: return QStringLiteral("hora HH:MM:SS[.ffff], ex.: 13:45:00");
    case TValueKind::vkTimestamp: return QStringLiteral("data e hora AAAA-MM-DD HH:MM:SS[.ffff], ex.: 2024-01-31 13:45:00");
    case TValueKind::vkBoolean: return QStringLiteral("true ou false");
    case TValueKind::vkBytes: return QStringLiteral("bytes em hexadecimal, ex.: 0AFF");
    case TValueKind::vkText:
    case TValueKind::vkTextBlob: return QStringLiteral("texto");
  }
  return QString();
}

}  // namespace Corvane
