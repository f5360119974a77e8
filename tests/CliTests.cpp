// The built corvane-cli program, run as a user would run it: exit status, standard output
// and standard error, and no script file left behind by a failed export.
#include "TestDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane::Testing;

namespace {

// build/tests/CliTests -> build/cli/corvane-cli, unless CORVANE_CLI names another.
QString CliPath() {
  const QString LOverride = qEnvironmentVariable("CORVANE_CLI");
  if (!LOverride.isEmpty()) return LOverride;
  const QString LTests = QFileInfo(QFileInfo("/proc/self/exe").symLinkTarget()).absolutePath();
  return QDir(LTests).absoluteFilePath("../cli/corvane-cli");
}

struct TRun {
  int ExitCode = -1;
  QString Out;
  QString Err;
};

TRun RunCli(const QStringList& aArguments, const QString& aFolder = {}) {
  TRun LRun;
  QProcess LProcess;
  if (!aFolder.isEmpty()) LProcess.setWorkingDirectory(aFolder);
  LProcess.start(CliPath(), aArguments);
  if (!LProcess.waitForFinished(300000)) {
    LProcess.kill();
    LProcess.waitForFinished();
    LRun.Err = "did not finish: " + LProcess.errorString();
    return LRun;
  }
  LRun.ExitCode = LProcess.exitStatus() == QProcess::NormalExit ? LProcess.exitCode() : -1;
  LRun.Out = QString::fromUtf8(LProcess.readAllStandardOutput());
  LRun.Err = QString::fromUtf8(LProcess.readAllStandardError());
  return LRun;
}

class TCliTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GDemo = new TTestDatabase("cli-demo", DemoSql(), "WIN1252"); }
  static void TearDownTestSuite() {
    delete GDemo;
    GDemo = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(QFileInfo(CliPath()).isExecutable()) << "build corvane-cli first: " << CliPath().toStdString();
    ASSERT_TRUE(FFolder.isValid());
    FConfig = WriteConfig("config.ini", "localhost", GDemo->Path());
  }
  QString WriteConfig(const QString& aName, const QString& aServer, const QString& aDatabase,
                      const QString& aPassword = ServerPassword()) {
    const QString LFile = FFolder.filePath(aName);
    WriteFileBytes(LFile, QString("[Firebird]\r\nUserName=%1\r\nPassword=%2\r\nCharacterSet=WIN1252\r\n"
                                  "[SERVER]\r\nSERVER_NAME=%3\r\n[BANCO]\r\nCAMINHO=%4\r\n")
                              .arg(ServerUser(), aPassword, aServer, aDatabase)
                              .toUtf8());
    return LFile;
  }
  QString Output(const QString& aName) const { return FFolder.filePath(aName); }

  static TTestDatabase* GDemo;
  QTemporaryDir FFolder;
  QString FConfig;
};
TTestDatabase* TCliTest::GDemo = nullptr;

const QRegularExpression CLogLine("^\\d\\d:\\d\\d:\\d\\d - .+$");

TEST_F(TCliTest, NfseExportsLogsProgressAndNamesTheFile) {
  const QString LFile = Output("NFSe_1001.sql");
  const TRun LRun = RunCli({"nfse", "1001", "-o", LFile, "--config", FConfig});
  ASSERT_EQ(LRun.ExitCode, 0) << LRun.Err.toStdString();
  EXPECT_EQ(LRun.Out, "Script gerado em: " + LFile + "\n");
  const QStringList LLog = LRun.Err.split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(LLog.size(), 5);
  for (const QString& LLine : LLog) EXPECT_TRUE(CLogLine.match(LLine).hasMatch()) << LLine.toStdString();
  EXPECT_TRUE(LLog[0].endsWith(" - Iniciando NFSe 1001. Aguarde..."));
  EXPECT_TRUE(LLog[1].endsWith(" - Conectando ao banco de origem..."));
  EXPECT_TRUE(LLog[2].endsWith(" - Conexao estabelecida. Gerando script..."));
  EXPECT_TRUE(LLog.last().endsWith(" - Gravando arquivo SQL..."));
  const QString LScript = QString::fromUtf8(ReadFileBytes(LFile));
  EXPECT_TRUE(LScript.startsWith("-- Corvane: executar com isql -b -ch UTF8 -i arquivo.sql no destino.\r\n"));
  EXPECT_TRUE(LScript.endsWith("-- Registros exportados: 25\r\nCOMMIT;\r\n"));

  // Quiet: the same script, nothing on standard error; a relative -o is resolved.
  const TRun LQuiet = RunCli({"nfse", " 0001001 ", "--quiet", "--config", FConfig, "-o", "quieto.sql"}, FFolder.path());
  ASSERT_EQ(LQuiet.ExitCode, 0) << LQuiet.Err.toStdString();
  EXPECT_EQ(LQuiet.Err, "");
  EXPECT_EQ(LQuiet.Out, "Script gerado em: " + Output("quieto.sql") + "\n");
  EXPECT_EQ(ReadFileBytes(Output("quieto.sql")), ReadFileBytes(LFile));
}

TEST_F(TCliTest, NotaAndGenericExportAgreeOnTheSameDocument) {
  const TRun LNota = RunCli({"nota", "000123", "-o", Output("nota.sql"), "--config", FConfig, "--quiet"});
  ASSERT_EQ(LNota.ExitCode, 0) << LNota.Err.toStdString();
  EXPECT_TRUE(QString::fromUtf8(ReadFileBytes(Output("nota.sql"))).endsWith("-- Registros exportados: 64\r\nCOMMIT;\r\n"));

  // The generic command with the NFSe relations gives the NFSe scenario's script; the key
  // travels as text and the binding converts it.
  const TRun LNfse = RunCli({"nfse", "1001", "-o", Output("cenario.sql"), "--config", FConfig, "--quiet"});
  const TRun LExport = RunCli({"export", "--table", "NFSRES", "--key", "NFSID=1001", "--related",
                               "NFSRES:NFSPRO:NFSID:NFSID", "--related=NFSRES:DUPREC:E9_NFSID:NFSID:", "-o",
                               Output("generico.sql"), "--config=" + FConfig, "--quiet"});
  ASSERT_EQ(LNfse.ExitCode, 0) << LNfse.Err.toStdString();
  ASSERT_EQ(LExport.ExitCode, 0) << LExport.Err.toStdString();
  EXPECT_EQ(ReadFileBytes(Output("generico.sql")), ReadFileBytes(Output("cenario.sql")));

  // A filter holding colons stays whole; without dependencies only root and children remain.
  const TRun LFiltered = RunCli({"export", "--table", "NOTAFI", "--key", "NOTANUM=000123", "--related",
                                 "NOTAFI:DEVOLUCAO_SAIDAS_ITEM:DJ_ORIGEM_ID1:NOTANUM:DJ_MOTIVO <> 'a:b' AND DJ_ORIGEM = 'C'",
                                 "--no-dependencies", "-o", Output("filtro.sql"), "--config", FConfig, "--quiet"});
  ASSERT_EQ(LFiltered.ExitCode, 0) << LFiltered.Err.toStdString();
  const QString LScript = QString::fromUtf8(ReadFileBytes(Output("filtro.sql")));
  EXPECT_TRUE(LScript.contains("-- DEVOLUCAO_SAIDAS_ITEM | DJ_ID=9002, DJ_PROCOD=1001\r\n")) << LScript.toStdString();
  EXPECT_TRUE(LScript.endsWith("-- Registros exportados: 2\r\nCOMMIT;\r\n"));
}

TEST_F(TCliTest, TablesListsBothScenariosAndTheirTotal) {
  const TRun LRun = RunCli({"tables", "--config", FConfig});
  ASSERT_EQ(LRun.ExitCode, 0) << LRun.Err.toStdString();
  const QStringList LLines = LRun.Out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(LLines.size(), 17);
  EXPECT_EQ(LLines.last(), "Total: 16");
  EXPECT_EQ(LLines.count("DUPREC"), 1);
  EXPECT_TRUE(LLines.contains("NFSRES") && LLines.contains("NOTAFI") && LLines.contains("COMISSAO_PAGAMENTO_INDIVID"));
}

TEST_F(TCliTest, FailedExportsReportErrorExitOneAndWriteNoFile) {
  const QString LFile = Output("falha.sql");
  const TRun LUnknown = RunCli({"nfse", "999999", "-o", LFile, "--config", FConfig});
  EXPECT_EQ(LUnknown.ExitCode, 1);
  EXPECT_EQ(LUnknown.Out, "");
  EXPECT_TRUE(LUnknown.Err.endsWith("ERRO: Registro nao encontrado em NFSRES.\n")) << LUnknown.Err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(LFile));

  // A closed port: the database layer's message, never the password.
  const QString LPassword = "Senha#Unica-0815";
  const QString LUnreachable = WriteConfig("inacessivel.ini", "127.0.0.1/1", GDemo->Path(), LPassword);
  const TRun LServer = RunCli({"nota", "000123", "-o", LFile, "--config", LUnreachable, "--quiet"});
  EXPECT_EQ(LServer.ExitCode, 1);
  EXPECT_TRUE(LServer.Err.startsWith("ERRO: ")) << LServer.Err.toStdString();
  EXPECT_FALSE(LServer.Err.contains(LPassword));
  EXPECT_FALSE(QFileInfo::exists(LFile));
  const TRun LTables = RunCli({"tables", "--config", LUnreachable});
  EXPECT_EQ(LTables.ExitCode, 1);
  EXPECT_FALSE(LTables.Err.contains(LPassword));

  // Settings problems are export failures as well.
  const TRun LMissing = RunCli({"nfse", "1001", "-o", LFile, "--config", Output("nao-existe.ini")});
  EXPECT_EQ(LMissing.ExitCode, 1);
  EXPECT_TRUE(LMissing.Err.endsWith("ERRO: Arquivo de configuracao nao encontrado: " + Output("nao-existe.ini") + "\n"))
      << LMissing.Err.toStdString();
  const QString LNoPath = WriteConfig("sem-caminho.ini", "localhost", "");
  const TRun LEmptyPath = RunCli({"nfse", "1001", "-o", LFile, "--config", LNoPath});
  EXPECT_EQ(LEmptyPath.ExitCode, 1);
  EXPECT_TRUE(LEmptyPath.Err.endsWith("ERRO: Configure [BANCO] CAMINHO no config.ini ao lado do executavel.\n"));
  EXPECT_FALSE(QFileInfo::exists(LFile));

  // A failed export leaves an existing file as it was.
  WriteFileBytes(LFile, "anterior");
  EXPECT_EQ(RunCli({"nota", "999999", "-o", LFile, "--config", FConfig}).ExitCode, 1);
  EXPECT_EQ(ReadFileBytes(LFile), "anterior");
}

// --mask FILE on every export command; the rules are read before any connection.
TEST_F(TCliTest, MaskTakesItsRulesFileOnEveryExportCommand) {
  const QString LDemo = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../demo/";
  const QString LRules = LDemo + "mascaramento.ini";
  const QByteArray LRealCpf = QByteArray("11222333000181").toHex().toUpper();
  const QList<QStringList> LCommands = {
      {"nfse", "1001"},
      {"nota", "000123"},
      {"export", "--table", "CLIENTE", "--key", "CLICOD=100"},
      {"doc", "ClienteEmAberto", "100", "--docs", LDemo + "documentos.ini"},
  };
  for (const QStringList& LCommand : LCommands) {
    const QString LFile = Output(LCommand.first() + ".sql");
    const TRun LRun = RunCli(LCommand + QStringList{"-o", LFile, "--mask", LRules, "--config", FConfig, "--quiet"});
    ASSERT_EQ(LRun.ExitCode, 0) << LCommand.join(' ').toStdString() << ": " << LRun.Err.toStdString();
    const QByteArray LScript = ReadFileBytes(LFile);
    EXPECT_TRUE(LScript.contains("-- Dados pessoais mascarados pelas regras de " + LRules.toUtf8()))
        << LCommand.join(' ').toStdString();
    EXPECT_TRUE(LScript.contains("\"CLIENTE\""));
    EXPECT_FALSE(LScript.contains(LRealCpf)) << LCommand.join(' ').toStdString();
  }
  const QString LFile = Output("sem-regras.sql");
  const TRun LMissing =
      RunCli({"nfse", "1001", "-o", LFile, "--mask", Output("nao-existe.ini"), "--config", FConfig, "--quiet"});
  EXPECT_EQ(LMissing.ExitCode, 1);
  EXPECT_TRUE(LMissing.Err.contains("ERRO: Arquivo de regras de mascaramento nao encontrado")) << LMissing.Err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(LFile));
  EXPECT_EQ(RunCli({"tables", "--mask", LRules, "--config", FConfig}).ExitCode, 2);
  EXPECT_EQ(RunCli({"nfse", "1001", "-o", LFile, "--mask", LRules, "--mask", LRules, "--config", FConfig}).ExitCode, 2);
}

TEST_F(TCliTest, BadCommandLinesGiveUsageAndExitTwo) {
  const QString LFile = Output("uso.sql");
  const QList<QStringList> LBad = {
      {},
      {"exportar"},
      {"nfse", "1001", "-o", LFile, "--bogus"},
      {"nfse", "-o", LFile},
      {"nfse", "1001"},
      {"nfse", "1001", "1002", "-o", LFile},
      {"nfse", "1001", "-o"},
      {"nfse", "1001", "-o", LFile, "-o", LFile},
      {"tables", "--quiet"},
      {"export", "--key", "NFSID=1", "-o", LFile},
      {"export", "--table", "NFSRES", "-o", LFile},
      {"export", "--table", "NFSRES", "--key", "NFSID", "-o", LFile},
      {"export", "--table", "NFSRES", "--key", "NFSID=1", "--related", "A:B:C", "-o", LFile},
      {"nota", "000123", "--table", "NOTAFI", "-o", LFile},
  };
  for (const QStringList& LArguments : LBad) {
    const TRun LRun = RunCli(LArguments + QStringList{"--config", FConfig});
    EXPECT_EQ(LRun.ExitCode, 2) << LArguments.join(' ').toStdString();
    EXPECT_TRUE(LRun.Err.contains("corvane-cli nfse NFSID -o FILE")) << LArguments.join(' ').toStdString();
  }
  EXPECT_FALSE(QFileInfo::exists(LFile));

  // The NFSID check of the main window, and a blank NOTANUM, before any connection.
  for (const QString& LNFSID : {"0", "-5", "abc", "12a", "9223372036854775808", " "}) {
    const TRun LRun = RunCli({"nfse", LNFSID, "-o", LFile, "--config", FConfig});
    EXPECT_EQ(LRun.ExitCode, 2) << LNFSID.toStdString();
    EXPECT_EQ(LRun.Err, "ERRO: Informe um NFSID válido.\n") << LNFSID.toStdString();
  }
  const TRun LBlank = RunCli({"nota", "   ", "-o", LFile, "--config", FConfig});
  EXPECT_EQ(LBlank.ExitCode, 2);
  EXPECT_EQ(LBlank.Err, "ERRO: Informe o NOTANUM.\n");
  EXPECT_FALSE(QFileInfo::exists(LFile));

  // After "--" a number may begin with a hyphen (and is then simply not found).
  EXPECT_EQ(RunCli({"nota", "-o", LFile, "--config", FConfig, "--quiet", "--", "-12"}).Err,
            "ERRO: Registro nao encontrado em NOTAFI.\n");
}

TEST_F(TCliTest, ReplayPreviewsWritesAndRefusesWhatIsNotAWholeSlice) {
  const QString LScript = Output("nota.sql");
  ASSERT_EQ(RunCli({"nota", "000123", "-o", LScript, "--config", FConfig, "--quiet"}).ExitCode, 0);
  TTestDatabase LTarget("cli-replay", DemoSql(false), "WIN1252");
  const QString LTargetConfig = WriteConfig("destino.ini", "localhost", LTarget.Path());
  auto LNotas = [&LTarget]() {
    auto LConnection = LTarget.Connect("UTF8");
    return QueryRows(*LConnection, "SELECT COUNT(*) FROM NOTAFI");
  };

  // The preview: progress per record, the summary, and nothing written.
  const TRun LPreview = RunCli({"replay", LScript, "--config", LTargetConfig, "--dry-run"});
  ASSERT_EQ(LPreview.ExitCode, 0) << LPreview.Err.toStdString();
  EXPECT_TRUE(LPreview.Out.endsWith("\nResumo: 64 inseridos, 0 alterados, 0 inalterados, 0 divergentes, 0 somente no destino\n"))
      << LPreview.Out.toStdString();
  EXPECT_TRUE(LPreview.Out.contains("\nNOTAFI: 2 inseridos, 0 alterados, 0 inalterados\n")) << LPreview.Out.toStdString();
  EXPECT_TRUE(LPreview.Err.contains(QRegularExpression("\\d\\d - Registro 1: \\w+ \\| \\w+=\\S+ - novo\\.\n")))
      << LPreview.Err.toStdString();
  EXPECT_EQ(LNotas(), QStringList{"0"});

  const TRun LReplay = RunCli({"replay", LScript, "--config", LTargetConfig});
  ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Err.toStdString();
  EXPECT_TRUE(LReplay.Out.endsWith("\nResumo: 64 inseridos, 0 alterados, 0 inalterados, 0 divergentes, 0 somente no destino\n"));
  EXPECT_EQ(LNotas(), QStringList{"2"});
  const TRun LAgain = RunCli({"replay", "--quiet", LScript, "--config=" + LTargetConfig});
  ASSERT_EQ(LAgain.ExitCode, 0) << LAgain.Err.toStdString();
  EXPECT_EQ(LAgain.Err, "");
  EXPECT_EQ(LAgain.Out.split('\n', Qt::SkipEmptyParts).last(),
            "Resumo: 0 inseridos, 0 alterados, 64 inalterados, 0 divergentes, 0 somente no destino");
  // --quiet hides the progress, never what changes: each changed column, old and new.
  LTarget.Execute("UPDATE CIDADE SET CIDNOME = 'Outra' WHERE CIDCOD = (SELECT c.CIDCOD FROM CLIENTE c "
                  "JOIN NOTAFI n ON n.CLICOD = c.CLICOD WHERE n.NOTANUM = '000123');");
  const TRun LChanged = RunCli({"replay", "--quiet", "--dry-run", "--mirror", LScript, "--config", LTargetConfig});
  ASSERT_EQ(LChanged.ExitCode, 0) << LChanged.Err.toStdString();
  EXPECT_TRUE(LChanged.Out.contains(QRegularExpression("\n  alterado: Registro \\d+ \\(CIDADE \\| CIDCOD=\\d+\\)\n"
                                                       "    CIDNOME: Outra -> \\S")))
      << LChanged.Out.toStdString();
  EXPECT_TRUE(LChanged.Out.endsWith("\nResumo: 0 inseridos, 1 alterados, 63 inalterados, 0 divergentes, 0 excluidos\n"))
      << LChanged.Out.toStdString();
  for (const TRun* LRun : {&LPreview, &LReplay, &LAgain, &LChanged})
    EXPECT_FALSE((LRun->Out + LRun->Err).contains(ServerPassword()));

  // A target it cannot write: exit 1, the reason, nothing changed.
  const TRun LSource = RunCli({"replay", LScript, "--config", FConfig, "--quiet"});
  EXPECT_EQ(LSource.ExitCode, 0);
  LTarget.Execute("ALTER TABLE NOTAFI DROP PROTOCOLO;");
  const TRun LDrifted = RunCli({"replay", LScript, "--config", LTargetConfig, "--quiet"});
  EXPECT_EQ(LDrifted.ExitCode, 1);
  EXPECT_EQ(LDrifted.Err, "ERRO: Destino incompativel com o script, nada foi executado: campo NOTAFI.PROTOCOLO "
                          "inexistente.\n");

  // Not a slice, or not a whole one: refused before any connection (this target is unreachable).
  const QString LUnreachable = WriteConfig("inacessivel.ini", "127.0.0.1/1", LTarget.Path());
  const QByteArray LWhole = ReadFileBytes(LScript);
  WriteFileBytes(Output("outro.sql"), "CREATE TABLE T (ID INTEGER);\r\nCOMMIT;\r\n");
  WriteFileBytes(Output("truncado.sql"), LWhole.left(LWhole.lastIndexOf("-- Registros exportados")));
  WriteFileBytes(Output("cortado.sql"), LWhole.left(LWhole.size() / 2));
  for (const char* LFile : {"outro.sql", "truncado.sql", "cortado.sql", "nao-existe.sql"}) {
    const TRun LRun = RunCli({"replay", Output(LFile), "--config", LUnreachable});
    EXPECT_EQ(LRun.ExitCode, 2) << LFile << ": " << LRun.Err.toStdString();
    EXPECT_TRUE(LRun.Err.startsWith("ERRO: ")) << LFile;
    EXPECT_EQ(LRun.Out, "") << LFile;
  }
  EXPECT_EQ(RunCli({"replay", LScript}).ExitCode, 2) << "the target must be named";
}

TEST_F(TCliTest, HelpAndVersion) {
  const TRun LHelp = RunCli({"--help"});
  EXPECT_EQ(LHelp.ExitCode, 0);
  EXPECT_TRUE(LHelp.Out.contains("corvane-cli tables [--config FILE]"));
  const TRun LVersion = RunCli({"--version"});
  EXPECT_EQ(LVersion.ExitCode, 0);
  EXPECT_EQ(LVersion.Out, "corvane-cli 1.0.0\n");
}

}  // namespace

TEST_F(TCliTest, DefinedDocumentsListExportAndLendTheirRelationsToTheReplay) {
  const QString LDocs = FFolder.filePath("documentos.ini");
  WriteFileBytes(LDocs, "[Pedido]\r\nTitulo=Pedido de Venda\r\nTabela=PEDRES\r\nChave=PEDNUM\r\n"
                        "Relacao1=PEDRES:PEDPRO:PEDNUM:PEDNUM\r\n");
  const TRun LList = RunCli({"docs", "--docs", LDocs});
  ASSERT_EQ(LList.ExitCode, 0) << LList.Err.toStdString();
  EXPECT_TRUE(LList.Out.contains("Pedido: Pedido de Venda\n  tabela PEDRES, chave PEDNUM\n  tabelas: PEDRES, PEDPRO\n"))
      << LList.Out.toStdString();
  EXPECT_TRUE(LList.Out.endsWith("Total: 3\n"));

  // Values in the order of the key; a wrong count or an unknown document starts nothing.
  EXPECT_EQ(RunCli({"doc", "Pedido", "5001", "5002", "-o", Output("x.sql"), "--docs", LDocs}).ExitCode, 2);
  EXPECT_EQ(RunCli({"doc", "Pedidos", "5001", "-o", Output("x.sql"), "--docs", LDocs}).ExitCode, 2);
  EXPECT_EQ(RunCli({"export", "--table", "PEDRES", "--key", "PEDNUM=5001", "--related",
                    "PEDRES:PEDPRO:PEDNUM:PEDNUM:1=1) OR (1=1", "-o", Output("x.sql"), "--config", FConfig})
                .ExitCode,
            2);
  EXPECT_FALSE(QFile::exists(Output("x.sql")));
  const QString LFile = Output("Pedido_5001.sql");
  const TRun LExport = RunCli({"doc", "pedido", "5001", "-o", LFile, "--docs", LDocs, "--config", FConfig, "--quiet"});
  ASSERT_EQ(LExport.ExitCode, 0) << LExport.Err.toStdString();
  EXPECT_EQ(ReadFileBytes(LFile).count("UPDATE OR INSERT INTO \"PEDPRO\""), 3);

  // The support database holds an item the customer's order lacks: the replay finds it through
  // the document whose root table the script has, without --doc, and the mirror removes it.
  const TTestDatabase LSupport("cli-doc-support", DemoSql(), "WIN1252");
  LSupport.Execute("INSERT INTO PEDPRO VALUES (5001, 9, 1002, 1, 2.5, 2.5);");
  const QString LTarget = WriteConfig("suporte.ini", "localhost", LSupport.Path());
  const TRun LPreview = RunCli({"replay", LFile, "--config", LTarget, "--docs", LDocs, "--dry-run", "--quiet"});
  ASSERT_EQ(LPreview.ExitCode, 0) << LPreview.Err.toStdString();
  EXPECT_TRUE(LPreview.Out.contains("somente no destino: PEDPRO | PEDNUM=5001, ITEM=9")) << LPreview.Out.toStdString();
  EXPECT_TRUE(LPreview.Out.contains(", 1 somente no destino\n")) << LPreview.Out.toStdString();
  const TRun LMirror = RunCli({"replay", LFile, "--config", LTarget, "--doc", "Pedido", "--docs", LDocs, "--mirror"});
  ASSERT_EQ(LMirror.ExitCode, 0) << LMirror.Err.toStdString();
  EXPECT_TRUE(LMirror.Out.contains(", 1 excluidos\n")) << LMirror.Out.toStdString();
  auto LConnection = LSupport.Connect("UTF8");
  EXPECT_EQ(QueryRows(*LConnection, "SELECT COUNT(*) FROM PEDPRO WHERE PEDNUM = 5001"), QStringList{"3"});
  // A document of another table is refused.
  EXPECT_EQ(RunCli({"replay", LFile, "--config", LTarget, "--doc", "NFSe"}).ExitCode, 2);
}
