// Progress of long work on stderr, shown only when stderr is a terminal and
// the work is large enough to be worth watching; otherwise silent.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace packagebuilder {

class TTerminalProgress {
 public:
  // `minimumTotal`: work smaller than this many bytes shows nothing.
  explicit TTerminalProgress(uint64_t minimumTotal = 1u << 20);
  ~TTerminalProgress();

  // Shows "`what`: N%" for `done` of `total` bytes, rewriting the line only
  // when the percentage changes.
  void Update(const std::string& what, uint64_t done, uint64_t total);
  // Clears the progress line, if one is shown.
  void Finish();

 private:
  bool terminal_;
  uint64_t minimumTotal_;
  std::string shownWhat_;
  int shownPercent_ = -1;
  size_t shownLength_ = 0;  // characters of the line on screen
};

}  // namespace packagebuilder
