// Hostile input: key values that look like SQL stay parameters, identifiers of every shape
// are quoted so that the script replays, settings files full of garbage give the documented
// messages or defaults and never a crash, and the password shows up nowhere.
#include "Corvane.Errors.h"
#include "Corvane.Exporter.h"
#include "Corvane.Literals.h"
#include "ExportObservation.h"
#include "TestDatabase.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

const auto* const GEnvironment = ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

// Literal bytes with their embedded zeros, without the terminating one.
template <std::size_t N>
QByteArray Bytes(const char (&aText)[N]) {
  return QByteArray(aText, qsizetype(N - 1));
}

// The message of a failed export, or the script of a successful one.
struct TExportResult {
  QString Script;
  QString Error;
};

TExportResult Export(const std::function<void(ISliceExporter&)>& aConfigure, TDbConnection& aConnection) {
  TExportResult LResult;
  try {
    ISliceExporterPtr LExporter = TSliceExporter::New(&aConnection);
    aConfigure(*LExporter);
    LResult.Script = LExporter->Generate();
  } catch (const TCorvaneError& aError) {
    LResult.Error = aError.Message();
  }
  return LResult;
}

// ---------------------------------------------------------------------------------------
// Key values

const char* const CKeySchema = R"SQL(
CREATE TABLE CHAVE (K VARCHAR(80) NOT NULL PRIMARY KEY, V INTEGER);
COMMIT;
INSERT INTO CHAVE VALUES ('O''Brien; DROP TABLE CHAVE; --', 1);
INSERT INTO CHAVE VALUES (':P0', 2);
INSERT INTO CHAVE VALUES ('/* nada */ '' OR 1=1 --', 3);
INSERT INTO CHAVE VALUES ('a"b" = :P1', 4);
INSERT INTO CHAVE VALUES ('comum', 5);
)SQL";

class THostileKeyTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GDatabase = new TTestDatabase("hostile-keys", CKeySchema); }
  static void TearDownTestSuite() {
    delete GDatabase;
    GDatabase = nullptr;
  }
  static TTestDatabase* GDatabase;
};
TTestDatabase* THostileKeyTest::GDatabase = nullptr;

TEST_F(THostileKeyTest, KeysThatLookLikeSqlFindExactlyTheirRow) {
  auto LConnection = GDatabase->Connect("UTF8");
  const TSqlLiterals LLiterals("UTF8");
  for (const char* LKey : {"O'Brien; DROP TABLE CHAVE; --", ":P0", "/* nada */ ' OR 1=1 --", "a\"b\" = :P1"}) {
    const TExportResult LResult =
        Export([&](ISliceExporter& aExporter) { aExporter.Table("CHAVE")->Key("K", TValue::Text(LKey)); }, *LConnection);
    ASSERT_EQ(LResult.Error.toStdString(), "") << LKey;
    EXPECT_EQ(LResult.Script.count("UPDATE OR INSERT INTO"), 1) << LKey;
    EXPECT_TRUE(LResult.Script.contains("VALUES (" + LLiterals.TextLiteral(LKey) + ", ")) << LKey;
  }
}

TEST_F(THostileKeyTest, KeysThatWouldWidenAQueryFindNothing) {
  auto LConnection = GDatabase->Connect("UTF8");
  for (const char* LKey : {"x' OR '1'='1", "comum' --", "'; DELETE FROM CHAVE; --", ":P0 OR 1=1", "comum /*", "?"}) {
    const TExportResult LResult =
        Export([&](ISliceExporter& aExporter) { aExporter.Table("CHAVE")->Key("K", TValue::Text(LKey)); }, *LConnection);
    EXPECT_EQ(LResult.Error.toStdString(), "Registro nao encontrado em CHAVE.") << LKey;
  }
  // A column name cannot smuggle a condition in either: it is one quoted identifier.
  const TExportResult LColumn = Export(
      [](ISliceExporter& aExporter) { aExporter.Table("CHAVE")->Key("K\" = 'comum' OR \"K", TValue::Text("x")); },
      *LConnection);
  EXPECT_TRUE(LColumn.Script.isEmpty());
  EXPECT_TRUE(LColumn.Error.contains("Column unknown", Qt::CaseInsensitive)) << LColumn.Error.toStdString();
  EXPECT_EQ(QueryRows(*LConnection, "SELECT COUNT(*) FROM CHAVE"), QStringList{"5"});
  // The server's message names the column as given, whatever the connection's set.
  for (const char* LSet : {"WIN1252", "UTF8"}) {
    auto LOther = GDatabase->Connect(LSet);
    const TExportResult LAccented = Export(
        [](ISliceExporter& aExporter) { aExporter.Table("CHAVE")->Key("DESCRIÇÃO", TValue::Text("x")); }, *LOther);
    EXPECT_TRUE(LAccented.Error.contains(QString::fromUtf8("DESCRIÇÃO"))) << LSet << ": " << LAccented.Error.toStdString();
  }
}

TEST_F(THostileKeyTest, CommandLineKeysStayValues) {
  QTemporaryDir LFolder;
  const QString LConfig = LFolder.filePath("config.ini");
  WriteFileBytes(LConfig, QString("[Firebird]\nUserName=%1\nPassword=%2\nCharacterSet=UTF8\n[BANCO]\nCAMINHO=%3\n")
                              .arg(ServerUser(), ServerPassword(), GDatabase->Path())
                              .toUtf8());
  const QString LFile = LFolder.filePath("chave.sql");
  const TCliRun LFound = RunCliProgram(
      {"export", "--table", "CHAVE", "--key", "K=O'Brien; DROP TABLE CHAVE; --", "-o", LFile, "--config", LConfig, "--quiet"});
  EXPECT_EQ(LFound.ExitCode, 0) << LFound.Err.toStdString();
  EXPECT_EQ(QString::fromUtf8(ReadFileBytes(LFile)).count("UPDATE OR INSERT INTO"), 1);
  const TCliRun LMissing = RunCliProgram(
      {"export", "--table", "CHAVE", "--key", "K=x' OR '1'='1", "-o", LFile + "2", "--config", LConfig, "--quiet"});
  EXPECT_EQ(LMissing.ExitCode, 1);
  EXPECT_EQ(LMissing.Err.trimmed(), "ERRO: Registro nao encontrado em CHAVE.");
  EXPECT_FALSE(QFileInfo::exists(LFile + "2"));
}

// ---------------------------------------------------------------------------------------
// Identifiers

const char* const CIdentifierSchema = R"SQL(
CREATE TABLE "Cliente ""VIP""" ("código" INTEGER NOT NULL PRIMARY KEY, "nome completo" VARCHAR(40), "Select" INTEGER);
CREATE TABLE "pedido" ("id" INTEGER NOT NULL PRIMARY KEY, "Cliente" INTEGER,
  CONSTRAINT "fk pedido cliente" FOREIGN KEY ("Cliente") REFERENCES "Cliente ""VIP""" ("código"));
CREATE TABLE "itens do pedido" ("pedido id" INTEGER NOT NULL, " nº" INTEGER NOT NULL, "a""b" VARCHAR(10),
  "Cliente" INTEGER,
  CONSTRAINT "pk itens" PRIMARY KEY ("pedido id", " nº"),
  CONSTRAINT "fk item cliente" FOREIGN KEY ("Cliente") REFERENCES "Cliente ""VIP""" ("código"));
)SQL";

const char* const CIdentifierData = R"SQL(
INSERT INTO "Cliente ""VIP""" VALUES (1, 'Ana', 10);
INSERT INTO "Cliente ""VIP""" VALUES (2, 'Bia "B"', 20);
INSERT INTO "Cliente ""VIP""" VALUES (3, 'fora do documento', 30);
INSERT INTO "pedido" VALUES (7, 1);
INSERT INTO "pedido" VALUES (8, 3);
INSERT INTO "itens do pedido" VALUES (7, 1, 'x"y', 2);
INSERT INTO "itens do pedido" VALUES (7, 2, 'z', NULL);
INSERT INTO "itens do pedido" VALUES (8, 1, 'w', 3);
)SQL";

TEST(HostileIdentifiers, QuotesBlanksAndLowerCaseAreQuotedAndTheScriptReplays) {
  TTestDatabase LSource("hostile-names", QString(CIdentifierSchema) + "COMMIT;\n" + CIdentifierData);
  TTestDatabase LTarget("hostile-names-target", CIdentifierSchema);
  auto LConnection = LSource.Connect("WIN1252");
  QTemporaryDir LFolder;
  const QString LFile = LFolder.filePath("pedido.sql");
  ISliceExporterPtr LExporter = TSliceExporter::New(LConnection.get());
  LExporter->Table("pedido")
      ->Key("id", TValue::Integer(7))
      ->IncludeRelated("pedido", "itens do pedido", "\"pedido id\"", "id", "");
  ASSERT_NO_THROW(LExporter->SaveToFile(LFile));

  const TIsqlResult LReplay = LTarget.Replay(LFile);
  ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
  EXPECT_EQ(LReplay.Errors.trimmed(), "");
  auto LReplayed = LTarget.Connect("WIN1252");
  EXPECT_EQ(QueryRows(*LReplayed, "SELECT * FROM \"Cliente \"\"VIP\"\"\" ORDER BY 1"),
            QueryRows(*LConnection, "SELECT * FROM \"Cliente \"\"VIP\"\"\" WHERE \"código\" < 3 ORDER BY 1"));
  EXPECT_EQ(QueryRows(*LReplayed, "SELECT * FROM \"pedido\" ORDER BY 1"),
            QueryRows(*LConnection, "SELECT * FROM \"pedido\" WHERE \"id\" = 7 ORDER BY 1"));
  EXPECT_EQ(QueryRows(*LReplayed, "SELECT * FROM \"itens do pedido\" ORDER BY 1, 2"),
            QueryRows(*LConnection, "SELECT * FROM \"itens do pedido\" WHERE \"pedido id\" = 7 ORDER BY 1, 2"));
}

// ---------------------------------------------------------------------------------------
// Settings files and the password

const QString CMissingPath = QStringLiteral("Configure [BANCO] CAMINHO no config.ini ao lado do executavel.");

class THostileSettingsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GDemo = new TTestDatabase("hostile-settings", DemoSql(), "WIN1252"); }
  static void TearDownTestSuite() {
    delete GDemo;
    GDemo = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(FFolder.isValid()); }

  QByteArray Settings(const QByteArray& aPassword, const QByteArray& aExtra = {}) const {
    return "[Firebird]\nUserName=" + ServerUser().toUtf8() + "\nPassword=" + aPassword + "\n" + aExtra +
           "[BANCO]\nCAMINHO=" + GDemo->Path().toUtf8() + "\n";
  }
  // corvane-cli nota 000125 with these settings, progress shown. Never a crash, never
  // another exit status than success or failure.
  TCliRun Nota(const QByteArray& aSettings) {
    const QString LConfig = FFolder.filePath("config.ini");
    WriteFileBytes(LConfig, aSettings);
    QFile::remove(Output());
    const TCliRun LRun = RunCliProgram({"nota", "000125", "-o", Output(), "--config", LConfig});
    EXPECT_FALSE(LRun.Crashed) << LRun.Err.toStdString();
    EXPECT_TRUE(LRun.ExitCode == 0 || LRun.ExitCode == 1) << LRun.ExitCode;
    if (LRun.ExitCode != 0) EXPECT_FALSE(QFileInfo::exists(Output()));
    return LRun;
  }
  QString Output() const { return FFolder.filePath("nota.sql"); }
  static QString LastLine(const TCliRun& aRun) { return aRun.Err.trimmed().section('\n', -1); }

  static TTestDatabase* GDemo;
  QTemporaryDir FFolder;
};
TTestDatabase* THostileSettingsTest::GDemo = nullptr;

TEST_F(THostileSettingsTest, GarbageGivesTheDocumentedMessagesOrDefaults) {
  QRandomGenerator LRandom(7);
  QByteArray LBinary(64 * 1024, '\0');
  for (char& LByte : LBinary) LByte = char(LRandom.bounded(256));
  EXPECT_EQ(LastLine(Nota(LBinary)), "ERRO: " + CMissingPath);
  EXPECT_EQ(LastLine(Nota(Bytes("\xFF\xFE[\0B\0") + LBinary)), "ERRO: " + CMissingPath);
  EXPECT_EQ(LastLine(Nota("[Firebird]\nPassword=x\n[SERVER]\nSERVER_NAME=localhost\n")), "ERRO: " + CMissingPath);
  EXPECT_EQ(LastLine(Nota(Settings(ServerPassword().toUtf8(), Bytes("[PROTOCOL]\nPROTOCOL_NAME=\x01\xFF\0tcp\n")))),
            "ERRO: PROTOCOL_NAME invalido. Use TCPIP, Local ou NetBEUI.");

  // A huge line of garbage between valid lines, and binary bytes in unknown keys, change nothing.
  const QByteArray LHugeLine = "LIXO=" + QByteArray(16 * 1024 * 1024, '\x07') + "\n";
  EXPECT_EQ(Nota(Settings(ServerPassword().toUtf8(), LHugeLine + Bytes("X\0Y=\x80\x81\n[SEM FIM\n[Firebird]\n"))).ExitCode, 0);
  EXPECT_TRUE(ReadFileBytes(Output()).endsWith("COMMIT;\r\n"));

  // A database path too long for the client library is refused, not truncated.
  const QByteArray LLongPath = "[BANCO]\nCAMINHO=/" + QByteArray(40000, 'p') + ".fdb\n";
  EXPECT_EQ(LastLine(Nota(LLongPath)), "ERRO: Caminho do banco de dados longo demais");

  // Without [Firebird] the defaults apply: SYSDBA, the default password, WIN1252.
  const TCliRun LDefaults = Nota("[BANCO]\nCAMINHO=" + GDemo->Path().toUtf8() + "\n");
  if (ServerPassword() == "plumvaxer" && ServerUser() == "SYSDBA")
    EXPECT_EQ(LDefaults.ExitCode, 0) << LDefaults.Err.toStdString();
  else
    EXPECT_EQ(LDefaults.ExitCode, 1);
}

TEST_F(THostileSettingsTest, ThePasswordAppearsInNoLogLineMessageOrScript) {
  const QString LSecret = QStringLiteral("Senha#Secreta-9137");
  // Refused by the server.
  const TCliRun LRefused = Nota(Settings(LSecret.toUtf8()));
  EXPECT_EQ(LRefused.ExitCode, 1);
  EXPECT_FALSE((LRefused.Out + LRefused.Err).contains(LSecret)) << LRefused.Err.toStdString();
  // Too long for the attachment block.
  const QString LLong = LSecret + QString(300, QLatin1Char('k'));
  const TCliRun LTooLong = Nota(Settings(LLong.toUtf8()));
  EXPECT_EQ(LastLine(LTooLong), "ERRO: Valor longo demais para o bloco de parametros: Password");
  EXPECT_FALSE((LTooLong.Out + LTooLong.Err).contains(LSecret));
  // A wrong character set next to the password.
  const TCliRun LCharset = Nota(Settings(LSecret.toUtf8(), "CharacterSet=KLINGON\n"));
  EXPECT_EQ(LCharset.ExitCode, 1);
  EXPECT_FALSE((LCharset.Out + LCharset.Err).contains(LSecret));

  // Accepted: neither the log lines nor the script carry it.
  const TCliRun LAccepted = Nota(Settings(ServerPassword().toUtf8()));
  ASSERT_EQ(LAccepted.ExitCode, 0) << LAccepted.Err.toStdString();
  EXPECT_GT(LAccepted.Err.count('\n'), 3) << "progress lines are logged";
  EXPECT_FALSE((LAccepted.Out + LAccepted.Err).contains(ServerPassword()));
  EXPECT_FALSE(ReadFileBytes(Output()).contains(ServerPassword().toUtf8()));

  // The background task: progress and completion.
  QString LParams = GDemo->Params();
  LParams.replace("Password=" + ServerPassword(), "Password=" + LSecret);
  TTaskOutcome LOutcome;
  TSliceExportTask::RunNotaFiscal(LParams, "000125", Output(), LOutcome.Completed(), LOutcome.ProgressCallback());
  ASSERT_TRUE(LOutcome.Wait());
  EXPECT_FALSE(LOutcome.ErrorMessage.isEmpty());
  EXPECT_FALSE((LOutcome.Progress.join("\n") + LOutcome.ErrorMessage).contains(LSecret));
}

}  // namespace
