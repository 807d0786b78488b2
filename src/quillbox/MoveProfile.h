#pragma once

// "Move mail data": the profile's folder moves to another place and
// profiles.ini follows it. A move either completes or leaves the folder and
// profiles.ini as they were.

#include "quillbox/MailDataView.h"

#include <QString>

#include <functional>

namespace quillbox {

class TProgramState;

// The whole move of the chosen profile's folder; true when the profile now
// lives in the new folder. The old folder is made again, empty. The folders
// this made for the chooser and the target are removed again, when empty,
// unless the mail data went there. A profiles.ini that cannot take the new
// place gets the data moved back.
bool MoveMailData(TProgramState& state, IMailDataView& view);

// Where tests step in: the move of the folder itself, 0 or a negative errno
// as ShellMove gives it. An empty function brings ShellMove back.
using TFolderMover = std::function<int(const QString& source, const QString& target)>;
void SetFolderMover(TFolderMover mover);

} // namespace quillbox
