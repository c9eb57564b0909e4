#include "tools/package-builder/TerminalProgress.h"

#include <stdio.h>

#include "tools/package-builder/HostSystem.h"

namespace packagebuilder {

TTerminalProgress::TTerminalProgress(uint64_t minimumTotal)
    : terminal_(StderrIsTerminal()), minimumTotal_(minimumTotal) {}

TTerminalProgress::~TTerminalProgress() { Finish(); }

void TTerminalProgress::Update(const std::string& what, uint64_t done, uint64_t total) {
  if (!terminal_ || total < minimumTotal_) return;
  const int percent = static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (percent == shownPercent_ && what == shownWhat_) return;
  shownPercent_ = percent;
  shownWhat_ = what;
  char line[256];
  const int length = snprintf(line, sizeof line, "%s: %3d%%", what.c_str(), percent);
  const size_t shown = length < 0 ? 0 : length < static_cast<int>(sizeof line) ? static_cast<size_t>(length) : sizeof line - 1;
  // Spaces over the rest of a longer earlier line, not an escape sequence:
  // the Windows console shows escape sequences as they are.
  fprintf(stderr, "\r%s%*s", line, static_cast<int>(shownLength_ > shown ? shownLength_ - shown : 0), "");
  fflush(stderr);
  shownLength_ = shown;
}

void TTerminalProgress::Finish() {
  if (shownPercent_ < 0) return;
  fprintf(stderr, "\r%*s\r", static_cast<int>(shownLength_), "");
  fflush(stderr);
  shownPercent_ = -1;
  shownLength_ = 0;
  shownWhat_.clear();
}

}  // namespace packagebuilder
