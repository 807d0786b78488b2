#include "platform/DesktopEntry.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>

namespace ardanto::platform {

using namespace Qt::StringLiterals;

QString QuoteExecArgument(const QString& argument)
{
  static const QString kReserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
  bool reserved = argument.isEmpty();
  for (const QChar c : argument) {
    if (kReserved.contains(c)) {
      reserved = true;
      break;
    }
  }
  QString quoted;
  if (reserved) {
    quoted += u'"';
    for (const QChar c : argument) {
      if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
        quoted += u'\\';
      quoted += c;
    }
    quoted += u'"';
  } else {
    quoted = argument;
  }
  // The Exec value is itself a string value: its backslashes are escaped
  // again, and "%" would start a field code.
  quoted.replace(u"\\"_s, u"\\\\"_s);
  quoted.replace(u"%"_s, u"%%"_s);
  return quoted;
}

QString EscapeDesktopValue(const QString& value)
{
  QString escaped;
  for (const QChar c : value) {
    switch (c.unicode()) {
    case u'\\':
      escaped += u"\\\\"_s;
      break;
    case u'\n':
      escaped += u"\\n"_s;
      break;
    case u'\r':
      escaped += u"\\r"_s;
      break;
    case u'\t':
      escaped += u"\\t"_s;
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

QString DesktopEntryText(const TDesktopShortcut& shortcut)
{
  QString exec = QuoteExecArgument(shortcut.Program);
  for (const QString& argument : shortcut.Arguments)
    exec += u' ' + QuoteExecArgument(argument);
  QString text = u"[Desktop Entry]\n"
                 u"Version=1.0\n"
                 u"Type=Application\n"_s;
  text += u"Name="_s + EscapeDesktopValue(shortcut.Name) + u'\n';
  if (!shortcut.Comment.isEmpty())
    text += u"Comment="_s + EscapeDesktopValue(shortcut.Comment) + u'\n';
  text += u"Exec="_s + exec + u'\n';
  if (!shortcut.WorkingFolder.isEmpty())
    text += u"Path="_s + EscapeDesktopValue(shortcut.WorkingFolder) + u'\n';
  if (!shortcut.Icon.isEmpty())
    text += u"Icon="_s + EscapeDesktopValue(shortcut.Icon) + u'\n';
  text += u"Terminal=false\n"_s;
  return text;
}

int CreateDesktopShortcut(const TDesktopShortcut& shortcut)
{
  const QByteArray content = DesktopEntryText(shortcut).toUtf8();
  if (const int error = WriteFileAtomically(shortcut.FileName, content, 0755))
    return error;
  // An existing file keeps its mode on rewriting; a launcher must be executable.
  const QByteArray native = QFile::encodeName(shortcut.FileName);
  struct stat st {};
  if (::stat(native.constData(), &st) == 0 && (st.st_mode & S_IXUSR) == 0)
    ::chmod(native.constData(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);

  // Desktops that guard launchers ask the user before the first start unless
  // the file is marked trusted; without gio the user allows it once.
  const QString gio = QStandardPaths::findExecutable(u"gio"_s);
  if (!gio.isEmpty()) {
    const QString checksum = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    for (const QStringList& args :
         {QStringList{u"set"_s, shortcut.FileName, u"metadata::trusted"_s, u"true"_s},
          QStringList{u"set"_s, shortcut.FileName, u"metadata::xfce-exe-checksum"_s, checksum}}) {
      QProcess process;
      process.start(gio, args);
      if (process.waitForStarted(3000))
        process.waitForFinished(3000);
    }
  }
  return 0;
}

QString DesktopFolder()
{
  return SetDirName(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString ShortcutFileName(const QString& folder, const QString& name)
{
  QString safe = name;
  for (QChar& c : safe) {
    if (c == u'/' || c.unicode() < 32 || c.unicode() == 127)
      c = u'_';
  }
  if (safe.count(u'.') == safe.size())
    safe.prepend(u'_');
  return SetDirName(folder) + safe + u".desktop"_s;
}

} // namespace ardanto::platform
