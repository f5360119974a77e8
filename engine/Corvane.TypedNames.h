#pragma once
// Names as a person types them. Firebird takes unquoted names in any case and stores them
// upper-cased: a typed name that no table or column has exactly is the upper-cased one when
// that exists. A name found neither way stays as typed, so that whatever uses it says what
// is missing.
#include "Corvane.Database.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace Corvane {

class TTypedNames {
public:
  // aConnection: open; each lookup runs in a transaction of its own unless one is active.
  explicit TTypedNames(TDbConnection& aConnection) : FConnection(aConnection) {}

  QString Table(const QString& aTyped);
  QString Column(const QString& aTable, const QString& aTyped);
  // A comma list of columns, each resolved; a list with quoted names is taken as it is.
  QString ColumnList(const QString& aTable, const QString& aList);
  // The columns of aTable (as the database has the name), read once; empty when there is no such table.
  const QStringList& Columns(const QString& aTable);

private:
  QStringList Names(const QString& aSql, const QStringList& aParams);
  TDbConnection& FConnection;
  QHash<QString, QStringList> FColumns;
};

}  // namespace Corvane
