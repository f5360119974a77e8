#pragma once
// Access to a Firebird database through the client library's C interface: the process-wide
// client library, connections with their parameter list and transaction options, and
// queries with named parameters whose fields deliver typed values.
#include "Corvane.Cancellation.h"
#include "Corvane.Errors.h"
#include "Corvane.Values.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace Corvane {

// The process-wide client library. Its name is set once by the connection settings; the
// library is loaded by the first Start (or the first Open) and stays loaded.
class TFbClient {
public:
  // "fbclient.dll" (any case) maps to the platform's library; a name with a path is used as given.
  static void SetLibraryName(const QString& aName);
  static QString LibraryName();
  // Loads the library and resolves every entry point; does nothing when already loaded.
  // Fails with a message naming the library or the missing entry point.
  static void Start();
  static bool Started();
  // Whether the library takes calls on one attachment from several threads, one at a time
  // (Firebird 2.5 and later); loads the library.
  static bool ServesThreads();
};

enum class TIsolation { tiReadCommitted, tiSnapshot, tiSerializable };

// A query text with its named parameter markers (:NAME outside quoted strings and quoted
// identifiers) replaced by '?'; Names holds the marker names in order of appearance.
struct TNamedSql {
  QString Positional;
  QStringList Names;
};
TNamedSql ParseNamedSql(const QString& aSQL);

class TDbQuery;

class TDbConnection {
public:
  TDbConnection();
  ~TDbConnection();  // detaches when open; never throws
  TDbConnection(const TDbConnection&) = delete;
  TDbConnection& operator=(const TDbConnection&) = delete;

  // Parameter list: Name=Value lines, names without regard to case, in order of first setting.
  void SetParams(const QString& aText);  // replaces all lines
  QString ParamsText() const;            // each line ended by CR LF
  QString Param(const QString& aName) const;
  void SetParam(const QString& aName, const QString& aValue);  // empty value removes the line

  void SetLoginPrompt(bool aValue);
  bool LoginPrompt() const;
  void SetSilent(bool aValue);
  bool Silent() const;
  // Transaction options, applied at the next StartTransaction.
  void SetReadOnly(bool aValue);
  bool ReadOnly() const;
  void SetIsolation(TIsolation aValue);
  TIsolation Isolation() const;

  // The attachment string that Open would use, from Protocol, Server and Database.
  QString AttachmentString() const;

  void Open();  // no-op when open; a failed open leaves the connection closed
  // Rolls back an active transaction, frees the statements of its queries and detaches;
  // never throws. The queries re-prepare at their next Open after a new Open.
  void Close();
  bool IsOpen() const;

  bool InTransaction() const;
  void StartTransaction();  // fails when closed or when a transaction is already active
  // Closes the cursors of the connection's queries (their statements stay prepared), then
  // rolls back; does nothing without an active transaction. A failed rollback still
  // leaves no transaction active.
  void Rollback();
  // Closes the cursors of the connection's queries, then commits. The exports never call
  // it; the replay of a slice does, once everything it wrote has been checked. A failed
  // commit leaves the transaction active, so that the caller can roll it back.
  void Commit();

  // The stop request of the run that uses the connection: while the connection is attached,
  // a request cancels the server call in flight (the call fails with a TCancelledError and
  // the transaction stays usable for its rollback). Empty: nothing can stop it.
  void SetCancellation(const TCancellationPtr& aCancellation);
  const TCancellationPtr& Cancellation() const;

private:
  friend class TDbQuery;
  friend class TCancellation;
  // Called by the cancellation, under its lock, from any thread; never throws.
  void CancelOperation() noexcept;
  friend class TDbBlobReader;
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// One select-list item seen on the current row.
class TDbField {
public:
  const QString& Name() const { return FName; }
  TValueKind Kind() const { return FKind; }
  bool IsNull() const { return FValue.IsNull(); }
  const TValue& Value() const { return FValue; }
  QString TextForm() const { return FValue.TextForm(); }

private:
  friend class TDbQuery;
  friend class TDbBlobReader;
  QString FName;
  TValueKind FKind = TValueKind::vkText;
  TValue FValue;
};

// A copy of a query's current row that stays valid after the query moves on or closes.
class TDbRow {
public:
  TDbRow() = default;
  int FieldCount() const { return FData ? int(FData->Fields.size()) : 0; }
  const TDbField& Field(int aIndex) const;                   // fails outside 0..FieldCount()-1
  const TDbField& FieldByName(const QString& aName) const;  // without regard to case
  // Texts its holder may attach to the row and every copy of it, by number (the exporter
  // keeps identities there, so that each is worked out once). Tag is null until set.
  const QString& Tag(int aIndex) const;
  // Whether BLOB fields of the row are still to be read by a TDbBlobReader.
  bool HasDeferredBlobs() const { return FData && !FData->Deferred.empty(); }
  void SetTag(int aIndex, const QString& aTag) const;

private:
  friend class TDbQuery;
  friend class TDbBlobReader;
  // A BLOB of the row not read yet: its field, its identifier and how its content decodes.
  struct TDeferredBlob {
    int Field = 0;
    unsigned char Id[8] = {};
    bool Text = false;
    bool Utf8 = false;
    bool Untranslated = false;
  };
  struct TData {
    std::vector<TDbField> Fields;
    QStringList Tags;
    std::vector<TDeferredBlob> Deferred;
  };
  std::shared_ptr<TData> FData;
};

// Queries should be released before their connection. Destroying the connection first is
// tolerated: its queries are closed and refuse to open again.
class TDbQuery {
public:
  explicit TDbQuery(TDbConnection& aConnection);
  ~TDbQuery();  // releases the statement; never throws
  TDbQuery(const TDbQuery&) = delete;
  TDbQuery& operator=(const TDbQuery&) = delete;

  void SetSQL(const QString& aSQL);
  const QString& SQL() const;
  // Deferred: BLOB fields are not read at fetch time; the rows taken by CurrentRow carry
  // their identifiers for a TDbBlobReader, and the query's own BLOB fields stay unassigned.
  void SetDeferBlobs(bool aDefer);
  // Lookup: the parameters are only compared for equality. A number that no value of its
  // parameter's type equals (7.5 for an INTEGER, 0.1 for a FLOAT) is then bound as NULL, which
  // equals nothing, instead of failing the opening; a float equal to an exact value binds it.
  void SetLookup(bool aLookup);
  // With deferred BLOBs: result columns aFirst .. aFirst + aCount - 1 carry the content of the
  // BLOB columns before aFirst, in order, as VARYING in the set the BLOB would be read in, or
  // NULL where it is too long. Rows taken by CurrentRow end before aFirst and hold those
  // contents already: a BLOB needs a server round trip of its own only when it is long.
  void SetInlineBlobs(int aFirst, int aCount);
  // Fails when the text holds no parameter of that name (compared without regard to case).
  void SetParam(const QString& aName, const TValue& aValue);
  void SetParam(const QString& aName, const QString& aText);
  // The parameter of that number among the distinct names, in order of first appearance;
  // for statements that bind many values per row.
  void SetParam(int aIndex, const TValue& aValue);

  // Prepares (once per text), binds, executes and positions on the first row.
  // Opening again after Close re-executes the prepared statement with the current values;
  // so does opening an open query. A parameter that was never given a value fails, as does
  // a value that cannot be converted to the parameter's type. Needs an active transaction.
  // Statements other than SELECT run here too (no rows; RETURNING gives one row).
  void Open();
  bool IsOpen() const;
  bool Eof() const;
  void Next();
  void Close();  // closes the cursor and keeps the prepared statement for another Open

  int FieldCount() const;
  const TDbField& Field(int aIndex) const;  // fails outside 0..FieldCount()-1
  const TDbField& FieldByName(const QString& aName) const;  // without regard to case
  // The current row, or its first aCount fields.
  TDbRow CurrentRow(int aCount = -1) const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// Reads the deferred BLOBs of rows within the transaction that fetched them, on whichever
// thread holds the reader: the client library serializes the calls on one attachment, and
// the reader decodes with converters of its own. One reader per thread.
class TDbBlobReader {
public:
  explicit TDbBlobReader(TDbConnection& aConnection);
  ~TDbBlobReader();
  TDbBlobReader(const TDbBlobReader&) = delete;
  TDbBlobReader& operator=(const TDbBlobReader&) = delete;
  // Reads the row's deferred BLOBs into its fields; nothing for a row without any.
  void Load(const TDbRow& aRow);

private:
  TDbConnection& FConnection;
  std::unique_ptr<class TTextEncoding> FSingleByte;
};

}  // namespace Corvane
