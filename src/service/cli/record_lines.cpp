#include "service/cli/record_lines.h"

#include <algorithm>
#include <cstdio>

#include "common/direction_controls.h"
#include "common/utf8.h"
#include "service/values/record_values.h"

namespace palisard {
namespace {

std::string Count(uint32_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

std::string Closing(const std::string& what, UnixTime at, const std::string& by, const std::string& why) {
  return "  [" + what + " " + FormatUtcTime(at) + " by " + ShownText(by) + ": " + ShownText(why) + "]";
}

}  // namespace

std::string ShownText(const std::string& text) {
  std::string shown;
  char escape[16];
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    const unsigned point =
        length == 0 ? static_cast<unsigned char>(text[at]) : static_cast<unsigned>(Utf8CodePoint(text, at, length));
    if (length == 0 || point < 0x20 || (point >= 0x7F && point <= 0x9F)) {
      std::snprintf(escape, sizeof escape, "\\x%02X", point);
    } else if (IsDirectionControl(point)) {
      std::snprintf(escape, sizeof escape, "\\u%04X", point);
    } else {
      shown.append(text, at, length);
      at += length;
      continue;
    }
    shown += escape;
    at += std::max<std::size_t>(length, 1);
  }
  return shown;
}

std::string BanLine(const Ban& ban, UnixTime now) {
  std::string line = std::to_string(ban.playerId) + "  " + (ban.until ? FormatUtcTime(*ban.until) : "permanent") +
                     "  " + ShownText(ban.madeBy) + "  " + FormatUtcTime(ban.madeAt) + "  " + ShownText(ban.reason);
  if (ban.isPrivate) line += "  [private]";
  if (ban.lift) {
    line += Closing("lifted", ban.lift->at, ban.lift->by, ban.lift->reason);
  } else if (!ban.InForce(now)) {
    line += "  [ran out]";
  }
  return line;
}

std::string CaseLine(const Case& c) {
  std::string line = "case " + std::to_string(c.id) + "  player " + std::to_string(c.playerId) + "  " +
                     Count(c.networks, "network") + ", " + Count(c.reports, "report") + ", " +
                     Count(c.reporters, "reporter") + "  " + FormatUtcTime(c.firstReportAt) + " to " +
                     FormatUtcTime(c.lastReportAt);
  if (c.closing) line += Closing(c.closing->decision, c.closing->at, c.closing->by, c.closing->reason);
  return line;
}

std::string ReportLine(const Report& report) {
  return "report " + FormatUtcTime(report.at) + "  " + std::to_string(report.reportedId) + " by " +
         std::to_string(report.reporterId) + "  from " + ShownText(report.network) + "  " +
         (report.caseId == 0 ? std::string("no case") : "case " + std::to_string(report.caseId));
}

}  // namespace palisard
