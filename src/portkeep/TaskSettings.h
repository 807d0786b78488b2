#pragma once

// What a device backup task is, and how it is kept in the settings file
// (Portkeep.ini) and in task files (.pkj).

#include "common/TextFilter.h"
#include "portkeep/TimePeriod.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace ardanto {
class TUnicodeIniFile;
}

namespace portkeep {

// Overwrite modes.
enum TOverwriteMode : int {
  omWhenOlder = 0, // "existing files when older"
  omAll = 1,       // "all existing files"
  omNone = 2,      // "no existing files"
};

// Most entries the history boxes hold.
constexpr int kHistorySize = 15;

QStringList DefaultNoCompTypes();

// The extensions kept sorted without duplicates, compared ignoring case.
QStringList NormalizeNoCompTypes(const QStringList& types);
// "#" stands for the empty list, "<ohne>" for the type of names without
// extension.
QString NoCompTypesToText(const QStringList& types);
QStringList NoCompTypesFromText(const QString& text);

struct TTaskSettings {
  QString DeviceName;
  QString Destination;
  int Overwrite = omWhenOlder;
  bool ArchBit = false;
  bool Compress = false;
  bool CompressAsZip = false; // only meaningful with Compress
  QStringList NoCompTypes = DefaultNoCompTypes();
  ardanto::TTextFilter Filter{true, true};
  TTimePeriod TimePeriod = TTimePeriod::Default(Today());
  QStringList Dirs; // device paths of the selected folders (task files only)

  TTaskSettings() = default;
  TTaskSettings(const TTaskSettings& other) { *this = other; }
  TTaskSettings& operator=(const TTaskSettings& other);
};

// Window position and histories: what the settings file holds beyond a task.
struct TProgramSettings {
  int Top = -1; // -1: the designed position
  int Left = -1;
  QStringList DestinationHistory;
};

// Reads the keys a task shares with the settings file (Config, FileFilter,
// TimeSlot) over the current values in settings. defaultTimeMode applies when
// TimeMode is missing.
void ReadTaskValues(const ardanto::TUnicodeIniFile& ini, TTaskSettings& settings, std::int32_t defaultTimeMode);
void WriteTaskValues(ardanto::TUnicodeIniFile& ini, const TTaskSettings& settings);

// The program's settings file. Loading a missing file keeps the defaults.
void LoadSettingsFile(const QString& fileName, TTaskSettings& settings, TProgramSettings& program);
// Writes the file, then the destination history. Raises EWriteFileStreamError
// when the file cannot be written (nothing of the old file is lost then).
void SaveSettingsFile(const QString& fileName, const TTaskSettings& settings, const TProgramSettings& program);

// Task files are small; anything larger than this is not one.
constexpr qint64 kMaxTaskFileSize = 4 * 1024 * 1024;
// Far more folders than anyone selects by hand.
constexpr int kMaxTaskDirs = 10000;

// Task files. Reading gives every value of the file over the current ones;
// Dirs holds the non-empty Dir entries in order, up to the first missing one.
// Raises EArdantoError for a file that is missing, no file, too large or not
// a task file (none of its sections). What notes receives: lines about entries
// that were left out.
TTaskSettings ReadTaskFile(const QString& fileName, const TTaskSettings& current, QStringList* notes = nullptr);
// Writes a task file from scratch (keys of other programs are dropped).
// Raises EWriteFileStreamError.
void WriteTaskFile(const QString& fileName, const TTaskSettings& settings);

// The Dir key of entry i: "Dir" and the number with at least two digits.
QString DirKey(int index);

// The change status of the current task file.
enum TEditStatus { esNew, esChanged, esSaved };
enum class TSaveAnswer { Yes, No, Cancel };

class TTaskState {
public:
  const QString& TaskName() const { return FTaskName; }
  void SetTaskName(const QString& name) { FTaskName = name; }
  TEditStatus EditStatus() const { return FStatus; }
  void SetEditStatus(TEditStatus status) { FStatus = status; }
  // Changes count only while there is a task file.
  void MarkChanged();

  // 0: go on; 1: there is no task file; 2: cancelled. ask puts the question
  // "Save changed task to ...?"; save writes the task and returns whether it
  // was written. A task that could not be saved counts as cancelled: going
  // on would lose the edits.
  int AskSaveChanged(const std::function<TSaveAnswer(const QString& question)>& ask, const std::function<bool()>& save);

private:
  QString FTaskName;
  TEditStatus FStatus = esNew;
};

} // namespace portkeep
