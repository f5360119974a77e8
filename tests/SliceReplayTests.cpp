// The replay of slice scripts on real targets: demo slices into an empty database and into
// the demo itself, the preview of a changed master row, a dry run, a target whose structure
// drifted, a statement failing halfway and a trigger that changes what was written.
#include "Corvane.Errors.h"
#include "Corvane.Replayer.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "TestDatabase.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <limits>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

class TSliceReplayTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    GDemo = new TTestDatabase("replay-demo", DemoSql(), "WIN1252");
    auto LConnection = GDemo->Connect("WIN1252");
    GScripts = new QList<TSliceScript>;
    GTexts = new QList<QByteArray>;
    QList<ISliceExporterPtr> LExporters;
    for (const qint64 LNfse : {1001, 1002, 1003}) LExporters << TNFSeSlice::New(LConnection.get(), LNfse);
    for (const char* LNota : {"000123", "000124", "000125"}) LExporters << TNotaFiscalSlice::New(LConnection.get(), LNota);
    for (const ISliceExporterPtr& LExporter : LExporters) {
      GTexts->append(LExporter->Generate().toUtf8());
      GScripts->append(TSliceScript::Read(GTexts->last()));
    }
  }
  static void TearDownTestSuite() {
    delete GScripts;
    delete GTexts;
    delete GDemo;
  }

  static TReplayResult Replay(const TTestDatabase& aTarget, const TSliceScript& aScript, bool aDryRun = false) {
    auto LConnection = aTarget.Connect("UTF8");
    TSliceReplayer LReplayer(*LConnection);
    return LReplayer.DryRun(aDryRun).Run(aScript);
  }
  // Every row of the demo tables, for comparing a target before and after.
  static QStringList Contents(const TTestDatabase& aDatabase, const QStringList& aTables) {
    auto LConnection = aDatabase.Connect("UTF8");
    QStringList LRows;
    for (const QString& LTable : aTables)
      for (const QString& LRow : QueryRows(*LConnection, "SELECT * FROM " + LTable + " ORDER BY 1, 2"))
        LRows << LTable + ": " + LRow;
    return LRows;
  }

  static TTestDatabase* GDemo;
  static QList<TSliceScript>* GScripts;
  static QList<QByteArray>* GTexts;
};
TTestDatabase* TSliceReplayTest::GDemo = nullptr;
QList<TSliceScript>* TSliceReplayTest::GScripts = nullptr;
QList<QByteArray>* TSliceReplayTest::GTexts = nullptr;

const QStringList CTables = {"CIDADE", "CLIENTE", "PRODUTO", "NOTAFI", "NOTAPRO", "NFSRES", "NFSPRO", "DUPREC"};

}  // namespace

TEST_F(TSliceReplayTest, DemoSlicesFillAnEmptyTargetAsIsqlDoesAndLeaveTheDemoUnchanged) {
  TTestDatabase LEmpty("replay-empty", DemoSql(false), "WIN1252");
  TTestDatabase LByIsql("replay-isql", DemoSql(false), "WIN1252");
  QTemporaryDir LFolder;
  int LWritten = 0;
  for (qsizetype I = 0; I < GScripts->size(); ++I) {
    const TSliceScript& LScript = (*GScripts)[I];
    const TReplayResult LResult = Replay(LEmpty, LScript);
    EXPECT_TRUE(LResult.Committed);
    EXPECT_EQ(LResult.Divergent, 0) << "script " << I;
    EXPECT_EQ(LResult.Changed, 0) << "script " << I;
    EXPECT_EQ(LResult.Inserted + LResult.Unchanged, LScript.Count());
    if (I == 0) EXPECT_EQ(LResult.Inserted, LScript.Count()) << "the first slice meets an empty target";
    LWritten += LResult.Inserted;
    const QString LFile = LFolder.filePath(QString::number(I) + ".sql");
    WriteFileBytes(LFile, (*GTexts)[I]);
    const TIsqlResult LIsql = LByIsql.Replay(LFile);
    ASSERT_EQ(LIsql.ExitCode, 0) << LIsql.Errors.toStdString();
  }
  EXPECT_GT(LWritten, 100);
  // The same rows as the real client writes, every value of every kind.
  const QStringList LOurs = Contents(LEmpty, CTables + QStringList{"PRODUTO", "DOC_FISCAL_ITEM", "BANCO"});
  EXPECT_EQ(LOurs, Contents(LByIsql, CTables + QStringList{"PRODUTO", "DOC_FISCAL_ITEM", "BANCO"}));
  EXPECT_GT(LOurs.size(), 50);

  // On the database they came from, and again on the filled target, nothing changes.
  for (const TTestDatabase* LTarget : {GDemo, &LEmpty})
    for (const TSliceScript& LScript : *GScripts) {
      const TReplayResult LResult = Replay(*LTarget, LScript);
      EXPECT_EQ(LResult.Unchanged, LScript.Count());
      EXPECT_EQ(LResult.Inserted + LResult.Changed + LResult.Divergent, 0);
    }
}

TEST_F(TSliceReplayTest, PreviewNamesTheChangedColumnsDryRunKeepsThemAndTriggersShowAsDivergences) {
  TTestDatabase LTarget("replay-changed", DemoSql(), "WIN1252");
  const TSliceScript& LNota = (*GScripts)[3];  // Nota Fiscal 000123: its customer's city among its parents
  LTarget.Execute("UPDATE CIDADE SET CIDNOME = 'Outra', POPULACAO = POPULACAO + 1 WHERE CIDCOD = "
                  "(SELECT CIDCOD FROM CLIENTE WHERE CLICOD = (SELECT CLICOD FROM NOTAFI WHERE NOTANUM = '000123'));"
                  "DELETE FROM NOTA_ITEM WHERE NOTANUM = '000123';");
  const QStringList LBefore = Contents(LTarget, CTables + QStringList{"NOTA_ITEM"});

  const TReplayResult LPreview = Replay(LTarget, LNota, true);
  EXPECT_FALSE(LPreview.Committed);
  EXPECT_EQ(LPreview.Changed, 1);
  EXPECT_EQ(LPreview.Inserted, 3);  // the three items deleted above
  EXPECT_EQ(LPreview.Divergent, 0);
  EXPECT_EQ(LPreview.Inserted + LPreview.Changed + LPreview.Unchanged, LNota.Count());
  int LCities = 0;
  for (const TReplayTable& LTable : LPreview.Tables) {
    EXPECT_EQ(LTable.ChangedRows.size(), LTable.Changed);
    if (LTable.Table != "CIDADE") continue;
    ++LCities;
    ASSERT_EQ(LTable.ChangedRows.size(), 1);
    EXPECT_EQ(LTable.ChangedRows[0].Columns, (QStringList{"CIDNOME", "POPULACAO"}));
    EXPECT_TRUE(LTable.ChangedRows[0].Description.startsWith("CIDADE | CIDCOD="));
  }
  EXPECT_EQ(LCities, 1);
  EXPECT_EQ(Contents(LTarget, CTables + QStringList{"NOTA_ITEM"}), LBefore) << "a dry run leaves the target as it was";

  // A trigger of the target changes what is written: reported per row and column, not a failure.
  LTarget.Execute("SET TERM ^ ;\nCREATE TRIGGER CIDADE_UPPER FOR CIDADE BEFORE UPDATE AS BEGIN "
                  "NEW.CIDNOME = UPPER(NEW.CIDNOME); END^\nSET TERM ; ^");
  const TReplayResult LReplay = Replay(LTarget, LNota);
  EXPECT_TRUE(LReplay.Committed);
  EXPECT_EQ(LReplay.Changed, 1);
  // It fires for every city the slice writes, changed or not.
  EXPECT_GE(LReplay.Divergent, 1);
  EXPECT_EQ(LReplay.Divergences.size(), LReplay.Divergent);
  for (const TReplayDivergence& LDivergence : LReplay.Divergences) {
    EXPECT_TRUE(LDivergence.Description.startsWith("CIDADE | "));
    EXPECT_EQ(LDivergence.Column, "CIDNOME");
    EXPECT_EQ(LDivergence.Read, LDivergence.Written.toUpper());
    EXPECT_NE(LDivergence.Read, LDivergence.Written);
  }
  auto LConnection = LTarget.Connect("UTF8");
  EXPECT_EQ(QueryRows(*LConnection, "SELECT COUNT(*) FROM NOTA_ITEM WHERE NOTANUM = '000123'"), QStringList{"3"});
}

TEST_F(TSliceReplayTest, ADriftedTargetOrAFailingStatementLeavesTheTargetUntouched) {
  const TSliceScript& LNota = (*GScripts)[3];
  TTestDatabase LDrifted("replay-drifted", DemoSql(false), "WIN1252");
  LDrifted.Execute("ALTER TABLE NOTAPRO DROP VALOR_LIQUIDO; ALTER TABLE NOTAPRO DROP DESCONTO; DROP TABLE NOTA_ITEM;"
                   "ALTER TABLE PRODUTO ADD VOLUME COMPUTED BY (1);"
                   "ALTER TABLE CLIENTE ALTER COLUMN NOME_SOCIAL TO APELIDO;");
  try {
    Replay(LDrifted, LNota);
    ADD_FAILURE() << "a drifted target was accepted";
  } catch (const TCorvaneError& aError) {
    // Everything missing at once, before any statement.
    EXPECT_TRUE(aError.Message().startsWith("Destino incompativel com o script, nada foi executado: "))
        << aError.Message().toStdString();
    for (const char* LMissing : {"campo NOTAPRO.DESCONTO inexistente", "tabela NOTA_ITEM inexistente",
                                 "campo CLIENTE.NOME_SOCIAL inexistente"})
      EXPECT_TRUE(aError.Message().contains(LMissing)) << LMissing << ": " << aError.Message().toStdString();
  }
  EXPECT_EQ(Contents(LDrifted, QStringList{"CLIENTE", "PRODUTO", "NOTAFI", "CIDADE"}), QStringList());

  // A statement the target refuses halfway: the rows before it are gone again.
  TTestDatabase LRefusing("replay-refusing", DemoSql(false), "WIN1252");
  LRefusing.Execute("CREATE EXCEPTION SEM_ITENS 'itens bloqueados neste banco';\nSET TERM ^ ;\n"
                    "CREATE TRIGGER NOTAPRO_BLOQUEIO FOR NOTAPRO BEFORE INSERT AS BEGIN "
                    "IF (NEW.ITEM = 2) THEN EXCEPTION SEM_ITENS; END^\nSET TERM ; ^");
  try {
    Replay(LRefusing, LNota);
    ADD_FAILURE() << "a refused statement was not reported";
  } catch (const TCorvaneError& aError) {
    EXPECT_TRUE(aError.Message().contains(QRegularExpression("^Registro \\d+ \\(NOTAPRO \\| NOTANUM=000123, PROCOD=\\d+\\) "
                                                             "falhou, nada foi gravado: .*itens bloqueados neste banco")))
        << aError.Message().toStdString();
  }
  EXPECT_EQ(Contents(LRefusing, CTables), QStringList());
}

namespace {

const char* CKindsSchema = R"SQL(
CREATE TABLE V (ID INTEGER NOT NULL PRIMARY KEY, F DOUBLE PRECISION, F2 DOUBLE PRECISION, F3 DOUBLE PRECISION,
  R FLOAT, N VARCHAR(10) CHARACTER SET NONE, NC CHAR(5) CHARACTER SET NONE, NB BLOB SUB_TYPE TEXT CHARACTER SET NONE,
  O VARCHAR(4) CHARACTER SET OCTETS, C CHAR(6) CHARACTER SET UTF8, U VARCHAR(20) CHARACTER SET UTF8,
  W VARCHAR(10) CHARACTER SET WIN1252, D NUMERIC(18,4), TS TIMESTAMP, B BLOB SUB_TYPE 0,
  T BLOB SUB_TYPE TEXT CHARACTER SET UTF8);
CREATE TABLE DEPT (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), MANAGER_ID INTEGER);
CREATE TABLE EMP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), DEPT_ID INTEGER NOT NULL REFERENCES DEPT);
ALTER TABLE DEPT ADD CONSTRAINT FK_DEPT_MANAGER FOREIGN KEY (MANAGER_ID) REFERENCES EMP;
)SQL";

std::vector<TValue> KindsRow() {
  QByteArray LBlob;
  for (int I = 0; I < 4001; ++I) LBlob += char(I * 7);
  QString LText;
  while (LText.size() < 4500) LText += QString::fromUtf8("Olá 😀 中 ");
  return {TValue::Integer(1),
          TValue::Float(4.9406564584124654E-324),
          TValue::Float(-0.0),
          TValue::Float(-906834.63876448758),
          TValue::SingleFloat(std::numeric_limits<float>::max()),
          TValue::UntranslatedText(TValueKind::vkText, QByteArray("\xE9\xFF" "A", 3), QString()),
          TValue::UntranslatedText(TValueKind::vkText, QByteArray("\xC3\xA9", 2), QString()),
          TValue::UntranslatedText(TValueKind::vkTextBlob, QByteArray("\xE9\x00\xFF", 3), QString()),
          TValue::Bytes(QByteArray("\x00\x01\xFF", 3)),
          TValue::Text(QString::fromUtf8("é")),
          TValue::Text(QString::fromUtf8("😀中 '\"\r\n  ")),
          TValue::Text(QString::fromUtf8("€")),
          TValue::Decimal(std::numeric_limits<std::int64_t>::min(), 4),
          TValue::Timestamp({{2024, 12, 31}, {23, 59, 59, 999}}),
          TValue::Bytes(LBlob),
          TValue::TextBlob(LText)};
}

}  // namespace

TEST_F(TSliceReplayTest, ValuesOfEveryKindAndCompletedCyclesArriveBitForBit) {
  TTestDatabase LSource("replay-kinds-source", CKindsSchema, "WIN1252");
  TTestDatabase LTarget("replay-kinds-target", CKindsSchema, "WIN1252");
  const std::vector<TValue> LRow = KindsRow();
  {
    auto LConnection = LSource.Connect("UTF8");
    LConnection->SetReadOnly(false);
    LConnection->StartTransaction();
    TDbQuery LInsert(*LConnection);
    QStringList LParams;
    for (std::size_t I = 0; I < LRow.size(); ++I) LParams << ":P" + QString::number(I);
    LInsert.SetSQL("INSERT INTO V VALUES (" + LParams.join(", ") + ")");
    for (std::size_t I = 0; I < LRow.size(); ++I) LInsert.SetParam(int(I), LRow[I]);
    LInsert.Open();
    LInsert.SetSQL("INSERT INTO DEPT VALUES (1, 'Vendas', NULL)");
    LInsert.Open();
    LInsert.SetSQL("INSERT INTO EMP VALUES (10, 'Ana', 1)");
    LInsert.Open();
    LInsert.SetSQL("UPDATE DEPT SET MANAGER_ID = 10");
    LInsert.Open();
    LInsert.Close();
    LConnection->Commit();
  }
  QList<TSliceScript> LScripts;
  {
    auto LConnection = LSource.Connect("UTF8");
    LScripts << TSliceScript::Read(
        TSliceExporter::New(LConnection.get())->Table("V")->Key("ID", TValue::Integer(1))->Generate().toUtf8());
    LScripts << TSliceScript::Read(TSliceExporter::New(LConnection.get())
                                       ->Table("DEPT")
                                       ->Key("ID", TValue::Integer(1))
                                       ->DeferCycles(true)
                                       ->Generate()
                                       .toUtf8());
  }
  ASSERT_EQ(LScripts[1].Count(), 3) << "the department, its manager, and the department completed";
  const TReplayResult LKinds = Replay(LTarget, LScripts[0]);
  EXPECT_EQ(LKinds.Inserted, 1);
  EXPECT_EQ(LKinds.Divergent, 0);
  const TReplayResult LCycle = Replay(LTarget, LScripts[1]);
  EXPECT_EQ(LCycle.Inserted, 2);
  EXPECT_EQ(LCycle.Changed, 1) << "the completing statement fills the deferred reference";
  EXPECT_EQ(LCycle.Divergent, 0);
  // Again: the department goes through its deferred state and back, each statement previewed as it meets it.
  const TReplayResult LAgain = Replay(LTarget, LScripts[1]);
  EXPECT_EQ(LAgain.Unchanged, 1);
  EXPECT_EQ(LAgain.Changed, 2);
  EXPECT_EQ(LAgain.Divergent, 0);

  // What arrived is what the source holds, value for value (doubles by their bits, NONE by its bytes).
  auto LRead = [](const TTestDatabase& aDatabase) {
    auto LConnection = aDatabase.Connect("UTF8");
    LConnection->StartTransaction();
    std::vector<TValue> LValues;
    {
      TDbQuery LQuery(*LConnection);
      LQuery.SetSQL("SELECT V.*, (SELECT MANAGER_ID FROM DEPT WHERE ID = 1) FROM V");
      LQuery.Open();
      for (int I = 0; I < LQuery.FieldCount(); ++I) LValues.push_back(LQuery.Field(I).Value());
    }
    LConnection->Rollback();
    return LValues;
  };
  const std::vector<TValue> LFrom = LRead(LSource), LTo = LRead(LTarget);
  ASSERT_EQ(LFrom.size(), LRow.size() + 1);
  ASSERT_EQ(LTo.size(), LFrom.size());
  for (std::size_t I = 0; I < LFrom.size(); ++I) EXPECT_TRUE(LFrom[I] == LTo[I]) << "column " << I << ": " << LTo[I].TextForm().left(80).toStdString();
  EXPECT_TRUE(LTo[2].IsAssigned() && std::signbit(LTo[2].AsFloat())) << "negative zero";
}

TEST_F(TSliceReplayTest, AStopBeforeTheCommitRollsEverythingBackAndOneAfterItIsNoFailure) {
  TTestDatabase LTarget("replay-stop", DemoSql(false), "WIN1252");
  const TSliceScript& LNota = (*GScripts)[3];
  auto LConnection = LTarget.Connect("UTF8");
  // A stop requested in each phase: reading, checking the target, writing, reading back.
  for (const QString LPhase : {"Lendo o script", "Conferindo tabelas", "Registro 1:", "Registro 5:",
                               "Conferindo os registros gravados"}) {
    const auto LStop = std::make_shared<TCancellation>();
    TSliceReplayer LReplayer(*LConnection);
    LReplayer.Cancellation(LStop).Progress([&](const QString& aMessage) {
      if (aMessage.startsWith(LPhase)) LStop->Request();
    });
    try {
      LReplayer.Run(LNota);
      ADD_FAILURE() << "a stop in " << LPhase.toStdString() << " did not stop the replay";
    } catch (const TCancelledError& aError) {
      EXPECT_EQ(aError.Message(), CReplayStopped);
    }
    EXPECT_FALSE(LConnection->InTransaction()) << LPhase.toStdString();
    EXPECT_EQ(QueryRows(*LConnection, "SELECT COUNT(*) FROM NOTAFI"), QStringList{"0"}) << LPhase.toStdString();
  }
  // The connection stays usable, and a request that comes once the commit is done changes nothing.
  const auto LStop = std::make_shared<TCancellation>();
  TSliceReplayer LReplayer(*LConnection);
  LReplayer.Cancellation(LStop).Progress([&](const QString& aMessage) {
    if (aMessage == "Transacao confirmada.") LStop->Request();
  });
  const TReplayResult LResult = LReplayer.Run(LNota);
  EXPECT_TRUE(LResult.Committed);
  EXPECT_TRUE(LStop->Requested());
  EXPECT_EQ(LResult.Inserted, LNota.Count());
  EXPECT_NE(QueryRows(*LConnection, "SELECT COUNT(*) FROM NOTAFI"), QStringList{"0"});
}
