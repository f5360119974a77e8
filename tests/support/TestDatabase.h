#pragma once
// Throw-away databases on the local Firebird server, created from SQL text with isql-fb.
#include "Corvane.Database.h"

#include <QString>
#include <memory>

namespace Corvane::Testing {

// Credentials of the local server: CORVANE_TEST_USER / CORVANE_TEST_PASSWORD, else the
// password Debian keeps in /etc/firebird/3.0/SYSDBA.password, else the program's default.
QString ServerUser();
QString ServerPassword();
// A folder the server may write, created on demand (mode 1777).
QString DatabaseFolder();

struct TIsqlResult {
  int ExitCode = -1;
  QString Output;
  QString Errors;
};
// Runs isql-fb -b -q -ch aCharset on aDatabase (server:path, or none for CREATE DATABASE
// scripts) with aSql as input file.
TIsqlResult RunIsql(const QString& aDatabase, const QString& aSql, const QString& aCharset = "UTF8");
TIsqlResult RunIsqlFile(const QString& aDatabase, const QString& aFile, const QString& aCharset = "UTF8");

class TTestDatabase {
public:
  // Creates a fresh database named after aName (made unique) with the default character
  // set aDefaultCharset, then runs aSchemaSql in it; fails the calling test on error.
  explicit TTestDatabase(const QString& aName, const QString& aSchemaSql = {},
                         const QString& aDefaultCharset = "UTF8");
  ~TTestDatabase();  // removes the file
  TTestDatabase(const TTestDatabase&) = delete;
  TTestDatabase& operator=(const TTestDatabase&) = delete;

  const QString& Path() const { return FPath; }
  QString Attachment() const { return "localhost:" + FPath; }
  // The parameter list the connection settings would hand out for this database.
  QString Params(const QString& aCharacterSet = "WIN1252") const;
  // An open connection with the program's options (read-only snapshot transactions).
  std::unique_ptr<TDbConnection> Connect(const QString& aCharacterSet = "WIN1252") const;
  // Runs SQL through isql-fb; ADD_FAILURE with isql's errors when it fails.
  TIsqlResult Execute(const QString& aSql, const QString& aCharset = "UTF8") const;
  // Runs a script file as a user would replay a slice: isql-fb -b -ch UTF8 -i FILE.
  TIsqlResult Replay(const QString& aFile) const;

private:
  QString FPath;
};

// The SQL of the demo ERP database (demo/ of the source tree): the schema alone, or the
// schema followed by the demo documents. Meant for TTestDatabase with default character set WIN1252.
QString DemoSql(bool aWithData = true);

// The service-invoice tables with one invoice, 42, and a customer that it references.
const char* NFSeSchema();

// Runs aSql in a transaction of its own on an open connection and returns its rows in the
// order the query gives, fields joined by '|', null as "<null>"; with aKinds each field is
// preceded by the name of its value kind ("vkText:abc").
QStringList QueryRows(TDbConnection& aConnection, const QString& aSql, bool aKinds = false);

// Reads a whole file as bytes; empty when absent.
QByteArray ReadFileBytes(const QString& aFileName);
void WriteFileBytes(const QString& aFileName, const QByteArray& aBytes);

}  // namespace Corvane::Testing
