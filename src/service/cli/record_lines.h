#pragma once

#include <string>

#include "store/store.h"

namespace palisard {

// The command line's output: one record a line, fields apart by two blanks,
// times in UTC, so that people can read it and grep can pick lines out.

// A text from people or from an imported file as a record shows it: control
// characters (C0, DEL, C1) and bytes that are not UTF-8 as \xNN, direction
// controls as \uNNNN, so that it stays on its line, the terminal only
// prints it, and the reader sees that they were there.
std::string ShownText(const std::string& text);

// "76561197960287930  permanent  cli:alice  2024-05-01T12:00:00Z  aimbot",
// then "  [lifted WHEN by WHO: WHY]" or "  [ran out]" for a ban no longer in
// force at `now`.
std::string BanLine(const Ban& ban, UnixTime now);
// "case 12  player 7656...  3 networks, 5 reports, 4 reporters  FIRST to LAST",
// then "  [dismissed WHEN by WHO: WHY]" once closed.
std::string CaseLine(const Case& c);
// "report WHEN  7656... by 7656...  from 203.0.113.0/24  case 12"
std::string ReportLine(const Report& report);

}  // namespace palisard
