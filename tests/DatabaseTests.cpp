// The database connection against the real server: every column type as a typed value,
// character data across character sets, parameter binding, statement reuse, transactions
// and the failures the layer must report.
#include "Corvane.Database.h"
#include "Corvane.Errors.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <thread>

namespace Corvane {
// Readable failures: kind, state and text form instead of the object's bytes.
void PrintTo(const TValue& aValue, std::ostream* aStream) {
  *aStream << ValueKindName(aValue.Kind()).toStdString()
           << (aValue.IsUnassigned() ? " unassigned" : aValue.IsNull() ? " null" : " ")
           << aValue.TextForm().left(200).toStdString();
}
}  // namespace Corvane

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const char* const CSchema = R"SQL(
CREATE TABLE KINDS (
  ID INTEGER NOT NULL PRIMARY KEY,
  C_SMALL SMALLINT, C_INT INTEGER, C_BIG BIGINT,
  C_N40 NUMERIC(4,0), C_N92 NUMERIC(9,2), C_N184 NUMERIC(18,4), C_N182 NUMERIC(18,2),
  C_FLOAT FLOAT, C_DOUBLE DOUBLE PRECISION,
  C_DATE DATE, C_TIME TIME, C_TS TIMESTAMP,
  C_CHAR_W CHAR(10) CHARACTER SET WIN1252, C_VC_W VARCHAR(10) CHARACTER SET WIN1252,
  C_CHAR_U CHAR(10) CHARACTER SET UTF8, C_VC_U VARCHAR(10) CHARACTER SET UTF8,
  C_CHAR_O CHAR(4) CHARACTER SET OCTETS, C_VC_O VARCHAR(4) CHARACTER SET OCTETS,
  C_CHAR5 CHAR(5),
  C_TBLOB BLOB SUB_TYPE TEXT, C_BBLOB BLOB SUB_TYPE 0,
  C_BOOL BOOLEAN);
CREATE TABLE WIDE (ID INTEGER NOT NULL PRIMARY KEY, U VARCHAR(10) CHARACTER SET UTF8,
  TB BLOB SUB_TYPE TEXT CHARACTER SET UTF8);
CREATE TABLE ARR (ID INTEGER NOT NULL PRIMARY KEY, A INTEGER[3]);
CREATE TABLE FKS (FK_NAME VARCHAR(31), "lower" INTEGER);
)SQL";

// Text that all four connection sets can carry except where a test says otherwise.
const QString CAcucar = QString::fromUtf8("a\xC3\xA7\xC3\xBA" "car");   // açúcar
const QString CAcao = QString::fromUtf8("A\xC3\xA7\xC3\xA3o");         // Ação
const QString CEuro = QString(QChar(0x20AC));
const QString CNbsp = QString(QChar(0x00A0));
const QString CChinese = QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC");  // 日本

// RPAD('', aLength, aPattern) as the server computes it.
QString Rpad(int aLength, const QString& aPattern) {
  QString LText;
  while (LText.size() < aLength) LText += aPattern;
  return LText.left(aLength);
}

QByteArray RpadBytes(int aLength, const QByteArray& aPattern) {
  QByteArray LBytes;
  while (LBytes.size() < aLength) LBytes += aPattern;
  return LBytes.left(aLength);
}

// 100000 characters built on the server in pieces that fit a VARCHAR, and its expected value.
QString LongTextPattern(int aChunk) { return CAcucar + QString::number(aChunk) + "-"; }
QString LongText() {
  QString LText;
  for (int I = 0; I < 12; ++I) LText += Rpad(8000, LongTextPattern(I));
  return LText + Rpad(4000, LongTextPattern(12));
}
QString LongTextSql() {
  QString LSql = "CAST('' AS BLOB SUB_TYPE TEXT)";
  for (int I = 0; I < 13; ++I)
    LSql += QString(" || RPAD('', %1, '%2')").arg(I < 12 ? 8000 : 4000).arg(LongTextPattern(I));
  return LSql;
}
const QByteArray CBytePatterns[] = {QByteArray::fromHex("00FF10"), QByteArray::fromHex("ABCD"),
                                    QByteArray::fromHex("01"), QByteArray::fromHex("7F8000")};
QByteArray LongBytes() {
  QByteArray LBytes;
  for (const QByteArray& LPattern : CBytePatterns) LBytes += RpadBytes(25000, LPattern);
  return LBytes;
}
QString LongBytesSql() {
  QString LSql = "CAST(x'' AS BLOB SUB_TYPE 0)";
  for (const QByteArray& LPattern : CBytePatterns)
    LSql += " || RPAD(CAST('' AS VARCHAR(1) CHARACTER SET OCTETS), 25000, x'" + QString::fromLatin1(LPattern.toHex()) +
            "')";
  return LSql;
}

QString Data() {
  QString LSql;
  LSql += "INSERT INTO KINDS VALUES (1, -32768, 2147483647, -9223372036854775808, 1234, 1234567.89, "
          "99999999999999.9999, 9999999999999999.99, 0.1, 0.1, '2024-02-29', '23:59:59.9999', "
          "'2024-12-31 23:59:59.9999', 'AB', 'AB   ', '" + CAcao + "', '" + CAcucar + " " + CEuro + " ', x'4142', x'0102', "
          "'     ', 'texto " + CAcucar + CEuro + "', x'00FF', TRUE);\n";
  LSql += "INSERT INTO KINDS VALUES (2, 32767, -1, 9223372036854775807, -1234, -1234567.89, "
          "-99999999999999.9999, -0.01, -2.5, 1.0E300, '0001-01-01', '10:00:00.1239', "
          "'1900-01-01 00:00:00.0001', 'x" + CEuro + CNbsp + "', '', ' " + CEuro + "', '', x'', x'', 'a', '', x'', FALSE);\n";
  LSql += "INSERT INTO KINDS (ID) VALUES (3);\n";
  LSql += "INSERT INTO KINDS (ID, C_TBLOB, C_BBLOB) VALUES (10, '', x'');\n";
  LSql += "INSERT INTO KINDS (ID, C_TBLOB, C_BBLOB) VALUES (11, '" + CEuro + "', x'00');\n";
  LSql += "INSERT INTO KINDS (ID, C_TBLOB, C_BBLOB) VALUES (12, " + LongTextSql() + ", " + LongBytesSql() + ");\n";
  LSql += "INSERT INTO WIDE VALUES (1, '" + CAcao + CEuro + "', '" + CAcao + CEuro + "');\n";
  LSql += "INSERT INTO WIDE VALUES (2, '" + CChinese + "', '" + CChinese + "');\n";
  LSql += "INSERT INTO FKS VALUES ('FK_ONE', 7);\n";
  return LSql;
}

class DatabaseTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    FDatabase = new TTestDatabase("database", CSchema);
    FDatabase->Execute(Data());
  }
  static void TearDownTestSuite() {
    delete FDatabase;
    FDatabase = nullptr;
  }

  // An open connection with an active transaction.
  static std::unique_ptr<TDbConnection> Connect(const QString& aCharacterSet = "WIN1252", bool aReadOnly = true) {
    auto LConnection = FDatabase->Connect(aCharacterSet);
    LConnection->SetReadOnly(aReadOnly);
    LConnection->StartTransaction();
    return LConnection;
  }

  static TTestDatabase* FDatabase;
};

TTestDatabase* DatabaseTest::FDatabase = nullptr;

struct TExpected {
  const char* FName;
  TValueKind FKind;
  TValue FValue;
};

// ---------------------------------------------------------------------------------------
// Value kinds through the server

class KindsTest : public DatabaseTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KindsTest, EveryColumnTypeArrivesAsItsTypedValue) {
  auto LConnection = Connect(GetParam());
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT * FROM KINDS WHERE ID = :ID");

  using K = TValueKind;
  const std::vector<TExpected> LRow1 = {
      {"ID", K::vkInteger, TValue::Integer(1)},
      {"C_SMALL", K::vkInteger, TValue::Integer(-32768)},
      {"C_INT", K::vkInteger, TValue::Integer(2147483647)},
      {"C_BIG", K::vkInteger, TValue::Integer(std::numeric_limits<std::int64_t>::min())},
      {"C_N40", K::vkInteger, TValue::Integer(1234)},
      {"C_N92", K::vkDecimal, TValue::Decimal(123456789, 2)},
      {"C_N184", K::vkDecimal, TValue::Decimal(999999999999999999LL, 4)},
      {"C_N182", K::vkDecimal, TValue::Decimal(999999999999999999LL, 2)},
      {"C_FLOAT", K::vkFloat, TValue::Float(double(0.1f))},
      {"C_DOUBLE", K::vkFloat, TValue::Float(0.1)},
      {"C_DATE", K::vkDate, TValue::Date({2024, 2, 29})},
      {"C_TIME", K::vkTime, TValue::Time({23, 59, 59, 999, 9})},
      {"C_TS", K::vkTimestamp, TValue::Timestamp({{2024, 12, 31}, {23, 59, 59, 999, 9}})},
      {"C_CHAR_W", K::vkText, TValue::Text("AB")},
      {"C_VC_W", K::vkText, TValue::Text("AB   ")},
      {"C_CHAR_U", K::vkText, TValue::Text(CAcao)},
      {"C_VC_U", K::vkText, TValue::Text(CAcucar + " " + CEuro + " ")},
      {"C_CHAR_O", K::vkBytes, TValue::Bytes(QByteArray("AB\0\0", 4))},
      {"C_VC_O", K::vkBytes, TValue::Bytes(QByteArray::fromHex("0102"))},
      {"C_CHAR5", K::vkText, TValue::Text("")},
      {"C_TBLOB", K::vkTextBlob, TValue::TextBlob("texto " + CAcucar + CEuro)},
      {"C_BBLOB", K::vkBytes, TValue::Bytes(QByteArray::fromHex("00FF"))},
      {"C_BOOL", K::vkBoolean, TValue::Boolean(true)},
  };
  LQuery.SetParam("ID", TValue::Integer(1));
  LQuery.Open();
  ASSERT_FALSE(LQuery.Eof());
  ASSERT_EQ(LQuery.FieldCount(), int(LRow1.size()));
  for (int I = 0; I < LQuery.FieldCount(); ++I) {
    const TDbField& LField = LQuery.Field(I);
    EXPECT_EQ(LField.Name(), LRow1[std::size_t(I)].FName);
    EXPECT_EQ(LField.Kind(), LRow1[std::size_t(I)].FKind) << LRow1[std::size_t(I)].FName;
    EXPECT_EQ(LField.Value(), LRow1[std::size_t(I)].FValue)
        << LRow1[std::size_t(I)].FName << " = " << LField.TextForm().toStdString();
  }
  EXPECT_EQ(LQuery.FieldByName("C_FLOAT").TextForm(), "0.10000000149011612");
  LQuery.Next();
  EXPECT_TRUE(LQuery.Eof());
  LQuery.Close();

  const std::vector<TExpected> LRow2 = {
      {"C_SMALL", K::vkInteger, TValue::Integer(32767)},
      {"C_BIG", K::vkInteger, TValue::Integer(std::numeric_limits<std::int64_t>::max())},
      {"C_N40", K::vkInteger, TValue::Integer(-1234)},
      {"C_N92", K::vkDecimal, TValue::Decimal(-123456789, 2)},
      {"C_N184", K::vkDecimal, TValue::Decimal(-999999999999999999LL, 4)},
      {"C_N182", K::vkDecimal, TValue::Decimal(-1, 2)},
      {"C_FLOAT", K::vkFloat, TValue::Float(-2.5)},
      {"C_DOUBLE", K::vkFloat, TValue::Float(1.0E300)},
      {"C_DATE", K::vkDate, TValue::Date({1, 1, 1})},
      {"C_TIME", K::vkTime, TValue::Time({10, 0, 0, 123, 9})},
      {"C_TS", K::vkTimestamp, TValue::Timestamp({{1900, 1, 1}, {0, 0, 0, 0, 1}})},
      // Only U+0020 is trimmed from CHAR values: the no-break space stays.
      {"C_CHAR_W", K::vkText, TValue::Text("x" + CEuro + CNbsp)},
      {"C_VC_W", K::vkText, TValue::Text("")},
      {"C_CHAR_U", K::vkText, TValue::Text(" " + CEuro)},
      {"C_VC_U", K::vkText, TValue::Text("")},
      {"C_CHAR_O", K::vkBytes, TValue::Bytes(QByteArray(4, '\0'))},
      {"C_VC_O", K::vkBytes, TValue::Bytes(QByteArray())},
      {"C_CHAR5", K::vkText, TValue::Text("a")},
      {"C_TBLOB", K::vkTextBlob, TValue::TextBlob("")},
      {"C_BBLOB", K::vkBytes, TValue::Bytes(QByteArray())},
      {"C_BOOL", K::vkBoolean, TValue::Boolean(false)},
  };
  LQuery.SetParam("id", TValue::Integer(2));
  LQuery.Open();
  ASSERT_FALSE(LQuery.Eof());
  for (const TExpected& LExpected : LRow2) {
    const TDbField& LField = LQuery.FieldByName(LExpected.FName);
    EXPECT_FALSE(LField.IsNull()) << LExpected.FName;
    EXPECT_EQ(LField.Value(), LExpected.FValue) << LExpected.FName << " = " << LField.TextForm().toStdString();
  }
  EXPECT_EQ(LQuery.FieldByName("C_CHAR_O").Value().AsBytes().size(), 4);
  LQuery.Close();

  LQuery.SetParam("ID", TValue::Integer(3));
  LQuery.Open();
  ASSERT_FALSE(LQuery.Eof());
  for (int I = 1; I < LQuery.FieldCount(); ++I) {
    const TDbField& LField = LQuery.Field(I);
    EXPECT_TRUE(LField.IsNull()) << LField.Name().toStdString();
    EXPECT_EQ(LField.Value().Kind(), LRow1[std::size_t(I)].FKind) << LField.Name().toStdString();
    EXPECT_EQ(LField.TextForm(), "");
  }
}

TEST_P(KindsTest, BlobsArriveWholeWhateverTheirSize) {
  auto LConnection = Connect(GetParam());
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT ID, C_TBLOB, C_BBLOB FROM KINDS WHERE ID >= 10 ORDER BY ID");
  LQuery.Open();
  const std::vector<std::pair<QString, QByteArray>> LExpected = {
      {"", QByteArray()}, {CEuro, QByteArray(1, '\0')}, {LongText(), LongBytes()}};
  for (const auto& [LText, LBytes] : LExpected) {
    ASSERT_FALSE(LQuery.Eof());
    const TValue LTextValue = LQuery.Field(1).Value();
    const TValue LBytesValue = LQuery.Field(2).Value();
    EXPECT_FALSE(LTextValue.IsNull());
    EXPECT_FALSE(LBytesValue.IsNull());
    EXPECT_EQ(LTextValue.AsText().size(), LText.size());
    EXPECT_TRUE(LTextValue.AsText() == LText) << "text BLOB of row " << LQuery.Field(0).TextForm().toStdString();
    EXPECT_EQ(LBytesValue.AsBytes().size(), LBytes.size());
    EXPECT_TRUE(LBytesValue.AsBytes() == LBytes) << "binary BLOB of row " << LQuery.Field(0).TextForm().toStdString();
    LQuery.Next();
  }
  EXPECT_TRUE(LQuery.Eof());
  EXPECT_EQ(LongText().size(), 100000);
  EXPECT_EQ(LongBytes().size(), 100000);
}

TEST_P(KindsTest, DeferredBlobsAreReadLaterOnAnotherThreadAsTheyWouldHaveBeen) {
  auto LConnection = Connect(GetParam());
  const QString LSql = "SELECT ID, C_TBLOB, C_BBLOB FROM KINDS WHERE ID IN (1, 3, 10, 11, 12) ORDER BY ID";
  std::vector<TDbRow> LEager, LDeferred;
  {
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL(LSql);
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) LEager.push_back(LQuery.CurrentRow());
  }
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL(LSql);
  LQuery.SetDeferBlobs(true);
  for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) LDeferred.push_back(LQuery.CurrentRow());
  ASSERT_EQ(LDeferred.size(), LEager.size());
  // Not read yet: the fields hold no value at all, except a null BLOB, which has no content.
  EXPECT_TRUE(LDeferred[0].Field(1).Value().IsUnassigned());
  EXPECT_TRUE(LDeferred[1].Field(1).IsNull());

  // Read on another thread while this one keeps the attachment busy with a query of its own.
  std::thread LWriter([&LConnection, &LDeferred]() {
    TDbBlobReader LReader(*LConnection);
    for (const TDbRow& LRow : LDeferred) LReader.Load(LRow);
    for (const TDbRow& LRow : LDeferred) LReader.Load(LRow);  // once read, nothing is read again
  });
  TDbQuery LBusy(*LConnection);
  LBusy.SetSQL("SELECT C_TBLOB FROM KINDS");
  for (int I = 0; I < 50; ++I)
    for (LBusy.Open(); !LBusy.Eof(); LBusy.Next()) LBusy.Field(0);
  LWriter.join();
  for (std::size_t I = 0; I < LEager.size(); ++I)
    for (int F = 1; F <= 2; ++F)
      EXPECT_TRUE(LDeferred[I].Field(F).Value() == LEager[I].Field(F).Value()) << "row " << I << " field " << F;

  // Identifiers live only as long as the transaction that fetched them.
  LQuery.Open();
  const TDbRow LLate = LQuery.CurrentRow();
  LConnection->Rollback();
  TDbBlobReader LReader(*LConnection);
  EXPECT_THROW(LReader.Load(LLate), TCorvaneError);
}

INSTANTIATE_TEST_SUITE_P(Connections, KindsTest, ::testing::Values("WIN1252", "UTF8"));

// ---------------------------------------------------------------------------------------
// Character data across sets

TEST_F(DatabaseTest, TextOfOtherSetsArrivesTransliterated) {
  {
    auto LConnection = Connect("WIN1252");
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL("SELECT U, TB FROM WIDE WHERE ID = 1");
    LQuery.Open();
    EXPECT_EQ(LQuery.Field(0).Value(), TValue::Text(CAcao + CEuro));
    EXPECT_EQ(LQuery.Field(1).Value(), TValue::TextBlob(CAcao + CEuro));
    // A character the connection set lacks is the server's failure, reported, not replaced.
    LQuery.SetSQL("SELECT U FROM WIDE WHERE ID = 2");
    try {
      LQuery.Open();
      FAIL() << "a UTF8 text outside WIN1252 was delivered: " << LQuery.Field(0).TextForm().toStdString();
    } catch (const TCorvaneError& LError) {
      EXPECT_TRUE(LError.Message().contains("transliterate", Qt::CaseInsensitive)) << LError.what();
    }
    EXPECT_TRUE(LConnection->InTransaction());
  }
  {
    auto LConnection = Connect("UTF8");
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL("SELECT C_CHAR_W, C_VC_W, U FROM KINDS, WIDE WHERE KINDS.ID = 2 AND WIDE.ID = 2");
    LQuery.Open();
    EXPECT_EQ(LQuery.Field(0).Value(), TValue::Text("x" + CEuro + CNbsp));
    EXPECT_EQ(LQuery.Field(2).Value(), TValue::Text(CChinese));
  }
  {
    // Without a connection set the server sends every item in its own set.
    auto LConnection = Connect("NONE");
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL("SELECT K.C_CHAR_W, W.U, W.TB FROM KINDS K, WIDE W WHERE K.ID = 2 AND W.ID = 1");
    LQuery.Open();
    EXPECT_EQ(LQuery.Field(0).Value(), TValue::Text("x" + CEuro + CNbsp));
    EXPECT_EQ(LQuery.Field(1).Value(), TValue::Text(CAcao + CEuro));
    EXPECT_EQ(LQuery.Field(2).Value(), TValue::TextBlob(CAcao + CEuro));
  }
}

// ---------------------------------------------------------------------------------------
// Binding

// The value that comes back from binding aValue to a parameter of type aType.
TValue RoundTrip(TDbConnection& aConnection, const QString& aType, const TValue& aValue) {
  TDbQuery LQuery(aConnection);
  LQuery.SetSQL("SELECT CAST(:V AS " + aType + ") AS V FROM RDB$DATABASE");
  LQuery.SetParam("V", aValue);
  LQuery.Open();
  return LQuery.Field(0).Value();
}

QString BindError(TDbConnection& aConnection, const QString& aType, const TValue& aValue) {
  try {
    const TValue LValue = RoundTrip(aConnection, aType, aValue);
    return "bound as " + LValue.TextForm();
  } catch (const TCorvaneError& LError) {
    return LError.Message();
  }
}

TEST_F(DatabaseTest, ValuesOfTheParametersOwnKindBindExactly) {
  auto LConnection = Connect("WIN1252");
  TDbConnection& C = *LConnection;
  EXPECT_EQ(RoundTrip(C, "BIGINT", TValue::Integer(std::numeric_limits<std::int64_t>::min())),
            TValue::Integer(std::numeric_limits<std::int64_t>::min()));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(18,4)", TValue::Decimal(999999999999999999LL, 4)),
            TValue::Decimal(999999999999999999LL, 4));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(9,2)", TValue::Decimal(-123456789, 2)), TValue::Decimal(-123456789, 2));
  EXPECT_EQ(RoundTrip(C, "DOUBLE PRECISION", TValue::Float(0.1)), TValue::Float(0.1));
  EXPECT_EQ(RoundTrip(C, "FLOAT", TValue::Float(double(0.1f))), TValue::Float(double(0.1f)));
  EXPECT_EQ(RoundTrip(C, "DATE", TValue::Date({2024, 2, 29})), TValue::Date({2024, 2, 29}));
  EXPECT_EQ(RoundTrip(C, "TIME", TValue::Time({23, 59, 59, 999})), TValue::Time({23, 59, 59, 999}));
  EXPECT_EQ(RoundTrip(C, "TIMESTAMP", TValue::Timestamp({{1, 1, 1}, {0, 0, 0, 1}})),
            TValue::Timestamp({{1, 1, 1}, {0, 0, 0, 1}}));
  EXPECT_EQ(RoundTrip(C, "VARCHAR(10)", TValue::Text(CAcao + CEuro + " ")), TValue::Text(CAcao + CEuro + " "));
  EXPECT_EQ(RoundTrip(C, "VARCHAR(10)", TValue::Text("")), TValue::Text(""));
  EXPECT_EQ(RoundTrip(C, "VARCHAR(4) CHARACTER SET OCTETS", TValue::Bytes(QByteArray("\0\xFF", 2))),
            TValue::Bytes(QByteArray("\0\xFF", 2)));
  EXPECT_EQ(RoundTrip(C, "BOOLEAN", TValue::Boolean(true)), TValue::Boolean(true));
  EXPECT_EQ(RoundTrip(C, "BLOB SUB_TYPE TEXT", TValue::TextBlob(LongText())), TValue::TextBlob(LongText()));
  EXPECT_EQ(RoundTrip(C, "BLOB SUB_TYPE 0", TValue::Bytes(LongBytes())), TValue::Bytes(LongBytes()));
  for (const char* LType : {"NUMERIC(9,2)", "VARCHAR(3)", "BLOB"})
    EXPECT_TRUE(RoundTrip(C, LType, TValue::Null()).IsNull()) << LType;
  // Text in a UTF8 connection is UTF-8, astral characters included.
  auto LUtf8 = Connect("UTF8");
  const QString LAstral = QString::fromUtf8("\xF0\x9F\x98\x80");
  EXPECT_EQ(RoundTrip(*LUtf8, "VARCHAR(10)", TValue::Text(CChinese + LAstral)), TValue::Text(CChinese + LAstral));
}

TEST_F(DatabaseTest, IntegersAndTextsConvertToNumbersAndText) {
  auto LConnection = Connect("WIN1252");
  TDbConnection& C = *LConnection;
  EXPECT_EQ(RoundTrip(C, "INTEGER", TValue::Integer(-42)), TValue::Integer(-42));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(9,2)", TValue::Integer(42)), TValue::Decimal(4200, 2));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(18,4)", TValue::Integer(-922337203685477LL)), TValue::Decimal(-9223372036854770000LL, 4));
  EXPECT_EQ(RoundTrip(C, "VARCHAR(20)", TValue::Integer(-9223372036854775807LL)), TValue::Text("-9223372036854775807"));
  EXPECT_EQ(RoundTrip(C, "CHAR(5)", TValue::Integer(12)), TValue::Text("12"));
  EXPECT_EQ(RoundTrip(C, "INTEGER", TValue::Text(" -17 ")), TValue::Integer(-17));
  EXPECT_EQ(RoundTrip(C, "BIGINT", TValue::Text("-9223372036854775808")),
            TValue::Integer(std::numeric_limits<std::int64_t>::min()));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(9,2)", TValue::Text("12.5")), TValue::Decimal(1250, 2));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(9,2)", TValue::Text("+.5")), TValue::Decimal(50, 2));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(18,4)", TValue::Text("99999999999999.9999")), TValue::Decimal(999999999999999999LL, 4));
  EXPECT_EQ(RoundTrip(C, "INTEGER", TValue::Text("7.000")), TValue::Integer(7));
  EXPECT_EQ(RoundTrip(C, "NUMERIC(9,2)", TValue::Decimal(5, 1)), TValue::Decimal(50, 2));
}

TEST_F(DatabaseTest, UnconvertibleValuesFailTheOpening) {
  auto LConnection = Connect("WIN1252");
  TDbConnection& C = *LConnection;
  // Each is refused with a message of the layer or the server; none is bound approximately.
  const std::vector<std::pair<const char*, TValue>> LCases = {
      {"INTEGER", TValue::Text("abc")},
      {"INTEGER", TValue::Text("")},
      {"INTEGER", TValue::Text("12.5")},
      {"NUMERIC(9,2)", TValue::Text("12.345")},
      {"BIGINT", TValue::Text("9223372036854775808")},
      {"SMALLINT", TValue::Integer(32768)},
      {"NUMERIC(18,4)", TValue::Integer(std::numeric_limits<std::int64_t>::max())},
      {"NUMERIC(9,2)", TValue::Decimal(12345, 3)},
      {"INTEGER", TValue::Boolean(true)},
      {"DATE", TValue::Date({2023, 2, 29})},
      {"TIMESTAMP", TValue::Timestamp({{2024, 1, 1}, {0, 0, 0, 1000}})},
      {"VARCHAR(5)", TValue::Text("123456")},
      {"VARCHAR(4) CHARACTER SET OCTETS", TValue::Text("ab")},
      {"BLOB SUB_TYPE TEXT", TValue::Bytes("ab")},
      {"FLOAT", TValue::Float(1e300)},
  };

  for (const auto& [LType, LValue] : LCases) {
    const QString LMessage = BindError(C, LType, LValue);
    EXPECT_FALSE(LMessage.startsWith("bound as")) << LType << " <- " << LValue.TextForm().toStdString() << ": "
                                                  << LMessage.toStdString();
    EXPECT_FALSE(LMessage.isEmpty());
  }
  EXPECT_TRUE(BindError(C, "VARCHAR(5)", TValue::Text(CChinese)).contains("nao representavel"));
  EXPECT_TRUE(BindError(C, "INTEGER", TValue::Text("abc")).contains("V"));
  EXPECT_TRUE(C.InTransaction());

  // A lone surrogate cannot be sent in UTF-8 either.
  auto LUtf8 = Connect("UTF8");
  EXPECT_TRUE(BindError(*LUtf8, "VARCHAR(5)", TValue::Text(QString(QChar(0xD800)))).contains("nao representavel"));

  // A parameter that was never given a value is refused, not bound as NULL.
  TDbQuery LQuery(C);
  LQuery.SetSQL("SELECT 1 FROM RDB$DATABASE WHERE 1 = :A");
  EXPECT_THROW(LQuery.Open(), TCorvaneError);
  EXPECT_FALSE(LQuery.IsOpen());
}

TEST_F(DatabaseTest, ParameterAndFieldNamesMustExist) {
  auto LConnection = Connect();
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT FK_NAME, \"lower\" FROM FKS WHERE FK_NAME = :P0");
  try {
    LQuery.SetParam("P1", TValue::Text("x"));
    FAIL() << "P1 accepted";
  } catch (const TCorvaneError& LError) {
    EXPECT_EQ(LError.Message(), "Parametro nao encontrado: P1");
  }
  LQuery.SetParam("p0", TValue::Text("FK_ONE"));
  LQuery.Open();
  ASSERT_FALSE(LQuery.Eof());
  EXPECT_EQ(LQuery.FieldByName("fk_name").Name(), "FK_NAME");
  EXPECT_EQ(LQuery.FieldByName("fk_name").TextForm(), "FK_ONE");
  EXPECT_EQ(LQuery.FieldByName("LOWER").Value(), TValue::Integer(7));
  try {
    LQuery.FieldByName("FK_NAMES");
    FAIL() << "FK_NAMES found";
  } catch (const TCorvaneError& LError) {
    EXPECT_EQ(LError.Message(), "Campo nao encontrado: FK_NAMES");
  }
  EXPECT_THROW(LQuery.Field(2), TCorvaneError);
  EXPECT_THROW(LQuery.Field(-1), TCorvaneError);

  // Aliases name the fields.
  LQuery.SetSQL("SELECT TRIM(s.RDB$FIELD_NAME) AS FIELD_NAME FROM RDB$RELATION_FIELDS s WHERE s.RDB$RELATION_NAME = :T "
                "ORDER BY s.RDB$FIELD_POSITION");
  LQuery.SetParam("T", QString("FKS"));
  LQuery.Open();
  ASSERT_FALSE(LQuery.Eof());
  EXPECT_EQ(LQuery.Field(0).Name(), "FIELD_NAME");
  EXPECT_EQ(LQuery.FieldByName("field_name").TextForm(), "FK_NAME");
  LQuery.Next();
  EXPECT_EQ(LQuery.FieldByName("field_name").TextForm(), "lower");
}

// ---------------------------------------------------------------------------------------
// Queries, statements and transactions

TEST_F(DatabaseTest, UnsupportedItemsBadSqlAndFailedQueriesLeaveTheTransactionActive) {
  auto LConnection = Connect();
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT ID, A FROM ARR");
  try {
    LQuery.Open();
    FAIL() << "an array column was opened";
  } catch (const TCorvaneError& LError) {
    EXPECT_TRUE(LError.Message().contains("nao suportado")) << LError.what();
    EXPECT_TRUE(LError.Message().contains(" A ") || LError.Message().endsWith(" A")) << LError.what();
  }
  EXPECT_FALSE(LQuery.IsOpen());
  EXPECT_TRUE(LQuery.Eof());
  EXPECT_TRUE(LConnection->InTransaction());

  LQuery.SetSQL("SELECT * FROM NO_SUCH_TABLE");
  try {
    LQuery.Open();
    FAIL() << "an unknown table was opened";
  } catch (const TCorvaneError& LError) {
    EXPECT_TRUE(LError.Message().contains("Table unknown")) << LError.what();
    EXPECT_TRUE(LError.Message().contains("NO_SUCH_TABLE")) << LError.what();
  }
  EXPECT_TRUE(LConnection->InTransaction());

  // The same query and connection keep working after the failures.
  LQuery.SetSQL("SELECT COUNT(*) FROM KINDS");
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(6));
}

TEST_F(DatabaseTest, TransactionsFollowTheirLifeAndOptions) {
  auto LConnection = FDatabase->Connect();
  EXPECT_TRUE(LConnection->IsOpen());
  EXPECT_FALSE(LConnection->InTransaction());
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT 1 FROM RDB$DATABASE");
  EXPECT_THROW(LQuery.Open(), TCorvaneError);  // no transaction

  LConnection->StartTransaction();
  EXPECT_TRUE(LConnection->InTransaction());
  EXPECT_THROW(LConnection->StartTransaction(), TCorvaneError);
  LQuery.Open();
  EXPECT_FALSE(LQuery.Eof());
  LConnection->Rollback();
  EXPECT_FALSE(LConnection->InTransaction());
  EXPECT_FALSE(LQuery.IsOpen());

  // The read-only flag reaches the server: the change is refused.
  LConnection->SetReadOnly(true);
  LConnection->StartTransaction();
  LQuery.SetSQL("UPDATE FKS SET \"lower\" = 8");
  try {
    LQuery.Open();
    FAIL() << "a read-only transaction changed data";
  } catch (const TCorvaneError& LError) {
    EXPECT_TRUE(LError.Message().contains("read-only")) << LError.what();
  }
  EXPECT_TRUE(LConnection->InTransaction());
  LConnection->Rollback();

  // A write transaction may, which shows that the refusal came from the flag.
  LConnection->SetReadOnly(false);
  LConnection->SetIsolation(TIsolation::tiReadCommitted);
  LConnection->StartTransaction();
  LQuery.Open();
  EXPECT_TRUE(LQuery.Eof());
  LQuery.SetSQL("SELECT \"lower\" FROM FKS");
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(8));
  LConnection->Rollback();

  LConnection->SetIsolation(TIsolation::tiSerializable);
  LConnection->StartTransaction();
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(7));
  LConnection->Rollback();
}

TEST_F(DatabaseTest, EmptyResultsAreAtEndAndQueriesNest) {
  auto LConnection = Connect();
  TDbQuery LEmpty(*LConnection);
  LEmpty.SetSQL("SELECT ID FROM KINDS WHERE ID < 0");
  LEmpty.Open();
  EXPECT_TRUE(LEmpty.IsOpen());
  EXPECT_TRUE(LEmpty.Eof());
  LEmpty.Next();
  EXPECT_TRUE(LEmpty.Eof());

  // An outer cursor stays positioned while inner queries open, read and close.
  TDbQuery LOuter(*LConnection);
  TDbQuery LInner(*LConnection);
  LOuter.SetSQL("SELECT ID FROM KINDS ORDER BY ID");
  LInner.SetSQL("SELECT C_INT, ID FROM KINDS WHERE ID = :P0");
  LOuter.Open();
  QList<std::int64_t> LSeen;
  for (; !LOuter.Eof(); LOuter.Next()) {
    LInner.SetParam("P0", LOuter.Field(0).Value());
    LInner.Open();
    ASSERT_FALSE(LInner.Eof());
    LSeen.append(LInner.Field(1).Value().AsInteger());
    LInner.Close();
  }
  EXPECT_EQ(LSeen, (QList<std::int64_t>{1, 2, 3, 10, 11, 12}));
}

TEST_F(DatabaseTest, ClosedStatementsAreReusedWithNewValues) {
  auto LConnection = Connect();
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT C_SMALL FROM KINDS WHERE ID = :P0");
  LQuery.SetParam("P0", TValue::Integer(1));
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(-32768));
  LQuery.Close();
  EXPECT_FALSE(LQuery.IsOpen());
  LQuery.SetParam("P0", TValue::Integer(2));
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(32767));
  // Opening an open query executes it afresh.
  LQuery.SetParam("P0", TValue::Integer(3));
  LQuery.Open();
  EXPECT_TRUE(LQuery.Field(0).IsNull());
  // Setting the same text again keeps the statement and the values.
  LQuery.SetSQL("SELECT C_SMALL FROM KINDS WHERE ID = :P0");
  LQuery.Open();
  EXPECT_TRUE(LQuery.Field(0).IsNull());
  // A new text drops both.
  LQuery.SetSQL("SELECT C_INT FROM KINDS WHERE ID = :P0");
  EXPECT_THROW(LQuery.Open(), TCorvaneError);
  LQuery.SetParam("P0", TValue::Integer(1));
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(2147483647));

  // A prepared statement survives the end of its transaction.
  LConnection->Rollback();
  LConnection->StartTransaction();
  LQuery.SetParam("P0", TValue::Integer(2));
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(-1));

  // Reuse is what makes an export fast: thousands of reopenings.
  const auto LStart = std::chrono::steady_clock::now();
  for (int I = 0; I < 2000; ++I) {
    LQuery.SetParam("P0", TValue::Integer(1 + I % 2));
    LQuery.Open();
    ASSERT_EQ(LQuery.Field(0).Value().AsInteger(), I % 2 == 0 ? 2147483647 : -1);
    LQuery.Close();
  }
  const auto LElapsed = std::chrono::steady_clock::now() - LStart;
  RecordProperty("ReopenMicroseconds",
                 int(std::chrono::duration_cast<std::chrono::microseconds>(LElapsed).count() / 2000));
}

TEST_F(DatabaseTest, NonSelectStatementsRunWithoutRows) {
  auto LConnection = Connect("WIN1252", false);
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("INSERT INTO FKS (FK_NAME, \"lower\") VALUES (:N, :L) RETURNING \"lower\" * 2 AS DOUBLED");
  LQuery.SetParam("N", QString("X"));
  LQuery.SetParam("L", TValue::Integer(21));
  LQuery.Open();
  ASSERT_FALSE(LQuery.Eof());
  EXPECT_EQ(LQuery.FieldByName("DOUBLED").Value(), TValue::Integer(42));
  LQuery.Next();
  EXPECT_TRUE(LQuery.Eof());
  LQuery.SetSQL("DELETE FROM FKS WHERE FK_NAME = 'X'");
  LQuery.Open();
  EXPECT_TRUE(LQuery.Eof());
  EXPECT_EQ(LQuery.FieldCount(), 0);
  LConnection->Rollback();
}

TEST_F(DatabaseTest, ConnectionsAndQueriesMayDieInAnyOrder) {
  auto LConnection = Connect();
  auto LQuery = std::make_unique<TDbQuery>(*LConnection);
  LQuery->SetSQL("SELECT ID FROM KINDS");
  LQuery->Open();
  ASSERT_FALSE(LQuery->Eof());
  // Destroying the connection under an open query (with its transaction) must not crash,
  // and the orphaned query refuses to work instead of touching freed handles.
  LConnection.reset();
  EXPECT_FALSE(LQuery->IsOpen());
  EXPECT_THROW(LQuery->Open(), TCorvaneError);
  LQuery.reset();

  // Closing a connection frees its statements; reopening prepares again.
  LConnection = Connect();
  TDbQuery LSecond(*LConnection);
  LSecond.SetSQL("SELECT COUNT(*) FROM KINDS");
  LSecond.Open();
  LConnection->Close();
  EXPECT_FALSE(LConnection->IsOpen());
  EXPECT_FALSE(LConnection->InTransaction());
  EXPECT_THROW(LSecond.Open(), TCorvaneError);
  LConnection->Open();
  LConnection->StartTransaction();
  LSecond.Open();
  EXPECT_EQ(LSecond.Field(0).Value(), TValue::Integer(6));
}

// ---------------------------------------------------------------------------------------
// Opening connections

QString OpenError(const QString& aParams) {
  TDbConnection LConnection;
  LConnection.SetParams(aParams);
  try {
    LConnection.Open();
  } catch (const TCorvaneError& LError) {
    EXPECT_FALSE(LConnection.IsOpen());
    return LError.Message();
  }
  return "opened";
}

TEST_F(DatabaseTest, RefusedAttachmentsReportTheClientLibrarysMessage) {
  const QString LBase = "DriverID=FB\nProtocol=TCPIP\nServer=localhost\nDatabase=" + FDatabase->Path() +
                        "\nUser_Name=" + ServerUser() + "\nCharacterSet=WIN1252\n";
  const QString LWrongPassword = OpenError(LBase + "Password=wrong-" + ServerPassword());
  EXPECT_TRUE(LWrongPassword.contains("password", Qt::CaseInsensitive)) << LWrongPassword.toStdString();
  const QString LUnknownHost =
      OpenError("Protocol=TCPIP\nServer=no-such-host.invalid\nDatabase=/x.fdb\nUser_Name=SYSDBA\nPassword=x");
  EXPECT_TRUE(LUnknownHost.contains("network request", Qt::CaseInsensitive)) << LUnknownHost.toStdString();
  EXPECT_TRUE(LUnknownHost.contains("no-such-host.invalid")) << LUnknownHost.toStdString();
  const QString LNoFile = OpenError(LBase + "Password=" + ServerPassword() + "\nDatabase=/var/tmp/no/such.fdb");
  EXPECT_TRUE(LNoFile.contains("/var/tmp/no/such.fdb")) << LNoFile.toStdString();
  const QString LBadSet = OpenError(LBase + "Password=" + ServerPassword() + "\nCharacterSet=KLINGON");
  EXPECT_TRUE(LBadSet.contains("KLINGON")) << LBadSet.toStdString();
  EXPECT_EQ(OpenError("DriverID=MSSQL"), "Driver de banco de dados nao suportado: MSSQL");
}

TEST_F(DatabaseTest, AttachmentStringFormsReachTheServer) {
  for (const char* LProtocol : {"TCPIP", "local"}) {
    TDbConnection LConnection;
    LConnection.SetParams(FDatabase->Params());
    LConnection.SetParam("Protocol", LProtocol);
    EXPECT_EQ(LConnection.AttachmentString(), "localhost:" + FDatabase->Path());
    LConnection.Open();
    EXPECT_TRUE(LConnection.IsOpen()) << LProtocol;
    LConnection.Open();  // no-op when open
    LConnection.Close();
  }
  // A NETBEUI string on this platform is refused by the client, and cleanly.
  TDbConnection LConnection;
  LConnection.SetParams(FDatabase->Params());
  LConnection.SetParam("Protocol", "NETBEUI");
  EXPECT_TRUE(LConnection.AttachmentString().startsWith("\\\\localhost\\"));
  EXPECT_THROW(LConnection.Open(), TCorvaneError);
  EXPECT_FALSE(LConnection.IsOpen());
  // The same object opens after a failure.
  LConnection.SetParam("Protocol", "TCPIP");
  LConnection.Open();
  EXPECT_TRUE(LConnection.IsOpen());
}

TEST_F(DatabaseTest, CharacterSetNoneAttachesWithoutAClientSet) {
  auto LConnection = Connect("none");
  TDbQuery LQuery(*LConnection);
  LQuery.SetSQL("SELECT a.MON$CHARACTER_SET_ID FROM MON$ATTACHMENTS a WHERE a.MON$ATTACHMENT_ID = CURRENT_CONNECTION");
  LQuery.Open();
  EXPECT_EQ(LQuery.Field(0).Value(), TValue::Integer(0));
}

}  // namespace
