#include "Corvane.ScriptSink.h"

#include "Corvane.Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace Corvane {

namespace {

constexpr qsizetype CPiece = 1 << 20;  // bytes written at a time

// The paths of the temporary files of runs in progress.
std::mutex GUnfinishedLock;
std::vector<QByteArray> GUnfinished;

// The path of an open file, as the system knows it: QSaveFile does not tell its temporary one.
// Where the system makes it without a name there is nothing to remove, and the path given is
// one that does not exist.
QByteArray OpenPath(const QFileDevice& aFile) {
#ifdef Q_OS_LINUX
  return QFile::encodeName(QFile::symLinkTarget("/proc/self/fd/" + QString::number(aFile.handle())));
#else
  Q_UNUSED(aFile);
  return {};
#endif
}

void Register(const QByteArray& aPath) {
  if (aPath.isEmpty()) return;
  std::lock_guard LLock(GUnfinishedLock);
  GUnfinished.push_back(aPath);
}

void Unregister(const QByteArray& aPath) noexcept {
  if (aPath.isEmpty()) return;
  std::lock_guard LLock(GUnfinishedLock);
  GUnfinished.erase(std::remove(GUnfinished.begin(), GUnfinished.end(), aPath), GUnfinished.end());
}

}  // namespace

void RemoveUnfinishedFiles() noexcept {
  std::lock_guard LLock(GUnfinishedLock);
  for (const QByteArray& LPath : GUnfinished) std::remove(LPath.constData());
  GUnfinished.clear();
}

TScriptSink::TScriptSink() : FEncoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless) {}

TScriptSink::TScriptSink(const QString& aFileName, bool aNoteLater)
    : FFileName(aFileName), FNoteLater(aNoteLater), FEncoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless) {
  FFile = std::make_unique<QSaveFile>(aFileName);
  FFile->setDirectWriteFallback(false);
  // Unbuffered: a write that Qt buffered would fail only when commit() flushes it, and
  // commit() does not notice that failure; it would replace the target with a truncated file.
  if (!FFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    // The temporary file is made in the target's folder: when the folder is there and the
    // target could be replaced, it is the folder that refused.
    const QFileInfo LTarget(aFileName);
    const QString LFolder = LTarget.absolutePath();
    if (QFileInfo(LFolder).isDir() && (!LTarget.exists() || LTarget.isWritable()))
      throw TCorvaneError("Nao foi possivel criar o arquivo temporario na pasta " + LFolder + ": " +
                          FFile->errorString());
    throw TCorvaneError("Nao foi possivel criar o arquivo " + aFileName + ": " + FFile->errorString());
  }
  if (FNoteLater) {
    FSpool = std::make_unique<QTemporaryFile>(aFileName + QStringLiteral(".XXXXXX"));
    if (!FSpool->open())
      throw TCorvaneError("Nao foi possivel criar o arquivo temporario na pasta " + QFileInfo(aFileName).absolutePath() +
                          ": " + FSpool->errorString());
    Register(QFile::encodeName(FSpool->fileName()));
  }
  // Last, so that a constructor that failed registered nothing.
  FFilePath = OpenPath(*FFile);
  Register(FFilePath);
  FBuffer.reserve(CPiece + CPiece / 4);
}

TScriptSink::~TScriptSink() {
  Unregister(FFilePath);
  if (FSpool) Unregister(QFile::encodeName(FSpool->fileName()));
}

void TScriptSink::Append(QStringView aText) {
  const qsizetype LOld = FBuffer.size();
  FBuffer.resize(LOld + FEncoder.requiredSpace(aText.size()));
  char* LEnd = FEncoder.appendToBuffer(FBuffer.data() + LOld, aText);
  FBuffer.truncate(LEnd - FBuffer.constData());
  if (FFile && FBuffer.size() >= CPiece) Drain(false);
}

void TScriptSink::AppendLine(QStringView aLine) {
  Append(aLine);
  FBuffer.append("\r\n", 2);
}

void TScriptSink::Mark() {
  FMarked = true;
  if (!FFile)
    FMarkAt = FBuffer.size();
  else if (FNoteLater)
    std::swap(FHead, FBuffer);
}

void TScriptSink::InsertAtMark(QByteArrayView aLine) {
  if (FFile && !FNoteLater) throw TCorvaneError("Nota inesperada no script.");
  FNote = aLine.toByteArray();
}

QByteArray TScriptSink::Take() {
  if (!FNote.isEmpty() && FMarkAt >= 0) FBuffer.insert(FMarkAt, FNote);
  FNote.clear();
  FMarkAt = -1;
  return std::exchange(FBuffer, QByteArray());
}

[[noreturn]] void TScriptSink::FailWrite(const QString& aReason) {
  FFile->cancelWriting();
  throw TCorvaneError("Nao foi possivel gravar o arquivo " + FFileName + ": " + aReason);
}

void TScriptSink::WriteAll(QIODevice& aDevice, const char* aData, qsizetype aSize) {
  // A short write carries no reason; writing the rest again fails with the system's own
  // (a full disk, a file size limit).
  for (qsizetype LDone = 0; LDone < aSize;) {
    const qint64 LWritten = aDevice.write(aData + LDone, qMin(CPiece, aSize - LDone));
    if (LWritten <= 0) FailWrite(aDevice.errorString());
    LDone += LWritten;
  }
}

// The buffer into the file, or into the spool once the mark is set; before it, the head
// stays in memory.
void TScriptSink::Drain(bool aAll) {
  if (!aAll && FBuffer.size() < CPiece) return;
  if (FNoteLater && !FMarked) return;
  WriteAll(FSpool ? static_cast<QIODevice&>(*FSpool) : *FFile, FBuffer.constData(), FBuffer.size());
  FBuffer.truncate(0);
}

void TScriptSink::Commit(const std::function<void()>& aLastCheck) {
  if (FSpool) {
    Drain(true);
    if (!FSpool->flush() || !FSpool->seek(0)) FailWrite(FSpool->errorString());
    WriteAll(*FFile, FHead.constData(), FHead.size());
    WriteAll(*FFile, FNote.constData(), FNote.size());
    FBuffer.resize(CPiece);
    for (;;) {
      const qint64 LRead = FSpool->read(FBuffer.data(), CPiece);
      if (LRead < 0) FailWrite(FSpool->errorString());
      if (LRead == 0) break;
      WriteAll(*FFile, FBuffer.constData(), LRead);
    }
    FBuffer.truncate(0);
  } else {
    Drain(true);
  }
  if (!FFile->flush()) FailWrite(FFile->errorString());
  if (aLastCheck) {
    try {
      aLastCheck();
    } catch (...) {
      FFile->cancelWriting();
      throw;
    }
  }
  Unregister(std::exchange(FFilePath, QByteArray()));
  if (!FFile->commit()) throw TCorvaneError("Nao foi possivel gravar o arquivo " + FFileName + ": " + FFile->errorString());
}

}  // namespace Corvane
