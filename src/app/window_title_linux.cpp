#include <unistd.h>

#include "app/window_title.h"
#include "common/console_output.h"

namespace palisard {

void SetWindowTitle(const char* title) {
  if (isatty(STDOUT_FILENO)) Print("\033]0;%s\007", title);
}

}  // namespace palisard
