#include "quillbox/MoveProfile.h"

#include "common/FileUtils.h"
#include "common/PathUtils.h"
#include "common/Translate.h"
#include "platform/ShellFileOps.h"
#include "quillbox/ProgramState.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <future>
#include <vector>

namespace quillbox {

using namespace Qt::StringLiterals;
using ardanto::FormatText;

namespace {

QString CleanFolder(const QString& folder)
{
  return folder.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

// Linux file names are case-sensitive: two spellings are two folders.
bool SameFolder(const QString& a, const QString& b)
{
  const QString first = QFileInfo(a).canonicalFilePath();
  const QString second = QFileInfo(b).canonicalFilePath();
  if (!first.isEmpty() && !second.isEmpty())
    return first == second;
  return CleanFolder(a) == CleanFolder(b);
}

// The folders one move made; whichever is still empty at its end goes again.
class TMadeFolders {
public:
  TMadeFolders() = default;
  TMadeFolders(const TMadeFolders&) = delete;
  TMadeFolders& operator=(const TMadeFolders&) = delete;
  ~TMadeFolders()
  {
    for (auto folder = FFolders.rbegin(); folder != FFolders.rend(); ++folder)
      QDir().rmdir(*folder);
  }

  // Makes folder with its missing parents, remembering each one made.
  bool Make(const QString& folder)
  {
    std::vector<QString> missing;
    for (QString probe = CleanFolder(folder); !QFileInfo::exists(probe); probe = QFileInfo(probe).path()) {
      missing.push_back(probe);
      if (probe == QFileInfo(probe).path())
        break;
    }
    for (auto probe = missing.rbegin(); probe != missing.rend(); ++probe) {
      if (!QDir().mkdir(*probe))
        return false;
      FFolders.push_back(*probe);
    }
    return QFileInfo(folder).isDir();
  }

private:
  std::vector<QString> FFolders; // outermost first
};

TFolderMover& Mover()
{
  static TFolderMover mover;
  return mover;
}

// A move across file systems copies the whole profile: the window goes on
// answering meanwhile.
int MoveFolder(IMailDataView& view, const QString& source, const QString& target)
{
  const TFolderMover mover = Mover() ? Mover() : TFolderMover(ardanto::platform::ShellMove);
  auto result = std::async(std::launch::async, [mover, source, target] { return mover(source, target); });
  while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
    view.ProcessEvents();
  return result.get();
}

QString MoveErrorText(const QString& from, const QString& to, int code)
{
  return FormatText(_("Error moving mail data from \"%s\"\r\nto \"%s\""), {from, to}) + u"\r\n"_s +
         ardanto::SystemErrorText(-code);
}

} // namespace

void SetFolderMover(TFolderMover mover)
{
  Mover() = std::move(mover);
}

bool MoveMailData(TProgramState& state, IMailDataView& view)
{
  if (state.MailDir.isEmpty())
    return false;
  if (!view.AskYesNo(_("Move mail data of the selected profile to a different location?")))
    return false;
  const QString oldFolder = CleanFolder(state.MailDir);
  if (view.ThunderbirdRunning({oldFolder})) {
    TChoice close;
    close.Title = view.Caption();
    close.Text =
        _("Please close the running Thunderbird application\r\nand then click \"Continue\" ") + _("to move mail data!");
    close.Buttons = {_("Continue")};
    close.Focus = -1;
    if (view.Choose(close) < 0)
      return false;
    if (view.ThunderbirdRunning({oldFolder})) {
      view.ShowError(_("Thunderbird is still running - ") + _("cannot move mail data!"));
      return false;
    }
  }

  TMadeFolders made;
  QString start = state.UserPath + u"Mail"_s;
  if (SameFolder(start, oldFolder))
    start = state.UserPath;
  if (!QFileInfo(start).isDir() && !made.Make(start))
    start = state.UserPath;
  QString chosen;
  if (!view.SelectFolder(_("Select new mail folder"), start, chosen))
    return false;
  const QString folder = CleanFolder(chosen);
  if (!made.Make(folder)) {
    view.ShowError(FormatText(_("Could not create directory:\r\n\"%s\""), {folder}));
    return false;
  }
  if (SameFolder(folder, oldFolder)) {
    view.ShowError(_("The source directory is the same as the destination directory") + u":"_s + u"\r\n"_s + folder);
    return false;
  }

  if (const int code = MoveFolder(view, oldFolder, folder)) {
    view.ShowError(MoveErrorText(oldFolder, folder, code));
    return false;
  }
  QDir().mkpath(oldFolder);

  QString error;
  if (!state.Profiles.UpdateProfilesIni(state.MailProfile, folder, error)) {
    // Thunderbird would find an empty profile where profiles.ini points:
    // the data go back there.
    const int back = MoveFolder(view, folder, oldFolder);
    if (back == 0) {
      state.Profiles.ReadProfiles();
      view.ShowError(error + u"\r\n"_s + FormatText(_("The mail data were moved back to \"%s\"."), {oldFolder}));
      return false;
    }
    // An empty folder where profiles.ini points would look like a profile
    // without mail; without it Thunderbird says the profile is missing.
    QDir().rmdir(oldFolder);
    state.MailDir = folder;
    state.Task.Changed = true;
    view.ShowError(error + u"\r\n"_s + MoveErrorText(folder, oldFolder, back) + u"\r\n"_s +
                   FormatText(_("The mail data are now in \"%s\"."), {folder}));
    return false;
  }
  state.MailDir = folder;
  state.Task.Changed = true;
  view.ShowInfo(FormatText(_("Mail data successfully moved to:\r\n\"%s\""),
                           {state.Profiles.ProfileList().GetPathName(state.MailProfile)}));
  return true;
}

} // namespace quillbox
