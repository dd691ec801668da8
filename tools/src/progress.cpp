// progress.cpp: the line a long mail merge keeps on a terminal's standard error.
#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace moravel::tool {

Progress::Progress(bool quiet) : on_(!quiet && ::isatty(STDERR_FILENO)), start_(Clock::now()) {}

void Progress::tick(long done, double fraction) {
  if (!on_) return;
  auto now = Clock::now();
  double elapsed = std::chrono::duration<double>(now - start_).count();
  if (elapsed < 1 || std::chrono::duration<double>(now - last_).count() < 0.2) return;
  last_ = now;
  char line[160];
  int n = std::snprintf(line, sizeof line, "\rmoravel: %ld records, %.0f a second", done, done / elapsed);
  if (fraction > 0 && fraction < 1)
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", about %.0f s left",
                       elapsed * (1 - fraction) / fraction);
  std::fprintf(stderr, "%s   ", line);
  shown_ = true;
}

void Progress::done() {
  if (shown_) std::fprintf(stderr, "\n");
  shown_ = false;
}

}  // namespace moravel::tool
