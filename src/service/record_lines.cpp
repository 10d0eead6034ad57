#include "service/record_lines.h"

#include "common/console_output.h"
#include "service/cli_values.h"

namespace palisard {
namespace {

std::string Count(uint32_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// Texts come from people and from imported files: whatever they hold, a
// record stays on one line and the terminal does only print it.
std::string Closing(const std::string& what, UnixTime at, const std::string& by, const std::string& why) {
  return "  [" + what + " " + FormatUtcTime(at) + " by " + PrintableText(by) + ": " + PrintableText(why) + "]";
}

}  // namespace

std::string BanLine(const Ban& ban, UnixTime now) {
  std::string line = std::to_string(ban.playerId) + "  " + (ban.until ? FormatUtcTime(*ban.until) : "permanent") +
                     "  " + PrintableText(ban.madeBy) + "  " + FormatUtcTime(ban.madeAt) + "  " +
                     PrintableText(ban.reason);
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
         std::to_string(report.reporterId) + "  from " + PrintableText(report.network) + "  " +
         (report.caseId == 0 ? std::string("no case") : "case " + std::to_string(report.caseId));
}

}  // namespace palisard
