#include "Corvane.Charsets.h"

#include "Corvane.Errors.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <vector>

namespace Corvane {

namespace {

// Stops at every character the set cannot hold. ICU's own stop callback lets unmappable
// default-ignorable characters (zero-width space, joiners, variation selectors, U+FEFF)
// vanish without an error, which would change a key value or an exported text unnoticed.
// Leaving the error code as the converter set it ends the conversion.
void StopAtEveryUnmappable(const void*, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32,
                           UConverterCallbackReason, UErrorCode*) {}

}  // namespace

struct TTextEncoding::TImpl {
  UConverter* FConverter = nullptr;
  ~TImpl() {
    if (FConverter) ucnv_close(FConverter);
  }
};

TTextEncoding::TTextEncoding(const QString& aName, int aCodePage, const char* aIcuName)
    : FName(aName), FCodePage(aCodePage), FImpl(std::make_unique<TImpl>()) {
  UErrorCode LError = U_ZERO_ERROR;
  FImpl->FConverter = ucnv_open(aIcuName, &LError);
  if (U_FAILURE(LError) || !FImpl->FConverter)
    throw TCorvaneError("Conversor de caracteres indisponivel: " + QString::fromLatin1(aIcuName));
  // Encoding must stop at the first unrepresentable character instead of writing a
  // substitute: a silently replaced character would corrupt the exported data.
  LError = U_ZERO_ERROR;
  ucnv_setFromUCallBack(FImpl->FConverter, StopAtEveryUnmappable, nullptr, nullptr, nullptr, &LError);
  // Decoding never fails: invalid bytes become U+FFFD (some single-byte converters would
  // otherwise substitute U+001A).
  LError = U_ZERO_ERROR;
  static const UChar LReplacement[] = {0xFFFD};
  ucnv_setSubstString(FImpl->FConverter, LReplacement, 1, &LError);
  LError = U_ZERO_ERROR;
  ucnv_setToUCallBack(FImpl->FConverter, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &LError);
}

TTextEncoding::~TTextEncoding() = default;

std::unique_ptr<TTextEncoding> TTextEncoding::ForCharacterSet(const QString& aName) {
  // "windows-1252" in ICU is the real Microsoft table (0x80 is the euro sign), unlike
  // ISO-8859-1 whose 0x80..0x9F are C1 controls.
  if (aName == QLatin1String("WIN1252"))
    return std::unique_ptr<TTextEncoding>(new TTextEncoding(aName, 1252, "windows-1252"));
  if (aName == QLatin1String("UTF8"))
    return std::unique_ptr<TTextEncoding>(new TTextEncoding(aName, 65001, "UTF-8"));
  if (aName == QLatin1String("ISO8859_1"))
    return std::unique_ptr<TTextEncoding>(new TTextEncoding(aName, 28591, "ISO-8859-1"));
  if (aName == QLatin1String("ASCII"))
    return std::unique_ptr<TTextEncoding>(new TTextEncoding(aName, 20127, "US-ASCII"));
  return nullptr;
}

bool TTextEncoding::TryEncode(const QString& aText, QByteArray& aBytes) const {
  const qsizetype LLength = aText.size();
  const char16_t* LUnits = reinterpret_cast<const char16_t*>(aText.utf16());
  // Most text is plain ASCII, which all four sets write byte for byte.
  qsizetype LIndex = 0;
  while (LIndex < LLength && LUnits[LIndex] < 0x80) ++LIndex;
  if (LIndex == LLength) {
    aBytes.resize(LLength);
    char* LOut = aBytes.data();
    for (qsizetype I = 0; I < LLength; ++I) LOut[I] = char(LUnits[I]);
    return true;
  }
  if (LLength > qsizetype(INT32_MAX / 4)) return false;
  UConverter* LConverter = FImpl->FConverter;
  const qsizetype LCapacity = qsizetype(UCNV_GET_MAX_BYTES_FOR_STRING(LLength, ucnv_getMaxCharSize(LConverter)));
  aBytes.resize(LCapacity);
  UErrorCode LError = U_ZERO_ERROR;
  // ucnv_fromUChars resets the converter and flushes, so a dangling high surrogate at the
  // end is reported as an error rather than silently kept for a next call.
  const int32_t LWritten = ucnv_fromUChars(LConverter, aBytes.data(), int32_t(LCapacity),
                                           reinterpret_cast<const UChar*>(LUnits), int32_t(LLength), &LError);
  if (U_FAILURE(LError)) {
    ucnv_reset(LConverter);
    return false;
  }
  aBytes.resize(LWritten);
  return true;
}

QString TTextEncoding::Decode(const QByteArray& aBytes) const {
  const qsizetype LLength = aBytes.size();
  const unsigned char* LIn = reinterpret_cast<const unsigned char*>(aBytes.constData());
  qsizetype LIndex = 0;
  while (LIndex < LLength && LIn[LIndex] < 0x80) ++LIndex;
  if (LIndex == LLength) return QString::fromLatin1(aBytes);
  if (LLength > qsizetype(INT32_MAX / 2 - 1)) return QString(QChar(0xFFFD));
  UConverter* LConverter = FImpl->FConverter;
  // Every byte yields at most two UTF-16 units in these sets.
  QString LText(LLength * 2 + 1, Qt::Uninitialized);
  UErrorCode LError = U_ZERO_ERROR;
  const int32_t LWritten = ucnv_toUChars(LConverter, reinterpret_cast<UChar*>(LText.data()), int32_t(LText.size()),
                                         aBytes.constData(), int32_t(LLength), &LError);
  if (U_FAILURE(LError)) {
    ucnv_reset(LConverter);
    return QString(QChar(0xFFFD));
  }
  LText.truncate(LWritten);
  return LText;
}

QString SingleByteDecodingSet(const QString& aConnectionCharacterSet) {
  const QString LName = aConnectionCharacterSet.trimmed().toUpper();
  if (LName == QLatin1String("WIN1252") || LName == QLatin1String("ISO8859_1") || LName == QLatin1String("ASCII"))
    return LName;
  return QStringLiteral("WIN1252");
}

}  // namespace Corvane
