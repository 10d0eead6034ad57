#include <windows.h>

#include "app/window_title.h"

namespace palisard {

void SetWindowTitle(const char* title) { SetConsoleTitleA(title); }

}  // namespace palisard
