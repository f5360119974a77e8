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
  QString LSectionName, LSectionFolded;
  int LLineNumber = 0;
  qsizetype LPos = 0;
  const qsizetype LSize = LAll.size();
  const auto LProblem = [&](const QString& aKey, const QString& aText) {
    LIni.FProblems.append(TIniProblem{LLineNumber, LSectionName, aKey, aText});
  };
  while (LPos < LSize) {
    qsizetype LEnd = LPos;
    while (LEnd < LSize && LAll[LEnd] != u'\n' && LAll[LEnd] != u'\r') ++LEnd;
    const QStringView LLine = TrimBlanks(LAll.mid(LPos, LEnd - LPos));
    // CR LF is one line end.
    if (LEnd + 1 < LSize && LAll[LEnd] == u'\r' && LAll[LEnd + 1] == u'\n') ++LEnd;
    LPos = LEnd + 1;
    ++LLineNumber;

    if (LLine.isEmpty() || LLine.front() == u';' || LLine.front() == u'#') continue;
    if (LLine.front() == u'[') {
      qsizetype LClose = LLine.indexOf(u']');
      if (LClose < 0 || LClose != LLine.size() - 1) {
        LSectionName.clear();
        LProblem({}, QStringLiteral("cabecalho de secao malformado: ") + LLine.toString());
      }
      if (LClose < 0) LClose = LLine.size();
      const QStringView LName = TrimBlanks(LLine.mid(1, LClose - 1));
      const QString LFolded = Fold(LName);
      LSectionName = LName.toString();
      LSectionFolded = LFolded;
      if (!LIni.FSections.contains(LFolded))
        LIni.FSectionNames.append(LName.toString());
      else
        LProblem({}, QStringLiteral("secao repetida"));
      LSection = &LIni.FSections[LFolded];
      continue;
    }
    const qsizetype LEqual = LLine.indexOf(u'=');
    const QStringView LKey = LEqual < 0 ? QStringView() : TrimBlanks(LLine.left(LEqual));
    if (LKey.isEmpty()) {
      LProblem({}, QStringLiteral("linha sem CHAVE=VALOR: ") + LLine.toString());
      continue;
    }
    if (LSection == nullptr) {
      LProblem(LKey.toString(), QStringLiteral("chave fora de qualquer secao"));
      continue;
    }
    const QString LFoldedKey = Fold(LKey);
    if (LSection->contains(LFoldedKey)) {
      LProblem(LKey.toString(), QStringLiteral("chave repetida"));
      continue;
    }
    LSection->insert(LFoldedKey, Unquote(TrimBlanks(LLine.mid(LEqual + 1))).toString());
    LIni.FKeyNames[LSectionFolded].append(LKey.toString());
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
