#pragma once

// The suite's two looks: the platform's light style, and Fusion with a dark
// palette.

class QApplication;

namespace ardanto::ui {

void ApplyStyle(QApplication& app, bool dark);
bool DarkStyleActive();

} // namespace ardanto::ui
