// Zip archives around and above the size where zip64 fields begin. The data
// are generated while they are read, compress to a few megabytes, and the
// archives go away with the test.

#include "CopyTestHelpers.h"

#include "support/CopyTestStreams.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QStorageInfo>

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

std::uint32_t GeneratedCrc(std::uint64_t size, std::uint32_t seed)
{
  TGeneratedStream stream(size, seed);
  std::vector<unsigned char> buffer(1 << 20);
  uLong crc = 0;
  for (;;) {
    std::uint32_t got = 0;
    stream.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got);
    if (got == 0)
      break;
    crc = ::crc32_z(crc, buffer.data(), got);
  }
  return static_cast<std::uint32_t>(crc);
}

struct TLargeCase {
  const char* Label;
  std::uint64_t Size;
  bool Large;
};

void PrintTo(const TLargeCase& c, std::ostream* os)
{
  *os << c.Label;
}

class LargeZipTest : public ::testing::TestWithParam<TLargeCase> {
protected:
  ScopedEnv FLocale{"LC_ALL", "C.UTF-8"};
};

TEST_P(LargeZipTest, ReadersAcceptTheArchive)
{
  const TLargeCase& c = GetParam();
  TempDir dir;
  // The archive itself stays below a few megabytes; the readers need no more.
  const qint64 available = QStorageInfo(dir.Path()).bytesAvailable();
  if (available < (qint64(256) << 20))
    GTEST_SKIP() << "only " << available << " bytes free in " << dir.Path().toStdString();

  const std::uint32_t seed = 11;
  const QString name = u"Video 2023.mp4"_s;
  const QString dest = dir.File(u"video.zip"_s);
  TFileData source =
      MakeFileData(name, std::make_shared<TGeneratedStream>(c.Size, seed), static_cast<std::int64_t>(c.Size), 1 << 20);
  const TJobOutcome outcome =
      RunCopyJob(source, dest, TCopyOptions{coOverwrite, coTimeStamp, coZipCompress, coCompress});
  ASSERT_TRUE(outcome.Done);
  ASSERT_EQ(outcome.Code, 0) << outcome.Message.toStdString();

  const ProcessResult unzipTest = ardanto::test::Run(u"unzip"_s, {u"-t"_s, dest}, 600000);
  EXPECT_EQ(unzipTest.ExitCode, 0) << unzipTest.Output.constData();
  EXPECT_TRUE(unzipTest.Output.contains("No errors detected")) << unzipTest.Output.constData();
  if (c.Large) {
    const ProcessResult sevenZip = ardanto::test::Run(u"7z"_s, {u"t"_s, dest}, 600000);
    EXPECT_EQ(sevenZip.ExitCode, 0) << sevenZip.Output.constData();
  }

  QString error;
  const QJsonObject zip = PythonReadBack(u"zip"_s, dest, QString(), error);
  ASSERT_FALSE(zip.isEmpty()) << error.toStdString();
  EXPECT_TRUE(zip[u"testzip"_s].isNull());
  const QJsonArray entries = zip[u"entries"_s].toArray();
  ASSERT_EQ(entries.size(), 1);
  const QJsonObject entry = entries[0].toObject();
  EXPECT_EQ(entry[u"name"_s].toString(), name);
  EXPECT_EQ(static_cast<std::uint64_t>(entry[u"file_size"_s].toInteger()), c.Size);
  EXPECT_EQ(entry[u"crc"_s].toInteger(), GeneratedCrc(c.Size, seed));
  EXPECT_EQ(entry[u"compress_type"_s].toInt(), 8);
  EXPECT_EQ(entry[u"extract_version"_s].toInt(), c.Large ? 45 : 20);

  const QJsonObject local = zip[u"local"_s].toObject();
  EXPECT_EQ(local[u"version"_s].toInt(), c.Large ? 45 : 20);
  const auto csize = static_cast<std::uint64_t>(entry[u"compress_size"_s].toInteger());
  if (!c.Large) {
    EXPECT_EQ(static_cast<std::uint64_t>(local[u"usize"_s].toInteger()), c.Size);
    EXPECT_EQ(local[u"extra"_s].toString(), QString());
    EXPECT_EQ(entry[u"central_extra"_s].toString(), QString());
    return;
  }
  // Large: both local sizes in the zip64 field; the directory carries only
  // the sizes that do not fit in 32 bits.
  EXPECT_EQ(local[u"usize"_s].toInteger(), 0xFFFFFFFFLL);
  EXPECT_EQ(local[u"csize"_s].toInteger(), 0xFFFFFFFFLL);
  const auto le64 = [](std::uint64_t v) {
    QByteArray bytes;
    for (int i = 0; i < 8; ++i)
      bytes.append(static_cast<char>(v >> (8 * i)));
    return bytes;
  };
  EXPECT_EQ(local[u"extra"_s].toString(),
            QString::fromLatin1(QByteArray(QByteArray("\x01\x00\x10\x00", 4) + le64(c.Size) + le64(csize)).toHex()));
  QByteArray central("\x01\x00", 2);
  QByteArray values;
  if (c.Size > 0xFFFFFFFFu)
    values += le64(c.Size);
  if (csize > 0xFFFFFFFFu)
    values += le64(csize);
  central.append(static_cast<char>(values.size()));
  central.append('\0');
  EXPECT_EQ(entry[u"central_extra"_s].toString(), QString::fromLatin1(QByteArray(central + values).toHex()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeZipTest,
                         ::testing::Values(TLargeCase{"JustBelowZip64", 0xFF000000u, false},
                                           TLargeCase{"FirstZip64", 0xFF000001u, true},
                                           TLargeCase{"Above4GiB", 4'300'000'000u, true}),
                         [](const auto& param) { return std::string(param.param.Label); });

} // namespace
