#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QUuid>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace Corvane::Testing {

QString ServerUser() {
  const QString LUser = qEnvironmentVariable("CORVANE_TEST_USER");
  return LUser.isEmpty() ? QStringLiteral("SYSDBA") : LUser;
}

QString ServerPassword() {
  const QString LPassword = qEnvironmentVariable("CORVANE_TEST_PASSWORD");
  if (!LPassword.isEmpty()) return LPassword;
  QFile LFile("/etc/firebird/3.0/SYSDBA.password");
  if (LFile.open(QIODevice::ReadOnly)) {
    static const QRegularExpression LPattern("^ISC_PASSWORD=\"?([^\"\\n]*)\"?", QRegularExpression::MultilineOption);
    const auto LMatch = LPattern.match(QString::fromUtf8(LFile.readAll()));
    if (LMatch.hasMatch() && !LMatch.captured(1).isEmpty()) return LMatch.captured(1);
  }
  return QStringLiteral("plumvaxer");
}

QString DatabaseFolder() {
  const QString LFolder = "/var/tmp/corvane-tests";
  QDir().mkpath(LFolder);
  ::chmod(LFolder.toLocal8Bit().constData(), 01777);
  return LFolder;
}

static TIsqlResult RunIsqlProcess(QStringList aArguments) {
  TIsqlResult LResult;
  QProcess LProcess;
  LProcess.start("isql-fb", aArguments);
  if (!LProcess.waitForFinished(600000)) {
    LResult.Errors = "isql-fb did not finish: " + LProcess.errorString();
    LProcess.kill();
    return LResult;
  }
  LResult.ExitCode = LProcess.exitStatus() == QProcess::NormalExit ? LProcess.exitCode() : -1;
  LResult.Output = QString::fromUtf8(LProcess.readAllStandardOutput());
  LResult.Errors = QString::fromUtf8(LProcess.readAllStandardError());
  return LResult;
}

TIsqlResult RunIsqlFile(const QString& aDatabase, const QString& aFile, const QString& aCharset) {
  QStringList LArguments{"-b", "-q", "-ch", aCharset, "-user", ServerUser(), "-password", ServerPassword()};
  if (!aDatabase.isEmpty()) LArguments << aDatabase;
  LArguments << "-i" << aFile;
  return RunIsqlProcess(LArguments);
}

TIsqlResult RunIsql(const QString& aDatabase, const QString& aSql, const QString& aCharset) {
  QTemporaryFile LFile(QDir::tempPath() + "/corvane-isql-XXXXXX.sql");
  if (!LFile.open()) return TIsqlResult{-1, {}, "cannot create a temporary file"};
  LFile.write(aSql.toUtf8());
  LFile.write("\n");
  LFile.close();
  return RunIsqlFile(aDatabase, LFile.fileName(), aCharset);
}

TTestDatabase::TTestDatabase(const QString& aName, const QString& aSchemaSql, const QString& aDefaultCharset) {
  FPath = DatabaseFolder() + "/" + aName + "-" + QUuid::createUuid().toString(QUuid::Id128).left(12) + ".fdb";
  QString LSql = QString("CREATE DATABASE 'localhost:%1' USER '%2' PASSWORD '%3' DEFAULT CHARACTER SET %4;\n")
                     .arg(FPath, ServerUser(), ServerPassword(), aDefaultCharset);
  LSql += aSchemaSql;
  if (!aSchemaSql.trimmed().isEmpty()) LSql += "\nCOMMIT;\n";
  const TIsqlResult LResult = RunIsql({}, LSql);
  if (LResult.ExitCode != 0 || !LResult.Errors.trimmed().isEmpty())
    ADD_FAILURE() << "creating " << FPath.toStdString() << " failed: " << LResult.Errors.toStdString()
                  << LResult.Output.toStdString();
}

TTestDatabase::~TTestDatabase() { QFile::remove(FPath); }

QString TTestDatabase::Params(const QString& aCharacterSet) const {
  QString LText = "DriverID=FB\r\nProtocol=TCPIP\r\nServer=localhost\r\nDatabase=" + FPath + "\r\n";
  LText += "User_Name=" + ServerUser() + "\r\nPassword=" + ServerPassword() + "\r\n";
  if (!aCharacterSet.isEmpty()) LText += "CharacterSet=" + aCharacterSet + "\r\n";
  return LText;
}

std::unique_ptr<TDbConnection> TTestDatabase::Connect(const QString& aCharacterSet) const {
  auto LConnection = std::make_unique<TDbConnection>();
  LConnection->SetLoginPrompt(false);
  LConnection->SetParams(Params(aCharacterSet));
  LConnection->SetSilent(true);
  LConnection->SetReadOnly(true);
  LConnection->SetIsolation(TIsolation::tiSnapshot);
  LConnection->Open();
  return LConnection;
}

TIsqlResult TTestDatabase::Execute(const QString& aSql, const QString& aCharset) const {
  TIsqlResult LResult = RunIsql(Attachment(), aSql + "\nCOMMIT;\n", aCharset);
  if (LResult.ExitCode != 0 || !LResult.Errors.trimmed().isEmpty())
    ADD_FAILURE() << "isql failed on " << FPath.toStdString() << ": " << LResult.Errors.toStdString();
  return LResult;
}

TIsqlResult TTestDatabase::Replay(const QString& aFile) const { return RunIsqlFile(Attachment(), aFile, "UTF8"); }

QString DemoSql(bool aWithData) {
  const QString LFolder = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../../demo/";
  QString LSql = QString::fromUtf8(ReadFileBytes(LFolder + "schema.sql"));
  if (LSql.isEmpty()) ADD_FAILURE() << "demo schema not found in " << LFolder.toStdString();
  if (aWithData) LSql += "\n" + QString::fromUtf8(ReadFileBytes(LFolder + "data.sql"));
  return LSql;
}

const char* NFSeSchema() {
  return R"SQL(
CREATE TABLE CLIENTE (CLICOD INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(60));
CREATE TABLE NFSRES (NFSID BIGINT NOT NULL PRIMARY KEY, CLICOD INTEGER REFERENCES CLIENTE, VALOR NUMERIC(15,2));
CREATE TABLE NFSPRO (NFSID BIGINT NOT NULL REFERENCES NFSRES, ITEM INTEGER NOT NULL, DESCRICAO VARCHAR(80),
                     PRIMARY KEY (NFSID, ITEM));
CREATE TABLE DUPREC (E9_ID INTEGER NOT NULL PRIMARY KEY, E9_NFSID BIGINT REFERENCES NFSRES, E9_PEDNUM VARCHAR(10),
                     E9_VALOR NUMERIC(15,2));
COMMIT;
INSERT INTO CLIENTE VALUES (7, 'Padaria São João');
INSERT INTO NFSRES VALUES (42, 7, 150.25);
INSERT INTO NFSPRO VALUES (42, 1, 'Manutenção');
INSERT INTO NFSPRO VALUES (42, 2, 'Visita técnica');
INSERT INTO DUPREC VALUES (900, 42, NULL, 150.25);
)SQL";
}

QStringList QueryRows(TDbConnection& aConnection, const QString& aSql, bool aKinds) {
  QStringList LRows;
  aConnection.StartTransaction();
  {
    TDbQuery LQuery(aConnection);
    LQuery.SetSQL(aSql);
    for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
      QStringList LFields;
      for (int I = 0; I < LQuery.FieldCount(); ++I) {
        const TDbField& LField = LQuery.Field(I);
        if (LField.IsNull())
          LFields << QStringLiteral("<null>");
        else
          LFields << (aKinds ? ValueKindName(LField.Kind()) + ":" + LField.TextForm() : LField.TextForm());
      }
      LRows << LFields.join(QLatin1Char('|'));
    }
  }
  aConnection.Rollback();
  return LRows;
}

QByteArray ReadFileBytes(const QString& aFileName) {
  QFile LFile(aFileName);
  if (!LFile.open(QIODevice::ReadOnly)) return {};
  return LFile.readAll();
}

void WriteFileBytes(const QString& aFileName, const QByteArray& aBytes) {
  QFile LFile(aFileName);
  if (LFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) LFile.write(aBytes);
}

}  // namespace Corvane::Testing
