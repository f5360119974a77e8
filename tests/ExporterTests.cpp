// The slice exporter against a real server: script frame, row statements, the walk over
// foreign keys and configured relations, failures and the transaction it leaves behind.
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const char* const CSchema = R"SQL(
CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20));
CREATE TABLE COUNTRY (CODE CHAR(2) NOT NULL PRIMARY KEY, NAME VARCHAR(40) CHARACTER SET WIN1252);
CREATE TABLE CITY (CC CHAR(2) NOT NULL, NUM INTEGER NOT NULL, NAME VARCHAR(40) CHARACTER SET ISO8859_1,
  CONSTRAINT PK_CITY PRIMARY KEY (CC, NUM),
  CONSTRAINT FK_CITY_COUNTRY FOREIGN KEY (CC) REFERENCES COUNTRY (CODE));
CREATE TABLE PERSON (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), CITY_CC CHAR(2), CITY_NUM INTEGER,
  CONSTRAINT FK_PERSON_CITY FOREIGN KEY (CITY_CC, CITY_NUM) REFERENCES CITY (CC, NUM));
CREATE TABLE ORDERS (ID INTEGER NOT NULL PRIMARY KEY, PERSON_ID INTEGER, KIND CHAR(1),
  NOTE BLOB SUB_TYPE TEXT, TOTAL NUMERIC(18,4), CREATED TIMESTAMP, DOUBLED COMPUTED BY (ID * 2),
  CONSTRAINT FK_ORDERS_PERSON FOREIGN KEY (PERSON_ID) REFERENCES PERSON (ID));
CREATE TABLE ITEM (ORDER_ID INTEGER NOT NULL, POS SMALLINT NOT NULL, SELLER_ID INTEGER, QTY NUMERIC(9,2),
  PRICE DOUBLE PRECISION, WEIGHT FLOAT, DELIVERY DATE, AT_TIME TIME, PICTURE BLOB SUB_TYPE 0, CODE CHAR(4) CHARACTER SET OCTETS,
  CONSTRAINT PK_ITEM PRIMARY KEY (ORDER_ID, POS),
  CONSTRAINT FK_ITEM_ORDERS FOREIGN KEY (ORDER_ID) REFERENCES ORDERS (ID),
  CONSTRAINT FK_ITEM_SELLER FOREIGN KEY (SELLER_ID) REFERENCES PERSON (ID));
CREATE TABLE ITEM_NOTE (ID INTEGER NOT NULL PRIMARY KEY, N_ORDER INTEGER, N_POS SMALLINT, TXT VARCHAR(50),
  CONSTRAINT FK_NOTE_ITEM FOREIGN KEY (N_ORDER, N_POS) REFERENCES ITEM (ORDER_ID, POS));
CREATE TABLE SELFREF (ID INTEGER NOT NULL PRIMARY KEY, REF_ID INTEGER,
  CONSTRAINT FK_SELFREF FOREIGN KEY (REF_ID) REFERENCES SELFREF (ID));
CREATE TABLE MA (ID INTEGER NOT NULL PRIMARY KEY, B_ID INTEGER);
CREATE TABLE MB (ID INTEGER NOT NULL PRIMARY KEY, A_ID INTEGER, CONSTRAINT FK_MB_MA FOREIGN KEY (A_ID) REFERENCES MA (ID));
ALTER TABLE MA ADD CONSTRAINT FK_MA_MB FOREIGN KEY (B_ID) REFERENCES MB (ID);
CREATE TABLE CH (ID INTEGER NOT NULL PRIMARY KEY, NEXT_ID INTEGER, CONSTRAINT FK_CH FOREIGN KEY (NEXT_ID) REFERENCES CH (ID));
CREATE TABLE ARR (ID INTEGER NOT NULL PRIMARY KEY, VALS INTEGER[3]);
CREATE TABLE NOPK (ID INTEGER);
CREATE TABLE ESC (K VARCHAR(20) NOT NULL PRIMARY KEY, V INTEGER);
CREATE TABLE ESC_CHILD (ID INTEGER NOT NULL PRIMARY KEY, K VARCHAR(20));
CREATE TABLE BIG (ID INTEGER NOT NULL PRIMARY KEY, "DADOÇ" BLOB SUB_TYPE 0);
CREATE TABLE "Odd ""Name""" ("lower id" INTEGER NOT NULL PRIMARY KEY, "Valor" VARCHAR(10));
CREATE TABLE BL (ID INTEGER NOT NULL PRIMARY KEY, GRP INTEGER, TU BLOB SUB_TYPE TEXT CHARACTER SET UTF8,
  TW BLOB SUB_TYPE TEXT CHARACTER SET WIN1252, TN BLOB SUB_TYPE TEXT CHARACTER SET NONE, B BLOB SUB_TYPE 0);
CREATE TABLE WIDE (ID INTEGER NOT NULL PRIMARY KEY, GRP INTEGER, T1 VARCHAR(7500) CHARACTER SET UTF8,
  T2 VARCHAR(7500) CHARACTER SET UTF8, B BLOB SUB_TYPE TEXT CHARACTER SET UTF8);
)SQL";

const char* const CData = R"SQL(
INSERT INTO T VALUES (1, 'AB');
INSERT INTO BL VALUES (1, 1, 'ação 😀', 'ação', x'E9FF41', x'00FF');
INSERT INTO BL VALUES (2, 1, RPAD('', 512, 'é'), RPAD('', 512, 'ç'), RPAD('', 512, 'n'), RPAD(x'', 512, x'FE'));
INSERT INTO BL VALUES (3, 1, RPAD('', 513, 'é'), RPAD('', 513, 'ç'), RPAD('', 513, 'n'), RPAD(x'', 513, x'FE'));
INSERT INTO BL VALUES (4, 1, '', '', '', x'');
INSERT INTO BL VALUES (5, 1, NULL, NULL, NULL, NULL);
INSERT INTO WIDE VALUES (1, 1, RPAD('', 7500, 'ã'), RPAD('', 7500, 'õ'), 'curto');
INSERT INTO COUNTRY VALUES ('BR', 'Brasil');
INSERT INTO COUNTRY VALUES ('PT', 'Portugal');
INSERT INTO CITY VALUES ('BR', 1, 'São Paulo');
INSERT INTO CITY VALUES ('BR', 2, 'Curitiba');
INSERT INTO CITY VALUES ('PT', 1, 'Lisboa');
INSERT INTO PERSON VALUES (1, 'Ana', 'BR', 1);
INSERT INTO PERSON VALUES (2, 'João 😀', 'BR', 2);
INSERT INTO PERSON VALUES (3, 'Zé', NULL, 1);
INSERT INTO PERSON VALUES (4, 'Rui', 'PT', 1);
INSERT INTO ORDERS VALUES (10, 1, 'A', 'Pedido com observação', 123.4500, '2024-03-05 07:08:09.0100');
INSERT INTO ORDERS VALUES (11, 3, 'B', NULL, -0.0001, NULL);
INSERT INTO ORDERS VALUES (12, 2, 'A', '', 0, '2024-12-31 23:59:59.9999');
INSERT INTO ITEM VALUES (10, 1, 2, 1.50, 0.1, 0.1, '2024-03-05', '23:59:59.9999', x'00FF10', x'01020304');
INSERT INTO ITEM VALUES (10, 2, 2, 2.00, 1e17, 2.5, '0007-01-02', '00:00:00', x'', NULL);
INSERT INTO ITEM VALUES (10, 3, NULL, -3.25, -2.5e20, NULL, NULL, NULL, NULL, x'41424344');
INSERT INTO ITEM VALUES (11, 1, 1, 1, 1, 1, NULL, NULL, NULL, NULL);
INSERT INTO ITEM_NOTE VALUES (100, 10, 1, 'x');
INSERT INTO ITEM_NOTE VALUES (101, 10, 1, 'y');
INSERT INTO ITEM_NOTE VALUES (102, 11, 1, 'z');
INSERT INTO SELFREF VALUES (1, NULL);
UPDATE SELFREF SET REF_ID = 1 WHERE ID = 1;
INSERT INTO MA VALUES (1, NULL);
INSERT INTO MB VALUES (1, 1);
UPDATE MA SET B_ID = 1 WHERE ID = 1;
SET TERM ^ ;
EXECUTE BLOCK AS DECLARE I INTEGER = 128; BEGIN
  INSERT INTO CH VALUES (128, NULL);
  WHILE (I > 1) DO BEGIN I = I - 1; INSERT INTO CH VALUES (:I, :I + 1); END
  I = 1129; INSERT INTO CH VALUES (1129, NULL);
  WHILE (I > 1001) DO BEGIN I = I - 1; INSERT INTO CH VALUES (:I, :I + 1); END
END^
SET TERM ; ^
INSERT INTO ARR (ID) VALUES (1);
INSERT INTO NOPK VALUES (1);
INSERT INTO ESC VALUES ('a' || ASCII_CHAR(13) || ASCII_CHAR(10) || ASCII_CHAR(9) || 'b\', 1);
INSERT INTO ESC_CHILD VALUES (1, 'a' || ASCII_CHAR(13) || ASCII_CHAR(10) || ASCII_CHAR(9) || 'b\');
INSERT INTO "Odd ""Name""" VALUES (1, 'v');
)SQL";

TTestDatabase* GDatabase = nullptr;

class ExporterTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GDatabase = new TTestDatabase("exporter", QString(CSchema) + "COMMIT;\n" + CData); }
  static void TearDownTestSuite() {
    delete GDatabase;
    GDatabase = nullptr;
  }

  std::shared_ptr<TSliceExporter> Exporter(const QString& aCharset = "UTF8") {
    if (!FConnection || FConnection->Param("CharacterSet") != aCharset) FConnection = GDatabase->Connect(aCharset);
    return TSliceExporter::Create(FConnection.get());
  }

  static std::string ErrorOf(const std::function<void()>& aCall) {
    try {
      aCall();
    } catch (const TCorvaneError& LError) {
      return LError.Message().toStdString();
    }
    return "<no error>";
  }

  static QStringList Lines(const QString& aScript) {
    QStringList LLines = aScript.split("\r\n");
    EXPECT_EQ(LLines.last(), "") << "the script ends with CR LF";
    LLines.removeLast();
    return LLines;
  }

  // The description lines of the rows, in script order.
  static QStringList Rows(const QString& aScript) {
    QStringList LRows;
    const QStringList LLines = Lines(aScript);
    for (qsizetype I = 5; I + 2 < LLines.size(); I += 3) LRows << LLines[I].mid(3);
    return LRows;
  }

  std::unique_ptr<TDbConnection> FConnection;
};

}  // namespace

TEST_F(ExporterTest, SmallestScriptIsTheTenLineExampleByteForByte) {
  QTemporaryDir LDir;
  const QString LFile = LDir.filePath("t.sql");
  auto LExporter = Exporter("WIN1252");
  LExporter->Table(" T ")->Key("ID", TValue::Integer(1));
  LExporter->SaveToFile(LFile);
  const QByteArray LExpected =
      "-- Corvane: executar com isql -b -ch UTF8 -i arquivo.sql no destino.\r\n"
      "-- UPDATE OR INSERT preserva registros extras existentes no destino.\r\n"
      "-- Triggers do destino permanecem ativos. Conferir versao do schema antes de importar.\r\n"
      "SET SQL DIALECT 3;\r\n"
      "SET AUTODDL OFF;\r\n"
      "-- T | ID=1\r\n"
      "-- Registro principal selecionado para exportacao.\r\n"
      "UPDATE OR INSERT INTO \"T\" (\"ID\", \"NAME\") VALUES (1, _WIN1252 x'4142') MATCHING (\"ID\");\r\n"
      "-- Registros exportados: 1\r\n"
      "COMMIT;\r\n";
  EXPECT_EQ(ReadFileBytes(LFile), LExpected);
  EXPECT_EQ(QDir(LDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.sql"}) << "no temporary left";
}

TEST_F(ExporterTest, DocumentWalkWritesParentsFirstAndChildrenAfterwards) {
  QStringList LMessages;
  auto LExporter = Exporter();
  LExporter->Table("ORDERS")
      ->IncludeChildren("ITEM", "ORDER_ID", "ID")
      ->IncludeRelated("ITEM", "ITEM_NOTE", "N_ORDER,N_POS", "ORDER_ID,POS", "")
      ->Key("ID", TValue::Integer(10))
      ->Progress([&](const QString& aMessage) { LMessages << aMessage; });
  const QString LScript = LExporter->Generate();
  EXPECT_EQ(Rows(LScript), (QStringList{"COUNTRY | CODE=BR", "CITY | CC=BR, NUM=1", "PERSON | ID=1", "ORDERS | ID=10",
                                        "CITY | CC=BR, NUM=2", "PERSON | ID=2", "ITEM | ORDER_ID=10, POS=1",
                                        "ITEM_NOTE | ID=100", "ITEM_NOTE | ID=101", "ITEM | ORDER_ID=10, POS=2",
                                        "ITEM | ORDER_ID=10, POS=3"}));
  const QStringList LLines = Lines(LScript);
  EXPECT_EQ(LLines[6], "-- Referenciado por CITY | CC=BR, NUM=1; vinculo: CC -> COUNTRY.CODE; FK: FK_CITY_COUNTRY");
  EXPECT_EQ(LLines[9], "-- Referenciado por PERSON | ID=1; vinculo: CITY_CC -> CITY.CC, CITY_NUM -> CITY.NUM; "
                       "FK: FK_PERSON_CITY");
  EXPECT_EQ(LLines[15], "-- Registro principal selecionado para exportacao.");
  EXPECT_EQ(LLines[21], "-- Referenciado por ITEM | ORDER_ID=10, POS=1; vinculo: SELLER_ID -> PERSON.ID; FK: FK_ITEM_SELLER");
  EXPECT_EQ(LLines[24], "-- Filho de ORDERS | ID=10");
  EXPECT_EQ(LLines[27], "-- Filho de ITEM | ORDER_ID=10, POS=1");
  // Composite key: the match list names both key columns in key order; computed columns stay out.
  EXPECT_EQ(LLines[25],
            "UPDATE OR INSERT INTO \"ITEM\" (\"ORDER_ID\", \"POS\", \"SELLER_ID\", \"QTY\", \"PRICE\", \"WEIGHT\", "
            "\"DELIVERY\", \"AT_TIME\", \"PICTURE\", \"CODE\") VALUES (10, 1, 2, 1.5, 0.10000000000000001, "
            "0.10000000149011612, DATE '2024-03-05', TIME '23:59:59.9999', CAST(x'' AS BLOB SUB_TYPE 0) || x'00FF10', "
            "CAST(x'' AS BLOB SUB_TYPE 0) || x'01020304') MATCHING (\"ORDER_ID\", \"POS\");");
  EXPECT_EQ(LLines[16].indexOf("DOUBLED"), -1);
  EXPECT_EQ(LLines.at(LLines.size() - 2), "-- Registros exportados: 11");
  EXPECT_EQ(LLines.last(), "COMMIT;");

  const QStringList LExpected{
      "Consultando ORDERS e suas dependencias...",
      "Registro 1: COUNTRY exportado.", "Registro 2: CITY exportado.", "Registro 3: PERSON exportado.",
      "Registro 4: ORDERS exportado.",  "Consultando registros relacionados em ITEM...",
      "Registro 5: CITY exportado.",    "Registro 6: PERSON exportado.", "Registro 7: ITEM exportado.",
      "Consultando registros relacionados em ITEM_NOTE...", "Registro 8: ITEM_NOTE exportado.",
      "Registro 9: ITEM_NOTE exportado.", "Registro 10: ITEM exportado.",
      "Consultando registros relacionados em ITEM_NOTE...", "Registro 11: ITEM exportado.",
      "Consultando registros relacionados em ITEM_NOTE...", "Total de registros exportados: 11"};
  EXPECT_EQ(LMessages, LExpected);

  // Without a callback the script is the same; a second run starts afresh.
  LExporter->Progress(nullptr);
  EXPECT_EQ(LExporter->Generate(), LScript);
  EXPECT_EQ(LMessages.size(), LExpected.size());
  // The per-run cache changes nothing in the script.
  LExporter->SetRunCache(false);
  EXPECT_EQ(LExporter->Generate(), LScript);
}

TEST_F(ExporterTest, SeveralRootRowsEachFollowedByItsChildren) {
  auto LExporter = Exporter();
  LExporter->Table("ITEM")
      ->IncludeChildren("ITEM_NOTE", "N_ORDER , N_POS", " ORDER_ID,\tPOS ")
      ->Key("ORDER_ID", TValue::Integer(10))
      ->Dependencies(false);
  const QString LScript = LExporter->Generate();
  EXPECT_EQ(Rows(LScript), (QStringList{"ITEM | ORDER_ID=10, POS=1", "ITEM_NOTE | ID=100", "ITEM_NOTE | ID=101",
                                        "ITEM | ORDER_ID=10, POS=2", "ITEM | ORDER_ID=10, POS=3"}));
  EXPECT_EQ(Lines(LScript).count("-- Registro principal selecionado para exportacao."), 3);
}

TEST_F(ExporterTest, RelationListsAcceptQuotedItemsAndFilters) {
  auto LExporter = Exporter();
  LExporter->Table("ITEM")
      ->IncludeChildren("ITEM_NOTE", "\"N_ORDER\",\"N_POS\"", "ORDER_ID POS")
      ->IncludeRelated("ITEM", "PERSON", "ID", "SELLER_ID", "NAME STARTING WITH 'J'")
      ->Key("ORDER_ID", TValue::Integer(10))
      ->Key("POS", TValue::Text("1"))
      ->Dependencies(false);
  EXPECT_EQ(Rows(LExporter->Generate()),
            (QStringList{"ITEM | ORDER_ID=10, POS=1", "ITEM_NOTE | ID=100", "ITEM_NOTE | ID=101", "PERSON | ID=2"}));

  auto LFiltered = Exporter();
  LFiltered->Table("ITEM")
      ->IncludeRelated("ITEM", "PERSON", "ID", "SELLER_ID", "NAME = 'nobody'")
      ->Key("ORDER_ID", TValue::Integer(10))
      ->Dependencies(false);
  EXPECT_EQ(Rows(LFiltered->Generate()).size(), 3);
}

TEST_F(ExporterTest, NullKeysAndForeignKeysReferenceNothing) {
  QStringList LMessages;
  auto LExporter = Exporter();
  // Order 11 belongs to person 3, whose city key is half null: no city is looked up.
  // Item (10,3) has no seller: its relation to PERSON is consulted and finds nothing.
  LExporter->Table("ORDERS")
      ->Key("ID", TValue::Integer(11))
      ->Progress([&](const QString& aMessage) { LMessages << aMessage; });
  EXPECT_EQ(Rows(LExporter->Generate()), (QStringList{"PERSON | ID=3", "ORDERS | ID=11"}));

  auto LItem = Exporter();
  LItem->Table("ITEM")
      ->IncludeRelated("ITEM", "PERSON", "ID", "SELLER_ID", "")
      ->Key("ORDER_ID", TValue::Integer(10))
      ->Key("POS", TValue::Integer(3))
      ->Dependencies(false)
      ->Progress([&](const QString& aMessage) { LMessages << aMessage; });
  EXPECT_EQ(Rows(LItem->Generate()), QStringList{"ITEM | ORDER_ID=10, POS=3"});
  EXPECT_TRUE(LMessages.contains("Consultando registros relacionados em PERSON..."));
}

TEST_F(ExporterTest, ChildWrittenEarlierAsParentStillHasItsRelationsWalked) {
  auto LExporter = Exporter();
  // ITEM_NOTE 100 pulls item (10,1) in as its parent; the relation then reaches that item
  // again as a child: it is not written twice, but its own relation is walked.
  QStringList LMessages;
  LExporter->Table("ITEM_NOTE")
      ->IncludeRelated("ITEM_NOTE", "ITEM", "ORDER_ID,POS", "N_ORDER,N_POS", "")
      ->IncludeRelated("ITEM", "ORDERS", "ID", "ORDER_ID", "")
      ->Key("ID", TValue::Integer(100))
      ->Progress([&](const QString& aMessage) { LMessages << aMessage; });
  const QStringList LRows = Rows(LExporter->Generate());
  EXPECT_EQ(LRows, (QStringList{"COUNTRY | CODE=BR", "CITY | CC=BR, NUM=1", "PERSON | ID=1", "ORDERS | ID=10",
                                "CITY | CC=BR, NUM=2", "PERSON | ID=2", "ITEM | ORDER_ID=10, POS=1",
                                "ITEM_NOTE | ID=100"}));
  EXPECT_EQ(LMessages.filter("relacionados").size(), 2);
  EXPECT_EQ(LMessages.last(), "Total de registros exportados: 8");
}

TEST_F(ExporterTest, RelationsAreMatchedByExactTableName) {
  QStringList LMessages;
  auto LExporter = Exporter();
  LExporter->Table("ORDERS")
      ->IncludeRelated("orders", "ITEM", "ORDER_ID", "ID", "")
      ->Key("ID", TValue::Integer(10))
      ->Dependencies(false)
      ->Progress([&](const QString& aMessage) { LMessages << aMessage; });
  EXPECT_EQ(Rows(LExporter->Generate()), QStringList{"ORDERS | ID=10"});
  EXPECT_EQ(LMessages.filter("relacionados").size(), 0);
}

TEST_F(ExporterTest, InvalidRelationsFailBeforeTheyAreReported) {
  for (const auto& [LForeign, LParent] :
       std::vector<std::pair<QString, QString>>{{"", ""}, {"N_ORDER", "ORDER_ID,POS"}, {"N_ORDER,N_POS", "ORDER_ID"}}) {
    QStringList LMessages;
    auto LExporter = Exporter();
    LExporter->Table("ITEM")
        ->IncludeChildren("ITEM_NOTE", LForeign, LParent)
        ->Key("ORDER_ID", TValue::Integer(10))
        ->Dependencies(false)
        ->Progress([&](const QString& aMessage) { LMessages << aMessage; });
    EXPECT_EQ(ErrorOf([&] { LExporter->Generate(); }), "Campos de relacionamento invalidos: ITEM_NOTE");
    EXPECT_EQ(LMessages.filter("relacionados").size(), 0);
  }
}

TEST_F(ExporterTest, CyclicRelationsAreRefusedBeforeAnyTransaction) {
  auto LExporter = Exporter();
  LExporter->Table("ORDERS")
      ->IncludeChildren("ITEM", "ORDER_ID", "ID")
      ->IncludeRelated("ITEM", "ORDERS", "ID", "ORDER_ID", "")
      ->Key("ID", TValue::Integer(10));
  EXPECT_EQ(ErrorOf([&] { LExporter->Generate(); }),
            "Relacionamentos configurados formam um ciclo na tabela ORDERS. Exportacao cancelada.");
  EXPECT_FALSE(FConnection->InTransaction());
  // A relation from a table to itself is no cycle: each row's relations are walked once.
  auto LSelf = Exporter();
  LSelf->Table("CH")->IncludeChildren("CH", "NEXT_ID", "ID")->Key("ID", TValue::Integer(128));
  const QStringList LSelfRows = Rows(LSelf->Generate());
  ASSERT_EQ(LSelfRows.size(), 128);
  EXPECT_EQ(LSelfRows.first(), "CH | ID=128");
  EXPECT_EQ(LSelfRows.last(), "CH | ID=1");
}

TEST_F(ExporterTest, ForeignKeyCyclesAndTheDepthLimit) {
  auto LSelf = Exporter();
  LSelf->Table("SELFREF")->Key("ID", TValue::Integer(1));
  EXPECT_EQ(ErrorOf([&] { LSelf->Generate(); }), "Dependencia ciclica encontrada em SELFREF. Exportacao cancelada.");
  auto LMutual = Exporter();
  LMutual->Table("MA")->Key("ID", TValue::Integer(1));
  EXPECT_EQ(ErrorOf([&] { LMutual->Generate(); }), "Dependencia ciclica encontrada em MA. Exportacao cancelada.");
  auto LMutualB = Exporter();
  LMutualB->Table("MB")->Key("ID", TValue::Integer(1));
  EXPECT_EQ(ErrorOf([&] { LMutualB->Generate(); }), "Dependencia ciclica encontrada em MB. Exportacao cancelada.");

  auto L128 = Exporter();
  L128->Table("CH")->Key("ID", TValue::Integer(1));
  const QStringList LRows = Rows(L128->Generate());
  ASSERT_EQ(LRows.size(), 128);
  EXPECT_EQ(LRows.first(), "CH | ID=128");
  EXPECT_EQ(LRows.last(), "CH | ID=1");
  auto L129 = Exporter();
  L129->Table("CH")->Key("ID", TValue::Integer(1001));
  EXPECT_EQ(ErrorOf([&] { L129->Generate(); }),
            "Limite de profundidade das dependencias atingido. Tabela CH, chave ID=1129: mais de 128 registros em cadeia.");
  EXPECT_FALSE(FConnection->InTransaction());

  // Without dependencies no parent is looked up, so neither cycles nor chains matter.
  L129->Dependencies(false);
  EXPECT_EQ(Rows(L129->Generate()), QStringList{"CH | ID=1001"});
}

TEST_F(ExporterTest, TableShapesTheEngineRefuses) {
  const auto LFailure = [this](const QString& aTable) {
    auto LExporter = Exporter();
    LExporter->Table(aTable)->Key("ID", TValue::Integer(1));
    return ErrorOf([&] { LExporter->Generate(); });
  };
  EXPECT_EQ(LFailure("ARR"), "Campo ARRAY ainda nao suportado: ARR.VALS");
  EXPECT_EQ(LFailure("NOPK"), "Tabela sem chave primaria: NOPK");
  EXPECT_EQ(LFailure("t"), "Tabela inexistente ou sem campos gravaveis: t");
  EXPECT_EQ(LFailure("T2"), "Tabela inexistente ou sem campos gravaveis: T2");
  // Longer than any name Firebird 3 holds (31 bytes), as a root table and as a relation.
  const QString LLong = "TABELA_COM_NOME_LONGO_DEMAIS_32B";
  EXPECT_EQ(LFailure(LLong), "Tabela inexistente ou sem campos gravaveis: " + LLong.toStdString());
  EXPECT_EQ(LFailure(QString::fromUtf8("ÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉ")),
            "Tabela inexistente ou sem campos gravaveis: " + std::string("ÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉ"));
  for (const bool LCache : {true, false}) {
    auto LExporter = Exporter();
    LExporter->Table("T")->IncludeChildren(LLong, "ID", "ID")->Key("ID", TValue::Integer(1));
    LExporter->SetRunCache(LCache);
    EXPECT_EQ(ErrorOf([&] { LExporter->Generate(); }), "Tabela inexistente ou sem campos gravaveis: " + LLong.toStdString());
  }
}

TEST_F(ExporterTest, CommentLinesEscapeLineBreaksAndTabs) {
  auto LExporter = Exporter();
  const QString LKey = QString("a\r\n\tb\\");
  LExporter->Table("ESC")->IncludeChildren("ESC_CHILD", "K", "K")->Key("K", TValue::Text(LKey));
  const QStringList LLines = Lines(LExporter->Generate());
  EXPECT_EQ(LLines[5], "-- ESC | K=a\\r\\n\\tb\\");
  EXPECT_EQ(LLines[9], "-- Filho de ESC | K=a\\r\\n\\tb\\");
  EXPECT_EQ(LLines.size(), 13);
}

TEST_F(ExporterTest, StatementLimitCountsUtf8BytesOfTheStatement) {
  // The statement for a row of BIG: its length grows by two per blob byte and by the
  // digits of the id; find rows whose statements take exactly 65000 and 65001 bytes.
  const auto LStatement = [](int aId, int aBytes) {
    TSqlLiterals LLiterals("UTF8");
    return QString("UPDATE OR INSERT INTO \"BIG\" (\"ID\", \"DADOÇ\") VALUES (%1, %2) MATCHING (\"ID\");")
        .arg(aId)
        .arg(LLiterals.Literal(TValue::Bytes(QByteArray(aBytes, 'A')), "DADOÇ"));
  };
  // Each chunk of up to 2000 bytes adds " || x'" and "'" around two hex digits per byte.
  const auto LFind = [&](qsizetype aTarget, std::initializer_list<int> aIds, int& aId, int& aBytes) {
    for (const int LId : aIds) {
      const qsizetype LBase = LStatement(LId, 0).toUtf8().size();
      for (aBytes = 30000; aBytes < 34000; ++aBytes)
        if (LBase + 2 * aBytes + 7 * ((aBytes + 1999) / 2000) == aTarget) {
          aId = LId;
          return;
        }
    }
    FAIL() << "no row size hits " << aTarget;
  };
  int LId65000 = 0, LBytes65000 = 0, LId65001 = 0, LBytes65001 = 0;
  LFind(65000, {1, 10}, LId65000, LBytes65000);
  LFind(65001, {100, 1000}, LId65001, LBytes65001);
  QString LSql;
  for (const auto& [LId, LBytes] : {std::pair{LId65000, LBytes65000}, std::pair{LId65001, LBytes65001}}) {
    LSql += QString("INSERT INTO BIG VALUES (%1, x'');\n").arg(LId);
    for (int LDone = 0; LDone < LBytes; LDone += 1000)
      LSql += QString("UPDATE BIG SET \"DADOÇ\" = \"DADOÇ\" || x'%1' WHERE ID = %2;\n")
                  .arg(QString(QByteArray(qMin(1000, LBytes - LDone), 'A').toHex()))
                  .arg(LId);
  }
  GDatabase->Execute(LSql);

  auto LFits = Exporter();
  LFits->Table("BIG")->Key("ID", TValue::Integer(LId65000));
  const QStringList LLines = Lines(LFits->Generate());
  EXPECT_EQ(LLines[7].toUtf8().size(), 65000);
  EXPECT_EQ(LLines[7], LStatement(LId65000, LBytes65000));

  auto LTooBig = Exporter();
  LTooBig->Table("BIG")->Key("ID", TValue::Integer(LId65001));
  EXPECT_EQ(ErrorOf([&] { LTooBig->Generate(); }),
            "Registro de BIG excede o limite SQL de 65 KB desta versao. Um pacote com importacao parametrizada sera "
            "necessario para BLOBs grandes.");
}

TEST_F(ExporterTest, OddIdentifiersAreQuotedWhole) {
  auto LExporter = Exporter();
  LExporter->Table("Odd \"Name\"")->Key("lower id", TValue::Integer(1));
  EXPECT_EQ(Lines(LExporter->Generate())[7],
            "UPDATE OR INSERT INTO \"Odd \"\"Name\"\"\" (\"lower id\", \"Valor\") VALUES (1, _UTF8 x'76') "
            "MATCHING (\"lower id\");");
}

TEST_F(ExporterTest, ConfigurationChecks) {
  EXPECT_EQ(ErrorOf([] { TSliceExporter::New(nullptr); }), "Informe uma conexao para o exportador.");
  TDbConnection LConnection;
  LConnection.SetParam("CharacterSet", " utf8 ");
  EXPECT_NO_THROW(TSliceExporter::New(&LConnection));
  for (const QString LSet : {"NONE", "", "UTF-8"}) {
    LConnection.SetParam("CharacterSet", LSet);
    EXPECT_EQ(ErrorOf([&] { TSliceExporter::New(&LConnection); }),
              "Configure CharacterSet da conexao como WIN1252, UTF8, ISO8859_1 ou ASCII.");
  }
  LConnection.SetParam("CharacterSet", "win1252");
  auto LExporter = TSliceExporter::New(&LConnection);
  EXPECT_EQ(ErrorOf([&] { LExporter->Generate(); }), "Informe tabela e chave antes de gerar o script.");
  EXPECT_EQ(ErrorOf([&] { LExporter->Key(" ", TValue::Integer(1)); }), "Informe campo e valor da chave.");
  EXPECT_EQ(ErrorOf([&] { LExporter->Key("A", TValue::Null()); }), "Informe campo e valor da chave.");
  EXPECT_EQ(ErrorOf([&] { LExporter->Key("A", TValue()); }), "Informe campo e valor da chave.");
  LExporter->Key("ID", TValue::Integer(1))->Key("id", TValue::Integer(2));
  EXPECT_EQ(ErrorOf([&] { LExporter->Key("ID", TValue::Integer(3)); }), "Campo de chave repetido: ID");
  EXPECT_EQ(ErrorOf([&] { LExporter->Generate(); }), "Informe tabela e chave antes de gerar o script.");

  LExporter->Table("NFSRES")->IncludeChildren("NFSPRO", "NFSID", "NFSID")->IncludeChildren("dupREC", "A", "B");
  QStringList LTables{"DUPREC", "ZETA"};
  LExporter->ListTables(&LTables);
  EXPECT_EQ(LTables, (QStringList{"DUPREC", "NFSPRO", "NFSRES", "ZETA"}));
  try {
    LExporter->ListTables(nullptr);
    ADD_FAILURE();
  } catch (const TArgumentError& LError) {
    EXPECT_EQ(LError.Message(), "Informe a lista de tabelas.");
  }
}

TEST_F(ExporterTest, FailedRunLeavesConnectionFileAndConfigurationAsTheyWere) {
  QTemporaryDir LDir;
  const QString LFile = LDir.filePath("old.sql");
  WriteFileBytes(LFile, "previous script");
  auto LExporter = Exporter();
  FConnection->SetReadOnly(false);
  FConnection->SetIsolation(TIsolation::tiReadCommitted);
  LExporter->Table("T")->Key("ID", TValue::Integer(999));
  EXPECT_EQ(ErrorOf([&] { LExporter->SaveToFile(LFile); }), "Registro nao encontrado em T.");
  EXPECT_EQ(ErrorOf([&] { LExporter->SaveToFile(LDir.filePath("new.sql")); }), "Registro nao encontrado em T.");
  EXPECT_FALSE(FConnection->InTransaction());
  EXPECT_FALSE(FConnection->ReadOnly());
  EXPECT_EQ(FConnection->Isolation(), TIsolation::tiReadCommitted);
  EXPECT_EQ(ReadFileBytes(LFile), "previous script");
  EXPECT_EQ(QDir(LDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.sql"});

  // The configuration is untouched: the same exporter with a key that exists succeeds.
  QStringList LTables;
  LExporter->ListTables(&LTables);
  EXPECT_EQ(LTables, QStringList{"T"});

  // A connection already in a transaction is refused and its transaction left alone.
  FConnection->StartTransaction();
  auto LOther = Exporter();
  LOther->Table("T")->Key("ID", TValue::Integer(1));
  EXPECT_EQ(ErrorOf([&] { LOther->Generate(); }), "Utilize uma conexao sem transacao ativa para exportar.");
  EXPECT_TRUE(FConnection->InTransaction());
  FConnection->Rollback();

  // A progress callback that fails ends the run the same way.
  LOther->Progress([](const QString& aMessage) {
    if (aMessage.startsWith("Registro 1")) throw TCorvaneError("callback falhou");
  });
  EXPECT_EQ(ErrorOf([&] { LOther->SaveToFile(LFile); }), "callback falhou");
  EXPECT_FALSE(FConnection->InTransaction());
  EXPECT_EQ(ReadFileBytes(LFile), "previous script");

  // A target folder that does not exist: a clear error, nothing written.
  LOther->Progress(nullptr);
  const std::string LMissing = ErrorOf([&] { LOther->SaveToFile(LDir.filePath("missing/x.sql")); });
  EXPECT_EQ(LMissing.rfind("Nao foi possivel criar o arquivo ", 0), 0u) << LMissing;
  LOther->SaveToFile(LFile);
  EXPECT_TRUE(ReadFileBytes(LFile).startsWith("-- Corvane"));
}

namespace {

// Every row of aTable (narrowed by aWhere) as one line of literals, sorted.
QStringList TableRows(const TTestDatabase& aDatabase, const QString& aTable, const QString& aWhere = "1 = 1") {
  auto LConnection = aDatabase.Connect("UTF8");
  TSqlLiterals LLiterals("UTF8");
  QStringList LRows;
  LConnection->StartTransaction();
  {
    TDbQuery LQuery(*LConnection);
    LQuery.SetSQL("SELECT * FROM " + aTable + " WHERE " + aWhere);
    LQuery.Open();
    for (; !LQuery.Eof(); LQuery.Next()) {
      QStringList LValues;
      for (int I = 0; I < LQuery.FieldCount(); ++I)
        LValues << LLiterals.Literal(LQuery.Field(I).Value(), LQuery.Field(I).Name());
      LRows << LValues.join(", ");
    }
  }
  LConnection->Rollback();
  LRows.sort();
  return LRows;
}

}  // namespace

TEST_F(ExporterTest, DocumentScriptReplaysIntoAnEmptyDatabaseWithForeignKeysEnforced) {
  // Long texts and binaries cross the 2000-unit chunk boundary.
  GDatabase->Execute(QString("UPDATE ORDERS SET NOTE = '%1' || NOTE WHERE ID = 10;\n"
                             "UPDATE ITEM SET PICTURE = x'%2' WHERE ORDER_ID = 10 AND POS = 2;")
                         .arg(QString::fromUtf8("ação ").repeated(900), QString(QByteArray(4100, '\x7f').toHex())));
  QTemporaryDir LDir;
  const QString LFile = LDir.filePath("orders.sql");
  auto LExporter = Exporter();
  LExporter->Table("ORDERS")
      ->IncludeChildren("ITEM", "ORDER_ID", "ID")
      ->IncludeRelated("ITEM", "ITEM_NOTE", "N_ORDER,N_POS", "ORDER_ID,POS", "")
      ->Key("ID", TValue::Integer(10));
  LExporter->SaveToFile(LFile);

  TTestDatabase LTarget("exporter-target", CSchema);
  const TIsqlResult LReplay = LTarget.Replay(LFile);
  ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
  ASSERT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();

  const std::pair<const char*, const char*> LSlice[] = {
      {"COUNTRY", "CODE = 'BR'"}, {"CITY", "CC = 'BR'"},       {"PERSON", "ID IN (1, 2)"},
      {"ORDERS", "ID = 10"},      {"ITEM", "ORDER_ID = 10"}, {"ITEM_NOTE", "N_ORDER = 10"}};
  for (const auto& [LTable, LWhere] : LSlice) {
    const QStringList LExpected = TableRows(*GDatabase, LTable, LWhere);
    EXPECT_FALSE(LExpected.isEmpty()) << LTable;
    EXPECT_EQ(TableRows(LTarget, LTable), LExpected) << LTable;
  }
  // Replaying twice changes nothing: every statement matches its row.
  ASSERT_EQ(LTarget.Replay(LFile).ExitCode, 0);
  EXPECT_EQ(TableRows(LTarget, "ITEM"), TableRows(*GDatabase, "ITEM", "ORDER_ID = 10"));
}

TEST_F(ExporterTest, RunCacheChangesNothingInScriptsMessagesOrFailures) {
  const std::vector<std::function<void(const std::shared_ptr<TSliceExporter>&)>> LConfigurations = {
      [](const auto& aExporter) {
        aExporter->Table("ORDERS")
            ->IncludeChildren("ITEM", "ORDER_ID", "ID")
            ->IncludeRelated("ITEM", "ITEM_NOTE", "N_ORDER,N_POS", "ORDER_ID,POS", "")
            ->IncludeRelated("ITEM", "PERSON", "ID", "SELLER_ID", "")
            ->Key("ID", TValue::Integer(10));
      },
      [](const auto& aExporter) {
        aExporter->Table("ITEM_NOTE")
            ->IncludeRelated("ITEM_NOTE", "ITEM", "ORDER_ID,POS", "N_ORDER,N_POS", "")
            ->IncludeRelated("ITEM", "ORDERS", "ID", "ORDER_ID", "")
            ->Key("ID", TValue::Integer(100));
      },
      [](const auto& aExporter) { aExporter->Table("ITEM")->IncludeChildren("ITEM_NOTE", "N_ORDER", "ORDER_ID")->Key("ORDER_ID", TValue::Integer(10)); },
      [](const auto& aExporter) { aExporter->Table("CH")->Key("ID", TValue::Integer(1)); },
      // BLOBs of every set and kind, at the length sent along with the row, one past it, empty and NULL.
      [](const auto& aExporter) {
        // A row near the server's message limit has no room for them.
        aExporter->Table("T")
            ->IncludeRelated("T", "BL", "GRP", "ID", "")
            ->IncludeRelated("T", "WIDE", "GRP", "ID", "")
            ->Key("ID", TValue::Integer(1));
      },
      [](const auto& aExporter) { aExporter->Table("CH")->Key("ID", TValue::Integer(1001)); },
      [](const auto& aExporter) { aExporter->Table("MA")->Key("ID", TValue::Integer(1)); },
      [](const auto& aExporter) { aExporter->Table("ESC")->IncludeChildren("ESC_CHILD", "K", "K")->Key("K", TValue::Text("a\r\n\tb\\")); },
      [](const auto& aExporter) { aExporter->Table("ORDERS")->IncludeChildren("ITEM", "ORDER_ID", "NOPE")->Key("ID", TValue::Integer(10)); },
  };
  for (size_t I = 0; I < LConfigurations.size(); ++I) {
    std::pair<QString, QStringList> LRuns[2];
    for (const bool LCache : {false, true}) {
      auto LExporter = Exporter();
      LConfigurations[I](LExporter);
      LExporter->SetRunCache(LCache);
      QStringList& LMessages = LRuns[LCache].second;
      LExporter->Progress([&](const QString& aMessage) { LMessages << aMessage; });
      try {
        LRuns[LCache].first = LExporter->Generate();
      } catch (const TCorvaneError& LError) {
        LMessages << "ERRO: " + LError.Message();
      }
    }
    EXPECT_EQ(LRuns[1].first, LRuns[0].first) << "configuration " << I;
    EXPECT_TRUE(!LRuns[1].first.isEmpty() || LRuns[1].second.join("").contains("ERRO")) << "configuration " << I;
    EXPECT_EQ(LRuns[1].second, LRuns[0].second) << "configuration " << I;
  }
}

TEST(ExporterDanglingTest, AMissingParentFailsUnlessDependenciesAreOff) {
  // The server never lets a foreign key dangle, so the database is restored with its
  // indexes inactive, which stops the checking, before the dangling row goes in.
  TTestDatabase LSource("dangling-source",
                        "CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY);\n"
                        "CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, P_ID INTEGER,\n"
                        "  CONSTRAINT FK_C_P FOREIGN KEY (P_ID) REFERENCES P (ID));\n");
  TTestDatabase LTarget("dangling");
  QTemporaryDir LDir;
  const QString LBackup = LDir.filePath("dangling.fbk");
  QFile::remove(LTarget.Path());
  const QStringList LCredentials{"-user", ServerUser(), "-password", ServerPassword()};
  ASSERT_EQ(QProcess::execute("gbak", QStringList{"-b"} + LCredentials + QStringList{LSource.Attachment(), LBackup}), 0);
  ASSERT_EQ(QProcess::execute("gbak", QStringList{"-c", "-i"} + LCredentials + QStringList{LBackup, LTarget.Attachment()}), 0);
  LTarget.Execute("INSERT INTO C VALUES (1, 5);");

  auto LConnection = LTarget.Connect("UTF8");
  auto LExporter = TSliceExporter::Create(LConnection.get());
  LExporter->Table("C")->Key("ID", TValue::Integer(1));
  try {
    LExporter->Generate();
    ADD_FAILURE() << "a dangling foreign key was exported";
  } catch (const TCorvaneError& LError) {
    EXPECT_EQ(LError.Message(), "Dependencia nao encontrada: FK_C_P");
  }
  LExporter->Dependencies(false);
  EXPECT_TRUE(LExporter->Generate().contains("-- C | ID=1\r\n"));
}

// The rows are written on the caller's thread while the walk runs ahead on its own: a row
// that cannot be written, far into a long relation, must still stop the run right there.
TEST(ExporterWriterTest, ARowThatCannotBeWrittenStopsTheRunWhereItWouldAlone) {
  TTestDatabase LDatabase("writer-stop",
                          "CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY);\n"
                          "CREATE TABLE K (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10));\n"
                          "CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, P_ID INTEGER, K_ID INTEGER, B BLOB SUB_TYPE TEXT,\n"
                          "  CONSTRAINT FK_C_P FOREIGN KEY (P_ID) REFERENCES P (ID),\n"
                          "  CONSTRAINT FK_C_K FOREIGN KEY (K_ID) REFERENCES K (ID));\n");
  LDatabase.Execute("INSERT INTO P VALUES (1);\n"
                    "SET TERM ^;\n"
                    "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN\n"
                    "  WHILE (I <= 900) DO BEGIN\n"
                    "    INSERT INTO K VALUES (:I, 'k' || :I);\n"
                    "    INSERT INTO C VALUES (:I, 1, :I, IIF(MOD(:I, 3) = 0, 'nota ' || :I, NULL));\n"
                    "    I = I + 1;\n"
                    "  END\n"
                    "END^\n"
                    "SET TERM ;^\n"
                    "UPDATE C SET B = (SELECT LIST(LPAD('', 100, 'x'), '') FROM K WHERE ID <= 700) WHERE ID = 500;\n");
  const auto LRun = [&LDatabase](bool aCache, const QString& aFile) {
    auto LConnection = LDatabase.Connect();
    auto LExporter = TSliceExporter::Create(LConnection.get());
    LExporter->Table("P")->IncludeChildren("C", "P_ID", "ID")->Key("ID", TValue::Integer(1));
    LExporter->SetRunCache(aCache);
    QStringList LMessages;
    LExporter->Progress([&LMessages](const QString& aMessage) { LMessages << aMessage; });
    try {
      LExporter->SaveToFile(aFile);
    } catch (const TCorvaneError& LError) {
      LMessages << "ERRO: " + LError.Message();
    }
    EXPECT_FALSE(LConnection->InTransaction());
    return LMessages;
  };
  QTemporaryDir LDir;
  const QStringList LPlain = LRun(false, LDir.filePath("plain.sql"));
  const QStringList LCached = LRun(true, LDir.filePath("cached.sql"));
  ASSERT_TRUE(LPlain.last().startsWith("ERRO: Registro de C excede o limite SQL de 65 KB")) << LPlain.last().toStdString();
  EXPECT_EQ(LPlain[LPlain.size() - 2], "Registro 1000: K exportado.");  // P, K and C of each row before, its K
  EXPECT_EQ(LCached, LPlain);
  EXPECT_FALSE(QFile::exists(LDir.filePath("cached.sql")));

  // Without the oversized row, both write the same script, BLOBs included.
  LDatabase.Execute("UPDATE C SET B = 'curta' WHERE ID = 500;\n");
  EXPECT_EQ(LRun(true, LDir.filePath("cached.sql")), LRun(false, LDir.filePath("plain.sql")));
  QFile LPlainFile(LDir.filePath("plain.sql")), LCachedFile(LDir.filePath("cached.sql"));
  ASSERT_TRUE(LPlainFile.open(QIODevice::ReadOnly) && LCachedFile.open(QIODevice::ReadOnly));
  const QByteArray LScript = LPlainFile.readAll();
  EXPECT_TRUE(LScript.contains("-- Registros exportados: 1801"));
  EXPECT_EQ(LCachedFile.readAll(), LScript);
}

// BLOBs of rows read ahead are read by the writer, but a relation keyed on a BLOB column needs
// the value in the walk.
TEST(ExporterWriterTest, ARelationKeyedOnABlobFindsItsRowsWithTheCacheToo) {
  TTestDatabase LDatabase("blob-key",
                          "CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY);\n"
                          "CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, R_ID INTEGER, T BLOB SUB_TYPE TEXT,\n"
                          "  CONSTRAINT FK_P_R FOREIGN KEY (R_ID) REFERENCES R (ID));\n"
                          "CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, PT VARCHAR(20));\n");
  LDatabase.Execute("INSERT INTO R VALUES (1);\n"
                    "INSERT INTO P VALUES (1, 1, 'alfa');\n"
                    "INSERT INTO P VALUES (2, 1, 'beta');\n"
                    "INSERT INTO C VALUES (1, 'alfa');\n"
                    "INSERT INTO C VALUES (2, 'beta');\n"
                    "INSERT INTO C VALUES (3, 'gama');\n");
  QString LScripts[2];
  for (const bool LCache : {false, true}) {
    auto LConnection = LDatabase.Connect();
    auto LExporter = TSliceExporter::Create(LConnection.get());
    LExporter->Table("R")
        ->IncludeChildren("P", "R_ID", "ID")
        ->IncludeRelated("P", "C", "PT", "T", "")
        ->Key("ID", TValue::Integer(1));
    LExporter->SetRunCache(LCache);
    LScripts[LCache] = LExporter->Generate();
  }
  EXPECT_TRUE(LScripts[0].contains("-- Registros exportados: 5")) << LScripts[0].toStdString();
  EXPECT_EQ(LScripts[1], LScripts[0]);
}
