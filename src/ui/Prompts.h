#pragma once

// Prompts for a password and for a text with earlier entries to choose from,
// and a chooser of several files. Like PromptText and ChooseFile they go to
// the test's responders when those are in force.

#include "ui/Dialogs.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace ardanto::ui {

// A password, shown as dots while typed; false when cancelled.
bool PromptPassword(QWidget* parent, const QString& title, const QString& label, QString& value);

// A text with earlier entries offered in a drop-down list; false when
// cancelled.
bool PromptWithHistory(QWidget* parent, const QString& title, const QString& label, const QStringList& history,
                       QString& value);

// Several existing files at once; empty when cancelled. A test's file
// responder answers for it, several files separated by line breaks.
QStringList ChooseFiles(QWidget* parent, const TFileRequest& request);

} // namespace ardanto::ui
