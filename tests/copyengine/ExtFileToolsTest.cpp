#include "CopyTestHelpers.h"

#include "common/FileUtils.h"
#include "copyengine/ExtFileTools.h"
#include "support/CopyTestStreams.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

enum class TKind { Plain, GZip, ZipDeflate, ZipStored };
constexpr TKind kAllKinds[] = {TKind::Plain, TKind::GZip, TKind::ZipDeflate, TKind::ZipStored};

const char* KindName(TKind kind)
{
  switch (kind) {
  case TKind::Plain:
    return "Plain";
  case TKind::GZip:
    return "GZip";
  case TKind::ZipDeflate:
    return "ZipDeflate";
  case TKind::ZipStored:
    return "ZipStored";
  }
  return "?";
}

void PrintTo(TKind kind, std::ostream* os)
{
  *os << KindName(kind);
}

// The options the device program passes for each kind of job.
TCopyOptions OptionsFor(TKind kind, bool overwrite)
{
  TCopyOptions options{coTimeStamp};
  if (overwrite)
    options.Include(coOverwrite);
  if (kind == TKind::GZip || kind == TKind::ZipDeflate)
    options.Include(coCompress);
  if (kind == TKind::ZipDeflate || kind == TKind::ZipStored)
    options.Include(coZipCompress);
  return options;
}

int TypeOf(TKind kind)
{
  return kind == TKind::Plain ? etCopy : (kind == TKind::GZip ? etGZip : etZip);
}

QString Extension(TKind kind)
{
  return kind == TKind::Plain ? QString() : (kind == TKind::GZip ? u".gz"_s : u".zip"_s);
}

QByteArray RandomBytes(qsizetype size, quint32 seed)
{
  QByteArray bytes(size, Qt::Uninitialized);
  QRandomGenerator generator(seed);
  for (char& c : bytes)
    c = static_cast<char>(generator.generate() & 0xFF);
  return bytes;
}

std::uint32_t Crc32(const QByteArray& data)
{
  return static_cast<std::uint32_t>(
      ::crc32_z(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<z_size_t>(data.size())));
}

QString SystemText(int error)
{
  return u"System error: "_s + SystemErrorText(error);
}

// Last-write time of the records MakeFileData builds, in Unix seconds.
constexpr qint64 kStampUnix = 1686824430;

TFileTime FileWriteTime(const QString& fileName)
{
  TFileTimestamps stamps;
  return GetFileTimestamps(fileName, stamps) ? stamps.LastWriteTime : 0;
}

mode_t FileMode(const QString& fileName)
{
  struct stat st {};
  ::lstat(QFile::encodeName(fileName).constData(), &st);
  return st.st_mode;
}

// Names in a folder as bytes; Qt does not list names that are not UTF-8.
QList<QByteArray> RawEntries(const QString& path)
{
  QList<QByteArray> names;
  if (DIR* d = ::opendir(QFile::encodeName(path).constData())) {
    while (const dirent* e = ::readdir(d)) {
      const QByteArray name(e->d_name);
      if (name != "." && name != "..")
        names << name;
    }
    ::closedir(d);
  }
  return names;
}

// Peers print names as UTF-8 only in a UTF-8 locale.
class CopyEngineTest : public ::testing::Test {
protected:
  ScopedEnv FLocale{"LC_ALL", "C.UTF-8"};
};

// Checks dest with every reader that knows its format; expectedFile holds the
// source data.
void ExpectReadsBack(TKind kind, const QString& dest, const QString& expectedFile, const QString& name)
{
  const QByteArray data = ReadFile(expectedFile);
  if (kind == TKind::Plain) {
    EXPECT_EQ(ReadFile(dest), data);
    return;
  }
  QString error;
  if (kind == TKind::GZip) {
    const ProcessResult gzipTest = ardanto::test::Run(u"gzip"_s, {u"-t"_s, dest});
    EXPECT_EQ(gzipTest.ExitCode, 0) << gzipTest.Output.constData();
    const QJsonObject gz = PythonReadBack(u"gzip"_s, dest, expectedFile, error);
    ASSERT_FALSE(gz.isEmpty()) << error.toStdString();
    EXPECT_TRUE(gz[u"content_equal"_s].toBool());
    EXPECT_EQ(gz[u"magic"_s].toInt(), 0x8B1F);
    EXPECT_EQ(gz[u"method"_s].toInt(), 8);
    EXPECT_EQ(gz[u"flags"_s].toInt(), name.isEmpty() ? 0x04 : 0x0C);
    EXPECT_EQ(gz[u"mtime"_s].toInteger(), kStampUnix);
    EXPECT_EQ(gz[u"xlen"_s].toInt(), 20);
    EXPECT_EQ(gz[u"subfield"_s].toArray(), (QJsonArray{1, 0}));
    EXPECT_EQ(gz[u"sublen"_s].toInt(), 16);
    EXPECT_EQ(gz[u"extra_usize"_s].toInteger(), data.size());
    // The compressed size covers exactly the bytes between header and trailer.
    EXPECT_EQ(gz[u"extra_csize"_s].toInteger(), gz[u"file_size"_s].toInteger() - gz[u"header_size"_s].toInteger() - 8);
    EXPECT_GT(gz[u"extra_csize"_s].toInteger(), 0);
    EXPECT_EQ(gz[u"trailer_crc"_s].toInteger(), Crc32(data));
    EXPECT_EQ(gz[u"trailer_isize"_s].toInteger(), data.size());
    return;
  }

  const ProcessResult unzipTest = ardanto::test::Run(u"unzip"_s, {u"-t"_s, dest});
  EXPECT_EQ(unzipTest.ExitCode, 0) << unzipTest.Output.constData();
  EXPECT_TRUE(unzipTest.Output.contains("No errors detected")) << unzipTest.Output.constData();
  const ProcessResult zipinfo = ardanto::test::Run(u"zipinfo"_s, {dest});
  EXPECT_EQ(zipinfo.ExitCode, 0) << zipinfo.Output.constData();
  EXPECT_TRUE(zipinfo.Output.contains("1 file")) << zipinfo.Output.constData();
  const ProcessResult sevenZip = ardanto::test::Run(u"7z"_s, {u"t"_s, dest});
  EXPECT_EQ(sevenZip.ExitCode, 0) << sevenZip.Output.constData();
  EXPECT_TRUE(sevenZip.Output.contains("Everything is Ok")) << sevenZip.Output.constData();

  const QJsonObject zip = PythonReadBack(u"zip"_s, dest, expectedFile, error);
  ASSERT_FALSE(zip.isEmpty()) << error.toStdString();
  EXPECT_TRUE(zip[u"testzip"_s].isNull()) << zip[u"testzip"_s].toString().toStdString();
  const QJsonArray entries = zip[u"entries"_s].toArray();
  ASSERT_EQ(entries.size(), 1);
  const QJsonObject entry = entries[0].toObject();
  const bool deflated = kind == TKind::ZipDeflate && !data.isEmpty();
  EXPECT_EQ(entry[u"name"_s].toString(), name);
  EXPECT_TRUE(entry[u"content_equal"_s].toBool());
  EXPECT_EQ(entry[u"compress_type"_s].toInt(), deflated ? 8 : 0);
  EXPECT_EQ(entry[u"flag_bits"_s].toInt(), 0x0080 | (deflated ? 0x0002 : 0));
  EXPECT_EQ(entry[u"file_size"_s].toInteger(), data.size());
  EXPECT_EQ(entry[u"crc"_s].toInteger(), Crc32(data));
  EXPECT_EQ(entry[u"extract_version"_s].toInt(), 20);
  EXPECT_EQ(entry[u"create_version"_s].toInt(), 20);
  EXPECT_EQ(entry[u"create_system"_s].toInt(), 0);
  EXPECT_EQ(entry[u"external_attr"_s].toInt(), static_cast<int>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(entry[u"header_offset"_s].toInt(), 0);
  EXPECT_EQ(entry[u"central_extra"_s].toString(), QString());
  const QDateTime local = QDateTime::fromSecsSinceEpoch(kStampUnix).toLocalTime();
  EXPECT_EQ(entry[u"date_time"_s].toArray(),
            (QJsonArray{local.date().year(), local.date().month(), local.date().day(), local.time().hour(),
                        local.time().minute(), local.time().second() / 2 * 2}));

  // The local header carries the same values, filled in after the data.
  const QJsonObject header = zip[u"local"_s].toObject();
  EXPECT_EQ(header[u"version"_s].toInt(), 20);
  EXPECT_EQ(header[u"flags"_s].toInt(), entry[u"flag_bits"_s].toInt());
  EXPECT_EQ(header[u"method"_s].toInt(), entry[u"compress_type"_s].toInt());
  EXPECT_EQ(header[u"crc"_s].toInteger(), Crc32(data));
  EXPECT_EQ(header[u"csize"_s].toInteger(), entry[u"compress_size"_s].toInteger());
  EXPECT_EQ(header[u"usize"_s].toInteger(), data.size());
  EXPECT_EQ(header[u"extra"_s].toString(), QString());
}

// ---------------------------------------------------------------------------
// Every kind of job over several sources, read back by the peers

struct TContentCase {
  const char* Label;
  QByteArray Data;
  bool FromFile;          // read through a file on disk, else from memory
  std::uint32_t MaxChunk; // memory streams: most bytes per read
};

void PrintTo(const TContentCase& c, std::ostream* os)
{
  *os << c.Label;
}

std::vector<TContentCase> ContentCases()
{
  return {
      {"Empty", QByteArray(), false, 0},
      {"SmallText", QByteArray("Holiday pictures, 2023.\nSecond line of a small text file.\n"), true, 0},
      // Several megabytes that do not compress, delivered in pieces smaller
      // than the buffer as device streams do.
      {"RandomMegabytes", RandomBytes(3 * 1024 * 1024 + 123, 7), false, 40000},
      // A file source lets a plain copy run inside the kernel.
      {"FileMegabytes", RandomBytes(2 * 1024 * 1024 + 5, 12), true, 0},
  };
}

class CopyRoundTripTest : public CopyEngineTest,
                          public ::testing::WithParamInterface<std::tuple<TKind, TContentCase>> {};

TEST_P(CopyRoundTripTest, PeersReadTheCopyBack)
{
  const auto& [kind, content] = GetParam();
  TempDir dir;
  const QString expected = dir.Write(u"expected.bin"_s, content.Data);
  std::shared_ptr<IReadStream> stream;
  if (content.FromFile)
    stream = std::make_shared<TFileSourceStream>(expected);
  else
    stream = std::make_shared<TMemoryStream>(content.Data, content.MaxChunk);
  const QString name = u"IMG_0001.jpg"_s;
  const TFileData source = MakeFileData(name, stream, content.Data.size());
  QDir().mkpath(dir.File(u"out"_s));
  const QString dest = dir.File(u"out/"_s + name + Extension(kind));

  const TJobOutcome outcome = RunCopyJob(source, dest, OptionsFor(kind, true));
  ASSERT_TRUE(outcome.Done);
  EXPECT_EQ(outcome.Code, 0) << outcome.Message.toStdString();
  EXPECT_EQ(outcome.Message, QString());
  EXPECT_EQ(outcome.Type, TypeOf(kind));
  // Nothing but the destination is left in the folder.
  EXPECT_EQ(FolderEntries(dir.File(u"out"_s)), QStringList{QFileInfo(dest).fileName()});
  EXPECT_EQ(FileWriteTime(dest), source.TimeStamps.LastWriteTime);
  ExpectReadsBack(kind, dest, expected, name);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, CopyRoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kAllKinds), ::testing::ValuesIn(ContentCases())),
                         [](const auto& param) {
                           return std::string(KindName(std::get<0>(param.param))) + std::get<1>(param.param).Label;
                         });

// ---------------------------------------------------------------------------
// Names inside the archives

struct TNameCase {
  const char* Label;
  QString Name;
  QByteArray ZipBytes; // as stored in the zip archive
  bool ZipUtf8;
  bool GZipUtf8;
};

void PrintTo(const TNameCase& c, std::ostream* os)
{
  *os << c.Label;
}

std::vector<TNameCase> NameCases()
{
  return {
      {"EAcute", u"Résumé été.txt"_s, QByteArray("R\x82sum\x82 \x82t\x82.txt"), false, false},
      {"Euro", u"Preis 5 €.txt"_s, u"Preis 5 €.txt"_s.toUtf8(), true, true},
      {"Cyrillic", u"Отчёт.txt"_s, u"Отчёт.txt"_s.toUtf8(), true, true},
      // In Latin-1 but not in code page 437: UTF-8 in a zip, Latin-1 in gzip.
      {"Latin1Only", u"Ãø ¾.txt"_s, u"Ãø ¾.txt"_s.toUtf8(), true, false},
  };
}

class ArchiveNameTest : public CopyEngineTest, public ::testing::WithParamInterface<TNameCase> {};

TEST_P(ArchiveNameTest, ZipNameComesBackExactly)
{
  const TNameCase& c = GetParam();
  TempDir dir;
  const QByteArray data("name test\n");
  const QString expected = dir.Write(u"expected.bin"_s, data);
  const QString dest = dir.File(u"out.zip"_s);
  const TJobOutcome outcome = RunCopyJob(MakeFileData(c.Name, std::make_shared<TMemoryStream>(data), data.size()), dest,
                                         OptionsFor(TKind::ZipDeflate, false));
  ASSERT_EQ(outcome.Code, 0) << outcome.Message.toStdString();

  QString error;
  const QJsonObject zip = PythonReadBack(u"zip"_s, dest, expected, error);
  ASSERT_FALSE(zip.isEmpty()) << error.toStdString();
  EXPECT_TRUE(zip[u"testzip"_s].isNull());
  const QJsonObject entry = zip[u"entries"_s].toArray()[0].toObject();
  EXPECT_EQ(entry[u"name"_s].toString(), c.Name);
  EXPECT_EQ(entry[u"flag_bits"_s].toInt() & 0x0800, c.ZipUtf8 ? 0x0800 : 0);
  EXPECT_EQ(zip[u"local"_s].toObject()[u"name_hex"_s].toString(), QString::fromLatin1(c.ZipBytes.toHex()));

  EXPECT_EQ(entry[u"create_system"_s].toInt(), c.ZipUtf8 ? 10 : 0);

  // Info-ZIP turns code page 437 names into ISO 8859-1, its character set on
  // Unix, and keeps UTF-8 names; 7-Zip prints the stored bytes.
  const QByteArray unzipName = c.ZipUtf8 ? c.Name.toUtf8() : c.Name.toLatin1();
  const ProcessResult list = ardanto::test::Run(u"unzip"_s, {u"-Z1"_s, dest});
  EXPECT_EQ(list.ExitCode, 0);
  EXPECT_EQ(list.Output.trimmed(), unzipName);
  const ProcessResult zipinfo = ardanto::test::Run(u"zipinfo"_s, {dest});
  EXPECT_TRUE(zipinfo.Output.contains(unzipName)) << zipinfo.Output.constData();
  const QString out = dir.File(u"extracted"_s);
  const ProcessResult extract = ardanto::test::Run(u"unzip"_s, {u"-q"_s, u"-d"_s, out, dest});
  EXPECT_EQ(extract.ExitCode, 0) << extract.Output.constData();
  const QList<QByteArray> extracted = RawEntries(out);
  for (const QByteArray& entryName : extracted)
    ::unlink(QByteArray(QFile::encodeName(out) + '/' + entryName).constData());
  EXPECT_EQ(extracted, QList<QByteArray>{unzipName});
  const ProcessResult test = ardanto::test::Run(u"unzip"_s, {u"-t"_s, dest});
  EXPECT_EQ(test.ExitCode, 0) << test.Output.constData();
  const ProcessResult sevenZip = ardanto::test::Run(u"7z"_s, {u"l"_s, u"-slt"_s, dest});
  EXPECT_EQ(sevenZip.ExitCode, 0);
  const QByteArray pathLine = QByteArray("\nPath = ") + c.ZipBytes + '\n';
  EXPECT_TRUE(sevenZip.Output.contains(pathLine)) << sevenZip.Output.constData();
  EXPECT_EQ(ardanto::test::Run(u"7z"_s, {u"t"_s, dest}).ExitCode, 0);
}

TEST_P(ArchiveNameTest, GZipNameComesBackExactly)
{
  const TNameCase& c = GetParam();
  TempDir dir;
  const QByteArray data("name test\n");
  const QString expected = dir.Write(u"expected.bin"_s, data);
  const QString dest = dir.File(u"out.gz"_s);
  const TJobOutcome outcome = RunCopyJob(MakeFileData(c.Name, std::make_shared<TMemoryStream>(data), data.size()), dest,
                                         OptionsFor(TKind::GZip, false));
  ASSERT_EQ(outcome.Code, 0) << outcome.Message.toStdString();

  EXPECT_EQ(ardanto::test::Run(u"gzip"_s, {u"-t"_s, dest}).ExitCode, 0);
  QString error;
  const QJsonObject gz = PythonReadBack(u"gzip"_s, dest, expected, error);
  ASSERT_FALSE(gz.isEmpty()) << error.toStdString();
  EXPECT_TRUE(gz[u"content_equal"_s].toBool());
  EXPECT_EQ(gz[u"os"_s].toInt(), c.GZipUtf8 ? 11 : 0);
  const QByteArray stored = QByteArray::fromHex(gz[u"name_hex"_s].toString().toLatin1());
  EXPECT_EQ(c.GZipUtf8 ? QString::fromUtf8(stored) : QString::fromLatin1(stored), c.Name);
  // gzip itself restores the stored name byte for byte.
  const QString out = dir.File(u"restored"_s);
  QDir().mkpath(out);
  ASSERT_TRUE(QFile::rename(dest, out + u"/out.gz"_s));
  const ProcessResult restore = ardanto::test::Run(u"gzip"_s, {u"-d"_s, u"-N"_s, out + u"/out.gz"_s});
  EXPECT_EQ(restore.ExitCode, 0) << restore.Output.constData();
  const QList<QByteArray> restored = RawEntries(out);
  for (const QByteArray& entryName : restored)
    ::unlink(QByteArray(QFile::encodeName(out) + '/' + entryName).constData());
  EXPECT_EQ(restored, QList<QByteArray>{stored});
}

INSTANTIATE_TEST_SUITE_P(Names, ArchiveNameTest, ::testing::ValuesIn(NameCases()),
                         [](const auto& param) { return std::string(param.param.Label); });

// ---------------------------------------------------------------------------
// Options and the results of the owner's view

TEST(CopyOptionsTest, OptionsChooseTheJobKind)
{
  struct TCase {
    TCopyOptions Options;
    int Type;
  } cases[] = {
      {{coOverwrite, coTimeStamp}, etCopy},
      {{coOverwrite, coTimeStamp, coCompress}, etGZip},
      {{coOverwrite, coTimeStamp, coZipCompress}, etZip},
      {{coOverwrite, coTimeStamp, coZipCompress, coCompress}, etZip},
  };
  for (const TCase& c : cases) {
    TWinCopyThread thread(MakeFileData(u"a"_s, std::make_shared<TMemoryStream>(QByteArray()), 0), u"/nonexistent/a"_s,
                          nullptr, c.Options, true);
    EXPECT_EQ(thread.ErrorType(), c.Type) << c.Options.Word();
    EXPECT_FALSE(thread.Done());
    EXPECT_EQ(thread.ErrorCode(), 0);
  }
  // Bit n is option n, as in task files.
  EXPECT_EQ((TCopyOptions{coOverwrite, coTimeStamp}.Word()), 0x0108);
  EXPECT_TRUE(TCopyOptions::FromWord(0x0003).Contains(coZipCompress));
}

TEST_F(CopyEngineTest, ThreadsStartedAtOnceRunOnTheirOwn)
{
  TempDir dir;
  const QByteArray data = RandomBytes(100000, 3);
  const QString expected = dir.Write(u"expected.bin"_s, data);
  {
    TCopyThread plain(MakeFileData(u"p.bin"_s, std::make_shared<TMemoryStream>(data), data.size()),
                      dir.File(u"p.bin"_s), false);
    TGZipThread gzip(MakeFileData(u"g.bin"_s, std::make_shared<TMemoryStream>(data), data.size()),
                     dir.File(u"g.bin.gz"_s), false);
    plain.WaitFor();
    gzip.WaitFor();
    EXPECT_TRUE(plain.Done());
    EXPECT_TRUE(gzip.Done());
    EXPECT_EQ(plain.ErrorCode(), 0) << plain.SysErrorMsg().toStdString();
    EXPECT_EQ(gzip.ErrorCode(), 0) << gzip.SysErrorMsg().toStdString();
    EXPECT_EQ(gzip.ErrorType(), etGZip);
  }
  ExpectReadsBack(TKind::Plain, dir.File(u"p.bin"_s), expected, QString());
  ExpectReadsBack(TKind::GZip, dir.File(u"g.bin.gz"_s), expected, u"g.bin"_s);
}

TEST_F(CopyEngineTest, ZeroBufferSizeUsesTheMinimum)
{
  TempDir dir;
  const QByteArray data = RandomBytes(200000, 4);
  auto stream = std::make_shared<TMemoryStream>(data);
  const TJobOutcome outcome = RunCopyJob(MakeFileData(u"a.bin"_s, stream, data.size(), 0), dir.File(u"a.bin"_s),
                                         OptionsFor(TKind::Plain, true));
  EXPECT_EQ(outcome.Code, 0) << outcome.Message.toStdString();
  EXPECT_EQ(stream->LargestRequest(), kMinCopyBufferSize);
  EXPECT_EQ(ReadFile(dir.File(u"a.bin"_s)), data);
  EXPECT_GE(stream->Commits(), 1);
}

TEST_F(CopyEngineTest, TimeStampsAndAttributes)
{
  TempDir dir;
  const QByteArray data("data");

  // Invalid source times give the copy the current time.
  TFileData noTimes = MakeFileData(u"a.txt"_s, std::make_shared<TMemoryStream>(data), data.size());
  noTimes.TimeStamps.Valid = false;
  ASSERT_EQ(RunCopyJob(noTimes, dir.File(u"a.txt"_s), OptionsFor(TKind::Plain, false)).Code, 0);
  const qint64 age =
      QDateTime::currentSecsSinceEpoch() - QFileInfo(dir.File(u"a.txt"_s)).lastModified().toSecsSinceEpoch();
  EXPECT_LE(std::abs(age), 120);

  // Without coTimeStamp the copy keeps the time it was written at.
  ASSERT_EQ(RunCopyJob(MakeFileData(u"b.txt"_s, std::make_shared<TMemoryStream>(data), data.size()),
                       dir.File(u"b.txt"_s), TCopyOptions{})
                .Code,
            0);
  EXPECT_NE(FileWriteTime(dir.File(u"b.txt"_s)), MakeFileData(u"x"_s, nullptr, 0).TimeStamps.LastWriteTime);

  // A read-only source gives a read-only copy, in every kind of job.
  for (const TKind kind : kAllKinds) {
    SCOPED_TRACE(KindName(kind));
    TFileData readOnly = MakeFileData(u"c.txt"_s, std::make_shared<TMemoryStream>(data), data.size());
    readOnly.FileAttr = FILE_ATTRIBUTE_READONLY;
    const QString dest = dir.File(u"ro/"_s + QString::fromLatin1(KindName(kind)) + Extension(kind));
    ASSERT_EQ(RunCopyJob(readOnly, dest, OptionsFor(kind, false)).Code, 0);
    EXPECT_EQ(FileMode(dest) & 0222, 0u);
    EXPECT_EQ(GetFileAttr(dest), FILE_ATTRIBUTE_READONLY);
  }
}

// A private file stays private, and no copy is ever writable for everyone.
TEST_F(CopyEngineTest, CopiesTakeTheSourceModeWithinTheUmask)
{
  struct TCase {
    mode_t Umask;
    std::uint32_t Source; // PosixMode; 0: the device does not say
    mode_t Expected;
  } cases[] = {
      {000, 0, 0644},
      {000, S_IFREG | 0600, 0600},
      {000, S_IFREG | 0666, 0664},
      {000, S_IFREG | 0751, 0751},
      {000, S_IFREG | 04755, 0755},
      {000, S_IFREG | 0444, 0444},
      {077, 0, 0600},
      {077, S_IFREG | 0644, 0600},
      {077, S_IFREG | 0666, 0600},
      {022, S_IFREG | 0640, 0640},
  };
  const QByteArray data("mode test");
  for (const TKind kind : kAllKinds) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(::testing::Message() << KindName(kind) << ", umask " << std::oct << c.Umask << ", source "
                                        << c.Source);
      TempDir dir;
      TFileData source = MakeFileData(u"a.txt"_s, std::make_shared<TMemoryStream>(data), data.size());
      source.FileAttr = FILE_ATTRIBUTE_NORMAL;
      source.PosixMode = c.Source;
      const QString dest = dir.File(u"a.txt"_s + Extension(kind));
      const mode_t old = ::umask(c.Umask);
      const TJobOutcome outcome = RunCopyJob(source, dest, OptionsFor(kind, true));
      ::umask(old);
      ASSERT_EQ(outcome.Code, 0) << outcome.Message.toStdString();
      EXPECT_EQ(FileMode(dest) & 07777, c.Expected);
    }
  }
}

// ---------------------------------------------------------------------------
// Waiting for a job, its progress, and giving up on it

TEST_F(CopyEngineTest, WaitForWakesWhenTheJobEndsAndProgressIsReadable)
{
  const QByteArray data = RandomBytes(100000, 12);
  for (const TKind kind : kAllKinds) {
    SCOPED_TRACE(KindName(kind));
    TempDir dir;
    auto stream = std::make_shared<TGateStream>(data, 30000, 10000);
    TWinCopyThread thread(MakeFileData(u"a.bin"_s, stream, data.size(), 10000), dir.File(u"a.bin"_s + Extension(kind)),
                          nullptr, OptionsFor(kind, true), true);
    EXPECT_EQ(thread.BytesCopied(), 0);
    thread.Start();
    ASSERT_TRUE(stream->WaitUntilBlocked(std::chrono::seconds(60)));
    EXPECT_EQ(thread.BytesCopied(), 30000) << "counted chunk by chunk";
    EXPECT_FALSE(thread.WaitFor(std::chrono::milliseconds(20)));
    EXPECT_FALSE(thread.Done());

    // The end wakes the waiter long before its time is up.
    std::thread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      stream->Release();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(thread.WaitFor(std::chrono::minutes(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(5));
    releaser.join();
    EXPECT_EQ(thread.ErrorCode(), 0) << thread.SysErrorMsg().toStdString();
    EXPECT_EQ(thread.BytesCopied(), data.size());
  }
}

TEST_F(CopyEngineTest, AbandonedJobFreesItselfAndLeavesNoFile)
{
  const QByteArray data = RandomBytes(100000, 13);
  for (const TKind kind : kAllKinds) {
    SCOPED_TRACE(KindName(kind));
    TempDir dir;
    auto stream = std::make_shared<TGateStream>(data, 50000, 10000);
    auto thread =
        std::make_unique<TWinCopyThread>(MakeFileData(u"a.bin"_s, stream, data.size(), 10000),
                                         dir.File(u"a.bin"_s + Extension(kind)), nullptr, OptionsFor(kind, true), true);
    thread->Start();
    ASSERT_TRUE(stream->WaitUntilBlocked(std::chrono::seconds(60)));
    // Returns at once although the job is stuck.
    TCopyThread::Abandon(std::move(thread));

    // Once the source answers again, the job ends and frees itself, which
    // lets go of the stream; what it wrote never takes the name.
    stream->Release();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (stream.use_count() > 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(stream.use_count(), 1);
    EXPECT_EQ(FolderEntries(dir.Path()), QStringList{});
  }

  // A job that never started goes at once.
  auto stream = std::make_shared<TMemoryStream>(data);
  auto idle = std::make_unique<TWinCopyThread>(MakeFileData(u"a.bin"_s, stream, data.size()), u"/nonexistent/a"_s,
                                               nullptr, OptionsFor(TKind::Plain, true), true);
  TCopyThread::Abandon(std::move(idle));
  EXPECT_EQ(stream.use_count(), 1);
  TCopyThread::Abandon(nullptr);
}

// ---------------------------------------------------------------------------
// Failures: a code, a text, and no half-written file

TEST_F(CopyEngineTest, ExistingDestinationWithoutOverwriteIsKept)
{
  for (const TKind kind : kAllKinds) {
    SCOPED_TRACE(KindName(kind));
    TempDir dir;
    const QString dest = dir.Write(u"a.jpg"_s + Extension(kind), "old copy");
    const QByteArray data("new data");
    const TJobOutcome outcome = RunCopyJob(MakeFileData(u"a.jpg"_s, std::make_shared<TMemoryStream>(data), data.size()),
                                           dest, OptionsFor(kind, false));
    ASSERT_TRUE(outcome.Done);
    EXPECT_EQ(outcome.Code, ceCreateDest | TypeOf(kind));
    EXPECT_EQ(outcome.Message, SystemText(EEXIST));
    EXPECT_EQ(ReadFile(dest), "old copy");
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 1);
  }
}

TEST_F(CopyEngineTest, OverwriteReplacesReadOnlyDestination)
{
  for (const TKind kind : kAllKinds) {
    SCOPED_TRACE(KindName(kind));
    TempDir dir;
    const QString dest = dir.Write(u"a.jpg"_s + Extension(kind), "old copy");
    ASSERT_EQ(SetFileAttr(dest, FILE_ATTRIBUTE_READONLY), 0);
    const QByteArray data = RandomBytes(70000, 5);
    const QString expected = dir.Write(u"expected.bin"_s, data);
    const TJobOutcome outcome = RunCopyJob(MakeFileData(u"a.jpg"_s, std::make_shared<TMemoryStream>(data), data.size()),
                                           dest, OptionsFor(kind, true));
    EXPECT_EQ(outcome.Code, 0) << outcome.Message.toStdString();
    EXPECT_NE(FileMode(dest) & S_IWUSR, 0u);
    ExpectReadsBack(kind, dest, expected, u"a.jpg"_s);
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 2);
  }
}

TEST_F(CopyEngineTest, DestinationThatIsNoPlainFile)
{
  TempDir dir;
  const QByteArray data("new data");
  const auto source = [&] { return MakeFileData(u"a"_s, std::make_shared<TMemoryStream>(data), data.size()); };

  // A folder of that name stays a folder.
  QDir().mkpath(dir.File(u"folder"_s));
  TJobOutcome outcome = RunCopyJob(source(), dir.File(u"folder"_s), OptionsFor(TKind::Plain, true));
  EXPECT_EQ(outcome.Code, ceCreateDest | etCopy);
  EXPECT_EQ(outcome.Message, SystemText(EISDIR));

  // A link is replaced, never written through.
  const QString outside = dir.Write(u"elsewhere/victim.txt"_s, "keep me");
  const QString link = dir.File(u"dest/a.txt"_s);
  ASSERT_TRUE(QFile::link(outside, link));
  outcome = RunCopyJob(source(), link, OptionsFor(TKind::Plain, false));
  EXPECT_EQ(outcome.Code, ceCreateDest | etCopy);
  EXPECT_EQ(outcome.Message, SystemText(EEXIST));
  outcome = RunCopyJob(source(), link, OptionsFor(TKind::GZip, true));
  EXPECT_EQ(outcome.Code, 0) << outcome.Message.toStdString();
  EXPECT_TRUE(S_ISREG(FileMode(link)));
  EXPECT_EQ(ReadFile(outside), "keep me");
  EXPECT_EQ(ardanto::test::Run(u"gzip"_s, {u"-t"_s, link}).ExitCode, 0);

  // A missing folder is not created by the engine.
  outcome = RunCopyJob(source(), dir.File(u"missing"_s) + u"/sub/a"_s, OptionsFor(TKind::ZipDeflate, true));
  EXPECT_EQ(outcome.Code, ceCreateDest | etZip);
  EXPECT_EQ(outcome.Message, SystemText(ENOENT));
}

TEST_F(CopyEngineTest, SourceFailingInTheMiddle)
{
  const QByteArray data = RandomBytes(1 << 20, 6);
  // EIO as a device reports it.
  const HRESULT status = DeviceResultFromErrno(EIO);
  const QString text =
      u"System error: The request could not be performed because of an I/O device error. (0x8007045d)"_s;
  for (const TKind kind : kAllKinds) {
    for (const bool oldCopy : {false, true}) {
      SCOPED_TRACE(std::string(KindName(kind)) + (oldCopy ? " over an old copy" : " new"));
      TempDir dir;
      const QString dest = dir.File(u"a.bin"_s + Extension(kind));
      if (oldCopy)
        WriteFile(dest, "old copy");
      auto stream = std::make_shared<TMemoryStream>(data, 30000);
      stream->FailAfter(300000, status);
      const TJobOutcome outcome =
          RunCopyJob(MakeFileData(u"a.bin"_s, stream, data.size()), dest, OptionsFor(kind, true));
      ASSERT_TRUE(outcome.Done);
      EXPECT_EQ(outcome.Code, ceReadSource | TypeOf(kind));
      EXPECT_EQ(outcome.Message, text);
      // The old copy is untouched and no part of the new one is left.
      EXPECT_EQ(FolderEntries(dir.Path()), oldCopy ? QStringList{QFileInfo(dest).fileName()} : QStringList{});
      if (oldCopy) {
        EXPECT_EQ(ReadFile(dest), "old copy");
      }
    }
  }
}

// A device's size is a claim: whatever the stream delivers beyond or short of
// it fails the copy, in every kind of job, and leaves no file.
TEST_F(CopyEngineTest, SourceDeliveringAnotherSizeThanStated)
{
  const QByteArray data = RandomBytes(3000, 8);
  TempDir sourceDir;
  const QString sourceFile = sourceDir.Write(u"source.bin"_s, data);
  // Stated larger than the data, smaller, and 0 (what some devices say of a
  // file they cannot size).
  for (const std::int64_t stated : {std::int64_t{5000}, std::int64_t{1000}, std::int64_t{0}}) {
    for (const TKind kind : kAllKinds) {
      for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(std::string(KindName(kind)) + (fromFile ? " from a file" : " from memory") + ", stated " +
                     std::to_string(stated));
        TempDir dir;
        std::shared_ptr<IReadStream> stream;
        if (fromFile)
          stream = std::make_shared<TFileSourceStream>(sourceFile);
        else
          stream = std::make_shared<TMemoryStream>(data, 1000);
        const TJobOutcome outcome = RunCopyJob(MakeFileData(u"a.bin"_s, stream, stated),
                                               dir.File(u"a.bin"_s + Extension(kind)), OptionsFor(kind, true));
        ASSERT_TRUE(outcome.Done);
        EXPECT_EQ(outcome.Code, ceReadSource | TypeOf(kind));
        EXPECT_EQ(outcome.Message, u"The source delivered 3000 bytes instead of %1."_s.arg(stated));
        EXPECT_EQ(FolderEntries(dir.Path()), QStringList{});
      }
    }
  }
}

// A failing device read is told in words, whichever layer's code it carries.
TEST_F(CopyEngineTest, DeviceReadFailuresAreNamed)
{
  struct TCase {
    HRESULT Status;
    QString Text;
  } cases[] = {
      {static_cast<HRESULT>(0x8007045Du), u"The request could not be performed because of an I/O device error."_s},
      {static_cast<HRESULT>(0x8007048Fu), u"The device is not connected."_s},
      {static_cast<HRESULT>(0x80070005u), u"Access is denied."_s},
      {static_cast<HRESULT>(0x800700AAu), u"The requested resource is in use."_s},
      {HResultFromErrno(ENOSPC), QString::fromLocal8Bit(std::strerror(ENOSPC))},
  };
  const QByteArray data = RandomBytes(100000, 11);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text.toStdString());
    TempDir dir;
    auto stream = std::make_shared<TMemoryStream>(data, 30000);
    stream->FailAfter(40000, c.Status);
    const TJobOutcome outcome =
        RunCopyJob(MakeFileData(u"a.bin"_s, stream, data.size()), dir.File(u"a.bin"_s), OptionsFor(TKind::Plain, true));
    EXPECT_EQ(outcome.Code, ceReadSource | etCopy);
    EXPECT_EQ(outcome.Message,
              u"System error: "_s + c.Text + QString::asprintf(" (0x%.8x)", static_cast<std::uint32_t>(c.Status)));
  }
  // A code no one has a text for is shown as it is.
  auto stream = std::make_shared<TMemoryStream>(data);
  stream->FailAfter(0, static_cast<HRESULT>(0x80041234u));
  TempDir dir;
  const TJobOutcome outcome =
      RunCopyJob(MakeFileData(u"a.bin"_s, stream, data.size()), dir.File(u"a.bin"_s), OptionsFor(TKind::GZip, true));
  EXPECT_EQ(outcome.Message, u"System error: Error code = 0x80041234"_s);
}

TEST_F(CopyEngineTest, UnexpectedExceptionStillEndsTheJob)
{
  for (const TKind kind : kAllKinds) {
    SCOPED_TRACE(KindName(kind));
    TempDir dir;
    const TJobOutcome outcome = RunCopyJob(MakeFileData(u"a.bin"_s, std::make_shared<TThrowingStream>(), 100),
                                           dir.File(u"a.bin"_s + Extension(kind)), OptionsFor(kind, true));
    ASSERT_TRUE(outcome.Done);
    EXPECT_EQ(outcome.Code, ceUnexpected | TypeOf(kind));
    EXPECT_EQ(outcome.Message, u"device driver fault"_s);
    EXPECT_EQ(FolderEntries(dir.Path()), QStringList{});
  }
}

// ---------------------------------------------------------------------------
// A full disk

// A small tmpfs, unmounted again when the test ends.
class TTmpfsMount {
public:
  TTmpfsMount(const QString& dir, const char* size) : FDir(QFile::encodeName(dir))
  {
    const QByteArray options = QByteArray("size=") + size + ",mode=0755";
    FMounted = ::mount("ardanto-test", FDir.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
    FError = FMounted ? 0 : errno;
  }
  ~TTmpfsMount()
  {
    if (FMounted && ::umount2(FDir.constData(), 0) != 0)
      ::umount2(FDir.constData(), MNT_DETACH);
  }
  bool Mounted() const { return FMounted; }
  int Error() const { return FError; }

private:
  QByteArray FDir;
  bool FMounted = false;
  int FError = 0;
};

TEST_F(CopyEngineTest, FullDiskNeverEndsInSuccess)
{
  TempDir dir;
  const QString mountPoint = dir.File(u"small"_s);
  ASSERT_TRUE(QDir().mkpath(mountPoint));
  const TTmpfsMount mount(mountPoint, "256k");
  if (!mount.Mounted()) {
    GTEST_SKIP() << "cannot mount a 256 KiB tmpfs on " << mountPoint.toStdString() << " ("
                 << std::strerror(mount.Error()) << "); the disk-full case needs root with CAP_SYS_ADMIN";
  }
  // Random data does not compress, so every kind of job fills the disk.
  const QByteArray data = RandomBytes(1 << 20, 9);
  const QByteArray oldCopy = RandomBytes(20000, 10);
  for (const TKind kind : kAllKinds) {
    for (const bool hasOldCopy : {false, true}) {
      SCOPED_TRACE(std::string(KindName(kind)) + (hasOldCopy ? " over an old copy" : " new"));
      const QString dest = mountPoint + u"/a.bin"_s + Extension(kind);
      if (hasOldCopy)
        WriteFile(dest, oldCopy);
      const TJobOutcome outcome = RunCopyJob(
          MakeFileData(u"a.bin"_s, std::make_shared<TMemoryStream>(data), data.size()), dest, OptionsFor(kind, true));
      ASSERT_TRUE(outcome.Done);
      EXPECT_NE(outcome.Code, 0);
      EXPECT_EQ(outcome.Code & ~0xFFF, TypeOf(kind));
      const int code = outcome.Code & 0xFFF;
      EXPECT_TRUE(code == ceDestFull || code == ceWriteDest) << code;
      EXPECT_EQ(outcome.Message, SystemText(ENOSPC));
      EXPECT_EQ(FolderEntries(mountPoint), hasOldCopy ? QStringList{QFileInfo(dest).fileName()} : QStringList{});
      if (hasOldCopy) {
        EXPECT_EQ(ReadFile(dest), oldCopy);
        QFile::remove(dest);
      }
    }
  }
}

} // namespace
