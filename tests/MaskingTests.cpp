// Masking of personal data: the generators on their own, and masked exports of the demo ERP
// replayed by isql into an empty database with every foreign key enforced.
#include "Corvane.Documents.h"
#include "Corvane.Errors.h"
#include "Corvane.Masking.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"
#include "TestDatabase.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

QString Masked(TMaskKind aKind, const QString& aSource, int aMaxChars = 0, const QByteArray& aKey = "k") {
  return Masking::Generate(aKind, aSource, Masking::Seed(aKey, aKind, aSource), aMaxChars);
}

// The text with every digit turned into 9: its punctuation and length, for comparing shapes.
QString Shape(QString aText) {
  for (QChar& LChar : aText)
    if (LChar.isDigit()) LChar = u'9';
  return aText;
}

// ---------------------------------------------------------------------------------------
// Generators

TEST(TMaskGenerators, DocumentsAndPhonesKeepTheirShapeAndGetValidCheckDigits) {
  EXPECT_TRUE(Masking::ValidCpf("123.456.789-09"));
  EXPECT_FALSE(Masking::ValidCpf("123.456.789-08"));
  EXPECT_TRUE(Masking::ValidCnpj("11.222.333/0001-81"));
  EXPECT_FALSE(Masking::ValidCnpj("11.222.333/0001-82"));
  for (int I = 0; I < 200; ++I) {
    const QByteArray LKey = QByteArray::number(I);
    for (const QString& LCpf : {QString("123.456.789-09"), QString("12345678909")}) {
      const QString LOut = Masked(TMaskKind::mkCpf, LCpf, 0, LKey);
      EXPECT_TRUE(Masking::ValidCpf(LOut)) << LOut.toStdString();
      EXPECT_EQ(Shape(LOut), Shape(LCpf));
      EXPECT_NE(LOut, LCpf);
      // cpf_cnpj tells them apart by the number of digits.
      EXPECT_TRUE(Masking::ValidCpf(Masked(TMaskKind::mkCpfCnpj, LCpf, 0, LKey)));
    }
    for (const QString& LCnpj : {QString("11.222.333/0001-81"), QString("11222333000181")}) {
      const QString LOut = Masked(TMaskKind::mkCnpj, LCnpj, 0, LKey);
      EXPECT_TRUE(Masking::ValidCnpj(LOut)) << LOut.toStdString();
      EXPECT_EQ(Shape(LOut), Shape(LCnpj));
      EXPECT_TRUE(Masking::ValidCnpj(Masked(TMaskKind::mkCpfCnpj, LCnpj, 0, LKey)));
    }
    const QString LPhone = Masked(TMaskKind::mkTelefone, "(11) 3061-2233", 0, LKey);
    EXPECT_EQ(Shape(LPhone), "(99) 9999-9999");
  }
  // A CPF field holding something else keeps its shape, digits replaced.
  EXPECT_EQ(Shape(Masked(TMaskKind::mkCpf, "123-4")), "999-9");
}

TEST(TMaskGenerators, TextsAreRealisticFitTheirColumnAndKeepEmptyAndCase) {
  const QRegularExpression LEmail(QStringLiteral("^[a-z]+(\\.[a-z]+)?[0-9]*@example\\.com$"));
  for (int I = 0; I < 200; ++I) {
    const QByteArray LKey = QByteArray::number(I);
    for (int LMax : {0, 80, 20, 13}) {
      const QString LMail = Masked(TMaskKind::mkEmail, "compras@paodeacucar-padaria.com.br", LMax, LKey);
      EXPECT_TRUE(LEmail.match(LMail).hasMatch()) << LMail.toStdString();
      if (LMax > 0) EXPECT_LE(LMail.size(), LMax);
    }
    for (TMaskKind LKind : {TMaskKind::mkNome, TMaskKind::mkRazaoSocial, TMaskKind::mkEndereco, TMaskKind::mkTexto})
      for (int LMax : {0, 60, 12, 3, 1}) {
        const QString LOut = Masked(LKind, "Maria José da Conceição, 40", LMax, LKey);
        EXPECT_FALSE(LOut.trimmed().isEmpty()) << MaskKindName(LKind).toStdString();
        if (LMax > 0) EXPECT_LE(LOut.size(), LMax) << LOut.toStdString();
        EXPECT_FALSE(LOut.contains("Concei")) << LOut.toStdString();
      }
    // A name has a given name and one or two surnames; an upper-case source gives upper case.
    const QString LName = Masked(TMaskKind::mkNome, "MARIA JOSE DA CONCEICAO", 0, LKey);
    EXPECT_EQ(LName, LName.toUpper());
    EXPECT_TRUE(LName.count(u' ') == 1 || LName.count(u' ') == 2) << LName.toStdString();
    // Free text keeps the length, never the words.
    EXPECT_EQ(Masked(TMaskKind::mkTexto, "Entregas somente pela manha", 0, LKey).size(), 27);
  }
  for (TMaskKind LKind : {TMaskKind::mkCpf, TMaskKind::mkNome, TMaskKind::mkEmail, TMaskKind::mkTexto,
                          TMaskKind::mkTelefone, TMaskKind::mkEndereco}) {
    EXPECT_EQ(Masked(LKind, ""), "");
    EXPECT_EQ(Masked(LKind, "   "), "   ");
  }
}

TEST(TMaskGenerators, TheKeyedHashDecidesTheValue) {
  // Same key and source: same value, trailing blanks aside (CHAR and VARCHAR sides of a key).
  EXPECT_EQ(Masked(TMaskKind::mkNome, "Ana Lima", 0, "x"), Masked(TMaskKind::mkNome, "Ana Lima   ", 0, "x"));
  EXPECT_EQ(Masked(TMaskKind::mkCpf, "12345678909", 0, "x"), Masked(TMaskKind::mkCpf, "12345678909", 0, "x"));
  // Another key or another source: another value (over many tries, nearly always).
  int LSame = 0;
  for (int I = 0; I < 100; ++I) {
    const QByteArray LKey = QByteArray::number(I);
    LSame += Masked(TMaskKind::mkCpf, "12345678909", 0, LKey) == Masked(TMaskKind::mkCpf, "12345678909", 0, LKey + "b");
    LSame += Masked(TMaskKind::mkCpf, "12345678909", 0, LKey) == Masked(TMaskKind::mkCpf, "98765432100", 0, LKey);
  }
  EXPECT_LE(LSame, 2);
  EXPECT_EQ(Masking::Seed("x", TMaskKind::mkNome, "a", 100).size(), 100);
}

TEST(TMaskRulesFile, RulesAreReadAndMistakesNamed) {
  const TMaskRulesPtr LRules = TMaskRules::Parse(
      "[Mascaramento]\nCliente.Nome = nome\n*.CPF=CPF\n\"Minha\".\"e.mail\"=email\nChave = segredo\n", "r.ini");
  ASSERT_EQ(LRules->Rules().size(), 3);
  EXPECT_EQ(LRules->Rules()[0].Table, "CLIENTE");
  EXPECT_EQ(LRules->Rules()[0].Column, "NOME");
  EXPECT_TRUE(LRules->Rules()[1].Table.isEmpty());
  EXPECT_EQ(LRules->Rules()[1].Kind, TMaskKind::mkCpf);
  EXPECT_EQ(LRules->Rules()[2].Table, "Minha");
  EXPECT_EQ(LRules->Rules()[2].Column, "e.mail");
  EXPECT_EQ(LRules->Key(), "segredo");
  const auto LRefused = [](const QByteArray& aText, const QString& aPart) {
    try {
      TMaskRules::Parse(aText, "r.ini");
      ADD_FAILURE() << "accepted: " << aText.toStdString();
    } catch (const TCorvaneError& aError) {
      EXPECT_TRUE(aError.Message().contains(aPart)) << aError.Message().toStdString();
      EXPECT_TRUE(aError.Message().contains("r.ini")) << aError.Message().toStdString();
    }
  };
  LRefused("[Mascaramento]\nCLIENTE.NOME=apelido\n", "apelido");
  LRefused("[Mascaramento]\nNOME=nome\n", "TABELA.COLUNA");
  LRefused("[Mascaramento]\nChave=x\n", "Nenhuma coluna");
  LRefused("[Outra]\nA.B=nome\n", "[Mascaramento]");
}

// ---------------------------------------------------------------------------------------
// Masked exports of the demo ERP

QString DemoRules() { return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../demo/mascaramento.ini"; }

class TMaskedExport : public ::testing::Test {
protected:
  static void SetUpTestSuite() { GSource = new TTestDatabase("mask-source", DemoSql(), "WIN1252"); }
  static void TearDownTestSuite() {
    delete GSource;
    GSource = nullptr;
  }
  static QByteArray Export(const std::function<ISliceExporterPtr(TDbConnection*)>& aScenario,
                           const TMaskRulesPtr& aRules, const QString& aFile) {
    auto LConnection = GSource->Connect("WIN1252");
    ISliceExporterPtr LExporter = aScenario(LConnection.get());
    LExporter->Masking(aRules);
    LExporter->SaveToFile(aFile);
    return ReadFileBytes(aFile);
  }
  static TTestDatabase* GSource;
};
TTestDatabase* TMaskedExport::GSource = nullptr;

const auto CNFSe1001 = [](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 1001); };
const auto CNFSe1003 = [](TDbConnection* aConnection) { return TNFSeSlice::New(aConnection, 1003); };
const auto CNota123 = [](TDbConnection* aConnection) { return TNotaFiscalSlice::New(aConnection, "000123"); };

TEST_F(TMaskedExport, DemoDocumentsReplayWithValidValuesAndNoRealValueInAnyEncoding) {
  QTemporaryDir LFolder;
  const QString LRulesFile = LFolder.filePath("mascaramento.ini");
  WriteFileBytes(LRulesFile, ReadFileBytes(DemoRules()) + "\nChave=equipe-de-suporte\n");
  const TMaskRulesPtr LRules = TMaskRules::Load(LRulesFile);
  qunsetenv("CORVANE_CHAVE_MASCARA");

  QList<QByteArray> LScripts;
  QStringList LFiles;
  for (const auto& LScenario : {std::function<ISliceExporterPtr(TDbConnection*)>(CNFSe1001), {CNFSe1003}, {CNota123}}) {
    LFiles << LFolder.filePath(QString("slice%1.sql").arg(LFiles.size()));
    LScripts << Export(LScenario, LRules, LFiles.last());
  }
  // The header names the rules file and the kind of key, never the key.
  for (const QByteArray& LScript : LScripts) {
    EXPECT_TRUE(LScript.contains("\r\n-- Dados pessoais mascarados pelas regras de " + LRulesFile.toUtf8() +
                                 " com a chave da equipe.\r\nSET SQL DIALECT 3;"));
    EXPECT_FALSE(LScript.contains("equipe-de-suporte"));
    EXPECT_FALSE(LScript.toHex().toUpper().contains(QByteArray("equipe-de-suporte").toHex().toUpper()));
  }

  // Every real value of a masked column, as text, as WIN1252 hex and as UTF-8 hex.
  auto LConnection = GSource->Connect("UTF8");
  QStringList LReal;
  const QStringList LColumns = {"CLIENTE.NOME", "CLIENTE.NOME_SOCIAL", "CLIENTE.CPF_CNPJ", "CLIENTE.ENDERECO",
                                "CLIENTE.EMAIL", "CLIENTE.TELEFONE", "CLIENTE.OBSERVACOES", "VENDEDOR.VENNOME",
                                "VENDEDOR.CPF", "VENDEDOR.EMAIL", "CLIENTE.INSCRICAO_ESTADUAL"};
  for (const QString& LColumn : LColumns) {
    const QString LTable = LColumn.section('.', 0, 0);
    for (const QString& LValue : QueryRows(*LConnection, "SELECT " + LColumn.section('.', 1) + " FROM " + LTable))
      if (LValue != "<null>" && LValue.trimmed().size() >= 6) LReal << LValue.trimmed();
  }
  ASSERT_GE(LReal.size(), 20);
  QStringEncoder LWin1252("windows-1252");
  for (qsizetype I = 0; I < LScripts.size(); ++I) {
    const QByteArray& LScript = LScripts[I];
    for (const QString& LValue : LReal) {
      const QByteArray LLatin = LWin1252.encode(LValue);
      EXPECT_FALSE(LScript.contains(LValue.toUtf8())) << LValue.toStdString();
      EXPECT_FALSE(LScript.contains(LLatin.toHex().toUpper())) << LValue.toStdString();
      EXPECT_FALSE(LScript.contains(LValue.toUtf8().toHex().toUpper())) << LValue.toStdString();
    }
  }

  // Both documents into one empty database with every foreign key: the masked keys still join.
  TTestDatabase LTarget("mask-replay", DemoSql(false), "WIN1252");
  for (const QString& LFile : LFiles) {
    const TIsqlResult LReplay = LTarget.Replay(LFile);
    ASSERT_EQ(LReplay.ExitCode, 0) << LReplay.Errors.toStdString();
    ASSERT_TRUE(LReplay.Errors.trimmed().isEmpty()) << LReplay.Errors.toStdString();
  }
  auto LReplayed = LTarget.Connect("UTF8");
  EXPECT_EQ(QueryRows(*LReplayed, "SELECT COUNT(*) FROM NOTAFI").value(0), "2");
  const QStringList LClients = QueryRows(
      *LReplayed, "SELECT CLICOD, TIPO_PESSOA, CPF_CNPJ, EMAIL, NOME, TELEFONE, DATA_NASCIMENTO FROM CLIENTE ORDER BY 1");
  ASSERT_EQ(LClients.size(), 2);  // 100 (both documents) and 101
  for (const QString& LRow : LClients) {
    const QStringList LFields = LRow.split('|');
    if (LFields[1] == "J")
      EXPECT_TRUE(Masking::ValidCnpj(LFields[2])) << LRow.toStdString();
    else
      EXPECT_TRUE(Masking::ValidCpf(LFields[2])) << LRow.toStdString();
    EXPECT_EQ(LFields[2].size(), LFields[1] == "J" ? 14 : 11);
    EXPECT_TRUE(LFields[3] == "<null>" || LFields[3].endsWith("@example.com")) << LRow.toStdString();
    EXPECT_EQ(LFields[6], "<null>");
  }
  for (const QString& LCpf : QueryRows(*LReplayed, "SELECT CPF FROM VENDEDOR WHERE CPF IS NOT NULL"))
    EXPECT_TRUE(Masking::ValidCpf(LCpf)) << LCpf.toStdString();
  // The rows that are no one's personal data arrive as they were.
  EXPECT_EQ(QueryRows(*LReplayed, "SELECT COUNT(*) FROM NFSPRO").value(0), "4");

  // The same team key gives the same script; a drawn key gives other values, and says so.
  EXPECT_EQ(Export(CNFSe1001, LRules, LFolder.filePath("again.sql")), LScripts[0]);
  qputenv("CORVANE_CHAVE_MASCARA", "outra-chave");
  const QByteArray LOtherKey = Export(CNFSe1001, LRules, LFolder.filePath("other.sql"));
  qunsetenv("CORVANE_CHAVE_MASCARA");
  EXPECT_NE(LOtherKey, LScripts[0]);
  const QByteArray LRandom = Export(CNFSe1001, TMaskRules::Load(DemoRules()), LFolder.filePath("random.sql"));
  EXPECT_TRUE(LRandom.contains("mascaramento.ini com chave aleatoria desta exportacao.\r\n"));
  EXPECT_NE(LRandom.mid(LRandom.indexOf("SET SQL")), LScripts[0].mid(LScripts[0].indexOf("SET SQL")));
  // Unmasked, the script carries no note at all.
  auto LPlain = GSource->Connect("WIN1252");
  EXPECT_FALSE(TNFSeSlice::New(LPlain.get(), 1001)->Generate().contains("mascarados"));
}

TEST_F(TMaskedExport, RuleSetsThatWouldBreakKeysOrColumnsAreRefusedBeforeAnyRow) {
  const auto LRefused = [](const QByteArray& aRules, const QStringList& aParts) {
    auto LConnection = GSource->Connect("WIN1252");
    ISliceExporterPtr LExporter = TNotaFiscalSlice::New(LConnection.get(), "000123");
    LExporter->Masking(TMaskRules::Parse("[Mascaramento]\n" + aRules, "regras.ini"));
    QStringList LProgress;
    LExporter->Progress([&LProgress](const QString& aMessage) { LProgress << aMessage; });
    try {
      LExporter->Generate();
      ADD_FAILURE() << "accepted: " << aRules.toStdString();
    } catch (const TCorvaneError& aError) {
      for (const QString& LPart : aParts + QStringList{"regras.ini"})
        EXPECT_TRUE(aError.Message().contains(LPart)) << aError.Message().toStdString();
    }
    for (const QString& LMessage : LProgress) EXPECT_FALSE(LMessage.startsWith("Registro ")) << LMessage.toStdString();
  };
  // One side of a foreign key masked, the other not; both masked with different kinds.
  LRefused("BANCO.BANCOD=texto\n", {"FORMA_PAGAMENTO.BANCOD e BANCO.BANCOD", "sem mascaramento e texto"});
  LRefused("BANCO.BANCOD=texto\nFORMA_PAGAMENTO.BANCOD=telefone\n",
           {"FORMA_PAGAMENTO.BANCOD e BANCO.BANCOD", "(telefone e texto)"});
  LRefused("CLIENTE.APELIDO=nome\n", {"CLIENTE.APELIDO", "inexistente"});
  LRefused("CLIENTE.NOME=nulo\n", {"CLIENTE.NOME", "NULL"});
  LRefused("CLIENTE.CLICOD=cpf\n", {"CLIENTE.CLICOD", "texto"});
  LRefused("CLIENTE.CEP=email\n", {"CLIENTE.CEP", "curta"});
}

// A document of the documents file turns masking on with its rules file, found beside it.
TEST_F(TMaskedExport, ADocumentOfTheFileExportsMaskedByItsRules) {
  QTemporaryDir LFolder;
  QDir().mkpath(LFolder.filePath("regras"));
  WriteFileBytes(LFolder.filePath("regras/lgpd.ini"), "[Mascaramento]\nCLIENTE.CPF_CNPJ=cpf_cnpj\nChave=k\n");
  WriteFileBytes(LFolder.filePath("documentos.ini"),
                 "[Cliente]\nTabela=CLIENTE\nChave=CLICOD\nMascaramento=regras/lgpd.ini\n"
                 "[Aberto]\nTabela=CLIENTE\nChave=CLICOD\n");
  const TDocumentRegistry LRegistry = TDocumentRegistry::Load(LFolder.filePath("documentos.ini"));
  auto LConnection = GSource->Connect("WIN1252");
  ISliceExporterPtr LExporter = LRegistry.Find("Cliente")->Configure(LConnection.get());
  const QString LScript = LExporter->Key("CLICOD", TValue::Integer(101))->Generate();
  EXPECT_TRUE(LScript.contains("regras/lgpd.ini com a chave da equipe.")) << LScript.left(400).toStdString();
  EXPECT_FALSE(LScript.contains(QByteArray("12345678909").toHex().toUpper()));
  const QString LPlain = LRegistry.Find("Aberto")->Configure(LConnection.get())->Key("CLICOD", TValue::Integer(101))->Generate();
  EXPECT_TRUE(LPlain.contains(QByteArray("12345678909").toHex().toUpper()));
  // The key is listed among those the file knows.
  WriteFileBytes(LFolder.filePath("outro.ini"), "[X]\nTabela=CLIENTE\nChave=CLICOD\nMascara=a.ini\n");
  try {
    TDocumentRegistry::Load(LFolder.filePath("outro.ini"));
    ADD_FAILURE() << "unknown key accepted";
  } catch (const TCorvaneError& aError) {
    EXPECT_TRUE(aError.Message().contains("Mascaramento)")) << aError.Message().toStdString();
  }
}

// Two keys that mask to one value would merge two rows on replay: the export fails instead.
TEST(TMaskedKeys, TwoKeyValuesMaskedAlikeFailTheExport) {
  QString LSql = "CREATE TABLE T (K VARCHAR(1) NOT NULL PRIMARY KEY);\n"
                 "CREATE TABLE P (PID INTEGER NOT NULL PRIMARY KEY);\n"
                 "CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, PID INTEGER REFERENCES P, K VARCHAR(1) REFERENCES T);\n"
                 "INSERT INTO P VALUES (1);\n";
  // Free text of one character is a capital initial: fewer than 26 of them exist.
  for (int I = 0; I < 26; ++I)
    LSql += QString("INSERT INTO T VALUES ('%1');\nINSERT INTO C VALUES (%2, 1, '%1');\n").arg(QChar('a' + I)).arg(I);
  LSql += "COMMIT;\n";
  TTestDatabase LDatabase("mask-collide", LSql, "WIN1252");
  auto LConnection = LDatabase.Connect("WIN1252");
  ISliceExporterPtr LExporter = TSliceExporter::New(LConnection.get());
  LExporter->Table("P")->Key("PID", TValue::Integer(1))->IncludeChildren("C", "PID", "PID");
  LExporter->Masking(TMaskRules::Parse("[Mascaramento]\n*.K=texto\nChave=x\n", "k.ini"));
  try {
    LExporter->Generate();
    ADD_FAILURE() << "two keys merged";
  } catch (const TCorvaneError& aError) {
    EXPECT_TRUE(aError.Message().contains(".K ao mesmo valor")) << aError.Message().toStdString();
  }
}

}  // namespace
