#pragma once
// What the fuzz targets assert about the four parsers and renderers that read untrusted
// text: the INI reader, the comma list of relation columns, the named-parameter parser and
// the literal renderer. Each check takes raw bytes and returns an empty text when the
// result is acceptable, or a description of the broken property. The libFuzzer targets
// abort on a description; the normal suite replays the corpus and every crash file kept
// in tests/fuzz/regressions through the same checks.
#include "Corvane.Charsets.h"
#include "Corvane.Database.h"
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "Corvane.IniFile.h"
#include "Corvane.Literals.h"
#include "Corvane.ScriptFormat.h"
#include "Corvane.ScriptReader.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace Corvane::Fuzz {

// Reads typed pieces off the fuzzer's bytes; past the end everything reads as zero.
class TFuzzReader {
public:
  TFuzzReader(const std::uint8_t* aData, std::size_t aSize) : FData(aData), FSize(aSize) {}
  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  std::uint64_t Bits(int aBytes) {
    std::uint64_t LValue = 0;
    for (int I = 0; I < aBytes; ++I) LValue = (LValue << 8) | Byte();
    return LValue;
  }
  std::int64_t Int64() { return static_cast<std::int64_t>(Bits(8)); }
  // Small numbers most of the time (they reach the interesting paddings), any int now and then.
  int Int() {
    const std::uint8_t LMode = Byte();
    if (LMode < 200) return int(LMode) - 20;
    return static_cast<int>(static_cast<std::uint32_t>(Bits(4)));
  }
  double Double() {
    const std::uint64_t LBits = Bits(8);
    double LValue;
    std::memcpy(&LValue, &LBits, sizeof LValue);
    return LValue;
  }
  QByteArray Rest() {
    const QByteArray LBytes(reinterpret_cast<const char*>(FData + FPos), qsizetype(FSize - FPos));
    FPos = FSize;
    return LBytes;
  }
  // The rest as text: raw UTF-16 units (lone surrogates included), UTF-8 or Latin-1.
  QString Text() {
    const std::uint8_t LMode = Byte() % 3;
    const QByteArray LBytes = Rest();
    if (LMode == 0)
      return QString(reinterpret_cast<const QChar*>(LBytes.constData()), LBytes.size() / 2);
    if (LMode == 1) return QString::fromUtf8(LBytes);
    return QString::fromLatin1(LBytes);
  }

private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

inline std::string Describe(const QString& aWhat, const QString& aDetail) {
  return (aWhat + QLatin1String(": ") + aDetail).toStdString();
}

// ---------------------------------------------------------------------------------------
// INI reader: any bytes parse; every section it reports is found again, once.

inline std::string CheckIniFile(const std::uint8_t* aData, std::size_t aSize) {
  const QByteArray LBytes(reinterpret_cast<const char*>(aData), qsizetype(aSize));
  const TIniFile LIni = TIniFile::Parse(LBytes);
  QSet<QString> LFolded;
  for (const QString& LSection : LIni.Sections()) {
    if (!LIni.HasSection(LSection)) return Describe("secao listada e nao encontrada", LSection);
    if (LFolded.contains(LSection.toCaseFolded())) return Describe("secao listada duas vezes", LSection);
    LFolded.insert(LSection.toCaseFolded());
    // A key that cannot exist (names are stored without blanks at their ends) gives the default.
    if (LIni.ReadString(LSection, QStringLiteral(" \x01"), QStringLiteral("padrao")) != QLatin1String("padrao"))
      return Describe("chave inexistente sem o valor padrao", LSection);
  }
  const TIniFile LAgain = TIniFile::Parse(LBytes);
  if (LAgain.Sections() != LIni.Sections()) return "leitura nao deterministica";
  return {};
}

// ---------------------------------------------------------------------------------------
// Comma lists of column names: quoting every item and joining them gives back the items.

inline QString QuoteListItem(const QString& aItem) {
  QString LResult = aItem;
  LResult.replace(QLatin1Char('"'), QLatin1String("\"\""));
  return QLatin1Char('"') + LResult + QLatin1Char('"');
}

inline std::string CheckNameList(const std::uint8_t* aData, std::size_t aSize) {
  TFuzzReader LReader(aData, aSize);
  const QString LList = LReader.Text();
  const QStringList LItems = ParseNameList(LList);
  if (LList.isEmpty() != LItems.isEmpty()) return Describe("lista vazia inconsistente", LList);
  if (LItems.size() > LList.size() + 1) return Describe("itens demais", LList);
  QStringList LQuoted;
  for (const QString& LItem : LItems) LQuoted << QuoteListItem(LItem);
  const QStringList LAgain = ParseNameList(LQuoted.join(QLatin1Char(',')));
  if (LAgain != LItems) return Describe("itens citados nao voltam iguais", LQuoted.join(QLatin1Char(',')));
  return {};
}

// ---------------------------------------------------------------------------------------
// Named parameters: each marker becomes one '?', names are whole identifiers, and the
// positional text holds no marker any more.

inline bool IsParameterName(const QString& aName) {
  if (aName.isEmpty()) return false;
  for (const QChar LChar : aName) {
    const char16_t LUnit = LChar.unicode();
    if (!((LUnit >= u'A' && LUnit <= u'Z') || (LUnit >= u'a' && LUnit <= u'z') || (LUnit >= u'0' && LUnit <= u'9') ||
          LUnit == u'_'))
      return false;
  }
  return true;
}

inline std::string CheckNamedSql(const std::uint8_t* aData, std::size_t aSize) {
  TFuzzReader LReader(aData, aSize);
  const QString LSql = LReader.Text();
  const TNamedSql LParsed = ParseNamedSql(LSql);
  for (const QString& LName : LParsed.Names)
    if (!IsParameterName(LName)) return Describe("nome de parametro invalido", LName);
  if (LParsed.Positional.count(QLatin1Char('?')) != LSql.count(QLatin1Char('?')) + LParsed.Names.size())
    return Describe("marcadores e '?' nao conferem", LSql);
  const TNamedSql LAgain = ParseNamedSql(LParsed.Positional);
  if (!LAgain.Names.isEmpty() || LAgain.Positional != LParsed.Positional)
    return Describe("texto posicional ainda tem marcadores", LParsed.Positional);
  return {};
}

// ---------------------------------------------------------------------------------------
// Literals: an error with one of the renderer's messages, or one line of printable ASCII
// that stands for the value.

inline const char* const CCharacterSets[] = {"WIN1252", "UTF8", "ISO8859_1", "ASCII"};
inline const QString CFuzzField = QStringLiteral("CAMPO");

inline bool IsOneLineAscii(const QString& aText) {
  if (aText.isEmpty()) return false;
  for (const QChar LChar : aText)
    if (LChar.unicode() < 0x20 || LChar.unicode() > 0x7E) return false;
  return true;
}

inline bool KnownLiteralError(const QString& aMessage, const QString& aCharacterSet) {
  return aMessage == "Texto nao representavel no charset " + aCharacterSet + "." ||
         aMessage == "Valor de ponto flutuante nao finito no campo " + CFuzzField + "." ||
         aMessage == "Tipo nao suportado no campo " + CFuzzField ||
         aMessage == "Fracao de segundo invalida no campo " + CFuzzField + ".";
}

// The text of _SET x'HEX' decoded in its set; nothing when the form is different.
inline std::optional<QString> DecodeTextLiteral(const QString& aLiteral, const QString& aCharacterSet) {
  const QString LPrefix = QLatin1Char('_') + aCharacterSet + QLatin1String(" x'");
  if (!aLiteral.startsWith(LPrefix) || !aLiteral.endsWith(QLatin1Char('\''))) return {};
  const QString LHex = aLiteral.mid(LPrefix.size(), aLiteral.size() - LPrefix.size() - 1);
  if (LHex.size() % 2 != 0) return {};
  const QByteArray LBytes = QByteArray::fromHex(LHex.toLatin1());
  if (LBytes.size() * 2 != LHex.size()) return {};
  return TTextEncoding::ForCharacterSet(aCharacterSet)->Decode(LBytes);
}

inline std::string CheckLiteral(const std::uint8_t* aData, std::size_t aSize) {
  TFuzzReader LReader(aData, aSize);
  const QString LCharacterSet = QLatin1String(CCharacterSets[LReader.Byte() % 4]);
  const std::uint8_t LKind = LReader.Byte() % 11;
  TValue LValue;
  try {
    switch (LKind) {
      case 0: LValue = TValue::Integer(LReader.Int64()); break;
      case 1: {
        const std::int64_t LUnscaled = LReader.Int64();
        LValue = TValue::Decimal(LUnscaled, LReader.Int());
        break;
      }
      case 2: LValue = TValue::Float(LReader.Double()); break;
      case 3: LValue = TValue::Date(TDate{LReader.Int(), LReader.Int(), LReader.Int()}); break;
      case 4: LValue = TValue::Time(TTime{LReader.Int(), LReader.Int(), LReader.Int(), LReader.Int()}); break;
      case 5: {
        const TDate LDate{LReader.Int(), LReader.Int(), LReader.Int()};
        LValue = TValue::Timestamp(TTimestamp{LDate, TTime{LReader.Int(), LReader.Int(), LReader.Int(), LReader.Int()}});
        break;
      }
      case 6: LValue = TValue::Text(LReader.Text()); break;
      case 7: LValue = TValue::TextBlob(LReader.Text()); break;
      case 8: LValue = TValue::Bytes(LReader.Rest()); break;
      case 9: LValue = TValue::Boolean(LReader.Byte() & 1); break;
      default: LValue = TValue::Null(static_cast<TValueKind>(LReader.Byte() % 10)); break;
    }
  } catch (const TArgumentError& aError) {
    // The one refusal of the value itself: a decimal scale outside 0..18.
    if (LKind == 1 && aError.Message().startsWith(QLatin1String("Escala decimal invalida: "))) return {};
    return Describe("erro inesperado ao criar o valor", aError.Message());
  }

  QString LLiteral;
  try {
    LLiteral = TSqlLiterals(LCharacterSet).Literal(LValue, CFuzzField);
  } catch (const TCorvaneError& aError) {
    if (!KnownLiteralError(aError.Message(), LCharacterSet)) return Describe("mensagem desconhecida", aError.Message());
    return {};
  }
  if (!IsOneLineAscii(LLiteral)) return Describe("literal fora de uma linha ASCII", LLiteral.left(200));

  // Values whose literal can be read back must come back equal.
  if (LValue.IsNull()) return LLiteral == QLatin1String("NULL") ? std::string() : Describe("nulo", LLiteral);
  switch (LValue.Kind()) {
    case TValueKind::vkInteger:
      if (LLiteral != QString::number(LValue.AsInteger())) return Describe("inteiro", LLiteral);
      break;
    case TValueKind::vkFloat: {
      // Decimal text, or the exact form "M * POWER(2E0, K)".
      const QByteArray LText = LLiteral.toLatin1();
      char* LEnd = nullptr;
      double LBack = std::strtod(LText.constData(), &LEnd);
      if (std::strncmp(LEnd, " * POWER(2E0, ", 14) == 0) {
        char* LExponentEnd = nullptr;
        const long LExponent = std::strtol(LEnd + 14, &LExponentEnd, 10);
        LBack = std::ldexp(LBack, int(LExponent));
        LEnd = *LExponentEnd == ')' ? LExponentEnd + 1 : LExponentEnd;
      }
      const double LExpected = LValue.AsFloat();
      if (*LEnd != '\0' || std::memcmp(&LBack, &LExpected, sizeof LBack) != 0)
        return Describe("ponto flutuante nao volta igual", LLiteral);
      break;
    }
    case TValueKind::vkText:
      if (DecodeTextLiteral(LLiteral, LCharacterSet) != LValue.AsText())
        return Describe("texto nao volta igual", LLiteral.left(200));
      break;
    default: break;
  }
  return {};
}

// ---------------------------------------------------------------------------------------
// Script reader: whatever the bytes, a script is read or refused with the reader's message,
// and a literal the writer makes reads back as its value for a column of its kind.

inline std::string CheckReadValues(const TScriptLiteral& aLiteral) {
  // A literal may go to a column of any kind: it fits, or the reader says it does not.
  for (int LKind = 0; LKind <= int(TValueKind::vkBoolean); ++LKind)
    for (const bool LFlag : {false, true}) {
      try {
        aLiteral.ValueFor(TColumnType{TValueKind(LKind), LFlag ? 4 : 0, LFlag, LFlag, LFlag}, CFuzzField);
      } catch (const TCorvaneError& aError) {
        if (!aError.Message().startsWith(QLatin1String("Valor ")))
          return Describe("mensagem desconhecida do leitor", aError.Message());
      }
    }
  return {};
}

inline std::string CheckScriptReader(const std::uint8_t* aData, std::size_t aSize) {
  TFuzzReader LReader(aData, aSize);
  const std::uint8_t LMode = LReader.Byte() % 3;
  if (LMode == 0) {
    // A whole script after the writer's header, so that the records are reached.
    QByteArray LBytes;
    for (const QLatin1StringView LLine : ScriptFormat::CHeader) LBytes += QByteArray(LLine.data(), LLine.size()) + "\r\n";
    LBytes += LReader.Rest();
    try {
      const TSliceScript LScript = TSliceScript::Read(LBytes);
      for (int I = 0; I < LScript.Count(); ++I) {
        const TScriptRecord LRecord = LScript.Record(I);
        if (LRecord.Columns.size() != qsizetype(LRecord.Values.size()) || LRecord.Matching.isEmpty())
          return Describe("registro aceito sem forma", LRecord.Table);
        for (const TScriptLiteral& LLiteral : LRecord.Values) {
          const std::string LProblem = CheckReadValues(LLiteral);
          if (!LProblem.empty()) return LProblem;
        }
      }
    } catch (const TScriptFormatError& aError) {
      if (!aError.Message().startsWith(QLatin1String("Arquivo nao e um script do Corvane: ")))
        return Describe("recusa com mensagem desconhecida", aError.Message());
    }
    return {};
  }
  if (LMode == 1) {
    const QByteArray LBytes = LReader.Rest();
    TScriptLiteral LLiteral;
    QString LError;
    const qsizetype LTaken = ParseLiteral(LBytes.constData(), LBytes.size(), LLiteral, LError);
    if (LTaken > LBytes.size()) return "literal alem do texto";
    if (LTaken < 0) return LError.isEmpty() ? "recusa sem motivo" : std::string();
    return CheckReadValues(LLiteral);
  }
  // A value as an export meets it, written by the writer and read back.
  const QString LCharacterSet = QLatin1String(CCharacterSets[LReader.Byte() % 4]);
  const std::uint8_t LKind = LReader.Byte() % 12;
  TValue LValue;
  TColumnType LType;
  try {
    switch (LKind) {
      case 0: LValue = TValue::Integer(LReader.Int64()); break;
      case 1: {
        const std::int64_t LUnscaled = LReader.Int64();
        LValue = TValue::Decimal(LUnscaled, LReader.Int());
        LType.Scale = LValue.AsDecimal().Scale;
        break;
      }
      case 2: LValue = TValue::Float(LReader.Double()); break;
      case 3: {
        const double LDouble = LReader.Double();
        LValue = TValue::SingleFloat(float(LDouble));
        LType.SinglePrecision = true;
        break;
      }
      case 4: LValue = TValue::Date(TDate{LReader.Int(), LReader.Int(), LReader.Int()}); break;
      case 5: LValue = TValue::Time(TTime{LReader.Int(), LReader.Int(), LReader.Int(), LReader.Int()}); break;
      case 6: {
        const TDate LDate{LReader.Int(), LReader.Int(), LReader.Int()};
        LValue = TValue::Timestamp(TTimestamp{LDate, TTime{LReader.Int(), LReader.Int(), LReader.Int(), LReader.Int()}});
        break;
      }
      case 7: LValue = TValue::Text(LReader.Text()); break;
      case 8: LValue = TValue::TextBlob(LReader.Text()); break;
      case 9: LValue = TValue::Bytes(LReader.Rest()); break;
      case 10: {
        // Text of CHARACTER SET NONE: its bytes, read for display one way or another.
        const bool LBlob = LReader.Byte() & 1;
        const bool LUtf8 = LReader.Byte() & 1;
        const QByteArray LBytes = LReader.Rest();
        LValue = TValue::UntranslatedText(LBlob ? TValueKind::vkTextBlob : TValueKind::vkText, LBytes,
                                          LUtf8 ? QString::fromUtf8(LBytes) : QString::fromLatin1(LBytes));
        LType.Untranslated = true;
        break;
      }
      default: LValue = TValue::Null(static_cast<TValueKind>(LReader.Byte() % 9)); break;
    }
  } catch (const TArgumentError& aError) {
    if (LKind == 1 && aError.Message().startsWith(QLatin1String("Escala decimal invalida: "))) return {};
    return Describe("erro inesperado ao criar o valor", aError.Message());
  }
  LType.Kind = LValue.Kind();
  QString LLiteral;
  try {
    LLiteral = TSqlLiterals(LCharacterSet).Literal(LValue, CFuzzField);
  } catch (const TCorvaneError& aError) {
    return KnownLiteralError(aError.Message(), LCharacterSet) ? std::string()
                                                              : Describe("mensagem desconhecida", aError.Message());
  }
  const QByteArray LBytes = LLiteral.toLatin1();
  TScriptLiteral LRead;
  QString LError;
  if (ParseLiteral(LBytes.constData(), LBytes.size(), LRead, LError) != LBytes.size())
    return Describe("literal do escritor nao lido", LLiteral.left(200) + QLatin1String(" ") + LError);
  TValue LBack;
  try {
    LBack = LRead.ValueFor(LType, CFuzzField);
  } catch (const TCorvaneError& aError) {
    return Describe("literal do escritor recusado", LLiteral.left(200) + QLatin1String(" ") + aError.Message());
  }
  // Floats compare bit for bit here (TValue's equality does), the sign of zero included.
  if (!(LBack == LValue) || LBack.IsUntranslated() != LValue.IsUntranslated() ||
      (LValue.IsAssigned() && LValue.Kind() == TValueKind::vkFloat && LBack.IsSingle() != LValue.IsSingle()))
    return Describe("valor nao volta igual", LLiteral.left(200) + QLatin1String(" -> ") + LBack.TextForm().left(200));
  return {};
}

}  // namespace Corvane::Fuzz
