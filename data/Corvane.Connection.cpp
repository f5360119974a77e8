#include "Corvane.Connection.h"

#include "Corvane.IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Corvane {

namespace {

std::unique_ptr<TSliceConnection> GInstance;
QString GConfigFile;  // empty: config.ini beside the executable

const QString CMissingDatabase = QStringLiteral("Configure [BANCO] CAMINHO no config.ini ao lado do executavel.");

QString AsciiUpper(const QString& aText) {
  QString LResult = aText;
  for (QChar& LChar : LResult)
    if (LChar >= u'a' && LChar <= u'z') LChar = QChar(LChar.unicode() - 'a' + 'A');
  return LResult;
}

QString ExecutableFolder() {
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
  // Tests and tools without an application object: the kernel knows the running image.
  return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

}  // namespace

void TSliceConnection::SetConfigFile(const QString& aFileName) { GConfigFile = aFileName; }

QString TSliceConnection::ConfigFile() {
  if (!GConfigFile.isEmpty()) return QFileInfo(GConfigFile).absoluteFilePath();
  return QDir(ExecutableFolder()).filePath(QStringLiteral("config.ini"));
}

TSliceConnection& TSliceConnection::Instance() {
  if (!GInstance) {
    // Not make_unique: the constructor is private. A failed read records nothing, so the
    // next call reads the file afresh.
    GInstance.reset(new TSliceConnection());
    // Detach while the application object still exists rather than during static destruction.
    // An application object runs and forgets its post routines when it ends, so each new
    // settings object registers again; a second Release does nothing.
    if (QCoreApplication::instance() != nullptr) qAddPostRoutine(&TSliceConnection::Release);
  }
  return *GInstance;
}

void TSliceConnection::Release() { GInstance.reset(); }

namespace {

// The settings of aConfigFile as a connection's parameters; aVendorLib receives the client
// library it names. Changes nothing beyond the returned connection.
std::unique_ptr<TDbConnection> ReadSettings(const QString& aConfigFile, QString* aVendorLib) {
  const QString LConfigFile = aConfigFile;
  const QFileInfo LInfo(LConfigFile);
  if (!LInfo.exists() || LInfo.isDir())
    throw TCorvaneError(QStringLiteral("Arquivo de configuracao nao encontrado: ") + LConfigFile);
  QFile LFile(LConfigFile);
  // Reading an unreadable file as if it were empty would report a misleading missing CAMINHO.
  if (!LFile.open(QIODevice::ReadOnly))
    throw TCorvaneError(QStringLiteral("Arquivo de configuracao nao pode ser lido: ") + LConfigFile);
  const TIniFile LIni = TIniFile::Parse(LFile.readAll());
  LFile.close();

  auto LConnection = std::make_unique<TDbConnection>();
  *aVendorLib = LIni.ReadString("Firebird", "VendorLib", "fbclient.dll");
  LConnection->SetLoginPrompt(false);
  LConnection->SetParam("DriverID", "FB");

  QString LServer = TrimBlanks(LIni.ReadString("SERVER", "SERVER_NAME", "LOCAL"));
  if (LServer.isEmpty() || LServer.compare(QStringLiteral("LOCAL"), Qt::CaseInsensitive) == 0)
    LServer = QStringLiteral("localhost");

  QString LProtocol = AsciiUpper(TrimBlanks(LIni.ReadString("PROTOCOL", "PROTOCOL_NAME")));
  if (LProtocol.isEmpty()) LProtocol = QStringLiteral("TCPIP");
  if (LProtocol != "TCPIP" && LProtocol != "LOCAL" && LProtocol != "NETBEUI")
    throw TCorvaneError(QStringLiteral("PROTOCOL_NAME invalido. Use TCPIP, Local ou NetBEUI."));

  LConnection->SetParam("Protocol", LProtocol);
  LConnection->SetParam("Server", LServer);
  LConnection->SetParam("Database", TrimBlanks(LIni.ReadString("BANCO", "CAMINHO")));
  LConnection->SetParam("User_Name", TrimBlanks(LIni.ReadString("Firebird", "UserName", "SYSDBA")));
  LConnection->SetParam("Password", TrimBlanks(LIni.ReadString("Firebird", "Password", "plumvaxer")));
  LConnection->SetParam("CharacterSet", LIni.ReadString("Firebird", "CharacterSet", "WIN1252"));
  LConnection->SetReadOnly(true);
  LConnection->SetIsolation(TIsolation::tiSnapshot);

  return LConnection;
}

}  // namespace

QString TSliceConnection::ParametersOf(const QString& aConfigFile) {
  QString LVendorLib;
  const std::unique_ptr<TDbConnection> LConnection = ReadSettings(QFileInfo(aConfigFile).absoluteFilePath(), &LVendorLib);
  if (LConnection->Param("Database").isEmpty()) throw TCorvaneError(CMissingDatabase);
  return LConnection->ParamsText();
}

TSliceConnection::TSliceConnection() {
  QString LVendorLib;
  auto LConnection = ReadSettings(ConfigFile(), &LVendorLib);

  // Only a complete read changes process-wide state: the client library of every connection.
  TFbClient::SetLibraryName(LVendorLib);
  FDriver = LVendorLib;
  FConnection = std::move(LConnection);
}

TSliceConnection::~TSliceConnection() {
  // The connection goes first (detaching while the client library choice still stands).
  FConnection.reset();
  FDriver.clear();
}

void TSliceConnection::CheckDatabase() const {
  if (FConnection->Param("Database").isEmpty()) throw TCorvaneError(CMissingDatabase);
}

TDbConnection& TSliceConnection::Connection() {
  CheckDatabase();
  if (!FConnection->IsOpen()) FConnection->Open();
  return *FConnection;
}

QString TSliceConnection::ExportParameters() {
  CheckDatabase();
  // Worker threads open their own connections; the library must be ready before they do.
  TFbClient::Start();
  return FConnection->ParamsText();
}

}  // namespace Corvane
