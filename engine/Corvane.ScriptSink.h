#pragma once
// Where the lines of one export go, in UTF-8: kept whole in memory, or streamed into a
// temporary file beside the target that replaces the target only once the run has ended
// well. Streamed, the memory of a run does not grow with its document, and the target still
// appears complete or not at all.
#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <functional>
#include <memory>

class QIODevice;
class QSaveFile;
class QTemporaryFile;

namespace Corvane {

class TScriptSink {
public:
  // In memory; Take hands the text over.
  TScriptSink();
  // Into aFileName. The temporary file is made now, so that a target that cannot be written
  // fails before any row is read. With aNoteLater a line may still be inserted at the mark
  // when the run ends: what follows the mark then waits in a second temporary file.
  TScriptSink(const QString& aFileName, bool aNoteLater);
  ~TScriptSink();  // whatever was not committed is discarded
  TScriptSink(const TScriptSink&) = delete;
  TScriptSink& operator=(const TScriptSink&) = delete;

  void Append(QStringView aText);
  void AppendLine(QStringView aLine);  // and CR LF
  // The place where InsertAtMark puts its line; once per run.
  void Mark();
  void InsertAtMark(QByteArrayView aLine);

  // In memory: the text so far.
  QByteArray Take();
  // Into the file: every byte written and flushed, then aLastCheck (which may throw to keep
  // the file from appearing), then the target replaced.
  void Commit(const std::function<void()>& aLastCheck);

private:
  void Reserve(qsizetype aBytes);
  void Drain(bool aAll);
  void WriteAll(QIODevice& aDevice, const char* aData, qsizetype aSize);
  [[noreturn]] void FailWrite(const QString& aReason);

  QString FFileName;                        // empty in memory
  std::unique_ptr<QSaveFile> FFile;
  QByteArray FFilePath;                     // its temporary file's
  std::unique_ptr<QTemporaryFile> FSpool;   // what follows the mark, when a note may come later
  bool FNoteLater = false;
  QByteArray FHead;                         // with a spool: what precedes the mark
  QByteArray FNote;
  bool FMarked = false;
  qsizetype FMarkAt = -1;                   // in memory: where the note goes
  QByteArray FBuffer;
  QStringEncoder FEncoder{QStringEncoder::Utf8};
};

// The temporary files of runs in progress are removed by this, for a program that must end at
// once (a second interruption): nothing half-written stays behind. Safe from any thread.
void RemoveUnfinishedFiles() noexcept;

}  // namespace Corvane
