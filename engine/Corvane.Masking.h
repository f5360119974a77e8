#pragma once
// Masking of personal data on export: the rules file, their check against the database's keys
// and the generators of realistic values. The exporter applies a TMasker only where a row's
// values become literals (and to the key values its comments show); the walk, lookups and row
// identities keep the real values.
#include "Corvane.Database.h"
#include "Corvane.Values.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <memory>

namespace Corvane {

enum class TMaskKind { mkCpf, mkCnpj, mkCpfCnpj, mkNome, mkRazaoSocial, mkEmail, mkTelefone, mkEndereco, mkTexto, mkNulo };

// The name of a kind as the rules file writes it (cpf, razao_social...).
QString MaskKindName(TMaskKind aKind);

struct TMaskRule {
  QString Table;  // empty: the column in every table (*.COLUNA)
  QString Column;
  TMaskKind Kind = TMaskKind::mkTexto;
};

class TMaskRules;
using TMaskRulesPtr = std::shared_ptr<const TMaskRules>;

class TMaskRules {
public:
  // Reads the section [Mascaramento] of aFileName with the INI rules of config.ini; fails
  // naming the file and the line for an unknown kind, a malformed name or an empty set.
  // The environment variable CORVANE_CHAVE_MASCARA, when set, replaces the file's Chave=.
  static TMaskRulesPtr Load(const QString& aFileName);
  static TMaskRulesPtr Parse(const QByteArray& aBytes, const QString& aFileName);

  const QList<TMaskRule>& Rules() const { return FRules; }
  const QString& Key() const { return FKey; }  // empty: a random key per export
  const QString& FileName() const { return FFileName; }

private:
  QList<TMaskRule> FRules;
  QString FKey;
  QString FFileName;
};

// Generators: pure functions of a source text and a seed (the keyed hash of the source), so
// that equal sources give equal results. Each keeps NULL-free, empty-empty and fits in
// aMaxChars characters (a result may need fewer).
namespace Masking {
// HMAC-SHA-256 of aKind and aSource under aKey, stretched to aSize bytes.
QByteArray Seed(const QByteArray& aKey, TMaskKind aKind, const QString& aSource, int aSize = 64);
QString Generate(TMaskKind aKind, const QString& aSource, const QByteArray& aSeed, int aMaxChars);
bool ValidCpf(const QString& aText);   // 11 digits, punctuation ignored
bool ValidCnpj(const QString& aText);  // 14 digits, punctuation ignored
// The fewest characters a column needs to hold a value of aKind.
int MinimumChars(TMaskKind aKind);
}  // namespace Masking

// What a run masks, worked out from the rules and the database before anything is written.
class TMasker {
public:
  // One masked column: its kind and what it can hold.
  struct TColumn {
    QString Table;
    QString Column;
    TMaskKind Kind = TMaskKind::mkTexto;
    int MaxChars = 0;      // 0: no limit (BLOB)
    int MaxBytes = 0;
    bool Utf8 = false;     // the column's bytes are UTF-8; otherwise one byte a character
    bool AsciiOnly = false;
    bool Key = false;      // part of a primary, unique or foreign key
  };

  // Reads the columns and keys of aConnection within its open transaction and refuses a rule
  // set that masks one side of a foreign key differently from the other, names a column that
  // is not there, or cannot fit a column. aConnectionCharset: the script's character set.
  TMasker(const TMaskRulesPtr& aRules, TDbConnection& aConnection, const QString& aConnectionCharset);

  const TColumn* Find(const QString& aTable, const QString& aColumn) const;
  // The masked value; const and free of state, so the walk may call it for comments too.
  TValue Masked(const TColumn& aColumn, const TValue& aValue) const;
  // Masked(), and the check that two different sources of a key column never meet.
  TValue MaskForScript(const TColumn& aColumn, const TValue& aValue);
  // The header line of a masked script: the rules file, never the key.
  QString Note() const;
  bool RandomKey() const { return FRandomKey; }
  bool HasColumns(const QString& aTable) const { return FTables.contains(aTable); }

private:
  TMaskRulesPtr FRules;
  QByteArray FKey;
  bool FRandomKey = false;
  QHash<QString, TColumn> FColumns;  // TABLE + '\0' + COLUMN
  QSet<QString> FTables;
  QHash<QString, QString> FKeySources;  // kind + masked -> source, for key columns
};

}  // namespace Corvane
