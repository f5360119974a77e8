// Documents defined by support staff: the documents file with every form of line, good and
// bad; a defined document exported and replayed through isql into an empty database with every
// foreign key enforced; keys that are not unique and filters that leave their relation refused.
#include "Corvane.Documents.h"
#include "Corvane.Scenario.NFSe.h"
#include "TestDatabase.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

// The message of loading aText as a documents file, empty when it loads.
QString LoadError(const QString& aText, TDocumentRegistry* aRegistry = nullptr) {
  QTemporaryDir LDir;
  const QString LFile = LDir.filePath("documentos.ini");
  WriteFileBytes(LFile, aText.toUtf8());
  try {
    const TDocumentRegistry LRegistry = TDocumentRegistry::Load(LFile);
    if (aRegistry) *aRegistry = LRegistry;
    return {};
  } catch (const TCorvaneError& aError) {
    return aError.Message();
  }
}

const char* const CGood = R"INI(
; comments and blank lines are fine
# also this kind
[Pedido]
Titulo = "Pedido de Venda"
Tabela=PEDRES
Chave=PEDNUM
Relacao1=PEDRES:PEDPRO:PEDNUM:PEDNUM
Relacao2=PEDPRO:PEDPRO_LOTE:PEDNUM, ITEM:PEDNUM,ITEM
Relacao3=PEDRES:DUPREC:E9_PEDNUM:PEDNUM:E9_TIPO = 'P' AND (E9_OBS IS NULL OR E9_OBS <> 'a;b -- c')
AdiarCiclos=Sim
IgnorarArrays=nao

[Filial]
Tabela=VDVENDA
Chave=CODEMP, CODFILIAL,TIPOVENDA
)INI";

}  // namespace

TEST(TDocumentsFile, EveryFormOfLineGoodOrBadBeforeAnyConnection) {
  // A missing file: the built-in documents alone.
  const TDocumentRegistry LBuiltIn = TDocumentRegistry::Load(QDir::temp().filePath("corvane-nao-existe.ini"));
  ASSERT_EQ(LBuiltIn.Documents().size(), 2);
  EXPECT_EQ(LBuiltIn.Find("nfse")->Tables(), (QStringList{"NFSRES", "NFSPRO", "DUPREC"}));

  TDocumentRegistry LRegistry;
  ASSERT_EQ(LoadError(CGood, &LRegistry), "");
  ASSERT_EQ(LRegistry.Documents().size(), 4);
  const TDocument& LPedido = *LRegistry.Find("PEDIDO");
  EXPECT_EQ(LPedido.Title, "Pedido de Venda");
  EXPECT_EQ(LPedido.Table, "PEDRES");
  EXPECT_EQ(LPedido.Keys, QStringList{"PEDNUM"});
  ASSERT_EQ(LPedido.Relations.size(), 3);
  EXPECT_EQ(LPedido.Relations[1].ForeignKeys, "PEDNUM, ITEM");
  EXPECT_EQ(LPedido.Relations[2].Filter, "E9_TIPO = 'P' AND (E9_OBS IS NULL OR E9_OBS <> 'a;b -- c')");
  EXPECT_TRUE(LPedido.DeferCycles);
  EXPECT_FALSE(LPedido.SkipArrays);
  EXPECT_EQ(LPedido.Tables(), (QStringList{"PEDRES", "PEDPRO", "PEDPRO_LOTE", "DUPREC"}));
  EXPECT_EQ(LRegistry.Find("Filial")->Keys, (QStringList{"CODEMP", "CODFILIAL", "TIPOVENDA"}));
  EXPECT_EQ(LRegistry.Find("Filial")->Title, "Filial");
  EXPECT_EQ(LRegistry.ByRoot("PEDRES").size(), 1);

  // Each bad form: one message naming the file, the section and the key (or the line).
  const QString LHead = "[Doc]\nTabela=T\nChave=ID\n";
  const struct {
    QString Text;
    QString Expected;  // a part of the message
  } LCases[] = {
      {LHead + "Relacao1 T:U:ID:ID\n", "linha 4, secao [Doc]: linha sem CHAVE=VALOR"},
      {"Tabela=T\n[Doc]\nTabela=T\nChave=ID\n", "linha 1, chave Tabela: chave fora de qualquer secao"},
      {LHead + "[doc]\nTabela=U\nChave=ID\n", "secao [doc]: secao repetida"},
      {LHead + "Chave=OUTRA\n", "chave Chave: chave repetida"},
      {"[NFSe]\nTabela=T\nChave=ID\n", "secao [NFSe]: ja existe um documento com esse nome"},
      {LHead + "Cores=Sim\n", "chave Cores: chave desconhecida"},
      {LHead + "AdiarCiclos=talvez\n", "chave AdiarCiclos: use Sim ou Nao"},
      {"[Doc]\nChave=ID\n", "secao [Doc], chave Tabela: informe a tabela"},
      {"[Doc]\nTabela=T\nChave= , \n", "chave Chave: informe as colunas"},
      {"[Doc]\nTabela=T\nChave=A,B,A\n", "chave Chave: coluna repetida"},
      {LHead + "Relacao1=T:U:ID:ID\nRelacao3=U:V:ID:ID\n", "chave Relacao3: as relacoes sao numeradas a partir de 1"},
      {LHead + "Relacao1=T:U:ID\n", "chave Relacao1: espera PARENT:CHILD:FK_COLUMNS:PARENT_COLUMNS"},
      {LHead + "Relacao1=T:U:A,B:ID\n", "chave Relacao1: FK_COLUMNS e PARENT_COLUMNS com quantidades diferentes"},
      {LHead + "Relacao1=X:U:ID:ID\n", "chave Relacao1: a relacao nunca seria percorrida: X"},
      {LHead + "Relacao1=t:U:ID:ID\n", "chave Relacao1: a relacao nunca seria percorrida: t"},
      // Filters stay inside their relation.
      {LHead + "Relacao1=T:U:ID:ID:1=1) OR (1=1\n", "chave Relacao1: o filtro fecha um parentese que nao abriu"},
      {LHead + "Relacao1=T:U:ID:ID:(A = 1\n", "o filtro tem parentese sem fechamento"},
      {LHead + "Relacao1=T:U:ID:ID:A = 'x\n", "o filtro tem aspas sem fechamento"},
      {LHead + "Relacao1=T:U:ID:ID:A = 1; DELETE FROM T\n", "o filtro contem ; (fim de comando)"},
      {LHead + "Relacao1=T:U:ID:ID:A = 1 -- e o resto\n", "o filtro contem um comentario"},
      {LHead + "Relacao1=T:U:ID:ID:A = 1 /* x */\n", "o filtro contem um comentario"},
      {"[Do c]\nTabela=T\nChave=ID\n", "secao [Do c]: o nome do documento nao pode"},
  };
  for (const auto& LCase : LCases) {
    const QString LError = LoadError(LCase.Text);
    EXPECT_TRUE(LError.startsWith("Arquivo de documentos ")) << LError.toStdString();
    EXPECT_TRUE(LError.contains("documentos.ini")) << LError.toStdString();
    EXPECT_TRUE(LError.contains(LCase.Expected)) << LError.toStdString() << "\n  expected: " << LCase.Expected.toStdString();
  }
}

TEST(TDocumentsExport, DefinedDocumentsExportWholeAndReplayIntoAnEmptyDatabase) {
  const TTestDatabase LDemo("documents-demo", DemoSql(), "WIN1252");
  const TDocumentRegistry LRegistry =
      TDocumentRegistry::Load(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../demo/documentos.ini");
  const TDocument* LPedido = LRegistry.Find("Pedido");
  const TDocument* LCliente = LRegistry.Find("ClienteEmAberto");
  ASSERT_TRUE(LPedido && LCliente);
  auto LConnection = LDemo.Connect("WIN1252");

  QTemporaryDir LDir;
  const TTestDatabase LTarget("documents-target", DemoSql(false), "WIN1252");
  int LFiles = 0;
  for (const auto& [LDocument, LKey] : {std::pair{LPedido, QString("5001")}, std::pair{LCliente, QString("100")}}) {
    LDocument->CheckKeyIsUnique(*LConnection);
    ISliceExporterPtr LExporter = LDocument->Configure(LConnection.get());
    const QList<TValue> LValues = KeyValuesOf(*LConnection, LDocument->Table, {{LDocument->Keys[0], LKey}});
    ASSERT_EQ(LValues[0].Kind(), TValueKind::vkInteger);
    LExporter->Key(LDocument->Keys[0], LValues[0]);
    const QString LFile = LDir.filePath(QString::number(++LFiles) + ".sql");
    LExporter->SaveToFile(LFile);
    const TIsqlResult LReplay = LTarget.Replay(LFile);
    ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    ASSERT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();
  }
  // The order with all of its items and installments; the customer's open installments only.
  auto LSource = LDemo.Connect("UTF8");
  auto LCopy = LTarget.Connect("UTF8");
  for (const QString& LSql : {QString("SELECT * FROM PEDPRO WHERE PEDNUM = 5001 ORDER BY ITEM"),
                              QString("SELECT * FROM DUPREC WHERE E9_PEDNUM = 5001 ORDER BY 1"),
                              QString("SELECT * FROM DUPREC WHERE E9_CLICOD = 100 AND E9_DATA_PAGAMENTO IS NULL "
                                      "ORDER BY 1")}) {
    const QStringList LRows = QueryRows(*LSource, LSql);
    EXPECT_FALSE(LRows.isEmpty()) << LSql.toStdString();
    EXPECT_EQ(QueryRows(*LCopy, LSql), LRows) << LSql.toStdString();
  }
  EXPECT_EQ(QueryRows(*LCopy, "SELECT COUNT(*) FROM PEDPRO"), QStringList{"3"});

  // A key that covers no unique key is one document of many rows: refused, naming what is missing.
  TDocument LShort = *LPedido;
  LShort.Table = "PEDPRO";
  LShort.Keys = QStringList{"PEDNUM"};
  try {
    LShort.CheckKeyIsUnique(*LConnection);
    ADD_FAILURE() << "a key without ITEM was taken";
  } catch (const TCorvaneError& aError) {
    EXPECT_TRUE(aError.Message().endsWith("nao cobre a chave primaria nem uma chave unica de PEDPRO; faltam: ITEM."))
        << aError.Message().toStdString();
  }
  EXPECT_FALSE(LConnection->InTransaction());
}
