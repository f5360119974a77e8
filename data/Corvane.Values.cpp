#include "Corvane.Values.h"

#include "Corvane.Errors.h"

#include <charconv>
#include <cmath>
#include <cstring>

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
}

QString TrimBlanks(const QString& aText) {
  qsizetype LStart = 0;
  qsizetype LEnd = aText.size();
  while (LStart < LEnd && aText[LStart].unicode() <= 0x20) ++LStart;
  while (LEnd > LStart && aText[LEnd - 1].unicode() <= 0x20) --LEnd;
  return aText.mid(LStart, LEnd - LStart);
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

}  // namespace Corvane
