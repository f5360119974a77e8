// The replay window driven as support staff would: a script of the source, a support
// database that has drifted from it, the preview and then the replay with the mirror.
#include "Corvane.Connection.h"
#include "Corvane.MainForm.h"
#include "Corvane.ReproduzirView.h"
#include "Corvane.Scenario.NFSe.h"
#include "UiTestSupport.h"

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

QString Settings(const QString& aDatabase) {
  return "[Firebird]\r\nUserName=" + ServerUser() + "\r\nPassword=" + ServerPassword() +
         "\r\nCharacterSet=WIN1252\r\n[BANCO]\r\nCAMINHO=" + aDatabase + "\r\n";
}

class TReproduzirViewTest : public TUiTest {};

TEST_F(TReproduzirViewTest, PreviewListsTheDriftAndApplyWithTheMirrorMakesTheTargetTheDocument) {
  const TTestDatabase LSource("replay-window-source", NFSeSchema());
  // The support database holds the document as it was: one value changed, one item more.
  const TTestDatabase LTarget("replay-window-target", QString(NFSeSchema()) + R"SQL(
COMMIT;
UPDATE NFSPRO SET DESCRICAO = 'Manutenção antiga' WHERE NFSID = 42 AND ITEM = 1;
INSERT INTO NFSPRO VALUES (42, 3, 'Item que só o suporte tem');
COMMIT;
)SQL");
  WriteConfig(LSource.Path());
  const QString LTargetSettings = FConfigFolder.filePath("destino.ini");
  WriteFileBytes(LTargetSettings, Settings(LTarget.Path()).toUtf8());
  const QString LScript = FConfigFolder.filePath("NFSe_42.sql");
  {
    auto LConnection = LSource.Connect();
    TNFSeSlice::New(LConnection.get(), 42)->SaveToFile(LScript);
  }

  TCorvaneView LMain;
  LMain.show();
  QCoreApplication::processEvents();
  // The main window names the source database and never its password.
  EXPECT_EQ(LMain.lblOrigem->text(), "Origem: localhost:" + LSource.Path());
  EXPECT_FALSE(LMain.lblOrigem->text().contains(ServerPassword()));

  TReproduzirView LView(&LMain);
  LView.show();
  // The source's own settings are refused as a target.
  LView.AbrirDestino(FConfigFolder.filePath("config.ini"));
  LView.AbrirScript(LScript);
  EXPECT_TRUE(LView.lblBancoDestino->text().contains("próprio banco de origem"));
  EXPECT_FALSE(LView.btnConferir->isEnabled());
  EXPECT_FALSE(LView.btnAplicar->isEnabled());

  LView.AbrirDestino(LTargetSettings);
  EXPECT_EQ(LView.lblBancoDestino->text(), "Banco de destino: localhost:" + LTarget.Path());
  ASSERT_TRUE(LView.btnConferir->isEnabled());

  // Preview: nothing written, every row with its state.
  LView.btnConferir->click();
  EXPECT_TRUE(LView.Running());
  EXPECT_FALSE(LView.btnConferir->isEnabled());
  EXPECT_TRUE(LView.btnCancelar->isEnabled());
  EXPECT_FALSE(LView.close());  // refused while it runs
  ASSERT_TRUE(WaitFor([&] { return !LView.Running(); }));
  const QString LPreviewLog = LView.mmoMensagens->toPlainText();
  EXPECT_FALSE(LPreviewLog.contains("ERRO")) << LPreviewLog.toStdString();
  QStringList LRows;
  for (const TReproducaoLinha& LLinha : LView.Linhas())
    LRows << LLinha.Tabela + "|" + LLinha.Chave + "|" + LLinha.Situacao + "|" + LLinha.Alteracoes;
  EXPECT_TRUE(LRows.contains("NFSPRO|NFSID=42, ITEM=1|alterado|DESCRICAO: Manutenção antiga -> Manutenção"))
      << LRows.join("\n").toStdString();
  EXPECT_TRUE(LRows.contains("NFSPRO|NFSID=42, ITEM=3|somente no destino|")) << LRows.join("\n").toStdString();
  EXPECT_TRUE(LRows.contains("NFSRES|NFSID=42|inalterado|")) << LRows.join("\n").toStdString();
  EXPECT_EQ(LView.lblTotais->text(), "Resumo: 0 inseridos, 1 alterados, 4 inalterados, 0 divergentes, 1 somente no destino");
  EXPECT_EQ(LView.pgbReproducao->value(), LView.pgbReproducao->maximum());
  // The filter shows one state at a time, and "alterado" is not "inalterado".
  LView.cbxSituacao->setCurrentText("alterado");
  EXPECT_EQ(LView.grdRegistros->model()->rowCount(), 1);
  LView.cbxSituacao->setCurrentText("somente no destino");
  ASSERT_EQ(LView.grdRegistros->model()->rowCount(), 1);
  EXPECT_EQ(LView.grdRegistros->model()->index(0, 1).data().toString(), "NFSID=42, ITEM=3");
  LView.cbxSituacao->setCurrentIndex(0);
  EXPECT_EQ(LView.grdRegistros->model()->rowCount(), LView.Linhas().size());
  auto LTargetConnection = LTarget.Connect("UTF8");
  EXPECT_EQ(QueryRows(*LTargetConnection, "SELECT ITEM, DESCRICAO FROM NFSPRO ORDER BY ITEM"),
            (QStringList{"1|Manutenção antiga", "2|Visita técnica", "3|Item que só o suporte tem"}));

  // Applied with the mirror: the target becomes the document.
  LView.chkEspelhar->setChecked(true);
  LView.btnAplicar->click();
  ASSERT_TRUE(WaitFor([&] { return !LView.Running(); }));
  const QString LLog = LView.mmoMensagens->toPlainText();
  EXPECT_TRUE(LLog.contains("Transacao confirmada.")) << LLog.toStdString();
  EXPECT_TRUE(LLog.trimmed().endsWith("Resumo: 0 inseridos, 1 alterados, 4 inalterados, 0 divergentes, 1 excluidos"))
      << LLog.toStdString();
  EXPECT_EQ(QueryRows(*LTargetConnection, "SELECT ITEM, DESCRICAO FROM NFSPRO ORDER BY ITEM"),
            (QStringList{"1|Manutenção", "2|Visita técnica"}));
  EXPECT_TRUE(LView.btnConferir->isEnabled());
  EXPECT_FALSE(LView.btnCancelar->isEnabled());

  // Again: nothing left to do.
  LView.chkEspelhar->setChecked(false);
  LView.btnConferir->click();
  ASSERT_TRUE(WaitFor([&] { return !LView.Running(); }));
  EXPECT_EQ(LView.lblTotais->text(), "Resumo: 0 inseridos, 0 alterados, 5 inalterados, 0 divergentes, 0 somente no destino");
  EXPECT_TRUE(FDialogs->Errors.isEmpty()) << FDialogs->Errors.join("\n").toStdString();
  EXPECT_TRUE(LView.close());
}

}  // namespace

int main(int argc, char** argv) { return RunUiTests(argc, argv); }
