#include "common/PathUtils.h"

#include <QDir>
#include <QFileInfo>

namespace ardanto {

using namespace Qt::StringLiterals;

namespace {

qsizetype ExtensionDot(const QString& name)
{
  const qsizetype dot = name.lastIndexOf(u'.');
  const qsizetype slash = name.lastIndexOf(kPathDelim);
  return dot > slash ? dot : -1;
}

QStringView WithoutLeadingDot(const QString& ext)
{
  return ext.startsWith(u'.') ? QStringView(ext).mid(1) : QStringView(ext);
}

} // namespace

QString SetDirName(const QString& dir)
{
  if (dir.isEmpty() || dir.endsWith(kPathDelim))
    return dir;
  return dir + kPathDelim;
}

QString GetExt(const QString& name)
{
  const qsizetype dot = ExtensionDot(name);
  return dot < 0 ? QString() : name.mid(dot + 1);
}

QString DelExt(const QString& name)
{
  const qsizetype dot = ExtensionDot(name);
  return dot < 0 ? name : name.left(dot);
}

QString NewExt(const QString& name, const QString& ext)
{
  if (name.isEmpty())
    return QString();
  const QStringView bare = WithoutLeadingDot(ext);
  if (bare.isEmpty())
    return DelExt(name);
  return DelExt(name) + u'.' + bare;
}

QString AddExt(const QString& name, const QString& ext, int mode)
{
  const QStringView bare = WithoutLeadingDot(ext);
  if (name.isEmpty() || bare.isEmpty())
    return name;
  if (mode == 1)
    return NewExt(name, ext);
  if (mode == 0 && GetExt(name).compare(bare, Qt::CaseInsensitive) == 0)
    return name;
  QString base = name;
  if (base.endsWith(u'.'))
    base.chop(1);
  return base + u'.' + bare;
}

QString AddPath(const QString& dir, const QString& name)
{
  if (dir.isEmpty())
    return name;
  if (name.isEmpty())
    return dir;
  return SetDirName(dir) + name;
}

QString MakeFileName(const QString& dir, const QString& name, const QString& ext)
{
  QString result = name;
  const QStringView bare = WithoutLeadingDot(ext);
  if (!ExtractFileName(name).contains(u'.') && !bare.isEmpty())
    result += u'.' + bare;
  if (IsAbsolutePath(result) || dir.isEmpty())
    return result;
  return SetDirName(dir) + result;
}

QString ParentDir(const QString& dir)
{
  QString path = dir;
  while (path.size() > 1 && path.endsWith(kPathDelim))
    path.chop(1);
  const qsizetype slash = path.lastIndexOf(kPathDelim);
  if (slash < 0)
    return QString();
  if (slash == 0)
    return QString(kPathDelim);
  return path.left(slash);
}

bool IsAbsolutePath(const QString& name)
{
  if (name.startsWith(kPathDelim))
    return true;
  // ":label:/rest" names a folder on the volume with that label.
  return name.startsWith(u':') && name.indexOf(u':', 1) > 1;
}

QString ExpandPath(const QString& base, const QString& name)
{
  if (IsAbsolutePath(name))
    return name;
  return SetDirName(base) + name;
}

QString ExtractFileName(const QString& name)
{
  return name.mid(name.lastIndexOf(kPathDelim) + 1);
}

QString ExtractFilePath(const QString& name)
{
  return name.left(name.lastIndexOf(kPathDelim) + 1);
}

QString ToLongPath(const QString& name)
{
  return name;
}

QString ResolvedPath(const QString& path)
{
  QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  QString rest;
  while (!existing.isEmpty() && existing != u"/"_s && !QFileInfo::exists(existing)) {
    rest = u'/' + QFileInfo(existing).fileName() + rest;
    existing = QFileInfo(existing).path();
  }
  const QString canonical = QFileInfo(existing).canonicalFilePath();
  return QDir::cleanPath((canonical.isEmpty() ? existing : canonical) + rest);
}

bool IsSameOrBelow(const QString& path, const QString& folder)
{
  return path == folder || folder == u"/"_s || path.startsWith(folder + u'/');
}

} // namespace ardanto
