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

private:
  using TKeys = QHash<QString, QString>;  // folded key name -> value
  QHash<QString, TKeys> FSections;        // folded section name -> keys
  QStringList FSectionNames;
};

// Decodes INI file bytes to text (byte-order marks, UTF-8 with a Latin-1 fallback, UTF-16).
QString DecodeIniText(const QByteArray& aBytes);

}  // namespace Corvane
