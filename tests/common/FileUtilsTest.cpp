#include "common/FileUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace ardanto;
using namespace ardanto::test;
using namespace Qt::StringLiterals;

namespace {

struct stat StatOf(const QString& name)
{
  struct stat st {};
  ::lstat(QFile::encodeName(name).constData(), &st);
  return st;
}

TFileTime UnixFileTime(std::int64_t seconds)
{
  return UnixTimeToFileTime(seconds);
}

// Runs a block with TZ set, restoring the zone afterwards.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* zone) : FEnv("TZ", zone) { ::tzset(); }
  ~ScopedTimeZone() { ::tzset(); }

private:
  ScopedEnv FEnv;
};

} // namespace

TEST(ExtFileStream, ReadsWritesAndReportsErrors)
{
  TempDir dir;
  const QString name = dir.File(u"stream.bin"_s);
  {
    TExtFileStream out(name, fmCreate, 0640);
    std::size_t written = 0;
    EXPECT_EQ(out.Write("hello world", 11, written), 0);
    EXPECT_EQ(written, 11u);
  }
  EXPECT_EQ(StatOf(name).st_mode & 0777, 0640u);
  {
    TExtFileStream in(name, fmOpenRead | fmShareDenyNone);
    char buffer[32] = {};
    std::size_t got = 0;
    EXPECT_EQ(in.Read(buffer, sizeof buffer, got), 0);
    EXPECT_EQ(QByteArray(buffer, static_cast<qsizetype>(got)), QByteArray("hello world"));
    EXPECT_EQ(in.Size(), 11);
    std::size_t written = 0;
    EXPECT_EQ(in.Write("x", 1, written), EBADF) << "writes to a read-only stream report errno";
  }
  const struct {
    QString Name;
    std::uint32_t Mode;
    const char16_t* Prefix;
  } failures[] = {
      {dir.Path() + u"/missing.bin"_s, fmOpenRead, u"Cannot open file \""},
      {dir.Path() + u"/no/such/dir.bin"_s, fmCreate, u"Cannot create file \""},
  };
  for (const auto& f : failures) {
    try {
      TExtFileStream s(f.Name, f.Mode);
      ADD_FAILURE() << "opened " << f.Name.toStdString();
    } catch (const EExtFileStreamError& e) {
      EXPECT_EQ(e.ErrorCode(), ENOENT);
      EXPECT_EQ(e.Message(), QString::fromUtf16(f.Prefix) + f.Name + u"\". No such file or directory"_s);
    }
  }
}

TEST(CopyFileWithTimestamp, CopiesContentTimeAndAttributes)
{
  TempDir dir;
  const QString src = dir.Write(u"src.txt"_s, QByteArray(300000, 'a') + "end");
  TFileTimestamps stamps;
  stamps.Valid = true;
  stamps.LastWriteTime = UnixFileTime(1'500'000'000);
  ASSERT_EQ(SetFileTimestamps(src, stamps, false, false, false), 0);
  const QString dst = dir.Write(u"dst.txt"_s, "old content");
  ASSERT_EQ(SetFileAttr(dst, FILE_ATTRIBUTE_READONLY), 0);

  CopyFileWithTimestamp(src, dst, FILE_ATTRIBUTE_READONLY, 4096);
  EXPECT_EQ(ReadFile(dst), ReadFile(src));
  EXPECT_EQ(StatOf(dst).st_mtim.tv_sec, 1'500'000'000);
  EXPECT_EQ(GetFileAttr(dst), FILE_ATTRIBUTE_READONLY);

  CopyFileWithTimestamp(src, dir.File(u"copy2.txt"_s), -1, 262144);
  EXPECT_EQ(GetFileAttr(dir.File(u"copy2.txt"_s)), FILE_ATTRIBUTE_ARCHIVE) << "the source's own attributes";

  CopyFileWithTimestamp(src, src, -1, 4096); // same name: nothing happens
  EXPECT_EQ(ReadFile(src).size(), 300003);
}

TEST(CopyFileWithTimestamp, ErrorsNameTheFileAndKeepTheOldDestination)
{
  TempDir dir;
  try {
    CopyFileWithTimestamp(dir.File(u"missing"_s), dir.File(u"x"_s), -1, 4096);
    FAIL();
  } catch (const ECopyError& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.Message(), u"File not found: \"%1\""_s.arg(dir.File(u"missing"_s)));
  }

  const QString src = dir.Write(u"big.bin"_s, QByteArray(64 * 1024, 'b'));
  const QString dst = dir.Write(u"dst.bin"_s, "precious");
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 8192;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  try {
    CopyFileWithTimestamp(src, dst, -1, 4096);
  } catch (const ECopyError& e) {
    raised = true;
    EXPECT_EQ(e.Message(), u"Error writing to \"%1\""_s.arg(dst));
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(raised);
  EXPECT_EQ(ReadFile(dst), QByteArray("precious"));
  EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "no temporary file left";
}

TEST(FileTimestamps, SetRulesAndLinks)
{
  TempDir dir;
  const QString file = dir.Write(u"f.txt"_s, "x");
  const std::time_t before = std::time(nullptr);

  TFileTimestamps invalid; // not valid: everything becomes now
  invalid.LastWriteTime = UnixFileTime(1000);
  ASSERT_EQ(SetFileTimestamps(file, invalid, false, false, true), 0);
  EXPECT_GE(StatOf(file).st_mtim.tv_sec, before);
  EXPECT_GE(StatOf(file).st_atim.tv_sec, before);

  TFileTimestamps future;
  future.Valid = true;
  future.LastWriteTime = CurrentFileTime() + 3 * kFileTimePerDay;
  future.LastAccessTime = UnixFileTime(1'000'000'000);
  ASSERT_EQ(SetFileTimestamps(file, future, true, false, true), 0);
  EXPECT_LT(StatOf(file).st_mtim.tv_sec, before + 3600) << "checked: a time days ahead becomes now";
  EXPECT_EQ(StatOf(file).st_atim.tv_sec, 1'000'000'000);

  TFileTimestamps past;
  past.Valid = true;
  past.LastWriteTime = UnixFileTime(1'200'000'000);
  past.LastAccessTime = UnixFileTime(1'100'000'000);
  ASSERT_EQ(SetFileTimestamps(file, past, true, false, false), 0);
  EXPECT_EQ(StatOf(file).st_mtim.tv_sec, 1'200'000'000);
  EXPECT_EQ(StatOf(file).st_atim.tv_sec, 1'000'000'000) << "last access only with all three";

  const QString link = dir.File(u"link"_s);
  ASSERT_TRUE(QFile::link(u"f.txt"_s, link)); // relative target
  past.LastWriteTime = UnixFileTime(1'300'000'000);
  ASSERT_EQ(SetFileTimestamps(link, past, false, true, false), 0);
  EXPECT_EQ(StatOf(file).st_mtim.tv_sec, 1'300'000'000);
  EXPECT_NE(StatOf(link).st_mtim.tv_sec, 1'300'000'000);

  EXPECT_EQ(SetFileWriteTime(file, FileTimeToDateTimeUtc(UnixFileTime(1'400'000'000))), 0);
  EXPECT_NEAR(GetFileWriteTime(link), FileTimeToDateTimeUtc(UnixFileTime(1'400'000'000)), 1e-8);
  EXPECT_EQ(GetFileWriteTime(dir.File(u"missing"_s)), 0.0);
  EXPECT_EQ(SetFileWriteTime(dir.File(u"missing"_s), 40000.0), ENOENT);

  QString target;
  EXPECT_TRUE(GetLinkTarget(link, target));
  EXPECT_EQ(target, file);
  EXPECT_FALSE(GetLinkTarget(file, target));
  ASSERT_TRUE(QFile::link(dir.File(u"nowhere"_s), dir.File(u"dangling"_s)));
  EXPECT_FALSE(GetLinkTarget(dir.File(u"dangling"_s), target));
}

TEST(FileTimestamps, LocalTimeToUtcAcrossDaylightSaving)
{
  ScopedTimeZone berlin("Europe/Berlin");
  const auto local = [](int y, int mo, int d, int h, int mi) {
    return DateTimeFromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC));
  };
  const struct {
    const char* What;
    TDateTime Local;
    TDateTime Utc;
  } cases[] = {
      {"winter", local(2026, 1, 15, 12, 0), local(2026, 1, 15, 11, 0)},
      {"summer", local(2026, 7, 15, 12, 0), local(2026, 7, 15, 10, 0)},
      {"repeated hour takes summer time", local(2026, 10, 25, 2, 30), local(2026, 10, 25, 0, 30)},
      {"after the repeated hour", local(2026, 10, 25, 3, 30), local(2026, 10, 25, 2, 30)},
      {"skipped hour keeps winter time", local(2026, 3, 29, 2, 30), local(2026, 3, 29, 1, 30)},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(LocalToUtc(c.Local), c.Utc, 1e-9) << c.What;

  TFileTimestamps stamps;
  TimestampsFromDates(stamps, local(2026, 7, 15, 12, 0), local(2026, 1, 15, 12, 0));
  EXPECT_TRUE(stamps.Valid);
  EXPECT_EQ(FileTimeToUnix(stamps.LastWriteTime),
            QDateTime(QDate(2026, 7, 15), QTime(10, 0), Qt::UTC).toSecsSinceEpoch());
  EXPECT_EQ(stamps.LastAccessTime, stamps.LastWriteTime);
  EXPECT_EQ(FileTimeToUnix(stamps.CreationTime),
            QDateTime(QDate(2026, 1, 15), QTime(11, 0), Qt::UTC).toSecsSinceEpoch());
}

TEST(FileTimestamps, LocalTimeToUtcInZonesWithoutDaylightSavingNow)
{
  const auto local = [](int y, int mo, int d, int h, int mi) {
    return DateTimeFromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC));
  };
  {
    ScopedTimeZone utc("UTC");
    EXPECT_NEAR(LocalToUtc(local(2026, 7, 15, 12, 0)), local(2026, 7, 15, 12, 0), 1e-9);
  }
  ScopedTimeZone tokyo("Asia/Tokyo"); // summer time only from 1948 to 1951
  EXPECT_NEAR(LocalToUtc(local(2026, 7, 15, 12, 0)), local(2026, 7, 15, 3, 0), 1e-9);
  EXPECT_NEAR(LocalToUtc(local(1950, 7, 15, 12, 0)), local(1950, 7, 15, 2, 0), 1e-9);
}

TEST(FileTimestamps, Conversions)
{
  ScopedTimeZone utc("UTC");
  EXPECT_EQ(FileTimeToUnix(UnixFileTime(0)), 0);
  EXPECT_EQ(FileTimeToUnix(UnixFileTime(100) + 4'999'999), 100);
  EXPECT_EQ(FileTimeToUnix(UnixFileTime(100) + 5'000'000), 101);
  // 2010-12-04 13:45:31 -> date 1980+30, month 12, day 4; time 13:45:30 in 2-second steps
  const TFileTime ft = UnixFileTime(QDateTime(QDate(2010, 12, 4), QTime(13, 45, 31), Qt::UTC).toSecsSinceEpoch());
  EXPECT_EQ(FileTimeToDosTime(ft), ((30u << 9 | 12u << 5 | 4u) << 16) | (13u << 11 | 45u << 5 | 15u));
  EXPECT_EQ(FileTimeToDosTime(UnixFileTime(0)), 0xFFFFFFFFu) << "before 1980";
  EXPECT_NEAR(FileTimeToDateTimeUtc(DateTimeUtcToFileTime(45000.25)), 45000.25, 1e-9);
  EXPECT_EQ(DateTimeUtcToFileTime(0.0), kFileTimeEpochDays * kFileTimePerDay);
}

TEST(FileSize, FormatAndParse)
{
  const struct {
    bool Decimal;
    bool Trim;
    std::int64_t Size;
    const char16_t* Text;
  } formats[] = {
      {false, false, 1023, u"1023 B"},         {false, false, 1536, u"1.50 KiB"},
      {false, false, 1610612736, u"1.50 GiB"}, {false, true, 2048, u"2 KiB"},
      {false, false, 2048, u"2.00 KiB"},       {false, false, 50 * 1024 + 512, u"50.5 KiB"},
      {false, false, 500 * 1024, u"500 KiB"},  {true, false, 999, u"999 B"},
      {true, false, 1500, u"1.50 kB"},         {true, false, 2'000'000'000'000, u"2000.00 GB"},
      {false, true, 1073741824, u"1 GiB"},     {false, true, 10 * 1024 * 1024 + 1024, u"10 MiB"},
  };
  for (const auto& f : formats)
    EXPECT_EQ(FormatFileSize(f.Decimal, f.Trim, u'.', f.Size), QString::fromUtf16(f.Text)) << f.Size;
  EXPECT_EQ(FormatFileSize(false, false, u',', 1536), u"1,50 KiB"_s);

  const struct {
    const char16_t* Text;
    bool Ok;
    std::int64_t Size;
  } parses[] = {
      {u"1.5 MiB", true, 1572864}, {u"2k", true, 2000},        {u"", true, 0},    {u"  42 ", true, 42},
      {u"1 GB", true, 1000000000}, {u"3 Ti", true, 3LL << 40}, {u"5 B", true, 5}, {u"7x", false, 0},
      {u"abc", false, 0},          {u"1.5.5 K", false, 0},
  };
  for (const auto& p : parses) {
    std::int64_t size = -1;
    EXPECT_EQ(ParseFileSize(QString::fromUtf16(p.Text), u'.', size), p.Ok) << QString::fromUtf16(p.Text).toStdString();
    if (p.Ok) {
      EXPECT_EQ(size, p.Size) << QString::fromUtf16(p.Text).toStdString();
    }
  }
  EXPECT_LT(CompareFileSizeTexts(u"900 KiB"_s, u"1.00 MiB"_s, u'.'), 0);
  EXPECT_EQ(CompareFileSizeTexts(u"junk"_s, u"0 B"_s, u'.'), 0);
}

TEST(ErrorTexts, SystemErrorTextAndFormatting)
{
  EXPECT_EQ(SystemErrorText(ENOENT), u"No such file or directory (0x00000002)"_s);
  EXPECT_EQ(SystemErrorText(ENOSPC), u"No space left on device (0x0000001C)"_s);
  EXPECT_EQ(SystemErrorText(9999), u"Error code = 0x0000270F"_s);

  const struct {
    const char16_t* Pattern;
    QVariantList Args;
    const char16_t* Expected;
  } cases[] = {
      {u"Error writing to \"%s\"", {u"/x"_s}, u"Error writing to \"/x\""},
      {u"%d files, %u bytes", {12, 34u}, u"12 files, 34 bytes"},
      {u"(0x%.8x)", {int(0x80070005)}, u"(0x80070005)"},
      {u"[%5d][%-4s][%.3d]", {42, u"ab"_s, 7}, u"[   42][ab  ][007]"},
      {u"%1:s %0:s %s", {u"a"_s, u"b"_s}, u"b a b"},
      {u"100%% %s", {u"done"_s}, u"100% done"},
      {u"%.1f|%.2f", {2.26, 0.5}, u"2.3|0.50"},
      {u"%d", {qint64(-5'000'000'000)}, u"-5000000000"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatText(QString::fromUtf16(c.Pattern), c.Args), QString::fromUtf16(c.Expected));

  for (const auto& [pattern, args] : std::initializer_list<std::pair<const char16_t*, QVariantList>>{
           {u"%s and %s", {u"one"_s}}, {u"%d", {u"text"_s}}, {u"%s", {3}}, {u"%q", {1}}, {u"trailing %", {}}}) {
    EXPECT_EQ(SafeFormat(QString::fromUtf16(pattern), args), u"Format error: "_s + QString::fromUtf16(pattern));
    EXPECT_THROW(FormatText(QString::fromUtf16(pattern), args), EArdantoError);
  }
}

TEST(FileAttributes, ReadOnlyMapsToWritePermission)
{
  TempDir dir;
  const QString file = dir.Write(u"a.txt"_s, "x");
  ::chmod(QFile::encodeName(file).constData(), 0664);
  ASSERT_EQ(SetFileAttr(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0);
  EXPECT_EQ(StatOf(file).st_mode & 0777, 0444u);
  EXPECT_EQ(GetFileAttr(file), FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(SetFileAttr(file, FILE_ATTRIBUTE_ARCHIVE), 0);
  EXPECT_EQ(StatOf(file).st_mode & 0777, 0644u);
  EXPECT_EQ(GetFileAttr(dir.Path()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(SetFileAttr(dir.File(u"missing"_s), FILE_ATTRIBUTE_ARCHIVE), ENOENT);

  // "Archive" on a private copy keeps it private: only the owner may gain
  // the right to write.
  for (const mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0400)}) {
    ::chmod(QFile::encodeName(file).constData(), mode);
    ASSERT_EQ(SetFileAttr(file, FILE_ATTRIBUTE_ARCHIVE), 0);
    EXPECT_EQ(StatOf(file).st_mode & 0777, mode | S_IWUSR) << std::oct << mode;
  }
}

TEST(WriteFileAtomically, NewFilesGetTheirModeWithinTheUmask)
{
  struct TCase {
    mode_t Umask;
    mode_t Requested;
    mode_t Expected;
  } cases[] = {
      {022, 0644, 0644}, {077, 0644, 0600}, {027, 0644, 0640}, {077, 0600, 0600}, {0, 0600, 0600}, {077, 0755, 0700},
  };
  TempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "umask " << std::oct << c.Umask << ", mode " << c.Requested);
    const QString file = dir.File(u"new.log"_s);
    QFile::remove(file);
    const mode_t old = ::umask(c.Umask);
    const int error = WriteFileAtomically(file, "log text\n", c.Requested);
    ::umask(old);
    ASSERT_EQ(error, 0);
    EXPECT_EQ(StatOf(file).st_mode & 07777, c.Expected);
    EXPECT_EQ(ReadFile(file), "log text\n");
  }
  // A file that is there keeps its mode, whatever the umask.
  const QString existing = dir.Write(u"old.log"_s, "old");
  ::chmod(QFile::encodeName(existing).constData(), 0664);
  const mode_t old = ::umask(077);
  EXPECT_EQ(WriteFileAtomically(existing, "new", 0600), 0);
  ::umask(old);
  EXPECT_EQ(StatOf(existing).st_mode & 07777, 0664u);
}
