#pragma once
// SQL text for the slice script: literals of typed values (single-line ASCII) and quoted
// identifiers.
#include "Corvane.Charsets.h"
#include "Corvane.Values.h"

#include <QString>
#include <memory>

namespace Corvane {

class TSqlLiterals {
public:
  // aCharacterSet: WIN1252, UTF8, ISO8859_1 or ASCII (upper case); anything else fails.
  explicit TSqlLiterals(const QString& aCharacterSet);

  const QString& CharacterSet() const { return FCharacterSet; }
  // BOOLEAN values as TRUE and FALSE. Off (the default): a BOOLEAN value has no literal.
  void SetBooleans(bool aEnabled) { FBooleans = aEnabled; }

  // The literal of a field value; aFieldName only serves the message of an unsupported kind.
  QString Literal(const TValue& aValue, const QString& aFieldName) const;
  // Appends the literal to aOut (the hot path of an export).
  void AppendLiteral(QString& aOut, const TValue& aValue, const QString& aFieldName) const;
  QString TextLiteral(const QString& aText) const;
  static QString QuoteName(const QString& aName);
  // Fails as QuoteName does for a name it cannot quote, without building the quoted text.
  static void CheckName(const QString& aName);

  // Pieces that need no character set, exposed for their own tests.
  static QString DecimalText(std::int64_t aUnscaled, int aScale);
  // The 17-significant-digit text of a float; its literal is this text only where the
  // server reads it back exactly (see AppendFloat).
  static QString FloatText(double aValue);

private:
  bool WritesItsBytes(const TValue& aValue) const;
  void AppendTextLiteral(QString& aOut, const QString& aText) const;
  QString FCharacterSet;
  std::unique_ptr<TTextEncoding> FTextEncoding;
  bool FBooleans = false;
};

}  // namespace Corvane
