// The covered-tables window: the union of both scenarios' tables and the formatting of its text.
#include "Corvane.ListaTabelasView.h"
#include "UiTestSupport.h"

#include <QScrollBar>
#include <QTextBlock>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

class TListaTabelasViewTest : public TUiTest {
protected:
  static void SetUpTestSuite() { FDatabase = new TTestDatabase("listatabelas", NFSeSchema()); }
  static void TearDownTestSuite() {
    delete FDatabase;
    FDatabase = nullptr;
  }
  static TTestDatabase* FDatabase;
};
TTestDatabase* TListaTabelasViewTest::FDatabase = nullptr;

QStringList BlockTexts(const QTextDocument* aDocument) {
  QStringList LTexts;
  for (QTextBlock LBlock = aDocument->begin(); LBlock.isValid(); LBlock = LBlock.next()) LTexts << LBlock.text();
  return LTexts;
}

// Whether every character of the block is blue and bold (aStrong) or neither.
void ExpectBlockStyle(const QTextBlock& aBlock, bool aStrong) {
  for (auto LIt = aBlock.begin(); !LIt.atEnd(); ++LIt) {
    const QTextCharFormat LFormat = LIt.fragment().charFormat();
    const bool LBlue = LFormat.hasProperty(QTextFormat::ForegroundBrush) &&
                       LFormat.foreground().color() == QColor(0, 0, 255);
    EXPECT_EQ(LBlue, aStrong) << aBlock.text().toStdString();
    EXPECT_EQ(LFormat.fontWeight() >= QFont::Bold, aStrong) << aBlock.text().toStdString();
  }
}

}  // namespace

TEST_F(TListaTabelasViewTest, ListsTheSixteenTablesWithTotalAndOnlyTheLastLineStrong) {
  WriteConfig(FDatabase->Path());
  TListaTabelasView LView;
  LView.ListarTabelas();

  const QStringList LBlocks = BlockTexts(LView.rdtAjuda->document());
  const QStringList LExpectedTables{
      "COMISSAO_DEVOLUCAO_ABATER", "COMISSAO_DEVOLUCAO_REFER", "COMISSAO_MOVIMENTOS", "COMISSAO_PAGAMENTO_INDIVID",
      "DEVOLUCAO_ENTRADAS_ITEM",   "DEVOLUCAO_SAIDAS_ITEM",    "DOC_FISCAL_ITEM",     "DOCUMENTO_REFERENCIADO",
      "DUPREC",                    "ENTREGAFUTURA_CONTROLE",   "NFSPRO",              "NFSRES",
      "NOTA_ITEM",                 "NOTAFI",                   "NOTAPRO",             "PEDRES"};
  ASSERT_EQ(LBlocks.size(), 1 + 16 + 5) << LBlocks.join("\n").toStdString();
  EXPECT_EQ(LBlocks.first(), "");
  // The list order is the exporter's; here only membership and uniqueness matter.
  QStringList LTables = LBlocks.mid(1, 16);
  EXPECT_EQ(LTables.count("DUPREC"), 1);
  LTables.sort();
  QStringList LSortedExpected = LExpectedTables;
  LSortedExpected.sort();
  EXPECT_EQ(LTables, LSortedExpected);
  EXPECT_EQ(LBlocks.mid(17), (QStringList{"", "Total: 16", "",
                                          "Tabelas e filhas configuradas nos cenários NFSe e Nota Fiscal.",
                                          "Dependências por FK são identificadas durante a exportação e aparecem no log."}));

  const QTextDocument* LDocument = LView.rdtAjuda->document();
  for (QTextBlock LBlock = LDocument->begin(); LBlock.isValid(); LBlock = LBlock.next())
    ExpectBlockStyle(LBlock, LBlock == LDocument->lastBlock());

  EXPECT_TRUE(LView.rdtAjuda->isReadOnly());
  EXPECT_EQ(LView.rdtAjuda->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(LView.rdtAjuda->textCursor().position(), 0);
  EXPECT_FALSE(LView.rdtAjuda->textCursor().hasSelection());
  EXPECT_TRUE(LView.updatesEnabled() && LView.rdtAjuda->updatesEnabled());

  LView.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(LView.rdtAjuda->verticalScrollBar()->value(), 0);
  EXPECT_EQ(LView.rdtAjuda->geometry(), QRect(3, 3, 892, 667));
  EXPECT_EQ(LView.lblTitulo->text(), "Tabelas Contempladas - Versão 1.00");
  EXPECT_EQ(LView.windowTitle(), "ListaTabelasView");

  // Filling again gives the same text, not twice the lines.
  LView.ListarTabelas();
  EXPECT_EQ(BlockTexts(LView.rdtAjuda->document()), LBlocks);
}

TEST_F(TListaTabelasViewTest, UnreachableDatabaseFailsBeforeAnythingIsShown) {
  WriteConfig(DatabaseFolder() + "/corvane-nao-existe.fdb");
  TListaTabelasView LView;
  EXPECT_THROW(LView.ListarTabelas(), TCorvaneError);
  EXPECT_TRUE(LView.rdtAjuda->toPlainText().isEmpty());
  EXPECT_FALSE(LView.isVisible());
}

int main(int argc, char** argv) { return RunUiTests(argc, argv); }
