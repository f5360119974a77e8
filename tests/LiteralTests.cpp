// Literal rendering: every literal is one line of ASCII and stands exactly for its value.
#include "Corvane.Errors.h"
#include "Corvane.Literals.h"

#include <gtest/gtest.h>
#include <limits>

using namespace Corvane;

namespace {

std::string Lit(const QString& aCharset, const TValue& aValue) {
  return TSqlLiterals(aCharset).Literal(aValue, "F").toStdString();
}

std::string ErrorOf(const std::function<void()>& aCall) {
  try {
    aCall();
  } catch (const TCorvaneError& LError) {
    return LError.Message().toStdString();
  }
  return "<no error>";
}

}  // namespace

TEST(Literals, NullOfEveryKindIsNull) {
  for (auto LKind : {TValueKind::vkInteger, TValueKind::vkBoolean, TValueKind::vkBytes, TValueKind::vkTextBlob,
                     TValueKind::vkFloat})
    EXPECT_EQ(Lit("WIN1252", TValue::Null(LKind)), "NULL");
}

TEST(Literals, BooleanNonFiniteAndMissingValuesAreRefused) {
  EXPECT_EQ(ErrorOf([] { Lit("UTF8", TValue::Boolean(true)); }), "Tipo nao suportado no campo F");
  EXPECT_EQ(ErrorOf([] { Lit("UTF8", TValue()); }), "Campo sem valor: F.");
  EXPECT_EQ(ErrorOf([] { Lit("UTF8", TValue::Float(std::numeric_limits<double>::infinity())); }),
            "Valor de ponto flutuante nao finito no campo F.");
  EXPECT_EQ(ErrorOf([] { Lit("UTF8", TValue::Float(std::nan(""))); }),
            "Valor de ponto flutuante nao finito no campo F.");
}

TEST(Literals, IntegersAndDecimalsAreExact) {
  EXPECT_EQ(Lit("UTF8", TValue::Integer(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(Lit("UTF8", TValue::Integer(0)), "0");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(1250, 2)), "12.5");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(10000, 2)), "100");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(-50, 3)), "-0.05");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(0, 4)), "0");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(10000, 4)), "1");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(-1, 4)), "-0.0001");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(123456789012345678, 2)), "1234567890123456.78");
  EXPECT_EQ(Lit("UTF8", TValue::Decimal(std::numeric_limits<std::int64_t>::min(), 18)),
            "-9.223372036854775808");
}

// The binary64 nearest to 0.00001 lies 8E-22 above it, so seventeen digits show the ...01.
// Where the server would not read the seventeen digits back exactly (the smallest subnormal,
// negative zero) the value is written as an exact integer times a power of two.
TEST(Literals, FloatsUseSeventeenDigitsAndPlainOrScientificForm) {
  const std::pair<double, const char*> LCases[] = {
      {0.5, "0.5"},       {100, "100"},       {0.1, "0.10000000000000001"},
      {1e16, "10000000000000000"},            {1e17, "1E17"},
      {0.0001, "0.0001"}, {0.00001, "1.0000000000000001E-5"},  {-2.5e20, "-2.5E20"},
      {0.0, "0"},         {-0.0, "-0E0"},     {double(0.1f), "0.10000000149011612"},
      {123.456, "123.456"},                   {0x1p-20, "9.5367431640625E-7"},
      {12345678901234567890.0, "1.2345678901234567E19"},
      {5e-324, "1 * POWER(2E0, -1074)"},      {-1.7976931348623157e308, "-1.7976931348623157E308"},
      {-906834.63876448758, "-486853139546681 * POWER(2E0, -29)"}};
  for (const auto& [LValue, LText] : LCases) EXPECT_EQ(Lit("UTF8", TValue::Float(LValue)), LText) << LText;
  EXPECT_EQ(TSqlLiterals::FloatText(5e-324), "4.9406564584124654E-324");
  // A FLOAT column's value needs only survive the rounding to single precision.
  EXPECT_EQ(Lit("UTF8", TValue::SingleFloat(0.1f)), "0.10000000149011612");
  EXPECT_EQ(Lit("UTF8", TValue::SingleFloat(-3.40282347e38f)), "-16777215 * POWER(2E0, 104)");
}

TEST(Literals, DatesAndTimes) {
  EXPECT_EQ(Lit("UTF8", TValue::Date({2024, 3, 5})), "DATE '2024-03-05'");
  EXPECT_EQ(Lit("UTF8", TValue::Date({7, 1, 2})), "DATE '0007-01-02'");
  EXPECT_EQ(Lit("UTF8", TValue::Time({7, 8, 9, 10})), "TIME '07:08:09.010'");
  EXPECT_EQ(Lit("UTF8", TValue::Time({23, 59, 59, 999})), "TIME '23:59:59.999'");
  EXPECT_EQ(Lit("UTF8", TValue::Timestamp({{2024, 3, 5}, {7, 8, 9, 10}})), "TIMESTAMP '2024-03-05 07:08:09.010'");
}

TEST(Literals, TextTravelsAsHexBytesOfTheCharacterSet) {
  const QString LOla = QString::fromUtf8("Olá");
  EXPECT_EQ(Lit("WIN1252", TValue::Text(LOla)), "_WIN1252 x'4F6CE1'");
  EXPECT_EQ(Lit("UTF8", TValue::Text(LOla)), "_UTF8 x'4F6CC3A1'");
  EXPECT_EQ(Lit("WIN1252", TValue::Text("")), "_WIN1252 x''");
  EXPECT_EQ(Lit("UTF8", TValue::Text("")), "_UTF8 x''");
  EXPECT_EQ(Lit("WIN1252", TValue::Text(QString::fromUtf8("€"))), "_WIN1252 x'80'");
  EXPECT_EQ(Lit("ISO8859_1", TValue::Text(QString::fromUtf8("é"))), "_ISO8859_1 x'E9'");
  EXPECT_EQ(Lit("UTF8", TValue::Text(QString::fromUtf8("\U0001F600"))), "_UTF8 x'F09F9880'");
  EXPECT_EQ(Lit("ASCII", TValue::Text("a'b\r\n\t")), "_ASCII x'6127620D0A09'");
}

TEST(Literals, UnrepresentableTextIsRefused) {
  EXPECT_EQ(ErrorOf([] { Lit("WIN1252", TValue::Text(QString::fromUtf8("中"))); }),
            "Texto nao representavel no charset WIN1252.");
  EXPECT_EQ(ErrorOf([] { Lit("ASCII", TValue::Text(QString::fromUtf8("é"))); }),
            "Texto nao representavel no charset ASCII.");
  EXPECT_EQ(ErrorOf([] { Lit("ISO8859_1", TValue::Text(QString::fromUtf8("€"))); }),
            "Texto nao representavel no charset ISO8859_1.");
  EXPECT_EQ(ErrorOf([] { Lit("UTF8", TValue::Text(QString(QChar(0xD800)))); }),
            "Texto nao representavel no charset UTF8.");
}

TEST(Literals, TextBlobsAreChunkedWithoutSplittingSurrogatePairs) {
  EXPECT_EQ(Lit("WIN1252", TValue::TextBlob("AB")),
            "(CAST(_WIN1252 x'' AS BLOB SUB_TYPE TEXT CHARACTER SET WIN1252) || "
            "CAST(_WIN1252 x'4142' AS BLOB SUB_TYPE TEXT CHARACTER SET WIN1252))");
  EXPECT_EQ(Lit("WIN1252", TValue::TextBlob("")), "(CAST(_WIN1252 x'' AS BLOB SUB_TYPE TEXT CHARACTER SET WIN1252))");

  const auto LPieces = [](const std::string& aLiteral) {
    std::vector<size_t> LSizes;  // hex digits of every chunk after the empty head
    size_t LAt = aLiteral.find("x''") + 3;
    while ((LAt = aLiteral.find("x'", LAt)) != std::string::npos) {
      const size_t LEnd = aLiteral.find('\'', LAt + 2);
      LSizes.push_back(LEnd - LAt - 2);
      LAt = LEnd;
    }
    return LSizes;
  };
  EXPECT_EQ(LPieces(Lit("UTF8", TValue::TextBlob(QString(2000, 'a')))), (std::vector<size_t>{4000}));
  EXPECT_EQ(LPieces(Lit("UTF8", TValue::TextBlob(QString(2001, 'a')))), (std::vector<size_t>{4000, 2}));
  EXPECT_EQ(LPieces(Lit("UTF8", TValue::TextBlob(QString(4500, 'a')))), (std::vector<size_t>{4000, 4000, 1000}));
  // Unit 2000 is the first half of a pair: the first chunk keeps 1999 units.
  const QString LPaired = QString(1999, 'a') + QString::fromUtf8("\U0001F600") + "b";
  const std::string LLiteral = Lit("UTF8", TValue::TextBlob(LPaired));
  EXPECT_EQ(LPieces(LLiteral), (std::vector<size_t>{3998, 10}));
  EXPECT_NE(LLiteral.find("x'F09F988062'"), std::string::npos);
}

TEST(Literals, BytesAreChunkedHex) {
  EXPECT_EQ(Lit("UTF8", TValue::Bytes(QByteArray("\x00\xFF\x10", 3))), "CAST(x'' AS BLOB SUB_TYPE 0) || x'00FF10'");
  EXPECT_EQ(Lit("UTF8", TValue::Bytes({})), "CAST(x'' AS BLOB SUB_TYPE 0)");
  EXPECT_EQ(Lit("UTF8", TValue::Bytes(QByteArray(2000, 'a'))).size(), std::string("CAST(x'' AS BLOB SUB_TYPE 0) || x''").size() + 4000);
  std::string LHex2000;
  for (int I = 0; I < 2000; ++I) LHex2000 += "01";
  EXPECT_EQ(Lit("UTF8", TValue::Bytes(QByteArray(4001, '\x01'))),
            "CAST(x'' AS BLOB SUB_TYPE 0) || x'" + LHex2000 + "' || x'" + LHex2000 + "' || x'01'");
}

TEST(Literals, QuoteNameAlwaysQuotesAndDoublesQuotes) {
  EXPECT_EQ(TSqlLiterals::QuoteName("NOTAFI").toStdString(), "\"NOTAFI\"");
  EXPECT_EQ(TSqlLiterals::QuoteName("a\"b c").toStdString(), "\"a\"\"b c\"");
  EXPECT_EQ(TSqlLiterals::QuoteName(" x ").toStdString(), "\" x \"");
  EXPECT_EQ(ErrorOf([] { TSqlLiterals::QuoteName("   "); }), "Identificador SQL vazio.");
  EXPECT_EQ(ErrorOf([] { TSqlLiterals::QuoteName(QString("\t\x01 ")); }), "Identificador SQL vazio.");
  EXPECT_EQ(ErrorOf([] { TSqlLiterals::QuoteName(""); }), "Identificador SQL vazio.");
}

TEST(Literals, OnlyTheFourCharacterSetsAreAccepted) {
  EXPECT_EQ(ErrorOf([] { TSqlLiterals("NONE"); }),
            "Configure CharacterSet da conexao como WIN1252, UTF8, ISO8859_1 ou ASCII.");
  EXPECT_EQ(ErrorOf([] { TSqlLiterals(""); }),
            "Configure CharacterSet da conexao como WIN1252, UTF8, ISO8859_1 ou ASCII.");
}
