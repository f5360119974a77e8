// The replay of slice scripts on real targets: demo slices into an empty database and into
// the demo itself, the preview of a changed master row, a dry run, a target whose structure
// drifted, a statement failing halfway and a trigger that changes what was written.
#include "Corvane.Errors.h"
#include "Corvane.Replayer.h"
#include "Corvane.Scenario.Documents.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "TestDatabase.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
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
  EXPECT_EQ(LCycle.Inserted, 2) << "the completing statement belongs to its row";
  EXPECT_EQ(LCycle.Changed, 0);
  EXPECT_EQ(LCycle.Divergent, 0);
  // Again: the department goes through its deferred state and back, and ends as it was.
  const TReplayResult LAgain = Replay(LTarget, LScripts[1]);
  EXPECT_EQ(LAgain.Unchanged, 2);
  EXPECT_EQ(LAgain.Changed, 0);
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

namespace {

// One support database that differs from the customer's: the source's schema and rows, the
// target's, the document exported, and what the replay must say of it.
struct TDifferingTarget {
  const char* Name;
  const char* Source;
  const char* Target;
  const char* Root;                  // table KEY=VALUE of the exported document
  const char* Failure = nullptr;     // what the refusal says (a pattern); none: the replay succeeds
  const char* After = nullptr;       // a query on the target after the replay...
  const char* Expected = nullptr;    // ...and its rows joined by ';'
  std::function<void(const TReplayResult&)> Check = {};
  bool DryRun = false;
  bool DeferCycles = false;
  bool SkipMissing = false;
  const char* Children = nullptr;    // CHILD:FK:PARENT_KEY of the root
  const char* Held = nullptr;        // run by another transaction that stays open during the replay
};

const char* const CNarrow =
    "CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, B BIGINT, D NUMERIC(18,4), F DOUBLE PRECISION);"
    "INSERT INTO N VALUES (1, 9007199254740993, 1.1, 0.1);";
const char* const CCycle =
    "CREATE TABLE DEPT (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), MANAGER_ID INTEGER);"
    "CREATE TABLE EMP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), DEPT_ID INTEGER NOT NULL REFERENCES DEPT);"
    "ALTER TABLE DEPT ADD CONSTRAINT FK_DEPT_MANAGER FOREIGN KEY (MANAGER_ID) REFERENCES EMP;";
const char* const CCycleRows =
    "INSERT INTO DEPT VALUES (1, 'Vendas', NULL); INSERT INTO EMP VALUES (10, 'Ana', 1);"
    "UPDATE DEPT SET MANAGER_ID = 10;";
const QByteArray CCycleSource = QByteArray(CCycle) + CCycleRows;


}  // namespace

TEST_F(TSliceReplayTest, TargetsThatDifferFromTheSourceAreRefusedOrReportedExactly) {
  const std::vector<TDifferingTarget> LCases = {
      {"MATCHING that is not a key of the target", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));"
                                                    "INSERT INTO T VALUES (1, 'novo');",
       "CREATE TABLE T (ID INTEGER NOT NULL, EMP INTEGER DEFAULT 0 NOT NULL, V VARCHAR(10), PRIMARY KEY (ID, EMP));"
       "INSERT INTO T VALUES (1, 1, 'a'); INSERT INTO T VALUES (1, 2, 'b'); INSERT INTO T VALUES (1, 3, 'c');",
       "T ID=1", "chave MATCHING T\\(ID\\) nao e chave primaria nem unica no destino \\(chave primaria: T\\(ID, EMP\\)\\)",
       "SELECT V FROM T ORDER BY EMP", "a;b;c"},
      {"a key the target compares without case or accents",
       "CREATE TABLE P (NOME VARCHAR(20) NOT NULL PRIMARY KEY, V INTEGER); INSERT INTO P VALUES ('JOÃO', 2);",
       "CREATE TABLE P (NOME VARCHAR(20) CHARACTER SET UTF8 NOT NULL PRIMARY KEY COLLATE UNICODE_CI_AI, V INTEGER);"
       "INSERT INTO P VALUES ('joao', 1);",
       "P NOME=JOÃO", nullptr, "SELECT NOME || ':' || V FROM P", "joao:1",
       [](const TReplayResult& aResult) {
         EXPECT_EQ(aResult.Inserted, 0);
         ASSERT_EQ(aResult.Changed, 1);
         const QList<TReplayColumnChange> LValues = aResult.Tables[0].ChangedRows[0].Values;
         ASSERT_EQ(LValues.size(), 2);
         EXPECT_EQ(LValues[0].Column + ": " + LValues[0].Old + " -> " + LValues[0].New, QString::fromUtf8("NOME: joao -> JOÃO"));
         EXPECT_EQ(LValues[1].Column + ": " + LValues[1].Old + " -> " + LValues[1].New, "V: 1 -> 2");
       },
       true},
      {"two records that meet one row of the target",
       "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY);"
       "CREATE TABLE C (NOME VARCHAR(10) NOT NULL PRIMARY KEY, R_ID INTEGER REFERENCES R);"
       "INSERT INTO R VALUES (1); INSERT INTO C VALUES ('ANA', 1); INSERT INTO C VALUES ('ana', 1);",
       "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY);"
       "CREATE TABLE C (NOME VARCHAR(10) NOT NULL PRIMARY KEY COLLATE WIN_PTBR, R_ID INTEGER REFERENCES R);",
       "R ID=1", nullptr, "SELECT COUNT(*) FROM C", "1",
       [](const TReplayResult& aResult) {
         bool LNamed = false;
         for (const TReplayDivergence& LDivergence : aResult.Divergences)
           LNamed = LNamed || LDivergence.Note.contains("mesmo registro do destino que o registro");
         EXPECT_TRUE(LNamed);
         EXPECT_EQ(aResult.Divergent, 2);
       },
       false, false, false, "C:R_ID:ID"},
      {"a global temporary table", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO T VALUES (1, 'novo');",
       "CREATE GLOBAL TEMPORARY TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)) ON COMMIT PRESERVE ROWS;",
       "T ID=1", "tabela T e temporaria \\(GLOBAL TEMPORARY\\) no destino, nao guarda registros\\.$"},
      {"a view", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO T VALUES (1, 'novo');",
       "CREATE TABLE T0 (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); CREATE VIEW T AS SELECT ID, V FROM T0;",
       "T ID=1", "tabela T e uma view no destino, nao guarda registros\\.$", "SELECT COUNT(*) FROM T0", "0"},
      {"BIGINT into DOUBLE", CNarrow,
       "CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, B DOUBLE PRECISION, D NUMERIC(18,4), F DOUBLE PRECISION);",
       "N ID=1", "^Registro 1 \\(N \\| ID=1\\) falhou, nada foi gravado: Valor 9007199254740993 nao cabe exatamente no campo N\\.B ",
       "SELECT COUNT(*) FROM N", "0"},
      {"NUMERIC(18,4) into DOUBLE", CNarrow,
       "CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, B BIGINT, D DOUBLE PRECISION, F DOUBLE PRECISION);",
       "N ID=1", "^Registro 1 \\(N \\| ID=1\\) falhou, nada foi gravado: Valor 1\\.1 nao cabe exatamente no campo N\\.D "},
      {"DOUBLE 0.1 into FLOAT", CNarrow,
       "CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, B BIGINT, D NUMERIC(18,4), F FLOAT);",
       "N ID=1", "^Registro 1 \\(N \\| ID=1\\) falhou, nada foi gravado: Valor 0\\.1\\d* nao cabe exatamente no campo N\\.F "},
      {"deferred cycles into an empty target", CCycleSource.constData(), CCycle, "DEPT ID=1", nullptr,
       "SELECT MANAGER_ID FROM DEPT", "10",
       [](const TReplayResult& aResult) {
         EXPECT_EQ(aResult.Inserted, 2) << "the completing statement belongs to its row";
         EXPECT_EQ(aResult.Changed + aResult.Unchanged + aResult.Divergent, 0);
       },
       false, true},
      {"a dry run of deferred cycles on the source itself", CCycleSource.constData(), CCycleSource.constData(), "DEPT ID=1", nullptr, nullptr, nullptr,
       [](const TReplayResult& aResult) {
         EXPECT_EQ(aResult.Unchanged, 2);
         EXPECT_EQ(aResult.Inserted + aResult.Changed + aResult.Divergent, 0);
       },
       true, true},
      {"a dry run that moves a sequence", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO T VALUES (1, 'novo');",
       "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); CREATE SEQUENCE G_AUDITORIA;\n"
       "SET TERM ^ ;\nCREATE TRIGGER T_AUDITORIA FOR T AFTER INSERT AS DECLARE X BIGINT; BEGIN X = GEN_ID(G_AUDITORIA, 1); END^\n"
       "SET TERM ; ^",
       "T ID=1", nullptr, "SELECT (SELECT COUNT(*) FROM T) || ':' || GEN_ID(G_AUDITORIA, 0) FROM RDB$DATABASE", "0:1",
       [](const TReplayResult& aResult) {
         EXPECT_FALSE(aResult.Committed);
         ASSERT_EQ(aResult.Sequences.size(), 1) << "what the rollback cannot undo is said";
         EXPECT_EQ(aResult.Sequences[0].Name, "G_AUDITORIA");
         EXPECT_EQ(aResult.Sequences[0].Before, 0);
         EXPECT_EQ(aResult.Sequences[0].After, 1);
       },
       true},
      {"every problem of another schema version at once",
       "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10), X INTEGER);"
       "CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, R_ID INTEGER REFERENCES R);"
       "INSERT INTO R VALUES (1, 'a', 7); INSERT INTO C VALUES (5, 1);",
       "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10), Y INTEGER NOT NULL);"
       "CREATE GLOBAL TEMPORARY TABLE C (ID INTEGER NOT NULL PRIMARY KEY, R_ID INTEGER);",
       "R ID=1",
       "^Destino incompativel com o script, nada foi executado: (?=.*tabela C e temporaria)(?=.*campo R\\.X inexistente)"
       "(?=.*campo R\\.Y obrigatorio no destino \\(NOT NULL, sem valor padrao\\) e ausente do script)",
       nullptr, nullptr, {}, false, false, false, "C:R_ID:ID"},
      {"columns the target lacks, left out",
       "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10), X INTEGER, Z INTEGER); INSERT INTO R VALUES (1, 'a', 7, NULL);",
       "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));", "R ID=1", nullptr, "SELECT V FROM R", "a",
       [](const TReplayResult& aResult) {
         EXPECT_EQ(aResult.Inserted, 1);
         EXPECT_EQ(aResult.Divergent, 0);
         ASSERT_EQ(aResult.Dropped.size(), 2);
         EXPECT_EQ(aResult.Dropped[0].Column + "=" + QString::number(aResult.Dropped[0].Values), "X=1");
         EXPECT_EQ(aResult.Dropped[1].Column + "=" + QString::number(aResult.Dropped[1].Values), "Z=0");
       },
       false, false, true},
      {"a name with a blank at its start", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, \" lead\" VARCHAR(10));"
                                           "INSERT INTO T VALUES (1, 'x');",
       "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, \" lead\" VARCHAR(10));", "T ID=1", nullptr,
       "SELECT \" lead\" FROM T", "x",
       [](const TReplayResult& aResult) { EXPECT_EQ(aResult.Inserted, 1); }},
      {"WIN1252 text longer than a UTF8 parameter carries",
       "CREATE TABLE L (ID INTEGER NOT NULL PRIMARY KEY, X VARCHAR(10000) CHARACTER SET WIN1252);"
       "INSERT INTO L VALUES (1, LPAD('fim', 9000, 'é'));",
       "CREATE TABLE L (ID INTEGER NOT NULL PRIMARY KEY, X VARCHAR(10000) CHARACTER SET WIN1252);", "L ID=1", nullptr,
       "SELECT CHAR_LENGTH(X) || RIGHT(X, 4) FROM L", "9000éfim",
       [](const TReplayResult& aResult) {
         EXPECT_EQ(aResult.Inserted, 1);
         EXPECT_EQ(aResult.Divergent, 0);
       }},
      {"a key the target's column cannot hold",
       "CREATE TABLE K (ID BIGINT NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO K VALUES (5000000000, 'a');",
       "CREATE TABLE K (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));", "K ID=5000000000",
       "^Registro 1 \\(K \\| ID=5000000000\\) falhou, nada foi gravado: a chave nao cabe no campo K\\.ID do destino"},
      {"a row another transaction holds", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO T VALUES (1, 'novo');",
       "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO T VALUES (1, 'velho');", "T ID=1",
       "^Registro 1 \\(T \\| ID=1\\) falhou, nada foi gravado: outra transacao mantem este registro bloqueado",
       "SELECT V FROM T", "velho", {}, false, false, false, nullptr, "UPDATE T SET V = 'outro' WHERE ID = 1"},
      {"a key another transaction inserted", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10)); INSERT INTO T VALUES (1, 'novo');",
       "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));", "T ID=1",
       "^Registro 1 \\(T \\| ID=1\\) falhou, nada foi gravado: (outra transacao mantem|a chave nao existia no destino quando a "
       "reproducao comecou: outra transacao gravou)",
       "SELECT COUNT(*) FROM T", "0", {}, false, false, false, nullptr, "INSERT INTO T VALUES (1, 'outro')"},
  };
  for (const TDifferingTarget& LCase : LCases) {
    SCOPED_TRACE(LCase.Name);
    TTestDatabase LSource("differs-source", LCase.Source, "WIN1252");
    TTestDatabase LTarget("differs-target", LCase.Target, "WIN1252");
    const QStringList LRoot = QString(LCase.Root).split(' ');
    const QString LKeyColumn = LRoot[1].section('=', 0, 0), LKeyText = LRoot[1].section('=', 1);
    bool LNumber = false;
    const qint64 LKeyNumber = LKeyText.toLongLong(&LNumber);
    QByteArray LText;
    {
      auto LConnection = LSource.Connect("WIN1252");
      ISliceExporterPtr LExporter = TSliceExporter::New(LConnection.get())
                                        ->Table(LRoot[0])
                                        ->Key(LKeyColumn, LNumber ? TValue::Integer(LKeyNumber) : TValue::Text(LKeyText))
                                        ->DeferCycles(LCase.DeferCycles);
      if (LCase.Children) {
        const QStringList LChild = QString(LCase.Children).split(':');
        LExporter->IncludeChildren(LChild[0], LChild[1], LChild[2]);
      }
      LText = LExporter->Generate().toUtf8();
    }
    const TSliceScript LScript = TSliceScript::Read(LText);
    // The transaction of another user of the support database, open during the replay.
    std::unique_ptr<TDbConnection> LOther;
    if (LCase.Held) {
      LOther = LTarget.Connect("UTF8");
      LOther->SetReadOnly(false);
      LOther->StartTransaction();
      TDbQuery LHold(*LOther);
      LHold.SetSQL(LCase.Held);
      LHold.Open();
      LHold.Close();
    }
    TReplayResult LResult;
    QString LFailure;
    try {
      auto LConnection = LTarget.Connect("UTF8");
      TSliceReplayer LReplayer(*LConnection);
      LResult = LReplayer.DryRun(LCase.DryRun).SkipMissingColumns(LCase.SkipMissing).Run(LScript);
    } catch (const TCorvaneError& aError) {
      LFailure = aError.Message();
    }
    if (LOther) LOther->Rollback();
    if (LCase.Failure) {
      EXPECT_TRUE(LFailure.contains(QRegularExpression(QString::fromUtf8(LCase.Failure)))) << LFailure.toStdString();
    } else {
      EXPECT_EQ(LFailure, QString());
      EXPECT_EQ(LResult.Committed, !LCase.DryRun);
      if (LCase.Check) LCase.Check(LResult);
    }
    if (LCase.After) {
      auto LConnection = LTarget.Connect("UTF8");
      EXPECT_EQ(QueryRows(*LConnection, QString::fromUtf8(LCase.After)).join(';'), QString::fromUtf8(LCase.Expected));
    }
  }
}

TEST_F(TSliceReplayTest, PreviewShowsOldAndNewAndTheMirrorRemovesOnlyWhatTheDocumentLacks) {
  TTestDatabase LTarget("replay-mirror", DemoSql(), "WIN1252");
  const TSliceScript& LNota = (*GScripts)[3];  // Nota Fiscal 000123
  // The support database: another city name, one item the customer's document lacks (with
  // its batch line), and a table of its own that references nothing of the document yet.
  LTarget.Execute(
      "CREATE TABLE NOTAPRO_OBS (ID INTEGER NOT NULL PRIMARY KEY, NOTANUM VARCHAR(6), PROCOD INTEGER,"
      " FOREIGN KEY (NOTANUM, PROCOD) REFERENCES NOTAPRO); COMMIT;"
      "UPDATE CIDADE SET CIDNOME = 'Outra' WHERE CIDCOD = "
      "(SELECT CIDCOD FROM CLIENTE WHERE CLICOD = (SELECT CLICOD FROM NOTAFI WHERE NOTANUM = '000123'));"
      "INSERT INTO NOTAPRO SELECT NOTANUM, 1002, 9, UNICOD, CFOPCOD, CST, QUANTIDADE, VALOR_UNITARIO, VALOR_TOTAL, "
      "DESCONTO, ALIQ_ICMS, VALOR_ICMS, ALIQ_IPI, VALOR_IPI FROM NOTAPRO WHERE NOTANUM = '000123' AND PROCOD = 1001;"
      "INSERT INTO NOTA_ITEM (NOTANUM, ITEM, PROCOD, LOTE) VALUES ('000123', 9, 1002, 'EXTRA');");
  const QList<TReplayRelation> LRelations = DocumentRelations("NOTAFI");
  ASSERT_GT(LRelations.size(), 5);
  auto LRun = [&](bool aDryRun, bool aMirror) {
    auto LConnection = LTarget.Connect("UTF8");
    TSliceReplayer LReplayer(*LConnection);
    return LReplayer.DryRun(aDryRun).Mirror(aMirror).Related(LRelations).Run(LNota);
  };
  auto LExtra = [&] {
    auto LConnection = LTarget.Connect("UTF8");
    return QueryRows(*LConnection, "SELECT (SELECT COUNT(*) FROM NOTAPRO WHERE NOTANUM = '000123' AND PROCOD = 1002) || "
                                   "':' || (SELECT COUNT(*) FROM NOTA_ITEM WHERE LOTE = 'EXTRA') FROM RDB$DATABASE")
        .join("");
  };

  // The preview: the city's old and new name, and the two rows only the target holds.
  const TReplayResult LPreview = LRun(true, true);
  EXPECT_FALSE(LPreview.Committed);
  EXPECT_EQ(LPreview.Changed, 1);
  EXPECT_EQ(LPreview.Inserted, 0);
  QStringList LChanges;
  for (const TReplayTable& LTable : LPreview.Tables)
    for (const TReplayChange& LChange : LTable.ChangedRows)
      for (const TReplayColumnChange& LValue : LChange.Values) LChanges << LValue.Column + ": " + LValue.Old + " -> " + LValue.New;
  ASSERT_EQ(LChanges.size(), 1);
  EXPECT_TRUE(LChanges[0].startsWith("CIDNOME: Outra -> ")) << LChanges[0].toStdString();
  QStringList LOnly;
  for (const TReplayTargetRow& LRow : LPreview.TargetOnly) LOnly << LRow.Description;
  LOnly.sort();
  EXPECT_EQ(LOnly, (QStringList{"NOTAPRO | NOTANUM=000123, PROCOD=1002", "NOTA_ITEM | NOTANUM=000123, ITEM=9"}));
  EXPECT_EQ(LExtra(), "1:1") << "a dry run deletes nothing";

  // A row outside the document references the extra item: the mirror is refused, naming it.
  LTarget.Execute("INSERT INTO NOTAPRO_OBS VALUES (77, '000123', 1002);");
  try {
    LRun(false, true);
    ADD_FAILURE() << "a referenced row was deleted";
  } catch (const TCorvaneError& aError) {
    EXPECT_TRUE(aError.Message().startsWith("Espelhamento recusado, nada foi gravado: ")) << aError.Message().toStdString();
    EXPECT_TRUE(aError.Message().contains("NOTAPRO_OBS | ID=77, fora do documento, ainda o referencia"))
        << aError.Message().toStdString();
  }
  EXPECT_EQ(LExtra(), "1:1");

  // Without it the mirror deletes both, the batch line first, and the target is the document.
  LTarget.Execute("DELETE FROM NOTAPRO_OBS;");
  const TReplayResult LMirror = LRun(false, true);
  EXPECT_TRUE(LMirror.Committed);
  EXPECT_TRUE(LMirror.Mirrored);
  EXPECT_EQ(LMirror.TargetOnly.size(), 2);
  EXPECT_EQ(LMirror.Changed, 1);
  EXPECT_EQ(LExtra(), "0:0");
  const TReplayResult LAgain = LRun(true, false);
  EXPECT_EQ(LAgain.Unchanged, LNota.Count());
  EXPECT_EQ(LAgain.TargetOnly.size(), 0);
}
