// The two canned scenarios: their covered tables, their key handling, and whole exports of
// demo documents replayed with isql into an empty copy of the demo schema, where every table
// must then hold exactly the rows of the document's slice, equal to the source rows.
#include "Corvane.Errors.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "TestDatabase.h"

#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

// ---------------------------------------------------------------------------------------
// Covered tables and keys (no database needed)

QStringList TablesOf(const std::function<ISliceExporterPtr(TDbConnection*)>& aConfigure, QStringList aTables = {}) {
  TDbConnection LConnection;
  LConnection.SetParam("CharacterSet", "WIN1252");
  aConfigure(&LConnection)->ListTables(&aTables);
  return aTables;
}

const QStringList CNotaFiscalTables = {
    "COMISSAO_DEVOLUCAO_ABATER", "COMISSAO_DEVOLUCAO_REFER", "COMISSAO_MOVIMENTOS", "COMISSAO_PAGAMENTO_INDIVID",
    "DEVOLUCAO_ENTRADAS_ITEM",   "DEVOLUCAO_SAIDAS_ITEM",    "DOC_FISCAL_ITEM",     "DOCUMENTO_REFERENCIADO",
    "DUPREC",                    "ENTREGAFUTURA_CONTROLE",   "NOTA_ITEM",           "NOTAFI",
    "NOTAPRO",                   "PEDRES"};

TEST(TScenarioTables, EachScenarioListsItsTablesOnceAndTogetherTheyMakeSixteen) {
  EXPECT_EQ(TablesOf(&TNFSeSlice::Configure), (QStringList{"DUPREC", "NFSPRO", "NFSRES"}));
  EXPECT_EQ(TablesOf(&TNotaFiscalSlice::Configure), CNotaFiscalTables);

  const QStringList LUnion = TablesOf(&TNotaFiscalSlice::Configure, TablesOf(&TNFSeSlice::Configure));
  EXPECT_EQ(LUnion.size(), 16);
  EXPECT_EQ(LUnion.count("DUPREC"), 1);
  for (const QString& LTable : CNotaFiscalTables + QStringList{"NFSPRO", "NFSRES"}) EXPECT_TRUE(LUnion.contains(LTable)) << LTable.toStdString();
}

TEST(TScenarioKeys, ABlankNotaNumIsRefusedBeforeAnExporterIsBuilt) {
  // Without a connection the exporter itself would fail: the NOTANUM check must come first.
  for (const QString& LBlank : {QString(), QString("   "), QString(" \t\r\n")}) {
    try {
      TNotaFiscalSlice::New(nullptr, LBlank);
      ADD_FAILURE() << "blank NOTANUM accepted";
    } catch (const TArgumentError& aError) {
      EXPECT_EQ(aError.Message(), "Informe o NOTANUM.");
    }
  }
  EXPECT_THROW(TNFSeSlice::New(nullptr, 1), TCorvaneError);
}

// ---------------------------------------------------------------------------------------
// Whole exports against the demo database

// Table -> primary-key values of the rows the slice must hold ("a|b" for composite keys).
using TExpected = QMap<QString, QStringList>;

struct TRow {
  QString Key;
  QList<TValue> Values;
  QStringList Names;
};

class TReader {
public:
  explicit TReader(const TTestDatabase& aDatabase) : FConnection(aDatabase.Connect("WIN1252")) {
    FConnection->StartTransaction();
  }
  ~TReader() { FConnection->Rollback(); }

  QStringList Column(const QString& aSql, const QString& aTable = {}) {
    TDbQuery LQuery(*FConnection);
    LQuery.SetSQL(aSql);
    if (!aTable.isNull()) LQuery.SetParam("T", aTable);
    LQuery.Open();
    QStringList LResult;
    for (; !LQuery.Eof(); LQuery.Next()) LResult << LQuery.Field(0).TextForm();
    return LResult;
  }
  QStringList Tables() {
    return Column("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                  "AND RDB$VIEW_BLR IS NULL ORDER BY 1");
  }
  QStringList PrimaryKey(const QString& aTable) {
    return Column("SELECT TRIM(s.RDB$FIELD_NAME) FROM RDB$RELATION_CONSTRAINTS c JOIN RDB$INDEX_SEGMENTS s "
                  "ON s.RDB$INDEX_NAME = c.RDB$INDEX_NAME WHERE c.RDB$RELATION_NAME = :T "
                  "AND c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' ORDER BY s.RDB$FIELD_POSITION",
                  aTable);
  }
  QMap<QString, TRow> Rows(const QString& aTable, const QStringList& aKey) {
    TDbQuery LQuery(*FConnection);
    LQuery.SetSQL("SELECT * FROM \"" + aTable + "\"");
    LQuery.Open();
    QMap<QString, TRow> LRows;
    for (; !LQuery.Eof(); LQuery.Next()) {
      TRow LRow;
      QStringList LKey;
      for (const QString& LColumn : aKey) LKey << LQuery.FieldByName(LColumn).TextForm();
      LRow.Key = LKey.join('|');
      for (int LIndex = 0; LIndex < LQuery.FieldCount(); ++LIndex) {
        LRow.Names << LQuery.Field(LIndex).Name();
        LRow.Values << LQuery.Field(LIndex).Value();
      }
      LRows.insert(LRow.Key, LRow);
    }
    return LRows;
  }

private:
  std::unique_ptr<TDbConnection> FConnection;
};

class TScenarioExport : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GSource = new TTestDatabase("demo-source", DemoSql(), "WIN1252"); }
  static void TearDownTestSuite() {
    delete GSource;
    GSource = nullptr;
  }

  // Exports with aExporter into a file, replays it into an empty copy of the schema and
  // compares every table with the expected slice.
  void ExportAndCompare(const std::function<ISliceExporterPtr(TDbConnection*)>& aScenario, const TExpected& aExpected) {
    QTemporaryDir LFolder;
    const QString LFile = LFolder.filePath("slice.sql");
    {
      auto LConnection = GSource->Connect("WIN1252");
      aScenario(LConnection.get())->SaveToFile(LFile);
    }
    int LTotal = 0;
    for (const QStringList& LKeys : aExpected) LTotal += LKeys.size();
    const QString LScript = QString::fromUtf8(ReadFileBytes(LFile));
    ASSERT_TRUE(LScript.endsWith("\r\n-- Registros exportados: " + QString::number(LTotal) + "\r\nCOMMIT;\r\n"))
        << LScript.right(80).toStdString();

    TTestDatabase LTarget("demo-replay", DemoSql(false), "WIN1252");
    const TIsqlResult LReplay = LTarget.Replay(LFile);
    ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    ASSERT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();

    TReader LSource(*GSource);
    TReader LReplayed(LTarget);
    const QStringList LTables = LSource.Tables();
    ASSERT_GE(LTables.size(), 30);
    for (const QString& LTable : aExpected.keys()) EXPECT_TRUE(LTables.contains(LTable)) << LTable.toStdString();
    int LSourceRows = 0;
    for (const QString& LTable : LTables) {
      const QStringList LKey = LSource.PrimaryKey(LTable);
      const QMap<QString, TRow> LAll = LSource.Rows(LTable, LKey);
      const QMap<QString, TRow> LGot = LReplayed.Rows(LTable, LKey);
      LSourceRows += LAll.size();
      QStringList LWanted = aExpected.value(LTable);
      LWanted.sort();
      EXPECT_EQ(LGot.keys(), LWanted) << "rows of " << LTable.toStdString();
      for (const QString& LRowKey : LWanted) {
        ASSERT_TRUE(LAll.contains(LRowKey)) << "expected row missing in the source: " << LTable.toStdString() << " "
                                            << LRowKey.toStdString();
        if (!LGot.contains(LRowKey)) continue;
        const TRow& LFrom = LAll[LRowKey];
        const TRow& LTo = LGot[LRowKey];
        ASSERT_EQ(LFrom.Names, LTo.Names) << LTable.toStdString();
        for (int LIndex = 0; LIndex < LFrom.Values.size(); ++LIndex)
          EXPECT_TRUE(LFrom.Values[LIndex] == LTo.Values[LIndex])
              << LTable.toStdString() << " " << LRowKey.toStdString() << " " << LFrom.Names[LIndex].toStdString()
              << ": " << LFrom.Values[LIndex].TextForm().toStdString() << " <> "
              << LTo.Values[LIndex].TextForm().toStdString();
      }
    }
    // One document is a strict part of the demo database.
    EXPECT_LT(LTotal, LSourceRows);
  }

  static TTestDatabase* GSource;
};
TTestDatabase* TScenarioExport::GSource = nullptr;

TEST_F(TScenarioExport, NFSe1001WithItsServicesInstallmentsAndTheirMasters) {
  ExportAndCompare([](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 1001); },
                   {{"PAIS", {"1058"}},
                    {"ESTADO", {"SP"}},
                    {"CIDADE", {"3509502", "3550308"}},
                    {"EMPRESA", {"1"}},
                    {"VENDEDOR", {"10"}},
                    {"CONDICAO_PAGAMENTO", {"2"}},
                    {"CLIENTE", {"100"}},
                    {"NFSRES", {"1001"}},
                    {"NFSPRO", {"1001|1", "1001|2", "1001|3"}},
                    {"SERVICO", {"1", "3", "4"}},
                    {"UNIDADE", {"H", "SV", "M2"}},
                    {"DUPREC", {"7001", "7002", "7003"}},
                    {"FORMA_PAGAMENTO", {"BO", "PX"}},
                    {"BANCO", {"341", "001"}}});
}

// A cancelled invoice without installments, for a customer with a UTF8 column filled in.
TEST_F(TScenarioExport, NFSe1003WithoutInstallments) {
  ExportAndCompare([](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 1003); },
                   {{"PAIS", {"1058"}},
                    {"ESTADO", {"SP", "MG"}},
                    {"CIDADE", {"3509502", "3106200"}},
                    {"EMPRESA", {"1"}},
                    {"VENDEDOR", {"11"}},
                    {"CONDICAO_PAGAMENTO", {"1"}},
                    {"CLIENTE", {"101"}},
                    {"NFSRES", {"1003"}},
                    {"NFSPRO", {"1003|1"}},
                    {"SERVICO", {"1"}},
                    {"UNIDADE", {"H"}}});
}

TEST_F(TScenarioExport, NotaFiscal000123WithEveryRelationChain) {
  // The key arrives with blanks around it, as typed.
  ExportAndCompare(
      [](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, " \t000123 "); },
      {{"PAIS", {"1058"}},
       {"ESTADO", {"SP", "PR"}},
       {"CIDADE", {"3550308", "3509502", "4106902"}},
       {"EMPRESA", {"1"}},
       {"VENDEDOR", {"10"}},
       {"CONDICAO_PAGAMENTO", {"2"}},
       {"BANCO", {"341", "001"}},
       {"FORMA_PAGAMENTO", {"BO", "CC", "PX"}},
       {"CLIENTE", {"100"}},
       {"TRANSPORTADORA", {"1", "2"}},
       {"UNIDADE", {"UN"}},
       {"GRUPO_PRODUTO", {"1", "2", "3", "4", "5"}},
       {"NCM", {"09012100", "34022000", "73239300"}},
       {"MARCA", {"1", "2", "3"}},
       {"CFOP", {"5102", "5405", "5117", "1202"}},
       {"PRODUTO", {"1001", "1003", "1005"}},
       {"PEDRES", {"5001"}},
       // 000125 is the shipping invoice of the future delivery, a parent of its control row.
       {"NOTAFI", {"000123", "000125"}},
       {"NOTAPRO", {"000123|1001", "000123|1003", "000123|1005"}},
       {"NOTA_ITEM", {"000123|1", "000123|2", "000123|3"}},
       {"DOC_FISCAL_ITEM", {"000123|1001", "000123|1003", "000123|1005"}},
       {"DUPREC", {"7010", "7011", "7012"}},
       // Not the till-receipt return 9002, the order commission 3002 or the 'NF' link 8003.
       {"DEVOLUCAO_SAIDAS_ITEM", {"9001|1001", "9001|1003"}},
       {"DOCUMENTO_REFERENCIADO", {"8001", "8002"}},
       {"DEVOLUCAO_ENTRADAS_ITEM", {"6001|1003"}},
       {"COMISSAO_MOVIMENTOS", {"3001"}},
       {"COMISSAO_DEVOLUCAO_ABATER", {"4001", "4002"}},
       {"COMISSAO_DEVOLUCAO_REFER", {"4501", "4502"}},
       {"COMISSAO_PAGAMENTO_INDIVID", {"2001"}},
       {"ENTREGAFUTURA_CONTROLE", {"1101", "1102"}}});
}

TEST_F(TScenarioExport, NotaFiscal000124ReachesThePaymentThroughTheDeductionChain) {
  ExportAndCompare([](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, "000124"); },
                   {{"PAIS", {"1058"}},
                    {"ESTADO", {"SP", "MG"}},
                    {"CIDADE", {"3509502", "3170206"}},
                    {"EMPRESA", {"1"}},
                    {"VENDEDOR", {"11"}},
                    {"CONDICAO_PAGAMENTO", {"3"}},
                    {"CLIENTE", {"104"}},
                    {"PEDRES", {"5002"}},
                    {"NOTAFI", {"000124"}},
                    {"CFOP", {"6102"}},
                    {"NOTAPRO", {"000124|1002", "000124|1004", "000124|1006"}},
                    {"PRODUTO", {"1002", "1004", "1006"}},
                    {"UNIDADE", {"UN", "LT", "KG"}},
                    {"GRUPO_PRODUTO", {"1", "2", "6"}},
                    {"NCM", {"22021000", "04012010", "19059090"}},
                    {"MARCA", {"4"}},
                    {"DOC_FISCAL_ITEM", {"000124|1002", "000124|1004"}},
                    {"DUPREC", {"7020"}},
                    {"FORMA_PAGAMENTO", {"BO", "PX"}},
                    {"BANCO", {"341", "001"}},
                    {"NOTA_ITEM", {"000124|2"}},
                    {"DEVOLUCAO_SAIDAS_ITEM", {"9003|1004"}},
                    {"COMISSAO_MOVIMENTOS", {"3004"}},
                    {"COMISSAO_DEVOLUCAO_ABATER", {"4003"}},
                    {"COMISSAO_DEVOLUCAO_REFER", {"4503"}},
                    {"COMISSAO_PAGAMENTO_INDIVID", {"2002"}}});
}

TEST_F(TScenarioExport, UnknownNumbersFailOnlyWhenGenerating) {
  auto LConnection = GSource->Connect("WIN1252");
  ISliceExporterPtr LNFSe = TNFSeSlice::New(LConnection.get(), 999999);
  ISliceExporterPtr LNota = TNotaFiscalSlice::New(LConnection.get(), "999999");
  try {
    LNFSe->Generate();
    ADD_FAILURE() << "NFSe 999999 exported";
  } catch (const TCorvaneError& aError) {
    EXPECT_EQ(aError.Message(), "Registro nao encontrado em NFSRES.");
  }
  try {
    LNota->Generate();
    ADD_FAILURE() << "Nota 999999 exported";
  } catch (const TCorvaneError& aError) {
    EXPECT_EQ(aError.Message(), "Registro nao encontrado em NOTAFI.");
  }
  // Leading zeros are part of the number: 123 is not 000123.
  EXPECT_THROW(TNotaFiscalSlice::New(LConnection.get(), "123")->Generate(), TCorvaneError);
  // Two exporters of one scenario are independent: the second still finds its document.
  EXPECT_TRUE(TNFSeSlice::New(LConnection.get(), 1003)->Generate().contains("-- NFSRES | NFSID=1003\r\n"));
}

}  // namespace
