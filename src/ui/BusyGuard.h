#pragma once

// Marks a window busy while one of its handlers lets the event loop run (a
// dialog, a wait for another program), so that entry points can refuse to
// start a second action meanwhile.

namespace ardanto::ui {

class TBusyGuard {
public:
  explicit TBusyGuard(int& depth) : FDepth(depth) { ++FDepth; }
  ~TBusyGuard() { --FDepth; }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

private:
  int& FDepth;
};

} // namespace ardanto::ui
