// Values that must reach the target exactly as the source holds them, replayed by the real
// client: text of CHARACTER SET NONE under every connection set, and floating-point values
// bit for bit; keys of every type followed by the walk and chosen on the command line.
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const char* const CNoneSchema = R"SQL(
CREATE TABLE ROOT (ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE NP (K VARCHAR(10) CHARACTER SET NONE NOT NULL PRIMARY KEY, C CHAR(4) CHARACTER SET NONE,
  B BLOB SUB_TYPE TEXT CHARACTER SET NONE);
CREATE TABLE NC (ID INTEGER NOT NULL PRIMARY KEY, ROOT_ID INTEGER NOT NULL, P_K VARCHAR(10) CHARACTER SET NONE,
  CONSTRAINT FK_NC_ROOT FOREIGN KEY (ROOT_ID) REFERENCES ROOT (ID),
  CONSTRAINT FK_NC_NP FOREIGN KEY (P_K) REFERENCES NP (K));
CREATE TABLE NR (ID INTEGER NOT NULL PRIMARY KEY, R_K VARCHAR(10) CHARACTER SET NONE);
)SQL";

// Keys whose bytes read as one text under some set (E9 and C3A9 both read as "é" under UTF8),
// bytes no set but NONE holds, and plain ASCII.
const char* const CNoneData = R"SQL(
INSERT INTO ROOT VALUES (1);
INSERT INTO NP VALUES (x'E9', x'E920', x'E9');
INSERT INTO NP VALUES (x'C3A9', x'C3A9', x'C3A9');
INSERT INTO NP VALUES (x'81FF', x'8D', x'9D');
INSERT INTO NP VALUES ('A', 'A', 'A');
INSERT INTO NC VALUES (1, 1, x'E9');
INSERT INTO NC VALUES (2, 1, x'C3A9');
INSERT INTO NC VALUES (3, 1, x'81FF');
INSERT INTO NC VALUES (4, 1, 'A');
INSERT INTO NR VALUES (1, x'E9');
INSERT INTO NR VALUES (2, x'C3A9');
INSERT INTO NR VALUES (3, x'81FF');
INSERT INTO NR VALUES (4, 'A');
INSERT INTO NR VALUES (5, x'E8');
)SQL";

// The rows of a table with every NONE column as its bytes.
QStringList NoneRows(const TTestDatabase& aDatabase, const QString& aSelect) {
  auto LConnection = aDatabase.Connect("UTF8");
  QStringList LRows = QueryRows(*LConnection, aSelect);
  LRows.sort();
  return LRows;
}

const std::pair<const char*, const char*> CNoneTables[] = {
    {"ROOT", "SELECT ID FROM ROOT"},
    {"NP", "SELECT CAST(K AS VARCHAR(10) CHARACTER SET OCTETS), CAST(C AS CHAR(4) CHARACTER SET OCTETS), "
           "CAST(CAST(B AS VARCHAR(8000) CHARACTER SET NONE) AS VARCHAR(8000) CHARACTER SET OCTETS) FROM NP"},
    {"NC", "SELECT ID, ROOT_ID, CAST(P_K AS VARCHAR(10) CHARACTER SET OCTETS) FROM NC"},
    {"NR", "SELECT ID, CAST(R_K AS VARCHAR(10) CHARACTER SET OCTETS) FROM NR WHERE ID < 5"}};

}  // namespace

// The same NONE bytes must arrive whatever set the export connects with; lookups by NONE
// columns (a foreign key, a configured relation) must find their rows, and two keys whose
// bytes read as one text stay two rows.
TEST(FidelityTest, NoneTextReachesTheTargetAsItsBytesUnderEveryConnectionSet) {
  TTestDatabase LSource("none-source", QString(CNoneSchema) + "COMMIT;\n" + CNoneData);
  // A text BLOB beyond one chunk, with bytes no single-byte set reads back unchanged.
  QByteArray LLong;
  for (int I = 0; I < 4500; ++I) LLong += char(0x80 + I % 128);
  LSource.Execute("UPDATE NP SET B = x'" + QString::fromLatin1(LLong.toHex()) + "' WHERE K = 'A';");
  QTemporaryDir LDir;
  for (const char* LCharset : {"WIN1252", "UTF8", "ISO8859_1", "ASCII"}) {
    for (const bool LCache : {true, false}) {
      SCOPED_TRACE(std::string(LCharset) + (LCache ? " with the run cache" : " without the run cache"));
      auto LConnection = LSource.Connect(LCharset);
      auto LExporter = TSliceExporter::Create(LConnection.get());
      LExporter->Table("ROOT")
          ->IncludeChildren("NC", "ROOT_ID", "ID")
          ->IncludeRelated("NC", "NR", "R_K", "P_K", "")
          ->Key("ID", TValue::Integer(1));
      LExporter->SetRunCache(LCache);
      const QString LFile = LDir.filePath(QString(LCharset) + (LCache ? "-cache.sql" : ".sql"));
      ASSERT_NO_THROW(LExporter->SaveToFile(LFile));
      const QString LScript = QString::fromUtf8(ReadFileBytes(LFile));
      EXPECT_TRUE(LScript.contains("-- Registros exportados: 13")) << LScript.toStdString();

      TTestDatabase LTarget("none-target", CNoneSchema);
      const TIsqlResult LReplay = LTarget.Replay(LFile);
      ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
      ASSERT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();
      for (const auto& [LTable, LSelect] : CNoneTables)
        EXPECT_EQ(NoneRows(LTarget, LSelect), NoneRows(LSource, LSelect)) << LTable;
      // Again: every statement matches its row by the NONE key, as written.
      const TIsqlResult LAgain = LTarget.Replay(LFile);
      EXPECT_TRUE(LAgain.ExitCode == 0 && LAgain.Errors.trimmed().isEmpty()) << LAgain.Errors.toStdString();
    }
  }
  // Text the connection set writes back unchanged keeps its introduced form; other bytes go bare.
  TSqlLiterals LUtf8("UTF8"), LWin1252("WIN1252");
  const TValue LE9 = TValue::UntranslatedText(TValueKind::vkText, "\xE9", QString::fromUtf8("é"));
  const TValue LC3A9 = TValue::UntranslatedText(TValueKind::vkText, "\xC3\xA9", QString::fromUtf8("é"));
  EXPECT_EQ(LWin1252.Literal(LE9, "K"), "_WIN1252 x'E9'");
  EXPECT_EQ(LUtf8.Literal(LE9, "K"), "x'E9'");
  EXPECT_EQ(LUtf8.Literal(LC3A9, "K"), "_UTF8 x'C3A9'");
  EXPECT_FALSE(LE9 == LC3A9);
  EXPECT_EQ(LUtf8.Literal(TValue::UntranslatedText(TValueKind::vkTextBlob, "\xE9", QString::fromUtf8("é")), "B"),
            "(CAST(x'' AS BLOB SUB_TYPE TEXT CHARACTER SET NONE) || CAST(x'E9' AS BLOB SUB_TYPE TEXT CHARACTER SET NONE))");
}

namespace {

std::uint64_t Bits(double aValue) {
  std::uint64_t LBits;
  std::memcpy(&LBits, &aValue, sizeof LBits);
  return LBits;
}

std::uint32_t Bits(float aValue) {
  std::uint32_t LBits;
  std::memcpy(&LBits, &aValue, sizeof LBits);
  return LBits;
}

}  // namespace

// Firebird's reading of a decimal literal is not correctly rounded and refuses some finite
// values: whatever the literal of a float is, the server must store the very same bits, in
// DOUBLE PRECISION and in FLOAT columns.
TEST(FidelityTest, RandomFloatsReplayBitForBit) {
  constexpr int CColumns = 10;
  constexpr int CRows = 4000;
  QString LSchema = "CREATE TABLE F (ID INTEGER NOT NULL PRIMARY KEY";
  for (int I = 0; I < CColumns; ++I) LSchema += QString(", D%1 DOUBLE PRECISION, S%1 FLOAT").arg(I);
  TTestDatabase LDatabase("floats", LSchema + ");");

  // Extremes of both kinds and the values the reader is known to get wrong, then random bit
  // patterns: uniform over all finite values, subnormals alone, and everyday magnitudes.
  std::vector<double> LDoubles{0.0, -0.0, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN,
                               std::nextafter(DBL_MIN, 0.0), -std::nextafter(DBL_MIN, 0.0), FLT_MAX, -FLT_MAX,
                               3.3333333333333334E-301, -906834.63876448758, 0.1, 1E17, 1E-5, 1E23, 5E-324};
  std::vector<float> LFloats{0.0f, -0.0f, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN,
                             std::nextafter(FLT_MIN, 0.0f), std::nextafter(FLT_MAX, 0.0f), 0.1f, 1E-5f, 16777217.0f};
  std::mt19937_64 LRandom(20261209);
  while (LDoubles.size() < std::size_t(CColumns * CRows)) {
    std::uint64_t LBits = LRandom();
    switch (LDoubles.size() % 4) {
      case 1: LBits &= 0x800FFFFFFFFFFFFFull; break;  // subnormal
      case 2: {
        const double LValue = std::uniform_real_distribution<double>(-1E6, 1E6)(LRandom);
        LBits = Bits(LValue);
        break;
      }
      default: break;
    }
    double LValue;
    std::memcpy(&LValue, &LBits, sizeof LValue);
    if (std::isfinite(LValue)) LDoubles.push_back(LValue);
  }
  while (LFloats.size() < std::size_t(CColumns * CRows)) {
    std::uint32_t LBits = std::uint32_t(LRandom());
    if (LFloats.size() % 4 == 1) LBits &= 0x807FFFFFu;
    float LValue;
    std::memcpy(&LValue, &LBits, sizeof LValue);
    if (std::isfinite(LValue)) LFloats.push_back(LValue);
  }

  TSqlLiterals LLiterals("UTF8");
  QString LHead = "UPDATE OR INSERT INTO \"F\" (\"ID\"";
  for (int I = 0; I < CColumns; ++I) LHead += QString(", \"D%1\", \"S%1\"").arg(I);
  LHead += ") VALUES (";
  QByteArray LScript = "SET SQL DIALECT 3;\r\n";
  int LExact = 0;
  for (int LRow = 0; LRow < CRows; ++LRow) {
    QString LStatement = LHead + QString::number(LRow);
    for (int I = 0; I < CColumns; ++I) {
      const QString LDouble = LLiterals.Literal(TValue::Float(LDoubles[std::size_t(LRow * CColumns + I)]), "D");
      const QString LFloat = LLiterals.Literal(TValue::SingleFloat(LFloats[std::size_t(LRow * CColumns + I)]), "S");
      LExact += LDouble.contains("POWER") + LFloat.contains("POWER");
      LStatement += ", " + LDouble + ", " + LFloat;
    }
    LStatement += ") MATCHING (\"ID\");";
    for (const QChar LChar : LStatement) ASSERT_TRUE(LChar.unicode() >= 0x20 && LChar.unicode() < 0x80) << "one ASCII line";
    LScript += LStatement.toLatin1() + "\r\n";
  }
  LScript += "COMMIT;\r\n";
  QTemporaryDir LDir;
  const QString LFile = LDir.filePath("floats.sql");
  WriteFileBytes(LFile, LScript);
  const TIsqlResult LReplay = LDatabase.Replay(LFile);
  ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.left(2000).toStdString();

  auto LConnection = LDatabase.Connect("UTF8");
  LConnection->StartTransaction();
  int LRows = 0, LDifferent = 0;
  {
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL("SELECT * FROM F ORDER BY ID");
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next(), ++LRows) {
      const int LRow = int(LQuery.FieldByName("ID").Value().AsInteger());
      for (int I = 0; I < CColumns; ++I) {
        const double LDouble = LDoubles[std::size_t(LRow * CColumns + I)];
        const float LFloat = LFloats[std::size_t(LRow * CColumns + I)];
        const TValue LGotDouble = LQuery.FieldByName(QString("D%1").arg(I)).Value();
        const TValue LGotFloat = LQuery.FieldByName(QString("S%1").arg(I)).Value();
        if (LGotDouble.IsNull() || Bits(LGotDouble.AsFloat()) != Bits(LDouble)) {
          if (++LDifferent <= 10)
            ADD_FAILURE() << std::hexfloat << LDouble << " came back as " << LGotDouble.AsFloat() << " from "
                          << LLiterals.Literal(TValue::Float(LDouble), "D").toStdString();
        }
        if (LGotFloat.IsNull() || Bits(float(LGotFloat.AsFloat())) != Bits(LFloat)) {
          if (++LDifferent <= 10)
            ADD_FAILURE() << std::hexfloat << LFloat << " (FLOAT) came back as " << LGotFloat.AsFloat() << " from "
                          << LLiterals.Literal(TValue::SingleFloat(LFloat), "S").toStdString();
        }
      }
    }
  }
  LConnection->Rollback();
  EXPECT_EQ(LRows, CRows);
  EXPECT_EQ(LDifferent, 0);
  std::printf("[ floats   ] %d doubles and %d floats replayed, %d in the exact form, %d bits differ\n",
              CColumns * CRows, CColumns * CRows, LExact, LDifferent);
}

// Firebird lets a DOUBLE PRECISION or FLOAT column reference an INTEGER or NUMERIC key; the
// walk must find rows across the two kinds as the server compares them, and a float that no
// value of the other type equals finds nothing.
TEST(FidelityTest, KeysOfFloatAndExactColumnsFindEachOther) {
  const char* const LSchema = R"SQL(
CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE PN (ID NUMERIC(9,2) NOT NULL PRIMARY KEY);
CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, D DOUBLE PRECISION, DN DOUBLE PRECISION, F FLOAT, K DOUBLE PRECISION,
  CONSTRAINT FK_C_P FOREIGN KEY (D) REFERENCES P (ID), CONSTRAINT FK_C_PN FOREIGN KEY (DN) REFERENCES PN (ID),
  CONSTRAINT FK_C_PF FOREIGN KEY (F) REFERENCES P (ID));
CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY, PI INTEGER, PF FLOAT, PN NUMERIC(9,2));
)SQL";
  TTestDatabase LSource("float-keys", QString(LSchema) + "COMMIT;\n" + R"SQL(
INSERT INTO P VALUES (7);
INSERT INTO P VALUES (8);
INSERT INTO PN VALUES (1.10);
INSERT INTO C VALUES (1, 7, 1.1, 8, 7);
INSERT INTO C VALUES (2, NULL, NULL, NULL, 7.5);
INSERT INTO C VALUES (3, NULL, NULL, NULL, 0.1);
INSERT INTO C VALUES (4, NULL, NULL, NULL, 1.1);
INSERT INTO R VALUES (1, 7, 7, NULL);
INSERT INTO R VALUES (2, 8, 0.1, NULL);
INSERT INTO R VALUES (3, NULL, NULL, 1.10);
)SQL");
  // Root row, the rows it must bring, in any order of the walk.
  const std::pair<int, QStringList> LCases[] = {{1, {"C | ID=1", "P | ID=7", "PN | ID=1.1", "P | ID=8", "R | ID=1"}},
                                                {2, {"C | ID=2"}},
                                                {3, {"C | ID=3"}},
                                                {4, {"C | ID=4", "R | ID=3"}}};
  QTemporaryDir LDir;
  for (const bool LCache : {true, false}) {
    for (const auto& [LId, LRows] : LCases) {
      SCOPED_TRACE("C " + std::to_string(LId) + (LCache ? " with the run cache" : " without the run cache"));
      auto LConnection = LSource.Connect("UTF8");
      auto LExporter = TSliceExporter::Create(LConnection.get());
      LExporter->Table("C")
          ->IncludeRelated("C", "R", "PI", "K", "")
          ->IncludeRelated("C", "R", "PF", "K", "")
          ->IncludeRelated("C", "R", "PN", "K", "")
          ->Key("ID", TValue::Integer(LId));
      LExporter->SetRunCache(LCache);
      const QString LFile = LDir.filePath("c.sql");
      ASSERT_NO_THROW(LExporter->SaveToFile(LFile));
      QStringList LWritten;
      for (const QString& LLine : QString::fromUtf8(ReadFileBytes(LFile)).split("\r\n"))
        if (QRegularExpression("^-- \\w+ \\| ID=[0-9.]+$").match(LLine).hasMatch()) LWritten << LLine.mid(3);
      QStringList LExpected = LRows;
      LWritten.sort();
      LExpected.sort();
      EXPECT_EQ(LWritten, LExpected);
      TTestDatabase LTarget("float-keys-target", LSchema);
      const TIsqlResult LReplay = LTarget.Replay(LFile);
      EXPECT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    }
  }
}

// corvane-cli export --key: the text becomes a value of the key column's type; a text of the
// wrong form is refused naming the column and the form, and a relation that no chain from the
// root table reaches is refused before connecting.
TEST(FidelityTest, CommandLineKeysOfEveryTypeChooseTheirRow) {
  TTestDatabase LDatabase("cli-keys", R"SQL(
CREATE TABLE K (ID INTEGER NOT NULL PRIMARY KEY, DT DATE, TM TIME, TS TIMESTAMP, DP DOUBLE PRECISION, FL FLOAT,
  NM NUMERIC(9,2), OC CHAR(2) CHARACTER SET OCTETS, TX VARCHAR(10));
CREATE TABLE KC (ID INTEGER NOT NULL PRIMARY KEY, K_ID INTEGER);
CREATE TABLE KB (B BOOLEAN NOT NULL PRIMARY KEY);
COMMIT;
INSERT INTO K VALUES (1, '2024-01-31', '13:45:00.5', '2024-01-31 13:45:00.123', 0.1, 0.1, 12.5, x'0AFF', 'um');
INSERT INTO K VALUES (2, '2024-02-01', '13:45:01', '2024-01-31 13:45:00', -1.5E-3, 2.5, -0.01, x'0000', 'dois');
INSERT INTO KC VALUES (10, 1);
INSERT INTO KB VALUES (TRUE);
)SQL");
  QTemporaryDir LFolder;
  const QString LConfig = LFolder.filePath("config.ini");
  WriteFileBytes(LConfig, QString("[Firebird]\nUserName=%1\nPassword=%2\nCharacterSet=UTF8\n[BANCO]\nCAMINHO=%3\n")
                              .arg(ServerUser(), ServerPassword(), LDatabase.Path())
                              .toUtf8());
  const QString LFile = LFolder.filePath("k.sql");
  const auto LExport = [&](const QStringList& aKeys, const QStringList& aMore = {}, const QString& aTable = "K") {
    QStringList LArguments{"export", "--table", aTable};
    for (const QString& LKey : aKeys) LArguments << "--key" << LKey;
    QFile::remove(LFile);
    return RunCliProgram(LArguments + aMore + QStringList{"-o", LFile, "--config", LConfig, "--quiet"});
  };
  const std::pair<const char*, const char*> LFound[] = {
      {"DT=2024-01-31", "K | ID=1"},        {"TM=13:45:00.500", "K | ID=1"},    {"TM=13:45:01", "K | ID=2"},
      {"TS=2024-01-31 13:45:00.123", "K | ID=1"}, {"TS=2024-01-31T13:45:00", "K | ID=2"},
      {"DP=0.1", "K | ID=1"},               {"DP=-1.5E-3", "K | ID=2"},         {"FL=0.1", "K | ID=1"},
      {"FL=2.5", "K | ID=2"},               {"NM=12.50", "K | ID=1"},           {"NM=-0.01", "K | ID=2"},
      {"OC=0aff", "K | ID=1"},
      {"TX=dois", "K | ID=2"},              {"ID= 2 ", "K | ID=2"},             {"ID=1.00", "K | ID=1"}};
  for (const auto& [LKey, LRow] : LFound) {
    const TCliRun LRun = LExport({LKey});
    EXPECT_EQ(LRun.ExitCode, 0) << LKey << ": " << LRun.Err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(ReadFileBytes(LFile)).contains(QString("\r\n-- ") + LRow + "\r\n")) << LKey;
  }
  const TCliRun LTwo = LExport({"DT=2024-01-31", "NM=12.5"}, {"--related", "K:KC:K_ID:ID"});
  EXPECT_EQ(LTwo.ExitCode, 0) << LTwo.Err.toStdString();
  EXPECT_TRUE(QString::fromUtf8(ReadFileBytes(LFile)).contains("-- Registros exportados: 2\r\n"));

  const std::pair<const char*, const char*> LRefused[] = {
      {"DT=31/01/2024", "DT: 31/01/2024 (esperado data AAAA-MM-DD, ex.: 2024-01-31)."},
      {"DT=2024-02-30", "DT: 2024-02-30 (esperado data AAAA-MM-DD"},
      {"TM=25:00:00", "TM: 25:00:00 (esperado hora HH:MM:SS[.ffff]"},
      {"TS=2024-01-31", "TS: 2024-01-31 (esperado data e hora"},
      {"DP=0,1", "DP: 0,1 (esperado numero com ponto decimal"},
      {"NM=12,5", "NM: 12,5 (esperado numero com ponto decimal"},
      {"ID=1.5", "ID: 1.5 (esperado numero inteiro"},
      {"OC=0A F", "OC: 0A F (esperado bytes em hexadecimal"}};
  for (const auto& [LKey, LMessage] : LRefused) {
    const TCliRun LRun = LExport({LKey});
    EXPECT_EQ(LRun.ExitCode, 1) << LKey;
    EXPECT_TRUE(LRun.Err.startsWith(QString("ERRO: Valor invalido para a chave ") + LMessage)) << LRun.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(LFile)) << LKey;
  }
  // A BOOLEAN key finds its row, written with its literal.
  EXPECT_EQ(LExport({"B=true"}, {}, "KB").Err, "");
  EXPECT_TRUE(QString::fromUtf8(ReadFileBytes(LFile)).contains("UPDATE OR INSERT INTO \"KB\" (\"B\") VALUES (TRUE) MATCHING (\"B\");"));
  EXPECT_EQ(LExport({"B=FALSE"}, {}, "KB").Err, "ERRO: Registro nao encontrado em KB.\n");
  EXPECT_EQ(LExport({"B=sim"}, {}, "KB").Err, "ERRO: Valor invalido para a chave B: sim (esperado true ou false).\n");
  // A column the table does not have is named before any row is read.
  EXPECT_EQ(LExport({"NADA=1"}).Err, "ERRO: Campo NADA nao existe na tabela K.\n");

  for (const char* LRelated : {"k:KC:K_ID:ID", "KX:KY:A:B"}) {
    const TCliRun LRun = LExport({"ID=1"}, {"--related", "K:KC:K_ID:ID", "--related", LRelated});
    EXPECT_EQ(LRun.ExitCode, 2) << LRelated;
    EXPECT_TRUE(LRun.Err.startsWith(QString("corvane-cli: --related ") + LRelated + " nunca seria percorrido"))
        << LRun.Err.toStdString();
  }
}
