#pragma once
// A small INI reader with the rules of the Windows private-profile functions, which is what
// config.ini files written for the desktop program expect:
// - section and key names match without regard to letter case;
// - an absent section or key yields the caller's default, a key present with an empty value
//   yields the empty text;
// - blanks around names and values are dropped, and a value enclosed in one matching pair of
//   single or double quotation marks loses that pair;
// - lines whose first non-blank character is ; or # are comments; lines without = are ignored;
// - a section given twice is read as one; a key given twice keeps its first value;
// - keys before the first section header belong to no section;
// - a UTF-8 byte-order mark is skipped; text that is not valid UTF-8 is read as Latin-1 and a
//   UTF-16 file (with its byte-order mark) is decoded as such.
// Parsing never fails: any byte sequence yields some (possibly empty) set of entries.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace Corvane {

// A line that the reading passed over or merged: what a file meant to be checked strictly
// (the documents file) refuses. Line numbers count from 1.
struct TIniProblem {
  int Line = 0;
  QString Section;  // as written; empty before the first section header
  QString Key;      // as written, when the line has one
  QString Text;     // what is wrong, in Portuguese
};

class TIniFile {
public:
  TIniFile() = default;

  // Pure parse of the file content; the entry point for fuzzing.
  static TIniFile Parse(const QByteArray& aBytes);

  bool HasSection(const QString& aSection) const;
  bool HasKey(const QString& aSection, const QString& aKey) const;
  // The value as read (blanks and one pair of quotes removed), or aDefault when absent.
  QString ReadString(const QString& aSection, const QString& aKey, const QString& aDefault = {}) const;
  // Section names in order of first appearance, as written.
  QStringList Sections() const { return FSectionNames; }
  // The key names of a section in order of first appearance, as written.
  QStringList Keys(const QString& aSection) const { return FKeyNames.value(Fold(aSection)); }
  // Lines the rules pass over or merge: text that is neither comment, section nor key=value,
  // keys before the first section, a section or key given twice.
  const QList<TIniProblem>& Problems() const { return FProblems; }

private:
  static QString Fold(QStringView aName) { return aName.toString().toCaseFolded(); }
  using TKeys = QHash<QString, QString>;  // folded key name -> value
  QHash<QString, TKeys> FSections;        // folded section name -> keys
  QHash<QString, QStringList> FKeyNames;  // folded section name -> key names as written
  QStringList FSectionNames;
  QList<TIniProblem> FProblems;
};

// Decodes INI file bytes to text (byte-order marks, UTF-8 with a Latin-1 fallback, UTF-16).
QString DecodeIniText(const QByteArray& aBytes);

}  // namespace Corvane
