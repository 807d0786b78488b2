#include "common/VolumePaths.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <mutex>

#include <sys/stat.h>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

std::mutex gSourceLock;
TVolumeSource gSource;

// mountinfo writes blanks, tabs, newlines and backslashes as "\ooo".
QString DecodeMountField(const QByteArray& field)
{
  QByteArray decoded;
  decoded.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      bool ok = false;
      const int value = field.mid(i + 1, 3).toInt(&ok, 8);
      if (ok && value < 256) {
        decoded += char(value);
        i += 3;
        continue;
      }
    }
    decoded += field[i];
  }
  return QFile::decodeName(decoded);
}

// udev writes characters that are not safe in a file name as "\xHH".
QString DecodeLabelLink(const QString& name)
{
  QByteArray decoded;
  const QByteArray raw = QFile::encodeName(name);
  for (qsizetype i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
      bool ok = false;
      const int value = raw.mid(i + 2, 2).toInt(&ok, 16);
      if (ok) {
        decoded += char(value);
        i += 3;
        continue;
      }
    }
    decoded += raw[i];
  }
  return QString::fromUtf8(decoded);
}

bool BlockDeviceNumber(const QString& name, dev_t& number)
{
  struct stat st {};
  if (::stat(QFile::encodeName(name).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
    return false;
  number = st.st_rdev;
  return true;
}

// The absolute form of path with the symbolic links of its existing part
// resolved; the part that does not exist yet is kept as written.
QString RealPath(const QString& path)
{
  QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  QString missing;
  while (!QFileInfo::exists(existing)) {
    const QString parent = QFileInfo(existing).path();
    if (parent == existing)
      break;
    missing = ExtractFileName(existing) + (missing.isEmpty() ? QString() : u'/' + missing);
    existing = parent;
  }
  const QString canonical = QFileInfo(existing).canonicalFilePath();
  const QString base = canonical.isEmpty() ? existing : canonical;
  return missing.isEmpty() ? base : SetDirName(base) + missing;
}

bool IsBelow(const QString& path, const QString& root)
{
  return root == u"/"_s || path == root || path.startsWith(root + u'/');
}

} // namespace

bool IsNetworkFileSystem(const QString& fileSystemType)
{
  static const QStringList types{
      u"nfs"_s,        u"nfs4"_s,       u"cifs"_s,        u"smb3"_s,      u"smbfs"_s,          u"ncpfs"_s,  u"afs"_s,
      u"ceph"_s,       u"glusterfs"_s,  u"9p"_s,          u"lustre"_s,    u"gpfs"_s,           u"beegfs"_s, u"davfs"_s,
      u"fuse.sshfs"_s, u"fuse.davfs"_s, u"fuse.rclone"_s, u"fuse.s3fs"_s, u"fuse.gvfsd-fuse"_s};
  return types.contains(fileSystemType.toLower());
}

QList<TMountedVolume> ReadMountedVolumes(const QString& mountInfoFile, const QString& byLabelFolder)
{
  QHash<dev_t, QString> labels;
  const QFileInfoList links = QDir(byLabelFolder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& link : links) {
    dev_t number = 0;
    if (BlockDeviceNumber(link.filePath(), number) && !labels.contains(number))
      labels.insert(number, DecodeLabelLink(link.fileName()));
  }

  QList<TMountedVolume> volumes;
  QFile file(mountInfoFile);
  if (!file.open(QIODevice::ReadOnly))
    return volumes;
  // id parent major:minor root mount-point options [optional fields] - type source super-options
  const QList<QByteArray> lines = file.readAll().split('\n');
  for (const QByteArray& line : lines) {
    const QList<QByteArray> fields = line.split(' ');
    const qsizetype separator = fields.indexOf("-");
    if (fields.size() < 5 || separator < 6 || separator + 2 >= fields.size())
      continue;
    TMountedVolume volume;
    volume.RootPath = DecodeMountField(fields[4]);
    volume.FileSystemType = DecodeMountField(fields[separator + 1]);
    volume.Device = DecodeMountField(fields[separator + 2]);
    dev_t number = 0;
    if (volume.Device.startsWith(u'/') && BlockDeviceNumber(volume.Device, number))
      volume.Label = labels.value(number);
    volumes.append(volume);
  }
  return volumes;
}

QList<TMountedVolume> MountedVolumes()
{
  TVolumeSource source;
  {
    const std::lock_guard lock(gSourceLock);
    source = gSource;
  }
  return source ? source() : ReadMountedVolumes();
}

TVolumeSource SetVolumeSource(TVolumeSource source)
{
  const std::lock_guard lock(gSourceLock);
  std::swap(gSource, source);
  return source;
}

std::optional<TMountedVolume> VolumeOfPath(const QString& path)
{
  if (path.isEmpty())
    return std::nullopt;
  const QString real = RealPath(path);
  std::optional<TMountedVolume> found;
  // A later mount on the same or a deeper point hides the earlier ones.
  for (const TMountedVolume& volume : MountedVolumes()) {
    if (IsBelow(real, volume.RootPath) && (!found || volume.RootPath.size() >= found->RootPath.size()))
      found = volume;
  }
  return found;
}

std::optional<TMountedVolume> VolumeWithLabel(const QString& label)
{
  if (label.isEmpty())
    return std::nullopt;
  for (const TMountedVolume& volume : MountedVolumes()) {
    if (volume.Label.compare(label, Qt::CaseInsensitive) == 0)
      return volume;
  }
  return std::nullopt;
}

TVolumeResult ResolveVolumePath(QString& path, QString& label, const TVolumePrompt& prompt)
{
  if (path.isEmpty())
    return vrNotFound;
  if (!path.startsWith(u':'))
    return vrNoVolumePath;
  const qsizetype second = path.indexOf(u':', 1);
  if (second <= 1)
    return vrNotFound; // no label between the colons
  const QString name = path.mid(1, second - 1);
  const qsizetype slash = path.indexOf(u'/', second + 1);
  const QString rest = slash < 0 ? QString() : path.mid(slash + 1);
  for (;;) {
    if (const auto volume = VolumeWithLabel(name)) {
      path = SetDirName(volume->RootPath) + rest;
      label = name;
      return vrResolved;
    }
    if (!prompt ||
        !prompt(FormatText(_("Volume %s not found!\r\nPlease insert medium!"), {QString(u'"' + name + u'"')})))
      return vrNotFound;
  }
}

QString ToVolumePath(const QString& path, const TVolumePrompt& prompt,
                     const std::function<void(const QString& message)>& showError)
{
  QString other = path;
  QString label;
  switch (ResolveVolumePath(other, label, prompt)) {
  case vrResolved:
    return other;
  case vrNotFound:
    return QString();
  case vrNoVolumePath:
    break;
  }
  const auto volume = VolumeOfPath(path);
  if (volume && !volume->Label.isEmpty() && !IsNetworkFileSystem(volume->FileSystemType)) {
    const QString real = RealPath(path);
    const QString below = volume->RootPath == u"/"_s ? real.mid(1) : real.mid(volume->RootPath.size() + 1);
    return u':' + volume->Label + u":/"_s + below;
  }
  if (showError)
    showError(_("No volume name available for ") + (volume ? volume->RootPath : path));
  return QString();
}

} // namespace ardanto
