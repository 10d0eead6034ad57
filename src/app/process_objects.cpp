#include "app/process_objects.h"

namespace palisard {

MatchState& TheMatchState() {
  static MatchState* state = new MatchState;
  return *state;
}

BanService& TheBanService() {
  static BanService* service = new BanService(SystemClock(), BanService::Options{});
  return *service;
}

Firewall& TheFirewall() {
  static FilterEngine* engine = CreateSystemFilterEngine().release();
  static Firewall* firewall = new Firewall(*engine, SystemClock());
  return *firewall;
}

Listener& AdminListener() {
  static Listener* listener = new Listener;
  return *listener;
}

AdminClient& TheAdminClient() {
  static AdminClient* client = new AdminClient(TheMatchState(), SystemClock(), AdminClient::Timeouts{});
  return *client;
}

Listener& HttpListener() {
  static Listener* listener = new Listener;
  return *listener;
}

}  // namespace palisard
