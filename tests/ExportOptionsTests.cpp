// The export options for real schemas: rows in foreign-key cycles written first without one
// nullable reference and completed later, and array columns left out. Every document is
// replayed by the real client into an empty database with all its foreign keys enforced.
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

// The tables first and their foreign keys afterwards: the source rows of a cycle with NOT
// NULL references can only be inserted before the keys exist.
const char* const CTables = R"SQL(
CREATE DOMAIN DREQ AS INTEGER NOT NULL;
CREATE TABLE DEPT (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), MANAGER_ID INTEGER);
CREATE TABLE EMP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), DEPT_ID INTEGER NOT NULL);
CREATE TABLE CA (ID INTEGER NOT NULL PRIMARY KEY, B_ID INTEGER NOT NULL, NOTE VARCHAR(10));
CREATE TABLE CB (ID INTEGER NOT NULL PRIMARY KEY, C_ID INTEGER, NOTE VARCHAR(10));
CREATE TABLE CC (ID INTEGER NOT NULL PRIMARY KEY, A_ID INTEGER NOT NULL, NOTE VARCHAR(10));
CREATE TABLE NODE (ID INTEGER NOT NULL PRIMARY KEY, PARENT_ID INTEGER, LABEL VARCHAR(10));
CREATE TABLE HEAD (CODE CHAR(2) NOT NULL, NUM INTEGER NOT NULL, MAIN_CODE CHAR(2), MAIN_NUM INTEGER,
  MAIN_POS SMALLINT, PRIMARY KEY (CODE, NUM));
CREATE TABLE LINE (CODE CHAR(2) NOT NULL, NUM INTEGER NOT NULL, POS SMALLINT NOT NULL, QTY NUMERIC(9,2),
  PRIMARY KEY (CODE, NUM, POS));
CREATE TABLE NA (ID INTEGER NOT NULL PRIMARY KEY, NB_ID DREQ);
CREATE TABLE NB (ID INTEGER NOT NULL PRIMARY KEY, NA_ID INTEGER NOT NULL);
CREATE TABLE GRID (ID INTEGER NOT NULL PRIMARY KEY, CELLS INTEGER[2:3], NAME VARCHAR(10), NODE_ID INTEGER,
  MARKS VARCHAR(5)[2]);
CREATE TABLE UQ (ID INTEGER NOT NULL PRIMARY KEY, PEER_ID INTEGER, CONSTRAINT UQ_PEER UNIQUE (PEER_ID));
CREATE TABLE UR (ID INTEGER NOT NULL PRIMARY KEY, UQ_ID INTEGER NOT NULL);
CREATE TABLE UX (ID INTEGER NOT NULL PRIMARY KEY, PEER INTEGER NOT NULL);
COMMIT;
)SQL";

const char* const CKeys = R"SQL(
ALTER TABLE EMP ADD CONSTRAINT FK_EMP_DEPT FOREIGN KEY (DEPT_ID) REFERENCES DEPT (ID);
ALTER TABLE DEPT ADD CONSTRAINT FK_DEPT_MANAGER FOREIGN KEY (MANAGER_ID) REFERENCES EMP (ID);
ALTER TABLE CA ADD CONSTRAINT FK_CA_CB FOREIGN KEY (B_ID) REFERENCES CB (ID);
ALTER TABLE CB ADD CONSTRAINT FK_CB_CC FOREIGN KEY (C_ID) REFERENCES CC (ID);
ALTER TABLE CC ADD CONSTRAINT FK_CC_CA FOREIGN KEY (A_ID) REFERENCES CA (ID);
ALTER TABLE NODE ADD CONSTRAINT FK_NODE_PARENT FOREIGN KEY (PARENT_ID) REFERENCES NODE (ID);
ALTER TABLE LINE ADD CONSTRAINT FK_LINE_HEAD FOREIGN KEY (CODE, NUM) REFERENCES HEAD (CODE, NUM);
ALTER TABLE HEAD ADD CONSTRAINT FK_HEAD_MAIN FOREIGN KEY (MAIN_CODE, MAIN_NUM, MAIN_POS) REFERENCES LINE (CODE, NUM, POS);
ALTER TABLE NA ADD CONSTRAINT FK_NA_NB FOREIGN KEY (NB_ID) REFERENCES NB (ID);
ALTER TABLE NB ADD CONSTRAINT FK_NB_NA FOREIGN KEY (NA_ID) REFERENCES NA (ID);
ALTER TABLE GRID ADD CONSTRAINT FK_GRID_NODE FOREIGN KEY (NODE_ID) REFERENCES NODE (ID);
ALTER TABLE UQ ADD CONSTRAINT FK_UQ_UR FOREIGN KEY (PEER_ID) REFERENCES UR (ID);
ALTER TABLE UR ADD CONSTRAINT FK_UR_UQ FOREIGN KEY (UQ_ID) REFERENCES UQ (ID);
ALTER TABLE UX ADD CONSTRAINT FK_UX_UQ FOREIGN KEY (PEER) REFERENCES UQ (PEER_ID);
COMMIT;
)SQL";

const char* const CData = R"SQL(
INSERT INTO DEPT VALUES (1, 'Vendas', 2);
INSERT INTO DEPT VALUES (2, 'Compras', NULL);
INSERT INTO EMP VALUES (1, 'Ana', 1);
INSERT INTO EMP VALUES (2, 'Bia', 1);
INSERT INTO EMP VALUES (3, 'Caio', 2);
INSERT INTO CA VALUES (1, 1, 'a');
INSERT INTO CB VALUES (1, 1, 'b');
INSERT INTO CC VALUES (1, 1, 'c');
INSERT INTO NODE VALUES (1, 1, 'raiz');
INSERT INTO NODE VALUES (2, 1, 'filho');
INSERT INTO NODE VALUES (3, 2, 'neto');
INSERT INTO HEAD VALUES ('SP', 1, 'SP', 1, 2);
INSERT INTO LINE VALUES ('SP', 1, 1, 1.5);
INSERT INTO LINE VALUES ('SP', 1, 2, 2.25);
INSERT INTO NA VALUES (1, 1);
INSERT INTO NB VALUES (1, 1);
INSERT INTO GRID (ID, NAME, NODE_ID) VALUES (1, 'g', 3);
INSERT INTO GRID (ID, NAME, NODE_ID) VALUES (2, 'g', 2);
INSERT INTO UQ VALUES (1, 5);
INSERT INTO UR VALUES (5, 1);
INSERT INTO UX VALUES (1, 5);
COMMIT;
)SQL";

TTestDatabase* GSource = nullptr;

class ExportOptionsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    GSource = new TTestDatabase("options", QString(CTables) + CData + CKeys);
  }
  static void TearDownTestSuite() {
    delete GSource;
    GSource = nullptr;
  }

  static std::string ErrorOf(const std::function<void()>& aCall) {
    try {
      aCall();
    } catch (const TCorvaneError& LError) {
      return LError.Message().toStdString();
    }
    return "<no error>";
  }
};

struct TDocument {
  const char* Table;
  QList<QPair<QString, TValue>> Key;
  QStringList Order;  // descriptions of the statements in script order, completions marked " *"
  QList<QPair<QString, QString>> Rows;  // table, and the rows of the source the slice holds
  std::string Failure;  // without the options
};

std::shared_ptr<TSliceExporter> Configure(TDbConnection& aConnection, const TDocument& aDocument) {
  auto LExporter = TSliceExporter::Create(&aConnection);
  LExporter->Table(aDocument.Table);
  for (const auto& LKey : aDocument.Key) LExporter->Key(LKey.first, LKey.second);
  return LExporter;
}

// The statements of a script: the description of each, " *" after those that complete a row.
QStringList Statements(const QString& aScript) {
  const QStringList LLines = aScript.split("\r\n");
  QStringList LResult;
  for (qsizetype I = 2; I < LLines.size(); ++I)
    if (LLines[I].startsWith("UPDATE OR INSERT "))
      LResult << LLines[I - 2].mid(3) + (LLines[I - 1].startsWith("-- Completa referencia adiada: ") ? " *" : "");
  return LResult;
}

QStringList TableRows(const TTestDatabase& aDatabase, const QString& aTable, const QString& aWhere = {}) {
  const QString LColumns = aTable == "GRID" ? "ID, NAME, NODE_ID" : "*";
  auto LConnection = aDatabase.Connect("UTF8");
  return QueryRows(*LConnection, "SELECT " + LColumns + " FROM " + aTable +
                                     (aWhere.isEmpty() ? QString() : " WHERE " + aWhere) + " ORDER BY 1, 2");
}

}  // namespace

TEST_F(ExportOptionsTest, RowsInCyclesAndArrayTablesReplayIntoEmptyDatabasesAndExportAgainTheSame) {
  const std::string LOldCycle = "Dependencia ciclica encontrada em ";
  const QList<TDocument> LDocuments = {
      // The closing reference (EMP 2 -> DEPT 1) is NOT NULL: the department's manager is left
      // for later, and EMP 2, met first inside the cycle, is written after the department.
      {"EMP",
       {{"ID", TValue::Integer(1)}},
       {"DEPT | ID=1", "EMP | ID=1", "EMP | ID=2", "DEPT | ID=1 *"},
       {{"DEPT", "ID = 1"}, {"EMP", "ID IN (1, 2)"}},
       LOldCycle + "DEPT. Exportacao cancelada."},
      {"DEPT",
       {{"ID", TValue::Integer(1)}},
       {"DEPT | ID=1", "EMP | ID=2", "DEPT | ID=1 *"},
       {{"DEPT", "ID = 1"}, {"EMP", "ID = 2"}},
       LOldCycle + "DEPT. Exportacao cancelada."},
      // Three tables, the only nullable reference in the middle of the cycle.
      {"CA",
       {{"ID", TValue::Integer(1)}},
       {"CB | ID=1", "CA | ID=1", "CC | ID=1", "CB | ID=1 *"},
       {{"CA", ""}, {"CB", ""}, {"CC", ""}},
       LOldCycle + "CA. Exportacao cancelada."},
      // A row that references itself, below two that reference it.
      {"NODE",
       {{"ID", TValue::Integer(3)}},
       {"NODE | ID=1", "NODE | ID=1 *", "NODE | ID=2", "NODE | ID=3"},
       {{"NODE", ""}},
       LOldCycle + "NODE. Exportacao cancelada."},
      // A composite nullable key closes nothing here: the walk comes back to it from LINE 2.
      {"LINE",
       {{"CODE", TValue::Text("SP")}, {"NUM", TValue::Integer(1)}, {"POS", TValue::Integer(1)}},
       {"HEAD | CODE=SP, NUM=1", "LINE | CODE=SP, NUM=1, POS=1", "LINE | CODE=SP, NUM=1, POS=2",
        "HEAD | CODE=SP, NUM=1 *"},
       {{"HEAD", ""}, {"LINE", ""}},
       LOldCycle + "HEAD. Exportacao cancelada."},
      // Array columns, two root rows, and the self-referencing row above them.
      {"GRID",
       {{"NAME", TValue::Text("g")}},
       {"NODE | ID=1", "NODE | ID=1 *", "NODE | ID=2", "NODE | ID=3", "GRID | ID=1", "GRID | ID=2"},
       {{"NODE", ""}, {"GRID", ""}},
       "Campo ARRAY ainda nao suportado: GRID.CELLS"},
      // UX references UQ through a unique key that holds UQ's deferred reference: UQ is
      // completed before UX is written.
      {"UX",
       {{"ID", TValue::Integer(1)}},
       {"UQ | ID=1", "UR | ID=5", "UQ | ID=1 *", "UX | ID=1"},
       {{"UQ", ""}, {"UR", ""}, {"UX", ""}},
       LOldCycle + "UQ. Exportacao cancelada."},
  };
  QTemporaryDir LDir;
  auto LConnection = GSource->Connect("UTF8");
  for (const TDocument& LDocument : LDocuments) {
    SCOPED_TRACE(LDocument.Table);
    EXPECT_EQ(ErrorOf([&] { Configure(*LConnection, LDocument)->Generate(); }), LDocument.Failure);

    // The plain path and the threaded one write the same script and report the same.
    QString LScripts[2];
    QStringList LMessages[2];
    for (const bool LCache : {false, true}) {
      auto LExporter = Configure(*LConnection, LDocument);
      LExporter->SetRunCache(LCache);
      LExporter->DeferCycles(true)->SkipArrays(true)->Progress(
          [&LMessages, LCache](const QString& aMessage) { LMessages[LCache] << aMessage; });
      LScripts[LCache] = LExporter->Generate();
    }
    EXPECT_EQ(LScripts[1], LScripts[0]);
    EXPECT_EQ(LMessages[1], LMessages[0]);
    const QString& LScript = LScripts[0];
    EXPECT_EQ(Statements(LScript), LDocument.Order);
    const QStringList LLines = LScript.split("\r\n");
    EXPECT_EQ(LLines[LLines.size() - 3], "-- Registros exportados: " + QString::number(LDocument.Order.size()));
    EXPECT_TRUE(LLines[3].startsWith("-- Registros em ciclos de chaves estrangeiras")) << "the header says so";
    EXPECT_EQ(LMessages[0].filter("Campos ARRAY").join('\n'),
              QString(LDocument.Table) == "GRID" ? "Campos ARRAY deixados de fora em GRID: CELLS, MARKS." : "");

    // Saved, the rows pass through a file of their own before the header that notes the
    // cycles: the file still holds exactly the text.
    const QString LFile = LDir.filePath(QString(LDocument.Table) + ".sql");
    auto LSaved = Configure(*LConnection, LDocument);
    LSaved->DeferCycles(true)->SkipArrays(true)->SaveToFile(LFile);
    EXPECT_EQ(QString::fromUtf8(ReadFileBytes(LFile)), LScript);
    EXPECT_EQ(QDir(LDir.path()).entryList({"*.sql.*"}, QDir::Files | QDir::Hidden), QStringList{}) << "no temporary file left";
    WriteFileBytes(LFile, LScript.toUtf8());
    TTestDatabase LTarget(QString("options-") + LDocument.Table, QString(CTables) + CKeys);
    const TIsqlResult LReplay = LTarget.Replay(LFile);
    ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    ASSERT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();
    for (const auto& [LTable, LWhere] : LDocument.Rows) {
      const QStringList LExpected = TableRows(*GSource, LTable, LWhere);
      EXPECT_FALSE(LExpected.isEmpty()) << LTable.toStdString();
      EXPECT_EQ(TableRows(LTarget, LTable), LExpected) << LTable.toStdString();
    }

    auto LReplayed = LTarget.Connect("UTF8");
    auto LAgain = Configure(*LReplayed, LDocument);
    LAgain->DeferCycles(true)->SkipArrays(true);
    EXPECT_EQ(LAgain->Generate(), LScript);
  }
}

TEST_F(ExportOptionsTest, OtherRunsStayAsTheyWereAndFailuresSayWhatWouldGetPast) {
  auto LConnection = GSource->Connect("UTF8");
  // No cycle, no array: the options change nothing, byte for byte.
  const TDocument LPlain{"EMP", {{"ID", TValue::Integer(3)}}, {}, {}, {}};
  const QString LWithout = Configure(*LConnection, LPlain)->Generate();
  auto LWith = Configure(*LConnection, LPlain);
  LWith->DeferCycles(true)->SkipArrays(true);
  EXPECT_EQ(LWith->Generate(), LWithout);
  EXPECT_EQ(Statements(LWithout), (QStringList{"DEPT | ID=2", "EMP | ID=3"}));

  // Only when no reference of the cycle may be NULL (a NOT NULL domain, a NOT NULL column)
  // does the run fail, and then it names the keys of the cycle.
  const TDocument LStuck{"NA", {{"ID", TValue::Integer(1)}}, {}, {}, {}};
  EXPECT_EQ(ErrorOf([&] { Configure(*LConnection, LStuck)->Generate(); }),
            "Dependencia ciclica encontrada em NA. Exportacao cancelada.");
  for (const bool LCache : {false, true}) {
    auto LExporter = Configure(*LConnection, LStuck);
    LExporter->SetRunCache(LCache);
    LExporter->DeferCycles(true);
    EXPECT_EQ(ErrorOf([&] { LExporter->Generate(); }),
              "Dependencia ciclica encontrada em NA. Exportacao cancelada. Nenhuma chave estrangeira do ciclo "
              "aceita nulos: FK_NA_NB, FK_NB_NA.");
  }
  EXPECT_FALSE(LConnection->InTransaction());

  // The command line passes the options on, and without them names the one that would help.
  QTemporaryDir LDir;
  const QString LConfig = LDir.filePath("config.ini");
  WriteFileBytes(LConfig, QString("[Firebird]\r\nUserName=%1\r\nPassword=%2\r\nCharacterSet=UTF8\r\n"
                                  "[SERVER]\r\nSERVER_NAME=localhost\r\n[BANCO]\r\nCAMINHO=%3\r\n")
                              .arg(ServerUser(), ServerPassword(), GSource->Path())
                              .toUtf8());
  const QString LFile = LDir.filePath("out.sql");
  const auto LRun = [&](const QStringList& aArguments) {
    return RunCliProgram(QStringList{"export", "--quiet", "--config", LConfig, "-o", LFile} + aArguments);
  };
  const TCliRun LCycle = LRun({"--table", "EMP", "--key", "ID=1"});
  EXPECT_EQ(LCycle.ExitCode, 1);
  EXPECT_EQ(LCycle.Err, "ERRO: Dependencia ciclica encontrada em DEPT. Exportacao cancelada.\n"
                        "Dica: --defer-cycles grava os registros do ciclo e os completa depois.\n");
  const TCliRun LArray = LRun({"--table", "GRID", "--key", "ID=1", "--defer-cycles"});
  EXPECT_EQ(LArray.ExitCode, 1);
  EXPECT_EQ(LArray.Err, "ERRO: Campo ARRAY ainda nao suportado: GRID.CELLS\n"
                        "Dica: --skip-arrays deixa os campos ARRAY de fora do script.\n");
  EXPECT_FALSE(QFileInfo::exists(LFile));
  const TCliRun LStuckRun = LRun({"--table", "NA", "--key", "ID=1", "--defer-cycles"});
  EXPECT_EQ(LStuckRun.ExitCode, 1);
  EXPECT_FALSE(LStuckRun.Err.contains("Dica")) << "the option is on already";

  const TCliRun LDone = LRun({"--table", "GRID", "--key", "ID=1", "--defer-cycles", "--skip-arrays"});
  ASSERT_EQ(LDone.ExitCode, 0) << LDone.Err.toStdString();
  auto LExporter = TSliceExporter::Create(LConnection.get());
  LExporter->Table("GRID")->Key("ID", TValue::Integer(1))->DeferCycles(true)->SkipArrays(true);
  EXPECT_EQ(QString::fromUtf8(ReadFileBytes(LFile)), LExporter->Generate());
}

// Many cycles at once, made by a fixed seed: NOT NULL references only lead from RA to RB to
// RC, so every cycle has a nullable reference somewhere, often several, and often not the one
// that closes it. Whatever the root, the slice replays into an empty database as exactly
// the rows that the root reaches.
TEST_F(ExportOptionsTest, GeneratedCyclesReplayAsExactlyTheRowsTheRootReaches) {
  const QString LTables = R"SQL(
CREATE TABLE RA (ID INTEGER NOT NULL PRIMARY KEY, X INTEGER NOT NULL, Y INTEGER, Z INTEGER, V VARCHAR(10));
CREATE TABLE RB (ID INTEGER NOT NULL PRIMARY KEY, X INTEGER, Y INTEGER NOT NULL, V VARCHAR(10));
CREATE TABLE RC (ID INTEGER NOT NULL PRIMARY KEY, X INTEGER, Y INTEGER, V VARCHAR(10));
COMMIT;
)SQL";
  const QString LKeys = R"SQL(
ALTER TABLE RA ADD CONSTRAINT FK_RA_X FOREIGN KEY (X) REFERENCES RB (ID);
ALTER TABLE RA ADD CONSTRAINT FK_RA_Y FOREIGN KEY (Y) REFERENCES RA (ID);
ALTER TABLE RA ADD CONSTRAINT FK_RA_Z FOREIGN KEY (Z) REFERENCES RC (ID);
ALTER TABLE RB ADD CONSTRAINT FK_RB_X FOREIGN KEY (X) REFERENCES RA (ID);
ALTER TABLE RB ADD CONSTRAINT FK_RB_Y FOREIGN KEY (Y) REFERENCES RC (ID);
ALTER TABLE RC ADD CONSTRAINT FK_RC_X FOREIGN KEY (X) REFERENCES RA (ID);
ALTER TABLE RC ADD CONSTRAINT FK_RC_Y FOREIGN KEY (Y) REFERENCES RB (ID);
COMMIT;
)SQL";
  constexpr int CRows = 12;
  // Columns of each table after ID, each with the table it references and whether it may be NULL.
  struct TReference {
    int Table;
    bool Nullable;
  };
  const QList<QList<TReference>> LShape = {
      {{1, false}, {0, true}, {2, true}}, {{0, true}, {2, false}}, {{0, true}, {1, true}}};
  const QStringList LNames = {"RA", "RB", "RC"};
  std::mt19937 LRandom(20261209);
  QList<QList<QList<int>>> LData(3);  // table, row (ID - 1), reference: the ID or 0 for NULL
  QString LInserts;
  for (int T = 0; T < 3; ++T)
    for (int I = 1; I <= CRows; ++I) {
      QList<int> LRow;
      QStringList LValues{QString::number(I)};
      for (const TReference& LReference : LShape[T]) {
        const int LTarget = LReference.Nullable && LRandom() % 5 == 0 ? 0 : int(LRandom() % CRows) + 1;
        LRow << LTarget;
        LValues << (LTarget ? QString::number(LTarget) : "NULL");
      }
      LData[T] << LRow;
      LInserts += "INSERT INTO " + LNames[T] + " VALUES (" + LValues.join(", ") + ", '" + LNames[T].toLower() +
                  QString::number(I) + "');\n";
    }
  TTestDatabase LSource("options-generated", LTables + LInserts + "COMMIT;\n" + LKeys);
  auto LConnection = LSource.Connect("UTF8");
  QTemporaryDir LDir;
  for (const auto& [LRootTable, LRootId] : {std::pair{0, 1}, {0, 7}, {1, 3}, {2, 5}, {2, 11}}) {
    SCOPED_TRACE(LNames[LRootTable].toStdString() + " " + std::to_string(LRootId));
    // The rows the root reaches through its references.
    QList<QSet<int>> LReached(3);
    QList<std::pair<int, int>> LOpen{{LRootTable, LRootId}};
    while (!LOpen.isEmpty()) {
      const auto [T, LId] = LOpen.takeLast();
      if (LReached[T].contains(LId)) continue;
      LReached[T].insert(LId);
      for (qsizetype R = 0; R < LShape[T].size(); ++R)
        if (const int LTarget = LData[T][LId - 1][R]) LOpen.append({LShape[T][R].Table, LTarget});
    }

    QString LScripts[2];
    for (const bool LCache : {false, true}) {
      auto LExporter = TSliceExporter::Create(LConnection.get());
      LExporter->Table(LNames[LRootTable])->Key("ID", TValue::Integer(LRootId))->DeferCycles(true);
      LExporter->SetRunCache(LCache);
      LScripts[LCache] = LExporter->Generate();
    }
    ASSERT_EQ(LScripts[1], LScripts[0]);
    const QString LFile = LDir.filePath("generated.sql");
    WriteFileBytes(LFile, LScripts[0].toUtf8());
    TTestDatabase LTarget("options-generated-target", LTables + LKeys);
    const TIsqlResult LReplay = LTarget.Replay(LFile);
    ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    qsizetype LRows = 0;
    for (int T = 0; T < 3; ++T) {
      QStringList LIds;
      for (const int LId : std::as_const(LReached[T])) LIds << QString::number(LId);
      LRows += LIds.size();
      EXPECT_EQ(TableRows(LTarget, LNames[T]),
                LIds.isEmpty() ? QStringList() : TableRows(LSource, LNames[T], "ID IN (" + LIds.join(", ") + ")"))
          << LNames[T].toStdString();
    }
    EXPECT_EQ(Statements(LScripts[0]).filter(QRegularExpression("[^*]$")).size(), LRows) << "each row written once";

    auto LReplayed = LTarget.Connect("UTF8");
    auto LAgain = TSliceExporter::Create(LReplayed.get());
    LAgain->Table(LNames[LRootTable])->Key("ID", TValue::Integer(LRootId))->DeferCycles(true);
    EXPECT_EQ(LAgain->Generate(), LScripts[0]);
  }
}
