#pragma once

namespace palisard {

// The console's action links, each followed by a community id: the pages
// write them and the console routes requests by them.
inline constexpr char kReportRoute[] = "/report?";
inline constexpr char kVoteKickRoute[] = "/votekick?";
inline constexpr char kUnblockRoute[] = "/unblock?";

}  // namespace palisard
