// The fuzz targets' properties in the normal suite: every seed of tests/fuzz/corpus and every
// input a fuzzer once broke the program with (tests/fuzz/regressions) is checked on each run,
// without clang or libFuzzer.
#include "fuzz/FuzzChecks.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <limits>

using namespace Corvane;
using namespace Corvane::Fuzz;

namespace {

using TCheck = std::string (*)(const std::uint8_t*, std::size_t);

QString FuzzFolder() { return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/fuzz"); }

// Runs aCheck over every file of corpus/TARGET and regressions/TARGET; the number of files seen.
int CheckFiles(const QString& aTarget, TCheck aCheck) {
  int LCount = 0;
  for (const QString& LKind : {QStringLiteral("corpus"), QStringLiteral("regressions")}) {
    QDirIterator LFiles(FuzzFolder() + "/" + LKind + "/" + aTarget, QDir::Files);
    while (LFiles.hasNext()) {
      const QString LName = LFiles.next();
      QFile LFile(LName);
      EXPECT_TRUE(LFile.open(QIODevice::ReadOnly)) << LName.toStdString();
      const QByteArray LBytes = LFile.readAll();
      EXPECT_EQ(aCheck(reinterpret_cast<const std::uint8_t*>(LBytes.constData()), std::size_t(LBytes.size())), "")
          << LName.toStdString();
      ++LCount;
    }
  }
  return LCount;
}

// Literal bytes with their embedded zeros, without the terminating one.
template <std::size_t N>
QByteArray Bytes(const char (&aText)[N]) {
  return QByteArray(aText, qsizetype(N - 1));
}

std::string Check(TCheck aCheck, const QByteArray& aBytes) {
  return aCheck(reinterpret_cast<const std::uint8_t*>(aBytes.constData()), std::size_t(aBytes.size()));
}

}  // namespace

TEST(FuzzCorpus, EverySeedAndKeptCrashStillHoldsItsProperty) {
  EXPECT_GT(CheckFiles("FuzzIniFile", &CheckIniFile), 0);
  EXPECT_GT(CheckFiles("FuzzNameList", &CheckNameList), 0);
  EXPECT_GT(CheckFiles("FuzzNamedSql", &CheckNamedSql), 0);
  EXPECT_GT(CheckFiles("FuzzLiteral", &CheckLiteral), 0);
  EXPECT_GT(CheckFiles("FuzzScriptReader", &CheckScriptReader), 0);
}

// The checks themselves must tell a broken property from a sound one, or the fuzzers
// would run green over anything.
TEST(FuzzCorpus, ChecksRecogniseTheRenderersMessagesAndRefuseOthers) {
  EXPECT_TRUE(KnownLiteralError("Texto nao representavel no charset ASCII.", "ASCII"));
  EXPECT_FALSE(KnownLiteralError("Texto nao representavel no charset UTF8.", "ASCII"));
  EXPECT_FALSE(KnownLiteralError("", "ASCII"));
  EXPECT_TRUE(IsOneLineAscii("_UTF8 x'41'"));
  EXPECT_FALSE(IsOneLineAscii("'a\nb'"));
  EXPECT_FALSE(IsOneLineAscii(QString::fromUtf8("'é'")));
  EXPECT_FALSE(IsOneLineAscii(""));
  EXPECT_EQ(DecodeTextLiteral("_WIN1252 x'4180'", "WIN1252"), QString::fromUtf8("A€"));
  EXPECT_EQ(DecodeTextLiteral("_UTF8 x''", "UTF8"), QString());
  EXPECT_FALSE(DecodeTextLiteral("_UTF8 x'4'", "UTF8").has_value());
  EXPECT_FALSE(DecodeTextLiteral("_ASCII x'41'", "UTF8").has_value());
}

TEST(FuzzCorpus, HandPickedInputsOfEachTarget) {
  // Text kind 6 in UTF-8 mode under ASCII: an accent is refused with the renderer's message.
  EXPECT_EQ(Check(&CheckLiteral, Bytes("\x03\x06\x01\xC3\xA9")), "");
  // A float of every bit pattern class: NaN (refused), infinity (refused), subnormal, -0.
  for (const QByteArray& LBits : {Bytes("\x7F\xF8\0\0\0\0\0\x01"), Bytes("\xFF\xF0\0\0\0\0\0\0"),
                                  Bytes("\0\0\0\0\0\0\0\x01"), Bytes("\x80\0\0\0\0\0\0\0")})
    EXPECT_EQ(Check(&CheckLiteral, Bytes("\x01\x02") + LBits), "");
  // Decimal scales outside 0..18 are refused when the value is made.
  EXPECT_EQ(Check(&CheckLiteral, Bytes("\x00\x01\0\0\0\0\0\0\0\x05\xC7")), "");
  // Dates and times with any numbers still render one line.
  EXPECT_EQ(Check(&CheckLiteral, Bytes("\x00\x05\xFF\x80\0\0\0\xFF\x7F\xFF\xFF\xFF")), "");
  EXPECT_EQ(Check(&CheckNameList, Bytes("\x01\"a\"\"")), "");
  EXPECT_EQ(Check(&CheckNamedSql, Bytes("\x01q'")), "");
  EXPECT_EQ(Check(&CheckIniFile, Bytes("[a]\n[A]\n[ a ]\0[\xFF]")), "");
}

// Found by the literal fuzzer: ICU's stop callback silently dropped unmappable
// default-ignorable characters, so "Olá\u206C" became the literal of "Olá" under WIN1252,
// and a key value with a zero-width space would have matched the row without it.
TEST(FuzzFindings, DefaultIgnorableCharactersAreRefusedNotDropped) {
  const QString LZeroWidth = QString::fromUtf8("chave\u200B");
  for (const char* LSet : {"WIN1252", "ISO8859_1", "ASCII"}) {
    QByteArray LBytes;
    for (const char16_t LUnit : {u'\u200B', u'\u200D', u'\u206C', u'\uFE0F', u'\uFEFF'})
      EXPECT_FALSE(TTextEncoding::ForCharacterSet(LSet)->TryEncode(QString("a") + QChar(LUnit), LBytes))
          << LSet << " U+" << std::hex << int(LUnit);
    EXPECT_THROW(TSqlLiterals(LSet).Literal(TValue::Text(LZeroWidth), "F"), TCorvaneError) << LSet;
  }
  QByteArray LUtf8;
  ASSERT_TRUE(TTextEncoding::ForCharacterSet("UTF8")->TryEncode(LZeroWidth, LUtf8));
  EXPECT_EQ(LUtf8, QByteArray("chave\xE2\x80\x8B"));
}

// Found by the literal fuzzer under UBSan: the date and time writer negated the smallest int.
// Such a date never comes from a database, but the writer must still write plain digits.
TEST(FuzzFindings, SmallestIntInADateIsWrittenWithoutOverflow) {
  constexpr int CMin = std::numeric_limits<int>::min();
  EXPECT_EQ(TSqlLiterals("ASCII").Literal(TValue::Date(TDate{CMin, 1, 1}), "F"), "DATE '-2147483648-01-01'");
  EXPECT_EQ(TSqlLiterals("UTF8").Literal(TValue::Time(TTime{0, CMin, 0, 0}), "F"), "TIME '00:-2147483648:00.000'");
}
