#pragma once
// Reads a slice script back: the inverse of what the exporter writes (the frame of
// Corvane.ScriptFormat, the record statements and the literals of Corvane.Literals). Only
// scripts of exactly that form are accepted; anything else fails with TScriptFormatError.
#include "Corvane.Errors.h"
#include "Corvane.Values.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace Corvane {

// The file is not a slice script of ours, or not a whole one.
class TScriptFormatError : public TCorvaneError {
public:
  using TCorvaneError::TCorvaneError;
};

// What the value of a literal depends on in its target column.
struct TColumnType {
  TValueKind Kind = TValueKind::vkText;
  int Scale = 0;                 // vkDecimal: the number of fraction digits
  bool Fixed = false;            // CHAR: trailing blanks do not count
  bool SinglePrecision = false;  // FLOAT
  bool Untranslated = false;     // CHARACTER SET NONE: the bytes are the value
};

// One value of a record statement as its literal wrote it. Numbers keep their text until the
// column they go to says which kind they are: 1 is an integer, a NUMERIC(15,2) or a DOUBLE.
struct TScriptLiteral {
  // lfText and lfTextBlob carry text of a named set; lfBinaryText and lfBinaryTextBlob bare
  // bytes, which only untranslated (CHARACTER SET NONE) text is written as.
  enum class TForm {
    lfNull, lfNumber, lfDate, lfTime, lfTimestamp, lfText, lfTextBlob, lfBytes, lfBinaryText, lfBinaryTextBlob
  };
  TForm Form = TForm::lfNull;
  QByteArray Number;  // lfNumber: the literal's characters; "M * POWER(2E0, K)" keeps M here
  int Power = 0;      // lfNumber: K of the exact form
  bool Exact = false; // lfNumber: whether the exact form was written
  TValue Value;       // lfDate, lfTime, lfTimestamp: the value; lfText, lfTextBlob: the text
  QByteArray Bytes;   // the bytes written (every form of text and bytes)
  QString Literal() const;  // a short form for messages

  // The value a column of aType receives, exactly; fails when that column cannot hold it
  // without change (a fraction into an integer, text into a number...). aColumn names the
  // column in the message.
  TValue ValueFor(const TColumnType& aType, const QString& aColumn) const;
};

// Parses one literal at the start of aText (exactly what TSqlLiterals writes); on success
// returns the number of characters it took, else -1 with the reason in aError.
qsizetype ParseLiteral(const char* aText, qsizetype aLength, TScriptLiteral& aLiteral, QString& aError);

// One record of the script: its comment lines and its statement.
struct TScriptRecord {
  int Number = 0;  // 1, 2, ... in script order
  int Line = 0;    // line of the statement in the file, from 1
  QString Description;  // the first comment, "TABLE | KEY=VALUE, ..."
  QString Origin;       // the second comment
  QString Table;
  QStringList Columns;
  std::vector<TScriptLiteral> Values;  // one per column
  QStringList Matching;
};

// What the statements of many records share: the table, the column list and the MATCHING list.
struct TScriptShape {
  QString Table;
  QStringList Columns;
  QStringList Matching;
};

// A whole slice script, checked on reading; records are parsed again when asked for, so
// that a large script stays as compact as its file.
class TSliceScript {
public:
  // Fails with TScriptFormatError for anything the exporter would not have written:
  // another header, a line of another shape, a bad literal, a missing or wrong final count.
  static TSliceScript Read(const QByteArray& aBytes);
  static TSliceScript ReadFile(const QString& aFileName);

  int Count() const { return int(FRecords.size()); }
  TScriptRecord Record(int aIndex) const;
  // The distinct shapes in order of first appearance, and the shape of each record.
  int ShapeCount() const { return int(FShapes.size()); }
  const TScriptShape& Shape(int aShape) const { return FShapes[std::size_t(aShape)]; }
  int ShapeOf(int aIndex) const { return FRecords[std::size_t(aIndex)].Shape; }
  // Whether rows in foreign-key cycles are written twice: first without a reference, then
  // completed by a later record of the same key.
  bool DefersCycles() const { return FDefersCycles; }
  // Whether the walk of the document reached the record (its root or a row of its
  // relations), rather than the record being a row the document depends on.
  bool Walked(int aIndex) const { return FRecords[std::size_t(aIndex)].Walked; }
  // The table of the document's root record; empty when the script has none.
  QString RootTable() const { return FRootTable; }

private:
  struct TRecordLines {
    qsizetype Description = 0, Origin = 0, Statement = 0;  // offsets of the three lines
    qsizetype DescriptionLength = 0, OriginLength = 0, StatementLength = 0;
    int Line = 0;
    int Shape = 0;
    bool Walked = false;
  };
  TScriptRecord Parse(int aIndex) const;
  QByteArray FBytes;
  std::vector<TRecordLines> FRecords;
  std::vector<TScriptShape> FShapes;
  bool FDefersCycles = false;
  QString FRootTable;
};

}  // namespace Corvane
