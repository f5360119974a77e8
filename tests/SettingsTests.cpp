// The INI reader on its own, and the connection settings read from config.ini: defaults,
// normalisations, refusals, the retry after a failed read and the shared connection.
#include "Corvane.Connection.h"
#include "Corvane.Errors.h"
#include "Corvane.IniFile.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Corvane;
using namespace Corvane::Testing;

namespace {

// ---------------------------------------------------------------------------------------
// INI reader

TEST(TIniFile, NamesIgnoreCaseAbsentGivesDefaultPresentButEmptyGivesEmpty) {
  const TIniFile LIni = TIniFile::Parse("[Banco]\nCaminho=C:\\dados\\base.fdb\nVazio=\n[SERVER]\nSERVER_NAME=srv\n");
  EXPECT_EQ(LIni.ReadString("BANCO", "CAMINHO", "x"), "C:\\dados\\base.fdb");
  EXPECT_EQ(LIni.ReadString("banco", "caminho", "x"), "C:\\dados\\base.fdb");
  EXPECT_EQ(LIni.ReadString("server", "server_name"), "srv");
  EXPECT_EQ(LIni.ReadString("BANCO", "Vazio", "padrao"), "");
  EXPECT_TRUE(LIni.HasKey("banco", "VAZIO"));
  EXPECT_EQ(LIni.ReadString("BANCO", "Ausente", "padrao"), "padrao");
  EXPECT_EQ(LIni.ReadString("Outra", "CAMINHO", "padrao"), "padrao");
  EXPECT_FALSE(LIni.HasSection("Outra"));
  // A key of one section is not found in another.
  EXPECT_EQ(LIni.ReadString("SERVER", "CAMINHO", "padrao"), "padrao");
}

TEST(TIniFile, BlanksAroundNamesAndValuesDropOneMatchingPairOfQuotesGoes) {
  const TIniFile LIni = TIniFile::Parse(
      "  [ Firebird ]  \n"
      "\tPassword \t=  segredo com espaco  \t\n"
      "Duplas=\"  entre aspas  \"\n"
      "Simples='valor'\n"
      "Misturadas=\"valor'\n"
      "Internas=a\"b\"c\n"
      "SoUma=\"\n"
      "Vazias=\"\"\n"
      "Dobradas=\"\"x\"\"\n"
      "Igual=a=b=c\n"
      "Inline=valor ; nao e comentario\n");
  EXPECT_EQ(LIni.ReadString("Firebird", "Password"), "segredo com espaco");
  EXPECT_EQ(LIni.ReadString("Firebird", "Duplas"), "  entre aspas  ");
  EXPECT_EQ(LIni.ReadString("Firebird", "Simples"), "valor");
  EXPECT_EQ(LIni.ReadString("Firebird", "Misturadas"), "\"valor'");
  EXPECT_EQ(LIni.ReadString("Firebird", "Internas"), "a\"b\"c");
  EXPECT_EQ(LIni.ReadString("Firebird", "SoUma"), "\"");
  EXPECT_EQ(LIni.ReadString("Firebird", "Vazias", "padrao"), "");
  EXPECT_EQ(LIni.ReadString("Firebird", "Dobradas"), "\"x\"");
  EXPECT_EQ(LIni.ReadString("Firebird", "Igual"), "a=b=c");
  // The profile functions know no comments after a value.
  EXPECT_EQ(LIni.ReadString("Firebird", "Inline"), "valor ; nao e comentario");
}

TEST(TIniFile, CommentsStrayLinesAndRepeatsFollowTheProfileRules) {
  const TIniFile LIni = TIniFile::Parse(
      "Antes=fora de secao\n"
      "; [BANCO]\n"
      "# CAMINHO=comentado\n"
      "[BANCO]\n"
      "   ; CAMINHO=comentado tambem\n"
      "linha sem igual\n"
      "=sem nome\n"
      "CAMINHO=primeiro\n"
      "caminho=segundo\n"
      "[Outra]\n"
      "CAMINHO=de outra secao\n"
      "[banco]\n"
      "CAMINHO=terceiro\n"
      "USUARIO=da repeticao\n"
      "[Sem fechamento\n"
      "Chave=valor\n");
  EXPECT_EQ(LIni.ReadString("BANCO", "CAMINHO"), "primeiro");
  EXPECT_EQ(LIni.ReadString("BANCO", "USUARIO"), "da repeticao");
  EXPECT_FALSE(LIni.HasKey("BANCO", ""));
  EXPECT_EQ(LIni.ReadString("Outra", "CAMINHO"), "de outra secao");
  EXPECT_EQ(LIni.ReadString("Sem fechamento", "Chave"), "valor");
  EXPECT_EQ(LIni.Sections(), (QStringList{"BANCO", "Outra", "Sem fechamento"}));
}

TEST(TIniFile, EncodingsAndLineEndings) {
  // UTF-8 with byte-order mark: the first section header is still recognised.
  const TIniFile LBom = TIniFile::Parse("\xEF\xBB\xBF[BANCO]\r\nCAMINHO=/dados/a\xC3\xA7\xC3\xA3o.fdb\r\n");
  EXPECT_EQ(LBom.ReadString("BANCO", "CAMINHO"), QString::fromUtf8("/dados/a\xC3\xA7\xC3\xA3o.fdb"));
  // Old Mac line ends.
  const TIniFile LCr = TIniFile::Parse("[A]\rX=1\rY=2\r");
  EXPECT_EQ(LCr.ReadString("A", "Y"), "2");
  // An ANSI file from Windows (not valid UTF-8) keeps its accents.
  const TIniFile LAnsi = TIniFile::Parse("[BANCO]\nCAMINHO=C:\\a\xE7\xE3o.fdb\n");
  EXPECT_EQ(LAnsi.ReadString("BANCO", "CAMINHO"), QString::fromUtf8("C:\\a\xC3\xA7\xC3\xA3o.fdb"));
  // Notepad's "Unicode": UTF-16 little-endian with its byte-order mark.
  const QString LText = QStringLiteral("[BANCO]\r\nCAMINHO=C:\\base.fdb\r\n");
  QByteArray LUtf16("\xFF\xFE", 2);
  LUtf16.append(reinterpret_cast<const char*>(LText.utf16()), LText.size() * 2);
  EXPECT_EQ(TIniFile::Parse(LUtf16).ReadString("BANCO", "CAMINHO"), "C:\\base.fdb");
}

TEST(TIniFile, GarbageBinaryAndHugeInputNeverBreakIt) {
  QRandomGenerator LRandom(20240305);
  for (int LRound = 0; LRound < 200; ++LRound) {
    QByteArray LBytes(LRandom.bounded(2000), '\0');
    for (char& LByte : LBytes) {
      // Mostly the characters the parser cares about, to reach every branch.
      static const char CAlphabet[] = "[]=;#\"' \t\r\nAbc\0\xEF\xBB\xBF\xFF\xFE\xC3";
      LByte = LRandom.bounded(4) == 0 ? char(LRandom.bounded(256)) : CAlphabet[LRandom.bounded(int(sizeof CAlphabet - 1))];
    }
    const TIniFile LIni = TIniFile::Parse(LBytes);
    for (const QString& LSection : LIni.Sections()) LIni.ReadString(LSection, "Abc");
  }
  EXPECT_TRUE(TIniFile::Parse({}).Sections().isEmpty());
  EXPECT_TRUE(TIniFile::Parse(QByteArray("\0\0[\0]=\0", 8)).Sections().size() <= 1);

  const QByteArray LHuge = "[S]\nK=" + QByteArray(8 * 1024 * 1024, 'x') + "\n" + QByteArray(4 * 1024 * 1024, '[');
  EXPECT_EQ(TIniFile::Parse(LHuge).ReadString("S", "K").size(), 8 * 1024 * 1024);
}

// ---------------------------------------------------------------------------------------
// Connection settings

class TSettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFolder.isValid());
    TSliceConnection::Release();
    TSliceConnection::SetConfigFile(FFolder.filePath("config.ini"));
  }
  void TearDown() override {
    TSliceConnection::Release();
    TSliceConnection::SetConfigFile({});
  }
  void WriteConfig(const QByteArray& aText) { WriteFileBytes(FFolder.filePath("config.ini"), aText); }
  static QStringList Lines() {
    QStringList LLines = TSliceConnection::Instance().ExportParameters().split("\r\n");
    EXPECT_EQ(LLines.last(), "") << "every line ends with CR LF";
    LLines.removeLast();
    return LLines;
  }
  static QString InstanceError() {
    try {
      TSliceConnection::Instance();
    } catch (const TCorvaneError& aError) {
      return aError.Message();
    }
    return {};
  }
  QTemporaryDir FFolder;
};

const QString CInvalidProtocol = "PROTOCOL_NAME invalido. Use TCPIP, Local ou NetBEUI.";
const QString CMissingPath = "Configure [BANCO] CAMINHO no config.ini ao lado do executavel.";

TEST_F(TSettingsTest, OnlyTheDatabasePathGivesEveryDefaultInOrder) {
  WriteConfig("[BANCO]\r\nCAMINHO=C:\\dados\\base.fdb\r\n");
  EXPECT_EQ(Lines(), (QStringList{"DriverID=FB", "Protocol=TCPIP", "Server=localhost", "Database=C:\\dados\\base.fdb",
                                  "User_Name=SYSDBA", "Password=plumvaxer", "CharacterSet=WIN1252"}));
  EXPECT_EQ(TFbClient::LibraryName(), "fbclient.dll");
}

TEST_F(TSettingsTest, ServerAndProtocolAreNormalised) {
  struct TCase {
    QByteArray Ini;
    QString Server;
    QString Protocol;
  };
  const QList<TCase> LCases = {
      {"[SERVER]\nSERVER_NAME= local \n", "localhost", "TCPIP"},
      {"[SERVER]\nSERVER_NAME=\n", "localhost", "TCPIP"},
      {"[SERVER]\nSERVER_NAME=LoCaL\n", "localhost", "TCPIP"},
      {"[SERVER]\nSERVER_NAME=srvdados\n", "srvdados", "TCPIP"},
      {"[SERVER]\nSERVER_NAME=192.168.0.10/3051\n", "192.168.0.10/3051", "TCPIP"},
      {"[PROTOCOL]\nPROTOCOL_NAME=netbeui\n", "localhost", "NETBEUI"},
      {"[PROTOCOL]\nPROTOCOL_NAME=Local\n", "localhost", "LOCAL"},
      {"[PROTOCOL]\nPROTOCOL_NAME= tcpip \n", "localhost", "TCPIP"},
      {"[PROTOCOL]\nPROTOCOL_NAME=\n", "localhost", "TCPIP"},
  };
  for (const TCase& LCase : LCases) {
    TSliceConnection::Release();
    WriteConfig("[BANCO]\nCAMINHO=/dados/base.fdb\n" + LCase.Ini);
    const QStringList LLines = Lines();
    EXPECT_EQ(LLines.value(1), "Protocol=" + LCase.Protocol) << LCase.Ini.toStdString();
    EXPECT_EQ(LLines.value(2), "Server=" + LCase.Server) << LCase.Ini.toStdString();
  }
}

TEST_F(TSettingsTest, AnUnknownProtocolFailsAndAMendedFileIsReadAtTheNextAttempt) {
  WriteConfig("[PROTOCOL]\nPROTOCOL_NAME=TCP/IP\n[BANCO]\nCAMINHO=/dados/base.fdb\n[Firebird]\nVendorLib=/outra/lib.so\n");
  const QString LLibraryBefore = TFbClient::LibraryName();
  EXPECT_EQ(InstanceError(), CInvalidProtocol);
  EXPECT_EQ(InstanceError(), CInvalidProtocol) << "a failed read is not remembered";
  // A failed read leaves the process-wide client library alone.
  EXPECT_EQ(TFbClient::LibraryName(), LLibraryBefore);

  WriteConfig("[PROTOCOL]\nPROTOCOL_NAME=NetBEUI\n[BANCO]\nCAMINHO=/dados/base.fdb\n");
  EXPECT_EQ(InstanceError(), "");
  EXPECT_EQ(Lines().value(1), "Protocol=NETBEUI");
}

TEST_F(TSettingsTest, SectionsAndKeysInAnotherCaseAreFoundAndKeysOnlyCountInTheirOwnSection) {
  WriteConfig("[banco]\ncaminho=/dados/base.fdb\nSERVER_NAME=errado\nUserName=errado\n"
              "[firebird]\nusername=operador\ncharacterset=utf8\n[server]\nserver_name=srv\n");
  EXPECT_EQ(Lines(), (QStringList{"DriverID=FB", "Protocol=TCPIP", "Server=srv", "Database=/dados/base.fdb",
                                  "User_Name=operador", "Password=plumvaxer", "CharacterSet=utf8"}));
}

TEST_F(TSettingsTest, EmptyValuesLeaveTheirLinesOutAndValuesAreTrimmed) {
  WriteConfig("[Firebird]\nUserName=\nPassword=\"\"\nCharacterSet=\n[BANCO]\nCAMINHO=  \"/dados/com espaco.fdb\"  \n");
  EXPECT_EQ(Lines(), (QStringList{"DriverID=FB", "Protocol=TCPIP", "Server=localhost", "Database=/dados/com espaco.fdb"}));
}

TEST_F(TSettingsTest, WithoutDatabasePathTheReadSucceedsButEveryUseIsRefused) {
  WriteConfig("[Firebird]\nUserName=SYSDBA\n[BANCO]\nCAMINHO=\n");
  EXPECT_EQ(InstanceError(), "");
  for (int LAttempt = 0; LAttempt < 2; ++LAttempt) {
    try {
      TSliceConnection::Instance().ExportParameters();
      ADD_FAILURE() << "ExportParameters accepted an empty path";
    } catch (const TCorvaneError& aError) {
      EXPECT_EQ(aError.Message(), CMissingPath);
    }
    try {
      TSliceConnection::Instance().Connection();
      ADD_FAILURE() << "Connection accepted an empty path";
    } catch (const TCorvaneError& aError) {
      EXPECT_EQ(aError.Message(), CMissingPath);
    }
  }
  // Read once per process: mending the file does not help until the settings are read again.
  WriteConfig("[BANCO]\nCAMINHO=/dados/base.fdb\n");
  EXPECT_THROW(TSliceConnection::Instance().ExportParameters(), TCorvaneError);
}

TEST_F(TSettingsTest, AMissingFileIsNamedWithItsFullPath) {
  EXPECT_EQ(InstanceError(), "Arquivo de configuracao nao encontrado: " + FFolder.filePath("config.ini"));

  // A relative name is reported as the absolute path it stands for.
  TSliceConnection::SetConfigFile("nao-existe/config.ini");
  EXPECT_EQ(InstanceError(), "Arquivo de configuracao nao encontrado: " + QDir::current().absoluteFilePath("nao-existe/config.ini"));

  // By default the file lies beside the running executable.
  TSliceConnection::SetConfigFile({});
  const QString LExecutableFolder = QFileInfo(QFileInfo("/proc/self/exe").symLinkTarget()).absolutePath();
  EXPECT_EQ(TSliceConnection::ConfigFile(), LExecutableFolder + "/config.ini");
  if (!QFileInfo::exists(LExecutableFolder + "/config.ini"))
    EXPECT_EQ(InstanceError(), "Arquivo de configuracao nao encontrado: " + LExecutableFolder + "/config.ini");

  // A folder of that name is no settings file either.
  QDir(FFolder.path()).mkdir("pasta.ini");
  TSliceConnection::SetConfigFile(FFolder.filePath("pasta.ini"));
  EXPECT_EQ(InstanceError(), "Arquivo de configuracao nao encontrado: " + FFolder.filePath("pasta.ini"));
}

TEST_F(TSettingsTest, TheFileIsReadOnceAndTheObjectKept) {
  WriteConfig("[BANCO]\nCAMINHO=/dados/primeiro.fdb\n");
  TSliceConnection* LFirst = &TSliceConnection::Instance();
  WriteConfig("[BANCO]\nCAMINHO=/dados/segundo.fdb\n");
  EXPECT_EQ(&TSliceConnection::Instance(), LFirst);
  EXPECT_EQ(Lines().value(3), "Database=/dados/primeiro.fdb");
  // After a release (program restart) the new content counts.
  TSliceConnection::Release();
  EXPECT_EQ(Lines().value(3), "Database=/dados/segundo.fdb");
}

TEST_F(TSettingsTest, TheSharedConnectionOpensOnceReadOnlySnapshotWithoutLoginPrompt) {
  TTestDatabase LDatabase("settings", "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY);");
  WriteConfig("[Firebird]\nUserName=" + ServerUser().toUtf8() + "\nPassword=" + ServerPassword().toUtf8() +
              "\n[BANCO]\nCAMINHO=" + LDatabase.Path().toUtf8() + "\n");
  TDbConnection& LConnection = TSliceConnection::Instance().Connection();
  EXPECT_TRUE(LConnection.IsOpen());
  EXPECT_FALSE(LConnection.LoginPrompt());
  EXPECT_TRUE(LConnection.ReadOnly());
  EXPECT_EQ(LConnection.Isolation(), TIsolation::tiSnapshot);
  EXPECT_EQ(&TSliceConnection::Instance().Connection(), &LConnection);
  EXPECT_TRUE(TFbClient::Started());
}

TEST_F(TSettingsTest, AnUnreachableServerFailsEachTimeWithoutRevealingThePassword) {
  const QByteArray LPassword = "Segredo#Unico-4711";
  WriteConfig("[SERVER]\nSERVER_NAME=127.0.0.1/1\n[Firebird]\nPassword=" + LPassword +
              "\n[BANCO]\nCAMINHO=/var/tmp/corvane-tests/nenhum.fdb\n");
  for (int LAttempt = 0; LAttempt < 2; ++LAttempt) {
    try {
      TSliceConnection::Instance().Connection();
      ADD_FAILURE() << "connected to a closed port";
    } catch (const TCorvaneError& aError) {
      EXPECT_FALSE(aError.Message().isEmpty());
      EXPECT_FALSE(aError.Message().contains(QString::fromUtf8(LPassword))) << aError.Message().toStdString();
    }
  }
}

}  // namespace
