#include "Corvane.IniFile.h"

#include <QStringDecoder>

namespace Corvane {

namespace {

// Blanks are spaces, tabs and every other control character, as the profile functions drop them.
bool IsBlank(QChar aChar) { return aChar.unicode() <= 0x20; }

QStringView TrimBlanks(QStringView aText) {
  qsizetype LStart = 0;
  qsizetype LEnd = aText.size();
  while (LStart < LEnd && IsBlank(aText[LStart])) ++LStart;
  while (LEnd > LStart && IsBlank(aText[LEnd - 1])) --LEnd;
  return aText.mid(LStart, LEnd - LStart);
}

QStringView Unquote(QStringView aValue) {
  if (aValue.size() >= 2) {
    const QChar LFirst = aValue.front();
    if ((LFirst == u'"' || LFirst == u'\'') && aValue.back() == LFirst) return aValue.mid(1, aValue.size() - 2);
  }
  return aValue;
}

QString Fold(QStringView aName) { return aName.toString().toCaseFolded(); }

}  // namespace

QString DecodeIniText(const QByteArray& aBytes) {
  if (aBytes.startsWith("\xEF\xBB\xBF")) {
    QStringDecoder LDecoder(QStringDecoder::Utf8);
    return LDecoder.decode(QByteArrayView(aBytes).sliced(3));
  }
  if (aBytes.startsWith("\xFF\xFE")) {
    QStringDecoder LDecoder(QStringDecoder::Utf16LE);
    return LDecoder.decode(QByteArrayView(aBytes).sliced(2));
  }
  if (aBytes.startsWith("\xFE\xFF")) {
    QStringDecoder LDecoder(QStringDecoder::Utf16BE);
    return LDecoder.decode(QByteArrayView(aBytes).sliced(2));
  }
  // Files edited on Windows are often in the ANSI code page: accept them rather than
  // mangling a path with accents into replacement characters.
  QStringDecoder LDecoder(QStringDecoder::Utf8);
  QString LText = LDecoder.decode(aBytes);
  if (LDecoder.hasError()) return QString::fromLatin1(aBytes);
  return LText;
}

TIniFile TIniFile::Parse(const QByteArray& aBytes) {
  TIniFile LIni;
  const QString LText = DecodeIniText(aBytes);
  const QStringView LAll(LText);

  TKeys* LSection = nullptr;  // keys before the first section header belong to no section
  qsizetype LPos = 0;
  const qsizetype LSize = LAll.size();
  while (LPos < LSize) {
    qsizetype LEnd = LPos;
    while (LEnd < LSize && LAll[LEnd] != u'\n' && LAll[LEnd] != u'\r') ++LEnd;
    const QStringView LLine = TrimBlanks(LAll.mid(LPos, LEnd - LPos));
    LPos = LEnd + 1;

    if (LLine.isEmpty() || LLine.front() == u';' || LLine.front() == u'#') continue;
    if (LLine.front() == u'[') {
      qsizetype LClose = LLine.indexOf(u']');
      if (LClose < 0) LClose = LLine.size();
      const QStringView LName = TrimBlanks(LLine.mid(1, LClose - 1));
      const QString LFolded = Fold(LName);
      if (!LIni.FSections.contains(LFolded)) LIni.FSectionNames.append(LName.toString());
      LSection = &LIni.FSections[LFolded];
      continue;
    }
    const qsizetype LEqual = LLine.indexOf(u'=');
    if (LEqual < 0 || LSection == nullptr) continue;
    const QStringView LKey = TrimBlanks(LLine.left(LEqual));
    if (LKey.isEmpty()) continue;
    const QString LFoldedKey = Fold(LKey);
    if (LSection->contains(LFoldedKey)) continue;
    LSection->insert(LFoldedKey, Unquote(TrimBlanks(LLine.mid(LEqual + 1))).toString());
  }
  return LIni;
}

bool TIniFile::HasSection(const QString& aSection) const { return FSections.contains(Fold(aSection)); }

bool TIniFile::HasKey(const QString& aSection, const QString& aKey) const {
  const auto LSection = FSections.constFind(Fold(aSection));
  return LSection != FSections.constEnd() && LSection->contains(Fold(aKey));
}

QString TIniFile::ReadString(const QString& aSection, const QString& aKey, const QString& aDefault) const {
  const auto LSection = FSections.constFind(Fold(aSection));
  if (LSection == FSections.constEnd()) return aDefault;
  const auto LValue = LSection->constFind(Fold(aKey));
  return LValue == LSection->constEnd() ? aDefault : *LValue;
}

}  // namespace Corvane
