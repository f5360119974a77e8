#pragma once
// Conversion between text and the four character sets a slice may use, through ICU
// converters that stop at the first character a set cannot represent. This is the one
// place that decides how bytes of a character set become text and back.
#include <QByteArray>
#include <QString>
#include <memory>

namespace Corvane {

class TTextEncoding {
public:
  // WIN1252, UTF8, ISO8859_1 or ASCII (exact, upper case); nullptr for any other name.
  static std::unique_ptr<TTextEncoding> ForCharacterSet(const QString& aName);
  ~TTextEncoding();
  TTextEncoding(const TTextEncoding&) = delete;
  TTextEncoding& operator=(const TTextEncoding&) = delete;

  const QString& Name() const { return FName; }
  int CodePage() const { return FCodePage; }

  // Encodes aText; false when some character cannot be represented (aBytes is then
  // unspecified). A lone UTF-16 surrogate half is never representable.
  bool TryEncode(const QString& aText, QByteArray& aBytes) const;
  // Decodes aBytes; bytes that are not valid in the set become U+FFFD.
  QString Decode(const QByteArray& aBytes) const;

private:
  TTextEncoding(const QString& aName, int aCodePage, const char* aIcuName);
  QString FName;
  int FCodePage;
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// The character set in which CHAR/VARCHAR items of sets other than UTF8, UNICODE_FSS and
// OCTETS, and text BLOBs of non-UTF8 connections, are decoded: this system has no ANSI
// code page, so it is the connection's own character set (WIN1252 when that is NONE, empty
// or unknown).
QString SingleByteDecodingSet(const QString& aConnectionCharacterSet);

}  // namespace Corvane
