#pragma once

// "Start restore": bringing a profile's mail data back from the backup
// folder, into the profile's own folder or into another one that then
// becomes the profile's folder. The engine copies; this finds the backup,
// asks what the user wants, writes the restore task and starts the engine.

#include "quillbox/MailDataView.h"

#include <QString>

namespace quillbox {

class TProgramState;

// How the profile's files are stored in a backup folder, told by its
// prefs.js: as prefs.js.zip, as prefs.js.gz or .gze, or as it is. The values
// are those of the restore task's UnCompress.
enum TBackupFormat : int { bfNone = -1, bfPlain = 0, bfGzip = 1, bfZip = 3 };
TBackupFormat DetectBackupFormat(const QString& folder);

// Lets the user choose the folder to restore from, starting at folder, until
// one holds Thunderbird data; false when cancelled.
bool SelectRestoreSource(IMailDataView& view, QString& folder);

// Where the chooser of the folder to restore from starts: source when it is
// a folder, else its nearest existing parent; for a path that is not local
// (a volume that is not mounted, no backup folder at all) the part of the
// backup folder before its placeholders, else the documents folder.
QString RestoreStartFolder(const QString& source, const QString& realDir, const QString& userPath);

// The whole restore of the chosen profile. True when the engine ran and
// reported success. Every "No" and every Cancel ends it without a change;
// after the engine ran, a restore into another folder makes that folder the
// profile's, in the state and in profiles.ini, whatever the engine reported.
bool StartRestore(TProgramState& state, IMailDataView& view);

} // namespace quillbox
