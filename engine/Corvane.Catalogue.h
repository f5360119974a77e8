#pragma once
// What the exporter reads from Firebird's system tables (primary keys, writable columns,
// foreign keys), and the queries of one run. Inside the run's read-only snapshot these
// answers cannot change, so with the run cache on they are read once per run and every
// query text is prepared once; with it off, every call asks the server again.
#include "Corvane.Database.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

namespace Corvane {

struct TForeignKeyLink {
  QString ChildField;   // column of the referencing table
  QString ParentField;  // column of the referenced table at the same key position
};

struct TForeignKey {
  QString Name;
  QString ParentTable;
  QList<TForeignKeyLink> Links;  // in key position order
};

class TSliceCatalogue {
public:
  // A query of the run, closed and handed back to the catalogue when the lease ends.
  class TLease {
  public:
    TLease(TSliceCatalogue& aCatalogue, std::unique_ptr<TDbQuery> aQuery)
        : FCatalogue(&aCatalogue), FQuery(std::move(aQuery)) {}
    TLease(TLease&& aOther) noexcept = default;
    TLease& operator=(TLease&&) = delete;
    ~TLease();
    TDbQuery& operator*() const { return *FQuery; }
    TDbQuery* operator->() const { return FQuery.get(); }

  private:
    TSliceCatalogue* FCatalogue;
    std::unique_ptr<TDbQuery> FQuery;
  };

  explicit TSliceCatalogue(TDbConnection& aConnection) : FConnection(aConnection) {}

  // Starts a run with empty caches; EndRun frees every statement (before the rollback).
  void BeginRun(bool aCaching);
  void EndRun() noexcept;

  // A query for aSQL, not opened; its parameters keep no values from an earlier use.
  TLease Query(const QString& aSQL);

  // Key columns in key order; fails for a table without primary key.
  QStringList PrimaryKey(const QString& aTable);
  // The quoted list of non-computed columns in position order; fails for array columns
  // and for a table the catalogue does not hold.
  QString Columns(const QString& aTable);
  // Foreign keys of aTable, ordered by constraint name.
  QList<TForeignKey> ForeignKeys(const QString& aTable);

private:
  friend class TLease;
  void Return(std::unique_ptr<TDbQuery> aQuery) noexcept;

  TDbConnection& FConnection;
  bool FCaching = false;
  std::map<QString, std::vector<std::unique_ptr<TDbQuery>>> FIdle;
  QHash<QString, QStringList> FPrimaryKeys;
  QHash<QString, QString> FColumns;
  QHash<QString, QList<TForeignKey>> FForeignKeys;
};

}  // namespace Corvane
