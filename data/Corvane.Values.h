#pragma once
// Typed values: the form in which column values and query parameters travel between the
// database layer and the engine.
#include <QByteArray>
#include <QString>
#include <cstdint>

namespace Corvane {

enum class TValueKind {
  vkInteger,
  vkDecimal,
  vkFloat,
  vkDate,
  vkTime,
  vkTimestamp,
  vkText,
  vkTextBlob,
  vkBytes,
  vkBoolean,
};

QString ValueKindName(TValueKind aKind);

struct TDate {
  int Year = 1;
  int Month = 1;
  int Day = 1;
  bool operator==(const TDate&) const = default;
};

struct TTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
  int Tenths = 0;  // tenths of a millisecond (0..9): Firebird keeps times to 1/10000 s
  bool operator==(const TTime&) const = default;
};

struct TTimestamp {
  TDate Date;
  TTime Time;
  bool operator==(const TTimestamp&) const = default;
};

// An exact decimal: the stored integer, unscaled, and the number of fraction digits (1..18).
struct TDecimal {
  std::int64_t Unscaled = 0;
  int Scale = 0;
  bool operator==(const TDecimal&) const = default;
};

class TValue {
public:
  // A default-constructed value is unassigned: no value at all.
  TValue() = default;

  static TValue Null(TValueKind aKind = TValueKind::vkText);
  static TValue Integer(std::int64_t aValue);
  static TValue Decimal(std::int64_t aUnscaled, int aScale);
  static TValue Float(double aValue);
  // A FLOAT column's value: widened exactly, and marked, so that its literal need only
  // survive the server's rounding back to single precision.
  static TValue SingleFloat(float aValue);
  static TValue Date(const TDate& aValue);
  static TValue Time(const TTime& aValue);
  static TValue Timestamp(const TTimestamp& aValue);
  static TValue Text(const QString& aValue);
  static TValue TextBlob(const QString& aValue);
  static TValue Bytes(const QByteArray& aValue);
  // Text of CHARACTER SET NONE (aKind vkText or vkTextBlob): the server keeps and compares
  // its bytes untranslated, so the bytes are the value and travel as they are; aText is only
  // their reading, for display.
  static TValue UntranslatedText(TValueKind aKind, const QByteArray& aBytes, const QString& aText);
  static TValue Boolean(bool aValue);

  bool IsUnassigned() const { return FState == TState::sUnassigned; }
  bool IsNull() const { return FState == TState::sNull; }
  bool IsAssigned() const { return FState == TState::sAssigned; }
  // The kind of the value; for a null value, the kind of the item it came from.
  TValueKind Kind() const { return FKind; }

  // Kind values. Each is meaningful only for a non-null value of the matching kind.
  std::int64_t AsInteger() const { return FInteger; }
  TDecimal AsDecimal() const { return TDecimal{FInteger, FScale}; }
  double AsFloat() const { return FFloat; }
  bool IsSingle() const { return FSingle; }
  TDate AsDate() const { return FTimestamp.Date; }
  TTime AsTime() const { return FTimestamp.Time; }
  TTimestamp AsTimestamp() const { return FTimestamp; }
  const QString& AsText() const { return FText; }  // vkText and vkTextBlob
  const QByteArray& AsBytes() const { return FBytes; }  // vkBytes, and the bytes of untranslated text
  bool IsUntranslated() const { return FUntranslated; }
  bool AsBoolean() const { return FInteger != 0; }

  // The display text: empty for null; exact decimal digits for numbers, ISO dates and times.
  QString TextForm() const;

  bool operator==(const TValue& aOther) const;

private:
  static TValue Assigned(TValueKind aKind);  // a value of aKind, its payload still zero
  enum class TState { sUnassigned, sNull, sAssigned };
  TState FState = TState::sUnassigned;
  TValueKind FKind = TValueKind::vkText;
  std::int64_t FInteger = 0;  // vkInteger, vkDecimal (unscaled), vkBoolean
  int FScale = 0;
  double FFloat = 0;
  bool FSingle = false;
  bool FUntranslated = false;
  TTimestamp FTimestamp;
  QString FText;
  QByteArray FBytes;
};

// "yyyy-mm-dd" and "hh:nn:ss.zzz", zero-padded: the form of dates and times in literals
// and in the text form. A time with tenths of a millisecond takes a fourth fraction digit.
void AppendIsoDate(QString& aOut, const TDate& aDate);
void AppendIsoTime(QString& aOut, const TTime& aTime);

// The value of aText as a value of aKind, written as a person types it: integers and
// decimals with a dot ("-12.50"), floats also with an exponent ("1.5E-3"), ISO dates
// ("2024-01-31"), times ("13:45:00", a fraction of 1 to 4 digits optional, ".5" being half a second), timestamps (date, a blank or T, time),
// true or false, bytes as hexadecimal digits; text as it is. Blanks around are ignored but in
// text. False when aText does not have that form.
bool ValueFromText(const QString& aText, TValueKind aKind, TValue& aValue);
// The form ValueFromText expects for aKind, for messages.
QString ValueTextForm(TValueKind aKind);

// aText without the blanks and control characters (up to U+0020) at both ends.
QString TrimBlanks(const QString& aText);

// aText on one line and harmless to a terminal: CR, LF and tab as backslash-r, -n and -t,
// every other control character (C0, DEL, C1) as backslash-x and two hexadecimal digits.
QString PrintableText(const QString& aText);

}  // namespace Corvane
