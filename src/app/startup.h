#pragma once

namespace palisard {

// The whole program: start-up in its fixed order, then the console. Returns
// the process's exit code (0 on every path).
int RunPalisard();

}  // namespace palisard
