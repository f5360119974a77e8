#pragma once
// What the exporter reads from the database during one run: the structure of tables from
// Firebird's system tables (primary keys, writable columns, foreign keys) and the rows that
// a walk looks up. Inside the run's read-only snapshot neither can change, so with the run
// cache on, structure is read once per run, every query text is prepared once, and rows
// may be read ahead in batches; with it off, every call asks the server again.
#include "Corvane.Database.h"

#include <QHash>
#include <exception>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <unordered_map>
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
  // With the run cache: the referencing columns in the order of the parent's primary key,
  // when the key references exactly that primary key; empty otherwise.
  QStringList PrimaryKeyFields;
};

// The rows of aTable whose Columns equal a tuple of values, narrowed by Filter:
// "SELECT <columns of Table> FROM Table WHERE C0 = :<Prefix>0 AND ... [AND (Filter)]".
struct TLookup {
  QString Table;
  QStringList Columns;
  QString Filter;
  QString Prefix;  // P for foreign keys, R for configured relations
};

struct TRowBatch;

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
  // With aSkipArrays, array columns are left out of Columns instead of failing.
  void BeginRun(bool aCaching, bool aSkipArrays = false);
  void EndRun() noexcept;

  // What a lookup selects of a table: its columns and, with the run cache, the contents of
  // its short BLOBs after them (see TDbQuery::SetInlineBlobs).
  struct TSelectList {
    QString Text;
    int Columns = 0;
    int Inline = 0;
  };
  TSelectList SelectList(const QString& aTable);

  // A query for aSQL, not opened; its parameters keep no values from an earlier use.
  TLease Query(const QString& aSQL);
  TLease Query(const QString& aSQL, const TSelectList& aSelect);

  // Key columns in key order; fails for a table without primary key.
  QStringList PrimaryKey(const QString& aTable);
  // The quoted list of non-computed columns in position order; fails for array columns
  // and for a table the catalogue does not hold.
  QString Columns(const QString& aTable);
  // Foreign keys of aTable, ordered by constraint name.
  QList<TForeignKey> ForeignKeys(const QString& aTable);
  // Whether every referencing column of the key may hold NULL (not declared NOT NULL, by
  // itself or by its domain, and not part of the primary key).
  bool Nullable(const QString& aTable, const TForeignKey& aForeignKey);
  // The array columns that Columns left out of aTable during this run, in position order.
  QStringList SkippedArrays(const QString& aTable) const { return FSkippedArrays.value(aTable); }

  // The rows of a lookup (only the first when aFirstOnly): taken from what was read ahead,
  // else by one query, left open for the batch to fetch from. Errors of building and
  // opening the query are raised.
  TRowBatch Lookup(const TLookup& aLookup, const QList<TValue>& aValues, bool aFirstOnly);
  // Reads the rows of many lookups of one shape with few queries and keeps them for Lookup.
  // Tuples already kept are skipped, and so are lookups of many rows, which Lookup streams. Never fails: a lookup that cannot be read ahead is
  // simply looked up on its own later. Returns the rows read.
  QList<TDbRow> ReadAhead(const TLookup& aLookup, const QList<QList<TValue>>& aTuples, bool aFirstOnly) noexcept;
  bool Caching() const { return FCaching; }

private:
  friend class TLease;
  void Return(std::unique_ptr<TDbQuery> aQuery) noexcept;
  // The key of a lookup's rows among those read ahead: its shape, then its values.
  QString LookupKey(const TLookup& aLookup, const QList<TValue>& aValues) const;
  static QString ValuesKey(const QString& aShape, const QList<TValue>& aValues);
  // "B<branch>_<column>": the parameter names of read-ahead queries, made once.
  const QString& BranchParam(qsizetype aBranch, qsizetype aColumn);

  TDbConnection& FConnection;
  bool FCaching = false;
  // By text, hashed: read-ahead texts run to tens of kilobytes and share long beginnings.
  struct TTextHash {
    std::size_t operator()(const QString& aText) const noexcept { return qHash(aText); }
  };
  std::unordered_map<QString, std::vector<std::unique_ptr<TDbQuery>>, TTextHash> FIdle;
  QHash<QString, QStringList> FPrimaryKeys;
  QHash<QString, QString> FColumns;
  QHash<QString, TSelectList> FSelectLists;
  QHash<QString, QList<TForeignKey>> FForeignKeys;
  QHash<QString, QStringList> FNotNull;
  bool FSkipArrays = false;
  QHash<QString, QStringList> FSkippedArrays;  // kept for the whole run, also without the cache
  QHash<QString, QList<TDbRow>> FAhead;  // rows read ahead, by lookup and values; taken once
  QHash<QString, QString> FUnionSql;      // read-ahead query texts, by lookup and batch size
  QHash<QString, qsizetype> FUnionCount;  // the lookups each of those texts holds
  QList<QStringList> FBranchParams;
};

// Rows found by a lookup, in the order the server delivered them. A lookup keeps its query
// open and hands its rows out as the walk asks for them, so that no relation, however long,
// is held whole. A failure while fetching is kept, so that the rows read before it are still
// walked first.
struct TRowBatch {
  QList<TDbRow> Rows;
  std::exception_ptr Error;
  std::unique_ptr<TSliceCatalogue::TLease> Cursor;  // while rows may still come
  // Fetches until Rows holds aCount rows, or the query ends or fails.
  void Fill(qsizetype aCount);
};

}  // namespace Corvane
