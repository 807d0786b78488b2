#pragma once

// What the suite's programs share around their windows: the application
// object with the general error display, running without a display, the
// answers given when nobody can answer, the dark-style setting, and a clean
// end on a termination signal.

#include "ui/Dialogs.h"

#include <QApplication>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace ardanto::ui {

// Exceptions that reach the event loop are shown, not fatal.
class TGuardedApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

// Scheduled and headless runs have no display: Qt is told to run offscreen
// then. Call before the application object exists.
void UseOffscreenWithoutDisplay();
// Whether the program runs without a screen (offscreen).
bool RunsWithoutDisplay();

// A question or message nobody can see, with the answer taken, as one entry
// on standard error: the text with plain line breaks, then "-> " and the
// answer.
void PrintUnattended(const QString& text, const QString& answer);

// While it lives, every dialog of the suite is answered without a window:
// questions with the answer that changes nothing (No, else Cancel, else
// OK), folder, file, text, password, placeholder and list requests with
// Cancel. Each goes to standard error with its answer, so an unattended run
// never blocks and its journal tells what happened.
class TUnattendedAnswers {
public:
  TUnattendedAnswers();
  ~TUnattendedAnswers();
  TUnattendedAnswers(const TUnattendedAnswers&) = delete;
  TUnattendedAnswers& operator=(const TUnattendedAnswers&) = delete;

  TScopedResponders& Responders() { return FResponders; }

private:
  TScopedResponders FResponders;
};

// [Config] DarkMode of the suite's shared configuration. A file that cannot
// be read counts as "not set": it must not keep a program from starting.
bool ConfigAllowsDarkMode(const QString& configFile);

// Runs action in the event loop when the process gets SIGTERM, SIGINT or
// SIGHUP, so that a program stopped by its session or service manager ends
// the way its Quit button ends it. Lives as long as parent.
class TTerminationSignals : public QObject {
  Q_OBJECT

public:
  TTerminationSignals(QObject* parent, std::function<void()> action);
  ~TTerminationSignals() override;

private:
  void Received();

  std::function<void()> FAction;
  QSocketNotifier* FNotifier = nullptr;
};

} // namespace ardanto::ui
