#pragma once
// The documents Corvane exports: the two built-in ones (NFSe, Nota Fiscal) and those that
// support staff define in documentos.ini. One value describes a document and configures an
// exporter; front ends list and pick documents and never build relations themselves.
#include "Corvane.Exporter.h"
#include "Corvane.Replayer.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Corvane {

// One relation as `--related` and the documents file write it:
// PARENT:CHILD:FK_COLUMNS:PARENT_COLUMNS[:FILTER]; everything after the fourth colon is the filter.
struct TDocumentRelation {
  QString Parent;
  QString Child;
  QString ForeignKeys;
  QString ParentKeys;
  QString Filter;
  QString Text;  // as written, for messages

  // Fails with a message that begins with aWhere (the option or the file's section and key)
  // for a malformed relation or a filter that is not one balanced condition.
  static TDocumentRelation Parse(const QString& aText, const QString& aWhere);
};

// A filter is inserted into its relation's condition as written, so it must stay inside it:
// one condition with balanced parentheses and quotes, no statement terminator, no comment.
// Empty when it is, else the reason.
QString FilterProblem(const QString& aFilter);

// The first relation that no chain from aRoot reaches: the exporter walks a relation only from
// rows of its PARENT reached as root or related rows (names compared exactly, as it compares).
// Null when every relation is reached.
const TDocumentRelation* UnreachedRelation(const QString& aRoot, const QList<TDocumentRelation>& aRelations);

// Key values typed by the user (column=text pairs of aTable) read as their columns' types, so
// that a date or a number is compared as one; a text that its type cannot read fails, naming
// the column. When the server cannot describe the columns the texts stay texts, and the export
// reports what is wrong as it does for any key. Starts and rolls back a transaction of its own.
QList<TValue> KeyValuesOf(TDbConnection& aConnection, const QString& aTable,
                          const QList<QPair<QString, QString>>& aKeys);

struct TDocument {
  QString Name;   // what `corvane-cli doc` takes; the section of the file
  QString Title;
  QString Table;  // the root table
  QStringList Keys;  // its key columns, in the order their values are given
  QList<TDocumentRelation> Relations;
  bool Dependencies = true;
  bool DeferCycles = false;
  bool SkipArrays = false;
  // BOOLEAN values and chains of any length: on for the documents of the file, off for the
  // built-in ones, which keep their specified behaviour.
  bool Booleans = false;
  bool UnlimitedChains = false;
  bool BuiltIn = false;
  QString MaskRules;  // the masking rules file (Mascaramento=), absolute; empty: no masking
  QString Source;  // the file that defines it; empty for the built-in ones

  // An exporter configured for the document, without key values.
  ISliceExporterPtr Configure(TDbConnection* aConnection) const;
  // The root table and the tables of its relations, each once, in order of first mention.
  QStringList Tables() const;
  // Fails unless Keys hold every column of the root table's primary key or of one of its unique
  // keys, so that the document is one root row; the message names the missing columns.
  // Starts and rolls back a transaction of its own.
  void CheckKeyIsUnique(TDbConnection& aConnection) const;
  // How the document is named in messages: its name and, for a file's document, the file.
  QString Describe() const;
  // The relations a replay looks through for rows that only the target holds.
  QList<TReplayRelation> ReplayRelations() const;
};

class TDocumentRegistry {
public:
  // The built-in documents alone.
  static TDocumentRegistry BuiltIn();
  // The built-in documents followed by those of aFile. A missing file adds none; a malformed
  // one fails, before any connection, with one message naming the file, the section and the key.
  static TDocumentRegistry Load(const QString& aFile);
  // documentos.ini beside the executable.
  static QString DefaultFile();

  const QList<TDocument>& Documents() const { return FDocuments; }
  // By name, without regard to case; null when absent.
  const TDocument* Find(const QString& aName) const;
  // The documents whose root table is aTable.
  QList<const TDocument*> ByRoot(const QString& aTable) const;

  static const TDocument& NFSe();
  static const TDocument& NotaFiscal();

private:
  QList<TDocument> FDocuments;
};

// The relations of the built-in document rooted at aRootTable (NFSRES, NOTAFI); empty for any
// other table.
QList<TReplayRelation> DocumentRelations(const QString& aRootTable);

}  // namespace Corvane
