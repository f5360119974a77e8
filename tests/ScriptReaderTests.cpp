// The script reader against the writer: every literal the writer makes reads back as the
// value it was made from, and a script is accepted only whole and in the writer's frame.
#include "Corvane.Literals.h"
#include "Corvane.ScriptFormat.h"
#include "Corvane.ScriptReader.h"

#include <QStringList>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace Corvane;

namespace {

// Random code points each set can hold: ASCII, Latin-1, the Windows-1252 extras, and for
// UTF-8 anything but surrogate halves, astral planes included.
QString RandomText(std::mt19937_64& aRandom, const QString& aCharacterSet, int aLength) {
  static const char16_t CWindowsExtras[] = {0x20AC, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030,
                                            0x0160, 0x2039, 0x0152, 0x017D, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x017E, 0x0178};
  QString LText;
  for (int I = 0; I < aLength; ++I) {
    const unsigned LPick = unsigned(aRandom() % 100);
    char32_t LCode = char32_t(aRandom() % 0x80);  // control characters, quotes and blanks included
    if (aCharacterSet == "ISO8859_1" && LPick < 40) LCode = char32_t(0x80 + aRandom() % 0x80);
    if (aCharacterSet == "WIN1252" && LPick < 20) LCode = char32_t(0xA0 + aRandom() % 0x60);
    if (aCharacterSet == "WIN1252" && LPick >= 20 && LPick < 35) LCode = CWindowsExtras[aRandom() % 27];
    if (aCharacterSet == "UTF8" && LPick < 40) {
      do LCode = char32_t(0x80 + aRandom() % 0x10FF80);
      while ((LCode >= 0xD800 && LCode <= 0xDFFF) || (LCode >= 0xFDD0 && LCode <= 0xFDEF) || (LCode & 0xFFFE) == 0xFFFE);
    }
    LText += QString::fromUcs4(&LCode, 1);
  }
  return LText;
}

struct TCase {
  TValue Value;
  TColumnType Type;
};

std::vector<TCase> RandomCases(std::mt19937_64& aRandom, const QString& aCharacterSet) {
  std::vector<TCase> LCases;
  auto LAdd = [&LCases](const TValue& aValue, TValueKind aKind, int aScale = 0, bool aSingle = false) {
    LCases.push_back({aValue, TColumnType{aKind, aScale, false, aSingle, false}});
  };
  // Text of CHARACTER SET NONE: any bytes, read as the data layer reads them for display.
  auto LUntranslated = [&LCases, &aRandom](TValueKind aKind, int aLength) {
    QByteArray LBytes(aLength, Qt::Uninitialized);
    for (char& LByte : LBytes) LByte = aRandom() % 3 ? char(0x20 + aRandom() % 0x5F) : char(aRandom());
    const QString LText = aRandom() % 2 ? QString::fromUtf8(LBytes) : QString::fromLatin1(LBytes);
    LCases.push_back({TValue::UntranslatedText(aKind, LBytes, LText), TColumnType{aKind, 0, false, false, true}});
  };
  for (const std::int64_t LValue : {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                                    std::int64_t(0), std::int64_t(-1)})
    LAdd(TValue::Integer(LValue), TValueKind::vkInteger);
  for (const double LValue : {0.1, 1e16, 1e17, 1e-5, 1e-4, -2.5e20, std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(), 0.0})
    LAdd(TValue::Float(LValue), TValueKind::vkFloat);
  // The exact form with a short mantissa reaches far exponents (found by the fuzzer).
  for (const double LValue : {-0.0, 3.3333333333333334E-301, -906834.63876448758, 4.9406564584124654E-324,
                              std::ldexp(-268435521.0, 981), std::ldexp(1.0, 1023)})
    LAdd(TValue::Float(LValue), TValueKind::vkFloat);
  for (const float LValue : {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::denorm_min(), -0.0f})
    LAdd(TValue::SingleFloat(LValue), TValueKind::vkFloat, 0, true);
  LAdd(TValue::Decimal(std::numeric_limits<std::int64_t>::min(), 18), TValueKind::vkDecimal, 18);
  LAdd(TValue::Decimal(10000, 4), TValueKind::vkDecimal, 4);
  for (int I = 0; I < 2000; ++I) {
    LAdd(TValue::Integer(std::int64_t(aRandom()) >> (aRandom() % 64)), TValueKind::vkInteger);
    const int LScale = 1 + int(aRandom() % 18);
    LAdd(TValue::Decimal(std::int64_t(aRandom()) >> (aRandom() % 64), LScale), TValueKind::vkDecimal, LScale);
    double LDouble;
    do {
      const std::uint64_t LBits = aRandom();
      std::memcpy(&LDouble, &LBits, sizeof LDouble);
    } while (!std::isfinite(LDouble) || LDouble == 0);
    LAdd(TValue::Float(LDouble), TValueKind::vkFloat);
    float LSingle;
    do {
      const std::uint32_t LBits = std::uint32_t(aRandom());
      std::memcpy(&LSingle, &LBits, sizeof LSingle);
    } while (!std::isfinite(LSingle) || LSingle == 0);
    LAdd(TValue::SingleFloat(LSingle), TValueKind::vkFloat, 0, true);
    LUntranslated(TValueKind::vkText, int(aRandom() % 30));
    const TDate LDate{1 + int(aRandom() % 9999), 1 + int(aRandom() % 12), 1 + int(aRandom() % 28)};
    const TTime LTime{int(aRandom() % 24), int(aRandom() % 60), int(aRandom() % 60), int(aRandom() % 1000)};
    LAdd(TValue::Date(LDate), TValueKind::vkDate);
    LAdd(TValue::Time(LTime), TValueKind::vkTime);
    LAdd(TValue::Timestamp({LDate, LTime}), TValueKind::vkTimestamp);
    LAdd(TValue::Text(RandomText(aRandom, aCharacterSet, int(aRandom() % 40))), TValueKind::vkText);
    if (I % 20 == 0) {
      LAdd(TValue::TextBlob(RandomText(aRandom, aCharacterSet, int(aRandom() % 7000))), TValueKind::vkTextBlob);
      QByteArray LBytes(qsizetype(aRandom() % 4500), Qt::Uninitialized);
      for (char& LByte : LBytes) LByte = char(aRandom());
      LAdd(TValue::Bytes(LBytes), TValueKind::vkBytes);
      LUntranslated(TValueKind::vkTextBlob, int(aRandom() % 5000));
    }
  }
  // Chunk edges: a surrogate pair at the 2000-unit boundary of a text BLOB, empty values.
  if (aCharacterSet == "UTF8")
    LAdd(TValue::TextBlob(QString(1999, u'a') + QString::fromUtf8("😀") + "b"), TValueKind::vkTextBlob);
  LAdd(TValue::TextBlob(QString()), TValueKind::vkTextBlob);
  LAdd(TValue::Bytes(QByteArray()), TValueKind::vkBytes);
  LAdd(TValue::Text(QString()), TValueKind::vkText);
  for (int LKind = 0; LKind <= int(TValueKind::vkBytes); ++LKind)
    LAdd(TValue::Null(TValueKind(LKind)), TValueKind(LKind), LKind == int(TValueKind::vkDecimal) ? 2 : 0);
  return LCases;
}

// Equal as values, and floats bit for bit (the sign of a zero included).
bool SameValue(const TValue& aRead, const TValue& aWritten) {
  return aRead == aWritten && aRead.IsUntranslated() == aWritten.IsUntranslated() &&
         (!aRead.IsAssigned() || aRead.Kind() != TValueKind::vkFloat || aRead.IsSingle() == aWritten.IsSingle());
}

}  // namespace

TEST(ScriptReader, EveryLiteralTheWriterMakesReadsBackAsItsValue) {
  std::mt19937_64 LRandom(20261209);
  for (const char* LSet : {"WIN1252", "UTF8", "ISO8859_1", "ASCII"}) {
    const TSqlLiterals LWriter(LSet);
    int LChecked = 0;
    for (const TCase& LCase : RandomCases(LRandom, LSet)) {
      const QString LLiteral = LWriter.Literal(LCase.Value, "F");
      const QByteArray LBytes = LLiteral.toLatin1();
      TScriptLiteral LRead;
      QString LError;
      ASSERT_EQ(ParseLiteral(LBytes.constData(), LBytes.size(), LRead, LError), LBytes.size())
          << LSet << " " << LLiteral.left(200).toStdString() << " " << LError.toStdString();
      const TValue LBack = LRead.ValueFor(LCase.Type, "F");
      ASSERT_TRUE(SameValue(LBack, LCase.Value))
          << LSet << " " << ValueKindName(LCase.Type.Kind).toStdString() << " " << LLiteral.left(200).toStdString()
          << " read as " << LBack.TextForm().left(200).toStdString();
      ++LChecked;
    }
    EXPECT_GT(LChecked, 16000) << LSet;
  }
  // The column decides what a number is; what it cannot hold exactly is refused.
  TScriptLiteral LNumber;
  QString LError;
  ASSERT_EQ(ParseLiteral("12.5", 4, LNumber, LError), 4);
  EXPECT_EQ(LNumber.ValueFor({TValueKind::vkDecimal, 3}, "F"), TValue::Decimal(12500, 3));
  EXPECT_EQ(LNumber.ValueFor({TValueKind::vkFloat}, "F"), TValue::Float(12.5));
  EXPECT_THROW(LNumber.ValueFor({TValueKind::vkInteger}, "F"), TCorvaneError);
  EXPECT_THROW(LNumber.ValueFor({TValueKind::vkText}, "F"), TCorvaneError);
  ASSERT_EQ(ParseLiteral("9223372036854775808", 19, LNumber, LError), 19);
  EXPECT_THROW(LNumber.ValueFor({TValueKind::vkInteger}, "F"), TCorvaneError);
  // A CHAR column does not count trailing blanks; text goes into OCTETS as its bytes.
  TScriptLiteral LText;
  ASSERT_EQ(ParseLiteral("_WIN1252 x'80412020'", 20, LText, LError), 20);
  EXPECT_EQ(LText.ValueFor({TValueKind::vkText, 0, true}, "F"), TValue::Text(QString::fromUtf8("€A")));
  EXPECT_EQ(LText.ValueFor({TValueKind::vkBytes}, "F"), TValue::Bytes(QByteArray("\x80\x41\x20\x20")));
  // Bytes the writer cannot have made, lower-case digits, odd digits and unknown sets are refused.
  for (const char* LBad : {"_UTF8 x'FF'", "_UTF8 x'c3a9'", "_UTF8 x'C3A'", "_KOI8R x'41'", "1.", "--1", "DATE '2024-01'",
                           "(CAST(_UTF8 x'' AS BLOB SUB_TYPE TEXT CHARACTER SET WIN1252))", "CAST(x'' AS BLOB SUB_TYPE 0) || x'1'"}) {
    TScriptLiteral LLiteral;
    const qsizetype LLength = qsizetype(std::strlen(LBad));
    EXPECT_NE(ParseLiteral(LBad, LLength, LLiteral, LError), LLength) << LBad;
  }
}

namespace {

QByteArray Script(const QStringList& aLines, const char* aEnd = "\r\n") {
  QByteArray LBytes;
  for (const QString& LLine : aLines) LBytes += LLine.toUtf8() + aEnd;
  return LBytes;
}

QStringList Header() {
  QStringList LLines;
  for (const QLatin1StringView LLine : ScriptFormat::CHeader) LLines << LLine;
  return LLines;
}

}  // namespace

TEST(ScriptReader, ScriptsAreReadWholeInTheWritersFrameOrRefused) {
  const TSqlLiterals LWriter("UTF8");
  const QString LBlob = LWriter.Literal(TValue::TextBlob(QString(30000, u'é')), "B");  // a statement of ~120 KB
  const QStringList LRecords = {
      "-- CIDADE | ID=1", "-- Referenciado por CLIENTE | ID=7",
      "UPDATE OR INSERT INTO \"CIDADE\" (\"ID\", \"NOME\", \"O\"\"BS\") VALUES (1, " +
          LWriter.Literal(TValue::Text(QString::fromUtf8("São Paulo, \"SP\"); --")), "N") + ", " + LBlob +
          ") MATCHING (\"ID\");",
      QString::fromUtf8("-- CLIENTE | ID=7, NOME=Zé\\r\\n"), "-- Registro principal selecionado para exportacao.",
      "UPDATE OR INSERT INTO \"CLIENTE\" (\"ID\", \"CIDADE\", \"DESDE\", \"LIMITE\", \"FOTO\") VALUES (7, 1, "
      "TIMESTAMP '2024-03-05 07:08:09.010', -0.05, CAST(x'' AS BLOB SUB_TYPE 0) || x'00FF10') MATCHING (\"ID\");"};
  const QStringList LWhole = Header() + LRecords + QStringList{"-- Registros exportados: 2", "COMMIT;"};

  for (const char* LEnd : {"\r\n", "\n"}) {
    const TSliceScript LScript = TSliceScript::Read(Script(LWhole, LEnd));
    ASSERT_EQ(LScript.Count(), 2);
    const TScriptRecord LFirst = LScript.Record(0);
    EXPECT_EQ(LFirst.Number, 1);
    EXPECT_EQ(LFirst.Line, 8);
    EXPECT_EQ(LFirst.Table, "CIDADE");
    EXPECT_EQ(LFirst.Columns, QStringList({"ID", "NOME", "O\"BS"}));
    EXPECT_EQ(LFirst.Matching, QStringList{"ID"});
    EXPECT_EQ(LFirst.Description, "CIDADE | ID=1");
    EXPECT_EQ(LFirst.Values[1].ValueFor({TValueKind::vkText}, "NOME"), TValue::Text(QString::fromUtf8("São Paulo, \"SP\"); --")));
    EXPECT_EQ(LFirst.Values[2].ValueFor({TValueKind::vkTextBlob}, "O\"BS").AsText().size(), 30000);
    const TScriptRecord LSecond = LScript.Record(1);
    EXPECT_EQ(LSecond.Description, QString::fromUtf8("CLIENTE | ID=7, NOME=Zé\\r\\n"));
    EXPECT_EQ(LSecond.Values[3].ValueFor({TValueKind::vkDecimal, 2}, "LIMITE"), TValue::Decimal(-5, 2));
    EXPECT_EQ(LSecond.Values[4].ValueFor({TValueKind::vkBytes}, "FOTO"), TValue::Bytes(QByteArray("\x00\xFF\x10", 3)));
  }
  EXPECT_EQ(TSliceScript::Read(Script(Header() + QStringList{"-- Registros exportados: 0", "COMMIT;"})).Count(), 0);
  // The note of a script that completes rows of foreign-key cycles, where the writer puts it.
  QStringList LNoted = LWhole;
  LNoted.insert(ScriptFormat::CNotesAt, ScriptFormat::CCycleNote);
  EXPECT_EQ(TSliceScript::Read(Script(LNoted)).Record(1).Line, 12);
  LNoted.move(ScriptFormat::CNotesAt, 0);
  EXPECT_THROW(TSliceScript::Read(Script(LNoted)), TScriptFormatError);
  // A table whose name reads like the count line is still a record.
  const TSliceScript LOdd = TSliceScript::Read(Script(
      Header() + QStringList{"-- Registros exportados: 1 | ID=1", "-- Registro principal selecionado para exportacao.",
                             "UPDATE OR INSERT INTO \"Registros exportados: 1\" (\"ID\") VALUES (1) MATCHING (\"ID\");",
                             "-- Registros exportados: 1", "COMMIT;"}));
  EXPECT_EQ(LOdd.Record(0).Table, "Registros exportados: 1");
  // Trailing empty lines after COMMIT do no harm.
  EXPECT_EQ(TSliceScript::Read(Script(LWhole) + "\r\n\r\n").Count(), 2);

  auto LRefused = [](const QByteArray& aBytes, const char* aWhy) {
    try {
      TSliceScript::Read(aBytes);
      ADD_FAILURE() << "accepted: " << aWhy;
    } catch (const TScriptFormatError& aError) {
      EXPECT_TRUE(aError.Message().startsWith("Arquivo nao e um script do Corvane: ")) << aError.Message().toStdString();
    }
  };
  LRefused(QByteArray(), "empty file");
  LRefused("SELECT 1 FROM RDB$DATABASE;\n", "other SQL");
  LRefused(Script(LWhole.mid(1)), "first header line missing");
  LRefused(Script(LWhole.mid(0, LWhole.size() - 2)), "count and COMMIT cut off");
  LRefused(Script(LWhole.mid(0, LWhole.size() - 1)), "COMMIT cut off");
  LRefused(Script(LWhole).chopped(200), "cut inside the last lines");
  LRefused(Script(LWhole.mid(0, 8)) + Script(LWhole.mid(11)), "a record dropped, count unchanged");
  QStringList LCount = LWhole;
  LCount[LCount.size() - 2] = "-- Registros exportados: 3";
  LRefused(Script(LCount), "count larger than the records");
  QStringList LOther = LWhole;
  LOther[7] = "DELETE FROM \"CIDADE\";";
  LRefused(Script(LOther), "a statement of another kind");
  LOther = LWhole;
  LOther[7].replace("VALUES (1, ", "VALUES (1 + 1, ");
  LRefused(Script(LOther), "an expression instead of a literal");
  LOther = LWhole;
  LOther[7].replace(") MATCHING (\"ID\");", ") MATCHING (\"ID\"); DROP TABLE \"CIDADE\";");
  LRefused(Script(LOther), "a second statement on the line");
  LRefused("\xEF\xBB\xBF" + Script(LWhole), "byte-order mark");
  LRefused(Script(LWhole).replace("Registro principal", "Registro\rprincipal"), "lone CR");
  LRefused(Script(LWhole).replace("ID=7", "ID=\xFF"), "bytes that are not UTF-8");
}
