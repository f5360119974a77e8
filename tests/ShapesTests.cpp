// Every Firebird 3 value and shape a customer's schema may hold, exported and replayed by the
// real client into an empty database whose foreign keys are all enforced: times to the tenth
// of a millisecond, BOOLEAN in every role, chains and trees of any depth, and the names and
// messages a user meets on the command line.
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "Corvane.Replayer.h"
#include "Corvane.ScriptReader.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

QString ErrorOf(const std::function<void()>& aWork) {
  try {
    aWork();
  } catch (const TCorvaneError& aError) {
    return aError.Message();
  }
  return {};
}

// Replays aFile into a new empty database of aSchema with isql and returns it.
std::unique_ptr<TTestDatabase> ReplayedByIsql(const QString& aName, const QString& aSchema, const QString& aFile) {
  auto LTarget = std::make_unique<TTestDatabase>(aName, aSchema);
  const TIsqlResult LReplay = LTarget->Replay(aFile);
  EXPECT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
  EXPECT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();
  return LTarget;
}

QStringList Rows(const TTestDatabase& aDatabase, const QString& aSelect) {
  auto LConnection = aDatabase.Connect("UTF8");
  return QueryRows(*LConnection, aSelect);
}

// The replayer into an empty target, then again: everything new, then everything unchanged.
void ExpectReplayerRoundTrip(const QString& aSchema, const QString& aFile) {
  const TSliceScript LScript = TSliceScript::ReadFile(aFile);
  TTestDatabase LTarget("shapes-replayer", aSchema);
  for (const bool LAgain : {false, true}) {
    auto LConnection = LTarget.Connect("UTF8");
    const TReplayResult LResult = TSliceReplayer(*LConnection).Run(LScript);
    EXPECT_TRUE(LResult.Committed);
    EXPECT_EQ(LResult.Divergent, 0);
    EXPECT_EQ(LAgain ? LResult.Unchanged : LResult.Inserted, LScript.Count());
  }
}

const char* const CTimeSchema = R"SQL(
CREATE TABLE TP (TS TIMESTAMP NOT NULL PRIMARY KEY, NOTE VARCHAR(10));
CREATE TABLE TT (T TIME NOT NULL PRIMARY KEY, NOTE VARCHAR(10));
CREATE TABLE TR (ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE TV (ID INTEGER NOT NULL PRIMARY KEY, R_ID INTEGER NOT NULL REFERENCES TR, TS TIMESTAMP, T TIME,
  P_TS TIMESTAMP REFERENCES TP, P_T TIME REFERENCES TT);
)SQL";

// Every fraction as the server formats it, so that a value cut short cannot hide.
const char* const CTimeRows[] = {
    "SELECT ID, R_ID, CAST(TS AS VARCHAR(30)), CAST(T AS VARCHAR(20)), CAST(P_TS AS VARCHAR(30)), "
    "CAST(P_T AS VARCHAR(20)) FROM TV ORDER BY ID",
    "SELECT CAST(TS AS VARCHAR(30)), NOTE FROM TP WHERE NOTE <> 'errado' ORDER BY TS",
    "SELECT CAST(T AS VARCHAR(20)), NOTE FROM TT WHERE NOTE <> 'errado' ORDER BY T",
    "SELECT ID FROM TR"};

}  // namespace

// Times keep all four fraction digits: in values, in the keys the walk binds (a parent at
// .1234 beside another at .1230 is the one referenced), in literals (three digits when the
// fourth is zero), in the script reader, in --key texts, and through the replayer.
TEST(ShapesTest, TimesKeepEveryFractionDigitAndFindTheirOwnParents) {
  QString LData = R"SQL(
INSERT INTO TR VALUES (1);
INSERT INTO TP VALUES ('2024-01-31 13:45:00.1234', 'certo');
INSERT INTO TP VALUES ('2024-01-31 13:45:00.1230', 'errado');
INSERT INTO TP VALUES ('2024-01-31 13:45:00.0001', 'um');
INSERT INTO TP VALUES ('2024-12-31 23:59:59.9999', 'fim');
INSERT INTO TT VALUES ('13:45:00.1234', 'certo');
INSERT INTO TT VALUES ('13:45:00.1230', 'errado');
INSERT INTO TT VALUES ('00:00:00.0001', 'um');
)SQL";
  const char* const LFractions[] = {"0000", "0001", "0010", "0100", "1000", "1234", "5000", "9999", "1230"};
  int LId = 0;
  for (const char* LFraction : LFractions) {
    ++LId;
    const QString LParent = LId == 2 ? "'2024-01-31 13:45:00.0001', '00:00:00.0001'"
                            : LId == 6 ? "'2024-01-31 13:45:00.1234', '13:45:00.1234'"
                            : LId == 8 ? "'2024-12-31 23:59:59.9999', NULL"
                                       : "NULL, NULL";
    LData += QString("INSERT INTO TV VALUES (%1, 1, '2024-01-31 13:45:00.%2', '13:45:00.%2', %3);\n")
                 .arg(LId)
                 .arg(LFraction, LParent);
  }
  LData += "INSERT INTO TV VALUES (10, 1, '2024-12-31 23:59:59.9999', '23:59:59.9999', NULL, NULL);\n";
  TTestDatabase LSource("times-source", QString(CTimeSchema) + "COMMIT;\n" + LData);
  QTemporaryDir LDir;
  for (const bool LCache : {true, false}) {
    SCOPED_TRACE(LCache ? "with the run cache" : "without the run cache");
    auto LConnection = LSource.Connect("UTF8");
    auto LExporter = TSliceExporter::Create(LConnection.get());
    LExporter->Table("TR")->IncludeChildren("TV", "R_ID", "ID")->Key("ID", TValue::Integer(1));
    LExporter->SetRunCache(LCache);
    const QString LFile = LDir.filePath(LCache ? "times-cache.sql" : "times.sql");
    ASSERT_NO_THROW(LExporter->SaveToFile(LFile));
    const QString LScript = QString::fromUtf8(ReadFileBytes(LFile));
    EXPECT_TRUE(LScript.contains("VALUES (TIMESTAMP '2024-01-31 13:45:00.1234', _UTF8 x'")) << LScript.toStdString();
    EXPECT_TRUE(LScript.contains("TIMESTAMP '2024-01-31 13:45:00.123', TIME '13:45:00.123', NULL, NULL)"));
    EXPECT_TRUE(LScript.contains("TIMESTAMP '2024-01-31 13:45:00.000', TIME '13:45:00.000', NULL, NULL)"));
    EXPECT_TRUE(LScript.contains("TIME '00:00:00.0001'"));
    EXPECT_TRUE(LScript.contains("-- TP | TS=2024-01-31 13:45:00.1234\r\n"));
    EXPECT_FALSE(LScript.contains("-- TP | TS=2024-01-31 13:45:00.123\r\n"));
    EXPECT_TRUE(LScript.contains("-- Registros exportados: 16\r\n"));

    const auto LTarget = ReplayedByIsql("times-target", CTimeSchema, LFile);
    for (const char* LSelect : CTimeRows) EXPECT_EQ(Rows(*LTarget, LSelect), Rows(LSource, LSelect)) << LSelect;
    EXPECT_EQ(Rows(*LTarget, "SELECT COUNT(*) FROM TP"), QStringList{"3"});
    EXPECT_EQ(Rows(*LTarget, "SELECT COUNT(*) FROM TT"), QStringList{"2"});
    ExpectReplayerRoundTrip(CTimeSchema, LFile);
  }

  // A key of four digits chooses its row and no other; ".5" is half a second, as Firebird reads it.
  TValue LKey;
  ASSERT_TRUE(ValueFromText("2024-01-31 13:45:00.1234", TValueKind::vkTimestamp, LKey));
  auto LConnection = LSource.Connect("UTF8");
  auto LByKey = TSliceExporter::Create(LConnection.get());
  LByKey->Table("TP")->Key("TS", LKey);
  const QString LOne = LByKey->Generate();
  EXPECT_TRUE(LOne.contains("-- TP | TS=2024-01-31 13:45:00.1234\r\n")) << LOne.toStdString();
  EXPECT_TRUE(LOne.contains("-- Registros exportados: 1\r\n"));
  ASSERT_TRUE(ValueFromText("13:45:00.5", TValueKind::vkTime, LKey));
  EXPECT_EQ(LKey.AsTime(), (TTime{13, 45, 0, 500, 0}));
  EXPECT_FALSE(ValueFromText("13:45:00.12345", TValueKind::vkTime, LKey));

  // The reader takes what the writer writes, and refuses fractions it never writes rather
  // than reading them as another value.
  TScriptLiteral LLiteral;
  QString LError;
  const QByteArray LFour = "TIME '10:00:00.1234'";
  ASSERT_EQ(ParseLiteral(LFour.constData(), LFour.size(), LLiteral, LError), LFour.size());
  EXPECT_EQ(LLiteral.Value.AsTime(), (TTime{10, 0, 0, 123, 4}));
  for (const QByteArray LOther : {QByteArray("TIME '10:00:00.5'"), QByteArray("TIME '10:00:00.1230'"),
                                  QByteArray("TIMESTAMP '2024-01-01 10:00:00.50'"), QByteArray("TIME '10:00:00.12345'")})
    EXPECT_LT(ParseLiteral(LOther.constData(), LOther.size(), LLiteral, LError), LOther.size()) << LOther.constData();
}

namespace {

const char* const CBooleanSchema = R"SQL(
CREATE TABLE BP (FLAG BOOLEAN NOT NULL, CODE INTEGER NOT NULL, NOTE VARCHAR(10), CONSTRAINT PK_BP PRIMARY KEY (FLAG, CODE));
CREATE TABLE BC (ID INTEGER NOT NULL PRIMARY KEY, FLAG BOOLEAN NOT NULL, CODE INTEGER NOT NULL, OTHER_FLAG BOOLEAN,
  OTHER_CODE INTEGER, ACTIVE BOOLEAN,
  CONSTRAINT FK_BC_BP FOREIGN KEY (FLAG, CODE) REFERENCES BP (FLAG, CODE),
  CONSTRAINT FK_BC_OTHER FOREIGN KEY (OTHER_FLAG, OTHER_CODE) REFERENCES BP (FLAG, CODE));
CREATE TABLE BR (ID INTEGER NOT NULL PRIMARY KEY, ACTIVE BOOLEAN);
)SQL";

}  // namespace

// BOOLEAN as a root key, a primary key, a foreign key the walk follows, the key of a relation
// and a plain value; off by default, as before, and written as TRUE and FALSE when asked.
TEST(ShapesTest, BooleansInEveryRoleWhenTheExporterIsAskedTo) {
  TTestDatabase LSource("booleans-source", QString(CBooleanSchema) + "COMMIT;\n" + R"SQL(
INSERT INTO BP VALUES (TRUE, 1, 't1');
INSERT INTO BP VALUES (FALSE, 1, 'f1');
INSERT INTO BP VALUES (TRUE, 2, 't2');
INSERT INTO BC VALUES (1, TRUE, 1, FALSE, 1, TRUE);
INSERT INTO BC VALUES (2, TRUE, 2, NULL, NULL, FALSE);
INSERT INTO BR VALUES (10, TRUE);
INSERT INTO BR VALUES (11, FALSE);
INSERT INTO BR VALUES (12, NULL);
)SQL");
  const auto LConfigure = [](const ISliceExporterPtr& aExporter) {
    aExporter->Table("BP")
        ->Key("FLAG", TValue::Boolean(true))
        ->Key("CODE", TValue::Integer(1))
        ->IncludeRelated("BP", "BC", "FLAG, CODE", "FLAG, CODE", "")
        ->IncludeRelated("BC", "BR", "ACTIVE", "ACTIVE", "");
  };
  QTemporaryDir LDir;
  {
    auto LConnection = LSource.Connect("UTF8");
    auto LDefault = TSliceExporter::Create(LConnection.get());
    LConfigure(LDefault);
    EXPECT_EQ(ErrorOf([&] { LDefault->Generate(); }), "Tipo nao suportado no campo FLAG");
  }
  for (const bool LCache : {true, false}) {
    SCOPED_TRACE(LCache ? "with the run cache" : "without the run cache");
    auto LConnection = LSource.Connect("UTF8");
    auto LExporter = TSliceExporter::Create(LConnection.get());
    LConfigure(LExporter);
    LExporter->Booleans(true);
    LExporter->SetRunCache(LCache);
    const QString LFile = LDir.filePath(LCache ? "booleans-cache.sql" : "booleans.sql");
    ASSERT_NO_THROW(LExporter->SaveToFile(LFile));
    const QString LScript = QString::fromUtf8(ReadFileBytes(LFile));
    EXPECT_TRUE(LScript.contains("-- BP | FLAG=True, CODE=1\r\n")) << LScript.toStdString();
    EXPECT_TRUE(LScript.contains("VALUES (1, TRUE, 1, FALSE, 1, TRUE) MATCHING (\"ID\");"));
    EXPECT_TRUE(LScript.contains("-- Registros exportados: 4\r\n"));

    const auto LTarget = ReplayedByIsql("booleans-target", CBooleanSchema, LFile);
    EXPECT_EQ(Rows(*LTarget, "SELECT * FROM BP ORDER BY 1, 2"), (QStringList{"False|1|f1", "True|1|t1"}));
    EXPECT_EQ(Rows(*LTarget, "SELECT * FROM BC"), Rows(LSource, "SELECT * FROM BC WHERE ID = 1"));
    EXPECT_EQ(Rows(*LTarget, "SELECT * FROM BR"), QStringList{"10|True"});
    ExpectReplayerRoundTrip(CBooleanSchema, LFile);

    // The preview sees a changed BOOLEAN and finds rows by BOOLEAN keys.
    LTarget->Execute("UPDATE BC SET ACTIVE = FALSE; UPDATE BP SET NOTE = 'mudou' WHERE FLAG = FALSE;");
    auto LTargetConnection = LTarget->Connect("UTF8");
    const TReplayResult LPreview = TSliceReplayer(*LTargetConnection).DryRun(true).Run(TSliceScript::ReadFile(LFile));
    EXPECT_EQ(LPreview.Changed, 2);
    EXPECT_EQ(LPreview.Unchanged, 2);
    EXPECT_EQ(LPreview.Divergent, 0);
  }
}

namespace {

const char* const CChainSchema = R"SQL(
CREATE TABLE CH (ID INTEGER NOT NULL PRIMARY KEY, NEXT_ID INTEGER, CONSTRAINT FK_CH FOREIGN KEY (NEXT_ID) REFERENCES CH (ID));
CREATE TABLE EMP (ID INTEGER NOT NULL PRIMARY KEY, MANAGER_ID INTEGER, NAME VARCHAR(20),
  CONSTRAINT FK_EMP FOREIGN KEY (MANAGER_ID) REFERENCES EMP (ID));
CREATE TABLE CY (ID INTEGER NOT NULL PRIMARY KEY, NEXT_ID INTEGER, CONSTRAINT FK_CY FOREIGN KEY (NEXT_ID) REFERENCES CY (ID));
CREATE TABLE NODE (ID INTEGER NOT NULL PRIMARY KEY, LINK INTEGER);
)SQL";

}  // namespace

// A chain of 100,000 rows, each referencing the next, exports once the limit is lifted, with
// no recursion to exhaust the walk's stack; the limit names where it applies. A tree through a
// relation from a table to itself, deep and wide, and relations over cyclic data end.
TEST(ShapesTest, ChainsAndTreesOfAnyDepth) {
  TTestDatabase LSource("chains-source", QString(CChainSchema) + "COMMIT;\n" + R"SQL(
SET TERM ^;
EXECUTE BLOCK AS DECLARE I INTEGER = 100000; BEGIN
  INSERT INTO CH VALUES (100000, NULL);
  WHILE (I > 1) DO BEGIN I = I - 1; INSERT INTO CH VALUES (:I, :I + 1); END
  INSERT INTO EMP VALUES (1, NULL, 'raiz');
  I = 1;
  WHILE (I < 3000) DO BEGIN I = I + 1; INSERT INTO EMP VALUES (:I, :I - 1, 'fundo'); END
  WHILE (I < 3300) DO BEGIN I = I + 1; INSERT INTO EMP VALUES (:I, MOD(:I, 100) + 1, 'largo'); END
  INSERT INTO EMP VALUES (5000, NULL, 'fora');
  INSERT INTO CY VALUES (1000, NULL);
  I = 1000;
  WHILE (I > 1) DO BEGIN I = I - 1; INSERT INTO CY VALUES (:I, :I + 1); END
  UPDATE CY SET NEXT_ID = 1 WHERE ID = 1000;
END^
SET TERM ;^
INSERT INTO NODE VALUES (1, 2);
INSERT INTO NODE VALUES (2, 3);
INSERT INTO NODE VALUES (3, 1);
INSERT INTO NODE VALUES (4, 1);
)SQL");
  QTemporaryDir LDir;
  auto LConnection = LSource.Connect("UTF8");

  auto LLimited = TSliceExporter::Create(LConnection.get());
  LLimited->Table("CH")->Key("ID", TValue::Integer(1));
  EXPECT_EQ(ErrorOf([&] { LLimited->Generate(); }),
            "Limite de profundidade das dependencias atingido. Tabela CH, chave ID=129: mais de 128 registros em cadeia.");

  // The walk runs on a thread of its own, whose stack a recursive walk of this chain outgrows.
  auto LChain = TSliceExporter::Create(LConnection.get());
  LChain->Table("CH")->Key("ID", TValue::Integer(1))->UnlimitedChains(true);
  const QString LChainFile = LDir.filePath("chain.sql");
  ASSERT_NO_THROW(LChain->SaveToFile(LChainFile));
  const QString LChainScript = QString::fromUtf8(ReadFileBytes(LChainFile));
  EXPECT_TRUE(LChainScript.contains("-- Registros exportados: 100000\r\n"));
  EXPECT_LT(LChainScript.indexOf("-- CH | ID=100000\r\n"), LChainScript.indexOf("-- CH | ID=99999\r\n"));
  {
    const auto LTarget = ReplayedByIsql("chains-target", CChainSchema, LChainFile);
    const QString LSummary = "SELECT COUNT(*), SUM(ID), SUM(NEXT_ID), MIN(NEXT_ID) FROM CH";
    EXPECT_EQ(Rows(*LTarget, LSummary), Rows(LSource, LSummary));
  }

  // A tree through a relation from EMP to itself: 3,000 levels and 300 leaves, not the
  // row outside; a cycle of 1,000 rows deferred; relations over cyclic data end.
  auto LTree = TSliceExporter::Create(LConnection.get());
  LTree->Table("EMP")->Key("ID", TValue::Integer(1))->IncludeRelated("EMP", "EMP", "MANAGER_ID", "ID", "");
  const QString LTreeFile = LDir.filePath("tree.sql");
  ASSERT_NO_THROW(LTree->SaveToFile(LTreeFile));
  auto LCycle = TSliceExporter::Create(LConnection.get());
  LCycle->Table("CY")->Key("ID", TValue::Integer(1))->DeferCycles(true)->UnlimitedChains(true);
  const QString LCycleFile = LDir.filePath("cycle.sql");
  ASSERT_NO_THROW(LCycle->SaveToFile(LCycleFile));
  auto LNodes = TSliceExporter::Create(LConnection.get());
  LNodes->Table("NODE")->Key("ID", TValue::Integer(1))->IncludeRelated("NODE", "NODE", "ID", "LINK", "");
  const QString LNodeFile = LDir.filePath("nodes.sql");
  ASSERT_NO_THROW(LNodes->SaveToFile(LNodeFile));
  const QString LNodeScript = QString::fromUtf8(ReadFileBytes(LNodeFile));
  EXPECT_TRUE(LNodeScript.contains("-- Registros exportados: 3\r\n")) << LNodeScript.toStdString();

  TTestDatabase LTarget("trees-target", CChainSchema);
  for (const QString& LFile : {LTreeFile, LCycleFile, LNodeFile}) {
    const TIsqlResult LReplay = LTarget.Replay(LFile);
    EXPECT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    EXPECT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();
  }
  EXPECT_EQ(Rows(LTarget, "SELECT * FROM EMP ORDER BY ID"), Rows(LSource, "SELECT * FROM EMP WHERE ID < 5000 ORDER BY ID"));
  EXPECT_EQ(Rows(LTarget, "SELECT * FROM CY ORDER BY ID"), Rows(LSource, "SELECT * FROM CY ORDER BY ID"));
  EXPECT_EQ(Rows(LTarget, "SELECT * FROM NODE ORDER BY ID"), (QStringList{"1|2", "2|3", "3|1"}));
}

// What the user types and reads: names in any case where Firebird takes them, a key column
// that does not exist named before any row is read, and control characters never reaching
// the script's comments or the terminal raw.
TEST(ShapesTest, NamesAsTypedAndMessagesAsPrinted) {
  const QString LSchema = R"SQL(
CREATE TABLE INVOICE (NUM VARCHAR(20) NOT NULL PRIMARY KEY, TOTAL NUMERIC(9,2));
CREATE TABLE ITEM (ID INTEGER NOT NULL PRIMARY KEY, INVOICE_NUM VARCHAR(20) REFERENCES INVOICE, ACTIVE BOOLEAN);
CREATE TABLE NOTE (ID INTEGER NOT NULL PRIMARY KEY, TEXTO VARCHAR(10));
CREATE TABLE "note" ("id" INTEGER NOT NULL PRIMARY KEY, TEXTO VARCHAR(10));
)SQL";
  // A key with ESC, a bell and a carriage return, as a hostile or careless source may hold.
  TTestDatabase LSource("names-source", LSchema + "COMMIT;\n" + R"SQL(
INSERT INTO INVOICE VALUES ('A' || ASCII_CHAR(27) || '[2J' || ASCII_CHAR(7) || ASCII_CHAR(13), 10.50);
INSERT INTO ITEM VALUES (1, 'A' || ASCII_CHAR(27) || '[2J' || ASCII_CHAR(7) || ASCII_CHAR(13), TRUE);
INSERT INTO ITEM VALUES (2, 'A' || ASCII_CHAR(27) || '[2J' || ASCII_CHAR(7) || ASCII_CHAR(13), FALSE);
INSERT INTO NOTE VALUES (1, 'maiuscula');
INSERT INTO "note" VALUES (1, 'minuscula');
)SQL");
  QTemporaryDir LFolder;
  const auto LConfig = [&](const TTestDatabase& aDatabase, const QString& aName) {
    const QString LFile = LFolder.filePath(aName);
    WriteFileBytes(LFile, QString("[Firebird]\nUserName=%1\nPassword=%2\nCharacterSet=UTF8\n[BANCO]\nCAMINHO=%3\n")
                              .arg(ServerUser(), ServerPassword(), aDatabase.Path())
                              .toUtf8());
    return LFile;
  };
  const QString LSourceConfig = LConfig(LSource, "source.ini");
  const QString LFile = LFolder.filePath("invoice.sql");
  const QString LKey = QString("A") + QChar(27) + "[2J" + QChar(7) + QChar(13);
  const TCliRun LRun = RunCliProgram({"export", "--table", "invoice", "--key", "num=" + LKey, "--related",
                                      "invoice:item:invoice_num:num", "-o", LFile, "--config", LSourceConfig});
  ASSERT_EQ(LRun.ExitCode, 0) << LRun.Err.toStdString();
  const QByteArray LScript = ReadFileBytes(LFile);
  EXPECT_TRUE(LScript.contains("\r\n-- INVOICE | NUM=A\\x1B[2J\\x07\\r\r\n")) << LScript.constData();
  EXPECT_TRUE(LScript.contains("-- Registros exportados: 3\r\n"));
  for (const QByteArray& LText : {LScript, LRun.Err.toUtf8(), LRun.Out.toUtf8()}) {
    EXPECT_FALSE(LText.contains('\x1B'));
    EXPECT_FALSE(LText.contains('\x07'));
  }
  const auto LTarget = ReplayedByIsql("names-target", LSchema, LFile);
  EXPECT_EQ(Rows(*LTarget, "SELECT * FROM ITEM ORDER BY ID"), Rows(LSource, "SELECT * FROM ITEM ORDER BY ID"));
  EXPECT_EQ(Rows(*LTarget, "SELECT * FROM INVOICE"), Rows(LSource, "SELECT * FROM INVOICE"));

  // The replay prints what it reads: keys and values stay one harmless line.
  TTestDatabase LEmpty("names-replay", LSchema);
  const TCliRun LReplay = RunCliProgram({"replay", LFile, "--config", LConfig(LEmpty, "target.ini")});
  EXPECT_EQ(LReplay.ExitCode, 0) << LReplay.Err.toStdString();
  EXPECT_TRUE(LReplay.Err.contains("INVOICE | NUM=A\\x1B[2J\\x07\\r")) << LReplay.Err.toStdString();
  EXPECT_FALSE(LReplay.Err.contains(QChar(27)) || LReplay.Out.contains(QChar(27)));

  // A name that some table has exactly is that table; the upper-cased one only otherwise.
  const QString LNote = LFolder.filePath("note.sql");
  EXPECT_EQ(RunCliProgram({"export", "--table", "note", "--key", "id=1", "-o", LNote, "--config", LSourceConfig, "--quiet"})
                .ExitCode,
            0);
  EXPECT_TRUE(ReadFileBytes(LNote).contains("-- note | id=1\r\n"));
  EXPECT_EQ(RunCliProgram({"export", "--table", "NOTE", "--key", "Id=1", "-o", LNote, "--config", LSourceConfig, "--quiet"})
                .ExitCode,
            0);
  EXPECT_TRUE(ReadFileBytes(LNote).contains("-- NOTE | ID=1\r\n"));

  // A misspelled key column is named with its table, before any row is read.
  const TCliRun LMisspelled = RunCliProgram(
      {"export", "--table", "invoice", "--key", "nun=1", "-o", LNote, "--config", LSourceConfig, "--quiet"});
  EXPECT_EQ(LMisspelled.ExitCode, 1);
  EXPECT_EQ(LMisspelled.Err, "ERRO: Campo nun nao existe na tabela INVOICE.\n");
}
