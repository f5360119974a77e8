// Typed values, text encodings, the named-parameter parser and the connection's settings:
// everything of the data layer that needs no server.
#include "Corvane.Charsets.h"
#include "Corvane.Database.h"
#include "Corvane.FbClient.h"
#include "Corvane.Values.h"

#include <QMap>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace Corvane;

namespace {

// ---------------------------------------------------------------------------------------
// Text form and equality

TEST(TValueTextForm, IntegersAndDecimalsAreExactPlainDigits) {
  EXPECT_EQ(TValue::Integer(0).TextForm(), "0");
  EXPECT_EQ(TValue::Integer(-42).TextForm(), "-42");
  EXPECT_EQ(TValue::Integer(std::numeric_limits<std::int64_t>::min()).TextForm(), "-9223372036854775808");
  EXPECT_EQ(TValue::Decimal(123456789, 2).TextForm(), "1234567.89");
  EXPECT_EQ(TValue::Decimal(999999999999999999LL, 4).TextForm(), "99999999999999.9999");
  EXPECT_EQ(TValue::Decimal(12300, 2).TextForm(), "123");
  EXPECT_EQ(TValue::Decimal(1250, 2).TextForm(), "12.5");
  EXPECT_EQ(TValue::Decimal(-5, 2).TextForm(), "-0.05");
  EXPECT_EQ(TValue::Decimal(0, 2).TextForm(), "0");
  EXPECT_EQ(TValue::Decimal(-100, 2).TextForm(), "-1");
  EXPECT_EQ(TValue::Decimal(1, 18).TextForm(), "0.000000000000000001");
  EXPECT_EQ(TValue::Decimal(std::numeric_limits<std::int64_t>::min(), 18).TextForm(), "-9.223372036854775808");
  EXPECT_THROW(TValue::Decimal(1, 19), TArgumentError);
  EXPECT_THROW(TValue::Decimal(1, -1), TArgumentError);
}

TEST(TValueTextForm, FloatsRoundTripInTheirShortestText) {
  EXPECT_EQ(TValue::Float(0.1).TextForm(), "0.1");
  EXPECT_EQ(TValue::Float(double(0.1f)).TextForm(), "0.10000000149011612");
  EXPECT_EQ(TValue::Float(-2.5).TextForm(), "-2.5");
  const double LValues[] = {1e300, 5e-324, 123456.789, 1.0 / 3.0};
  for (double LValue : LValues) EXPECT_EQ(TValue::Float(LValue).TextForm().toDouble(), LValue);
}

TEST(TValueTextForm, DatesTimesBytesBooleansAndNull) {
  EXPECT_EQ(TValue::Date({2024, 2, 9}).TextForm(), "2024-02-09");
  EXPECT_EQ(TValue::Date({1, 1, 1}).TextForm(), "0001-01-01");
  EXPECT_EQ(TValue::Time({7, 5, 3, 9}).TextForm(), "07:05:03.009");
  EXPECT_EQ(TValue::Timestamp({{2024, 12, 31}, {23, 59, 59, 999}}).TextForm(), "2024-12-31 23:59:59.999");
  EXPECT_EQ(TValue::Bytes(QByteArray::fromHex("00ab7f")).TextForm(), "00AB7F");
  EXPECT_EQ(TValue::Bytes({}).TextForm(), "");
  EXPECT_EQ(TValue::Boolean(true).TextForm(), "True");
  EXPECT_EQ(TValue::Boolean(false).TextForm(), "False");
  EXPECT_EQ(TValue::Text("a b ").TextForm(), "a b ");
  EXPECT_EQ(TValue::Null(TValueKind::vkInteger).TextForm(), "");
  EXPECT_EQ(TValue().TextForm(), "");
}

TEST(TValueEquality, StateKindAndExactRepresentationDecide) {
  EXPECT_EQ(TValue::Null(TValueKind::vkInteger), TValue::Null(TValueKind::vkText));
  EXPECT_FALSE(TValue() == TValue::Null());
  EXPECT_FALSE(TValue::Null() == TValue::Text(""));
  EXPECT_FALSE(TValue::Text("1") == TValue::Integer(1));
  EXPECT_FALSE(TValue::Text("a") == TValue::TextBlob("a"));
  // 1.50 and 1.5 are different values of a NUMERIC column: the script must keep the scale.
  EXPECT_FALSE(TValue::Decimal(150, 2) == TValue::Decimal(15, 1));
  EXPECT_FALSE(TValue::Float(0.0) == TValue::Float(-0.0));
  const double LNan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(TValue::Float(LNan), TValue::Float(LNan));
  EXPECT_FALSE(TValue::Timestamp({{2024, 1, 1}, {0, 0, 0, 1}}) == TValue::Timestamp({{2024, 1, 1}, {0, 0, 0, 0}}));
  EXPECT_FALSE(TValue::Bytes(QByteArray("\x00", 1)) == TValue::Bytes({}));
}

// ---------------------------------------------------------------------------------------
// Text encodings

QByteArray Encoded(const char* aSet, const QString& aText, bool* aOk = nullptr) {
  auto LEncoding = TTextEncoding::ForCharacterSet(aSet);
  QByteArray LBytes;
  const bool LOk = LEncoding->TryEncode(aText, LBytes);
  if (aOk) *aOk = LOk;
  return LOk ? LBytes : QByteArray("<unrepresentable>");
}

TEST(TTextEncoding, KnowsExactlyTheFourSetsWithTheirCodePages) {
  EXPECT_EQ(TTextEncoding::ForCharacterSet("ISO8859_1")->CodePage(), 28591);
  EXPECT_EQ(TTextEncoding::ForCharacterSet("ASCII")->CodePage(), 20127);
  EXPECT_EQ(TTextEncoding::ForCharacterSet("win1252"), nullptr);
  EXPECT_EQ(TTextEncoding::ForCharacterSet("NONE"), nullptr);
}

TEST(TTextEncoding, EncodesWhatTheSetHoldsAndRefusesTheRest) {
  const QString LEuro = QString(QChar(0x20AC));
  const QString LEAcute = QString(QChar(0xE9));
  const QString LChinese = QString::fromUtf8("\xE4\xB8\xAD");  // U+4E2D
  const QString LAstral = QString::fromUtf8("\xF0\x9F\x98\x80");  // U+1F600

  EXPECT_EQ(Encoded("WIN1252", LEuro), QByteArray("\x80"));
  EXPECT_EQ(Encoded("WIN1252", "a" + LEAcute + QChar(0x0160)), QByteArray("a\xE9\x8A"));
  EXPECT_EQ(Encoded("WIN1252", LChinese), "<unrepresentable>");
  EXPECT_EQ(Encoded("WIN1252", "abc" + LChinese + "def"), "<unrepresentable>");
  EXPECT_EQ(Encoded("ASCII", "plain text\x7F"), QByteArray("plain text\x7F"));
  EXPECT_EQ(Encoded("ASCII", LEAcute), "<unrepresentable>");
  EXPECT_EQ(Encoded("ISO8859_1", LEAcute), QByteArray("\xE9"));
  EXPECT_EQ(Encoded("ISO8859_1", QString(QChar(0xFF))), QByteArray("\xFF"));
  EXPECT_EQ(Encoded("ISO8859_1", LEuro), "<unrepresentable>");
  EXPECT_EQ(Encoded("UTF8", LAstral), QByteArray("\xF0\x9F\x98\x80"));
  EXPECT_EQ(Encoded("UTF8", LAstral).size(), 4);
  EXPECT_EQ(Encoded("UTF8", LChinese + LEAcute), QByteArray("\xE4\xB8\xAD\xC3\xA9"));
  EXPECT_EQ(Encoded("UTF8", ""), QByteArray(""));
}

TEST(TTextEncoding, LoneSurrogatesAreNeverRepresentable) {
  const QString LHigh = QString(QChar(0xD83D));
  const QString LLow = QString(QChar(0xDE00));
  for (const char* LSet : {"UTF8", "WIN1252", "ISO8859_1", "ASCII"}) {
    bool LOk = true;
    Encoded(LSet, "a" + LHigh, &LOk);
    EXPECT_FALSE(LOk) << LSet << " trailing high surrogate";
    Encoded(LSet, LLow + "a", &LOk);
    EXPECT_FALSE(LOk) << LSet << " leading low surrogate";
    Encoded(LSet, LHigh + "x" + LLow, &LOk);
    EXPECT_FALSE(LOk) << LSet << " split pair";
  }
  // The converter is reusable after a refusal.
  auto LUtf8 = TTextEncoding::ForCharacterSet("UTF8");
  QByteArray LBytes;
  EXPECT_FALSE(LUtf8->TryEncode(QString(QChar(0xD800)), LBytes));
  EXPECT_TRUE(LUtf8->TryEncode(QString::fromUtf8("\xC3\xA9"), LBytes));
  EXPECT_EQ(LBytes, QByteArray("\xC3\xA9"));
}

TEST(TTextEncoding, DecodesEachSetAndMarksInvalidBytes) {
  EXPECT_EQ(TTextEncoding::ForCharacterSet("WIN1252")->Decode("\x80\xE7\x9F"),
            QString(QChar(0x20AC)) + QChar(0xE7) + QChar(0x0178));
  EXPECT_EQ(TTextEncoding::ForCharacterSet("ISO8859_1")->Decode("\x80\xE9"), QString(QChar(0x80)) + QChar(0xE9));
  EXPECT_EQ(TTextEncoding::ForCharacterSet("UTF8")->Decode("\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80"));
  EXPECT_EQ(TTextEncoding::ForCharacterSet("ASCII")->Decode("a\x80" "b"), "a" + QString(QChar(0xFFFD)) + "b");
  EXPECT_EQ(TTextEncoding::ForCharacterSet("UTF8")->Decode("a\xC3"), "a" + QString(QChar(0xFFFD)));
  EXPECT_EQ(TTextEncoding::ForCharacterSet("UTF8")->Decode(QByteArray("a\0b", 3)), QString::fromUtf8("a\0b", 3));
  // Every byte of the Microsoft table round-trips where it is assigned.
  auto LWin = TTextEncoding::ForCharacterSet("WIN1252");
  for (int LByte = 0; LByte < 256; ++LByte) {
    const QByteArray LIn(1, char(LByte));
    const QString LText = LWin->Decode(LIn);
    if (LText == QString(QChar(0xFFFD))) continue;
    QByteArray LOut;
    ASSERT_TRUE(LWin->TryEncode(LText, LOut)) << LByte;
    EXPECT_EQ(LOut, LIn) << LByte;
  }
}

TEST(SingleByteDecodingSet, TheConnectionSetWhenSingleByteElseWin1252) {
  EXPECT_EQ(SingleByteDecodingSet("iso8859_1"), "ISO8859_1");
  EXPECT_EQ(SingleByteDecodingSet("ASCII"), "ASCII");
  EXPECT_EQ(SingleByteDecodingSet("NONE"), "WIN1252");
  EXPECT_EQ(SingleByteDecodingSet("UTF8"), "WIN1252");
}

// ---------------------------------------------------------------------------------------
// Named parameters

TEST(ParseNamedSql, ReplacesMarkersAndKeepsEverythingElse) {
  const TNamedSql LSql = ParseNamedSql("SELECT * FROM \"T\" WHERE A = :P0 AND B=:r_1 OR C = :T");
  EXPECT_EQ(LSql.Positional, "SELECT * FROM \"T\" WHERE A = ? AND B=? OR C = ?");
  EXPECT_EQ(LSql.Names, (QStringList{"P0", "r_1", "T"}));
  EXPECT_EQ(ParseNamedSql("SELECT 1 FROM RDB$DATABASE").Positional, "SELECT 1 FROM RDB$DATABASE");
  EXPECT_TRUE(ParseNamedSql("SELECT 1 FROM RDB$DATABASE").Names.isEmpty());
}

TEST(ParseNamedSql, IgnoresMarkersInStringsIdentifiersAndComments) {
  const TNamedSql LSql = ParseNamedSql(
      "SELECT ':A', 'it''s :B', \"col:C\", \"x\"\":D\" -- :E\n"
      "/* :F */ , :G, q'{:H}', Q'(:I)' FROM T WHERE X=:J");
  EXPECT_EQ(LSql.Names, (QStringList{"G", "J"}));
  EXPECT_EQ(LSql.Positional,
            "SELECT ':A', 'it''s :B', \"col:C\", \"x\"\":D\" -- :E\n"
            "/* :F */ , ?, q'{:H}', Q'(:I)' FROM T WHERE X=?");
  // A name ending in q is not the start of a q-string.
  EXPECT_EQ(ParseNamedSql("SELECT :Pq, :Q0 FROM T").Names, (QStringList{"Pq", "Q0"}));
}

TEST(ParseNamedSql, LonelyColonsAndUnterminatedTextsAreLeftAlone) {
  EXPECT_TRUE(ParseNamedSql("SELECT a : b, ':").Names.isEmpty());
  EXPECT_EQ(ParseNamedSql("SELECT a : b, ':").Positional, "SELECT a : b, ':");
  EXPECT_TRUE(ParseNamedSql("x /* :open").Names.isEmpty());
  EXPECT_TRUE(ParseNamedSql("x \":open").Names.isEmpty());
  EXPECT_TRUE(ParseNamedSql("x q'{:open").Names.isEmpty());
  EXPECT_EQ(ParseNamedSql(":").Positional, ":");
  EXPECT_EQ(ParseNamedSql(":a:b").Names, (QStringList{"a", "b"}));
  EXPECT_EQ(ParseNamedSql("").Positional, "");
}

TEST(ParseNamedSql, SurvivesArbitraryInput) {
  // Every prefix of a text full of half-open constructs parses without crashing.
  const QString LNasty = "q'[:a]' '':b\"\":c--:d\n/*:e*/:f_9 ::g q' Q'< :h";
  for (qsizetype I = 0; I <= LNasty.size(); ++I) {
    const TNamedSql LSql = ParseNamedSql(LNasty.left(I));
    EXPECT_LE(LSql.Positional.size(), I);
  }
}

// ---------------------------------------------------------------------------------------
// Connection settings without a server

TEST(TDbConnectionParams, NamesIgnoreCaseEmptyRemovesOrderIsKept) {
  TDbConnection LConnection;
  LConnection.SetParams("DriverID=FB\r\nProtocol=TCPIP\nServer=host\r\nbogus line\r\nDatabase=C:\\a=b.fdb\r\n");
  EXPECT_EQ(LConnection.Param("database"), "C:\\a=b.fdb");
  EXPECT_EQ(LConnection.Param("Absent"), "");
  LConnection.SetParam("SERVER", "other");
  LConnection.SetParam("User_Name", "SYSDBA");
  LConnection.SetParam("protocol", "");
  EXPECT_EQ(LConnection.ParamsText(), "DriverID=FB\r\nServer=other\r\nDatabase=C:\\a=b.fdb\r\nUser_Name=SYSDBA\r\n");
  LConnection.SetParams("A=1");
  EXPECT_EQ(LConnection.ParamsText(), "A=1\r\n");
}

TEST(TDbConnectionParams, AttachmentStringFollowsTheProtocol) {
  TDbConnection LConnection;
  LConnection.SetParams("Protocol=TCPIP\nServer=db.example\nDatabase=/data/erp.fdb");
  EXPECT_EQ(LConnection.AttachmentString(), "db.example:/data/erp.fdb");
  LConnection.SetParams("Protocol=local\nServer=localhost\nDatabase=C:\\dados\\base.fdb");
  EXPECT_EQ(LConnection.AttachmentString(), "localhost:C:\\dados\\base.fdb");
  LConnection.SetParams("Protocol=LOCAL\nDatabase=/data/erp.fdb");
  EXPECT_EQ(LConnection.AttachmentString(), "/data/erp.fdb");
  LConnection.SetParams("Protocol=NetBEUI\nServer=srv\nDatabase=C:\\dados\\base.fdb");
  EXPECT_EQ(LConnection.AttachmentString(), "\\\\srv\\C:\\dados\\base.fdb");
  LConnection.SetParams("Protocol=TCPIP\nServer=srv/3051\nDatabase=erp");
  EXPECT_EQ(LConnection.AttachmentString(), "srv/3051:erp");
}

// Items of a DPB as tag -> value.
QMap<int, QByteArray> DpbItems(const QByteArray& aBlock) {
  QMap<int, QByteArray> LItems;
  EXPECT_EQ(aBlock.at(0), char(isc_dpb_version1));
  for (qsizetype I = 1; I + 1 < aBlock.size();) {
    const int LTag = static_cast<unsigned char>(aBlock[I]);
    const int LLength = static_cast<unsigned char>(aBlock[I + 1]);
    LItems[LTag] = aBlock.mid(I + 2, LLength);
    I += 2 + LLength;
  }
  return LItems;
}

TEST(ParameterBlocks, AttachmentBlockCarriesWhatTheListHolds) {
  TDbConnection LConnection;
  LConnection.SetParams(QString::fromUtf8("User_Name=SYSDBA\nPassword=s\xC3\xA9nha\nCharacterSet=WIN1252"));
  auto LItems = DpbItems(Fb::AttachmentParameterBlock(LConnection));
  EXPECT_EQ(LItems.value(isc_dpb_user_name), "SYSDBA");
  EXPECT_EQ(LItems.value(isc_dpb_password), "s\xC3\xA9nha");
  EXPECT_EQ(LItems.value(isc_dpb_lc_ctype), "WIN1252");
  EXPECT_EQ(LItems.value(isc_dpb_sql_dialect), QByteArray("\x03\x00\x00\x00", 4));
  EXPECT_TRUE(LItems.contains(isc_dpb_utf8_filename));
  EXPECT_TRUE(LItems.value(isc_dpb_utf8_filename).isEmpty());

  for (const char* LNone : {"NONE", "none", "None", ""}) {
    LConnection.SetParams(QString("CharacterSet=") + LNone);
    LItems = DpbItems(Fb::AttachmentParameterBlock(LConnection));
    EXPECT_FALSE(LItems.contains(isc_dpb_lc_ctype)) << LNone;
    EXPECT_FALSE(LItems.contains(isc_dpb_user_name));
    EXPECT_FALSE(LItems.contains(isc_dpb_password));
    EXPECT_TRUE(LItems.contains(isc_dpb_sql_dialect));
  }
  // A value longer than an item can carry is refused, not cut.
  LConnection.SetParams("Password=" + QString(300, QLatin1Char('x')));
  EXPECT_THROW(Fb::AttachmentParameterBlock(LConnection), TCorvaneError);
}

TEST(ParameterBlocks, TransactionBlockFollowsTheOptions) {
  auto B = [](std::initializer_list<int> aBytes) {
    QByteArray LBytes;
    for (int LByte : aBytes) LBytes.append(char(LByte));
    return LBytes;
  };
  EXPECT_EQ(Fb::TransactionParameterBlock(true, TIsolation::tiSnapshot),
            B({isc_tpb_version3, isc_tpb_read, isc_tpb_concurrency, isc_tpb_nowait}));
  EXPECT_EQ(Fb::TransactionParameterBlock(false, TIsolation::tiReadCommitted),
            B({isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_nowait}));
  EXPECT_EQ(Fb::TransactionParameterBlock(false, TIsolation::tiSerializable),
            B({isc_tpb_version3, isc_tpb_write, isc_tpb_consistency, isc_tpb_nowait}));
}

TEST(FbClientName, WindowsNameMapsToThePlatformLibrary) {
  EXPECT_EQ(Fb::ResolveLibraryName("fbclient.dll"), "libfbclient.so.2");
  EXPECT_EQ(Fb::ResolveLibraryName("FBCLIENT.DLL"), "libfbclient.so.2");
  EXPECT_EQ(Fb::ResolveLibraryName(""), "libfbclient.so.2");
  EXPECT_EQ(Fb::ResolveLibraryName("/opt/firebird/lib/libfbclient.so"), "/opt/firebird/lib/libfbclient.so");
  EXPECT_EQ(Fb::ResolveLibraryName("libfbembed.so.2.5"), "libfbembed.so.2.5");
}

}  // namespace
