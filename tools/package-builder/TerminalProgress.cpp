#include "tools/package-builder/TerminalProgress.h"

#include <stdio.h>
#include <unistd.h>

namespace packagebuilder {

TTerminalProgress::TTerminalProgress(uint64_t minimumTotal)
    : terminal_(isatty(STDERR_FILENO) != 0), minimumTotal_(minimumTotal) {}

TTerminalProgress::~TTerminalProgress() { Finish(); }

void TTerminalProgress::Update(const std::string& what, uint64_t done, uint64_t total) {
  if (!terminal_ || total < minimumTotal_) return;
  const int percent = static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (percent == shownPercent_ && what == shownWhat_) return;
  shownPercent_ = percent;
  shownWhat_ = what;
  fprintf(stderr, "\r%s: %3d%%\033[K", what.c_str(), percent);
  fflush(stderr);
}

void TTerminalProgress::Finish() {
  if (shownPercent_ < 0) return;
  fprintf(stderr, "\r\033[K");
  fflush(stderr);
  shownPercent_ = -1;
  shownWhat_.clear();
}

}  // namespace packagebuilder
