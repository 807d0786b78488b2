#pragma once

// "Move mail data": the profile's folder moves to another place and
// profiles.ini follows it. A move either completes or leaves the folder and
// profiles.ini as they were.

#include "quillbox/MailDataView.h"

namespace quillbox {

class TProgramState;

// The whole move of the chosen profile's folder; true when the profile now
// lives in the new folder. The old folder is made again, empty. The folders
// this made for the chooser and the target are removed again, when empty,
// unless the mail data went there. A profiles.ini that cannot take the new
// place gets the data moved back.
bool MoveMailData(TProgramState& state, IMailDataView& view);

} // namespace quillbox
