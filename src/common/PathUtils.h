#pragma once

// Path text operations. Local paths use "/"; nothing here touches the disk.

#include <QString>

namespace ardanto {

constexpr QChar kPathDelim = u'/';

// dir with a trailing "/"; empty for an empty dir.
QString SetDirName(const QString& dir);
// The extension without its dot: the text after the last "." behind the last "/".
QString GetExt(const QString& name);
QString DelExt(const QString& name);
// Replaces the extension; an empty ext removes it; a leading "." of ext is ignored.
QString NewExt(const QString& name, const QString& ext);
// mode 0: append "." + ext unless the name already ends so (any case);
// mode 1: NewExt; otherwise always append.
QString AddExt(const QString& name, const QString& ext, int mode = 0);
QString AddPath(const QString& dir, const QString& name);
// name + "." + ext when name has no dot; kept as it is when absolute or dir is
// empty, else joined below dir.
QString MakeFileName(const QString& dir, const QString& name, const QString& ext);
QString ParentDir(const QString& dir);
// Begins with "/", or is one of the suite's volume paths (":label:/rest").
bool IsAbsolutePath(const QString& name);
QString ExpandPath(const QString& base, const QString& name);
// The name without its folder.
QString ExtractFileName(const QString& name);
// The folder of a name, with its trailing "/" ("" when there is none).
QString ExtractFilePath(const QString& name);
// Linux has no long-path form; names pass unchanged.
QString ToLongPath(const QString& name);

// The path with every part that exists resolved (links, "..", "."), so that
// two names of one folder compare equal; the part that does not exist yet is
// kept as given.
QString ResolvedPath(const QString& path);
// Whether path is folder or lies below it; both resolved, "/" holds everything.
bool IsSameOrBelow(const QString& path, const QString& folder);

} // namespace ardanto
