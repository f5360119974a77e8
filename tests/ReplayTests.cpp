// Literals replayed by the real client: a row holding a literal of every kind, written as
// a script and run with isql into a table of each connection character set, reads back
// equal to the values it was made from.
#include "Corvane.Literals.h"
#include "TestDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

struct TColumn {
  const char* Name;
  const char* Type;
  TValue Value;
};

QString Text(const QString& aCharset) {
  if (aCharset == "WIN1252") return QString::fromUtf8("Olá €'\"\r\n\t;--");
  if (aCharset == "ISO8859_1") return QString::fromUtf8("Olá ÿ'\"\r\n\t;--");
  if (aCharset == "ASCII") return QString::fromUtf8("Ola '\"\r\n\t;--");
  return QString::fromUtf8("Olá 😀 中'\"\r\n\t;--");
}

std::vector<TColumn> Columns(const QString& aCharset) {
  const QString LText = Text(aCharset);
  QString LLong;
  while (LLong.size() < 4500) LLong += LText;
  QByteArray LBytes;
  for (int I = 0; I < 4001; ++I) LBytes += char(I % 256);
  return {
      {"I16", "SMALLINT", TValue::Integer(-32768)},
      {"I32", "INTEGER", TValue::Integer(2147483647)},
      {"I64", "BIGINT", TValue::Integer(std::numeric_limits<std::int64_t>::min())},
      {"D", "NUMERIC(18,4)", TValue::Decimal(-123456789012345678, 4)},
      {"D2", "NUMERIC(9,2)", TValue::Decimal(123456789, 2)},
      {"F", "DOUBLE PRECISION", TValue::Float(0.1)},
      {"F2", "DOUBLE PRECISION", TValue::Float(-2.5e-300)},
      {"R", "FLOAT", TValue::Float(double(0.1f))},
      {"DT", "DATE", TValue::Date({7, 1, 2})},
      {"TM", "TIME", TValue::Time({23, 59, 59, 999})},
      {"TS", "TIMESTAMP", TValue::Timestamp({{2024, 12, 31}, {23, 59, 59, 999}})},
      {"C", "CHAR(40)", TValue::Text(LText)},
      {"VC", "VARCHAR(40)", TValue::Text(LText + "  ")},
      {"EMPTY", "VARCHAR(10)", TValue::Text("")},
      {"TB", "BLOB SUB_TYPE TEXT", TValue::TextBlob(LLong)},
      {"BB", "BLOB SUB_TYPE 0", TValue::Bytes(LBytes)},
      {"OC", "VARCHAR(8) CHARACTER SET OCTETS", TValue::Bytes(QByteArray("\x00\x01\xFF", 3))},
      {"NUL", "INTEGER", TValue::Null(TValueKind::vkInteger)},
  };
}

class ReplayTest : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(ReplayTest, EveryKindRoundTripsThroughIsql) {
  const QString LCharset = GetParam();
  const std::vector<TColumn> LColumns = Columns(LCharset);
  QString LSchema = "CREATE TABLE V (ID INTEGER NOT NULL PRIMARY KEY";
  for (const TColumn& LColumn : LColumns) LSchema += QString(", %1 %2").arg(LColumn.Name, LColumn.Type);
  LSchema += ");";
  TTestDatabase LDatabase("replay-" + LCharset.toLower(), LSchema, LCharset);

  TSqlLiterals LLiterals(LCharset);
  QStringList LNames{"\"ID\""}, LValues{"1"};
  for (const TColumn& LColumn : LColumns) {
    LNames << TSqlLiterals::QuoteName(LColumn.Name);
    LValues << LLiterals.Literal(LColumn.Value, LColumn.Name);
  }
  const QString LStatement = "UPDATE OR INSERT INTO \"V\" (" + LNames.join(", ") + ") VALUES (" +
                             LValues.join(", ") + ") MATCHING (\"ID\");";
  for (const QChar LChar : LStatement) ASSERT_LT(LChar.unicode(), 0x80) << "literals are ASCII";
  QTemporaryDir LDir;
  const QString LFile = LDir.filePath("row.sql");
  WriteFileBytes(LFile, ("SET SQL DIALECT 3;\r\n" + LStatement + "\r\nCOMMIT;\r\n").toUtf8());
  const TIsqlResult LReplay = LDatabase.Replay(LFile);
  ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();

  auto LConnection = LDatabase.Connect(LCharset);
  LConnection->StartTransaction();
  {
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL("SELECT * FROM V WHERE ID = :ID");
    LQuery.SetParam("ID", TValue::Integer(1));
    LQuery.Open();
    ASSERT_FALSE(LQuery.Eof());
    for (const TColumn& LColumn : LColumns) {
      const TDbField& LField = LQuery.FieldByName(LColumn.Name);
      TValue LExpected = LColumn.Value;
      // CHAR columns come back without their trailing blanks; the text had none.
      EXPECT_TRUE(LField.Value() == LExpected)
          << LColumn.Name << ": got " << LField.TextForm().toStdString() << ", expected "
          << LExpected.TextForm().toStdString();
    }
  }
  LConnection->Rollback();
}

INSTANTIATE_TEST_SUITE_P(CharacterSets, ReplayTest, ::testing::Values("WIN1252", "UTF8", "ISO8859_1", "ASCII"));
