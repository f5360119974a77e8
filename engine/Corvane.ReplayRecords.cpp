#include "Corvane.ReplayRecords.h"

#include <QCryptographicHash>
#include <cstring>

namespace Corvane::Replay {

void RecordFailure(const TPending& aRecord, const QString& aMessage) {
  throw TCorvaneError("Registro " + QString::number(aRecord.Index + 1) + " (" + aRecord.Description +
                      ") falhou, nada foi gravado: " + aMessage);
}

bool SameValue(const TValue& aLeft, const TValue& aRight, const TColumnType& aType) {
  if (aLeft.IsNull() || aRight.IsNull()) return aLeft.IsNull() && aRight.IsNull();
  if (aLeft.Kind() != aRight.Kind()) return false;
  switch (aLeft.Kind()) {
    case TValueKind::vkFloat:
      return aLeft.AsFloat() == aRight.AsFloat();
    case TValueKind::vkText:
      if (aLeft.IsUntranslated() || aRight.IsUntranslated()) {
        QByteArrayView LLeft(aLeft.AsBytes()), LRight(aRight.AsBytes());
        if (aType.Fixed) {
          while (LLeft.endsWith(' ')) LLeft.chop(1);
          while (LRight.endsWith(' ')) LRight.chop(1);
        }
        return aLeft.IsUntranslated() == aRight.IsUntranslated() && LLeft == LRight;
      }
      if (aType.Fixed) {
        QStringView LLeft(aLeft.AsText()), LRight(aRight.AsText());
        while (LLeft.endsWith(u' ')) LLeft.chop(1);
        while (LRight.endsWith(u' ')) LRight.chop(1);
        return LLeft == LRight;
      }
      return aLeft.AsText() == aRight.AsText();
    default:
      return aLeft == aRight;
  }
}

QString Shown(const TValue& aValue) {
  if (aValue.IsNull()) return QStringLiteral("NULL");
  const bool LBlob =
      aValue.Kind() == TValueKind::vkTextBlob || (aValue.Kind() == TValueKind::vkBytes && aValue.AsBytes().size() > 32);
  if (LBlob) {
    const QByteArray LBytes = aValue.Kind() == TValueKind::vkTextBlob && !aValue.IsUntranslated()
                                  ? aValue.AsText().toUtf8()
                                  : aValue.AsBytes();
    return "BLOB de " + QString::number(LBytes.size()) + " bytes (sha1 " +
           QString::fromLatin1(QCryptographicHash::hash(LBytes, QCryptographicHash::Sha1).toHex().left(8)) + ")";
  }
  QString LText = aValue.TextForm();
  if (LText.size() > 60) LText = LText.left(57) + QStringLiteral("...");
  return PrintableText(LText);
}

void AppendKeyPart(QString& aKey, const TValue& aValue) {
  if (aValue.IsNull()) {
    aKey += QLatin1String("n;");
    return;
  }
  QString LText;
  if (aValue.Kind() == TValueKind::vkFloat) {
    const double LValue = aValue.AsFloat() + 0.0;
    std::uint64_t LBits;
    std::memcpy(&LBits, &LValue, sizeof LBits);
    LText = QString::number(LBits, 16);
  } else if (aValue.IsUntranslated()) {
    QByteArray LBytes = aValue.AsBytes();
    while (LBytes.endsWith(' ')) LBytes.chop(1);
    LText = QString::fromLatin1(LBytes.toHex());
  } else {
    LText = aValue.TextForm();
    if (aValue.Kind() == TValueKind::vkText)
      while (LText.endsWith(u' ')) LText.chop(1);
  }
  aKey +=
      QString::number(int(aValue.Kind())) + QLatin1Char(':') + QString::number(LText.size()) + QLatin1Char(':') + LText;
}

QString CatalogueName(const TValue& aValue) {
  QString LName = aValue.IsNull() ? QString() : aValue.AsText();
  while (LName.endsWith(u' ')) LName.chop(1);
  return LName;
}

TValue Carried(const TValue& aValue, bool aWide) {
  if (!aWide || aValue.IsNull()) return aValue;
  if (aValue.Kind() == TValueKind::vkText) return TValue::TextBlob(aValue.AsText());
  if (aValue.Kind() == TValueKind::vkTextBlob) return TValue::Text(aValue.AsText());
  return aValue;
}

}  // namespace Corvane::Replay
