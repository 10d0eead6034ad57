#pragma once

#include "admin/admin_client.h"
#include "bans/ban_service.h"
#include "firewall/firewall.h"
#include "game/match_state.h"
#include "net/listener.h"

namespace palisard {

// The process-wide objects, made once and never destroyed: detached threads
// may still use them while the process exits. Only src/app wires them into
// the logic, which takes them by reference.
MatchState& TheMatchState();
BanService& TheBanService();
// Over the system's packet filter; Initialize is start-up's to call.
Firewall& TheFirewall();
Listener& AdminListener();
AdminClient& TheAdminClient();
Listener& HttpListener();

}  // namespace palisard
