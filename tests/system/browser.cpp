#include "system/browser.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace palisard {
namespace {

using namespace std::chrono_literals;

std::string Field(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size();
  return json.substr(start, json.find('"', start) - start);
}

std::string Base64Decoded(const std::string& text) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const std::size_t value = kAlphabet.find(c);
    if (value == std::string::npos) continue;  // '=' and line breaks
    bits = (bits << 6) | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return bytes;
}

}  // namespace

Browser::Browser(const NetworkNamespace& machine, const std::string& flags) {
  const std::string in = (dir_.path() / "in").string();
  const std::string out = (dir_.path() / "out").string();
  mkfifo(in.c_str(), 0600);
  mkfifo(out.c_str(), 0600);
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/ip", "netns", "exec", machine.name(), "sh", "-c",
                               // Frames share their page's process, so that DOM.getDocument
                               // sees into a frame of another site.
                               "exec chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                               "--disable-site-isolation-trials "
                               "--disable-background-networking --disable-component-update --disable-sync "
                               "--hide-scrollbars " +
                                   flags + " --user-data-dir=" + (dir_.path() / "profile").string() +
                                   " --remote-debugging-pipe 3<" + in + " 4>" + out + " >/dev/null 2>&1"},
      dir_.path());
  // In the shell's order: its reading end first, then its writing end.
  toBrowser_ = open(in.c_str(), O_WRONLY | O_CLOEXEC);
  fromBrowser_ = open(out.c_str(), O_RDONLY | O_CLOEXEC);
  const std::string target = Call("Target.createTarget", "{\"url\":\"about:blank\"}");
  const std::string attached =
      Call("Target.attachToTarget", "{\"targetId\":\"" + Field(target, "targetId") + "\",\"flatten\":true}");
  session_ = Field(attached, "sessionId");
}

Browser::~Browser() {
  // The browser ends without answering. Its helper processes linger a
  // while; none of them holds the output pipe (it goes to /dev/null).
  Send(++lastId_, "Browser.close", "{}", false);
  close(toBrowser_);
  close(fromBrowser_);
}

void Browser::Open(const std::string& url) {
  Navigate(url);
  WaitFor("document.readyState == 'complete' && location.href == '" + url + "'");
}

void Browser::Navigate(const std::string& url) { Call("Page.navigate", "{\"url\":\"" + url + "\"}"); }

bool Browser::Follow(const std::string& script) {
  // The mark stays with the page the script leaves.
  Run("window.palisardLeft = true");
  Run(script);
  return WaitFor("!window.palisardLeft && document.readyState == 'complete'");
}

std::string Browser::Run(const std::string& script) {
  std::string quoted;
  for (char c : script) quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
  // An answer lost to a navigation that replaced the page is not waited for.
  return Call("Runtime.evaluate", "{\"expression\":\"" + quoted + "\",\"returnByValue\":true}", 1s);
}

std::string Browser::Document() { return Call("DOM.getDocument", "{\"depth\":-1,\"pierce\":true}"); }

bool Browser::WaitFor(const std::string& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (Run("!!(" + condition + ")").find("\"value\":true") != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

bool Browser::Screenshot(const std::string& path, int width) {
  const std::string height = Field(Run("String(document.documentElement.scrollHeight + 24)"), "value");
  Call("Emulation.setDeviceMetricsOverride", "{\"width\":" + std::to_string(width) +
                                                 ",\"height\":" + (height.empty() ? "800" : height) +
                                                 ",\"deviceScaleFactor\":1,\"mobile\":true}");
  const std::string shot = Call("Page.captureScreenshot", "{\"format\":\"png\"}");
  Call("Emulation.clearDeviceMetricsOverride", "{}");
  const std::string png = Base64Decoded(Field(shot, "data"));
  std::ofstream file(path, std::ios::binary);
  file << png;
  return !png.empty() && static_cast<bool>(file);
}

// Sends one command (to the page's session once there is one).
bool Browser::Send(int id, const std::string& method, const std::string& params, bool inSession) {
  std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
  if (inSession && !session_.empty()) message += ",\"sessionId\":\"" + session_ + "\"";
  message += "}";
  message.push_back('\0');
  return write(toBrowser_, message.data(), message.size()) == static_cast<ssize_t>(message.size());
}

// Sends one command and returns its answer, skipping the events in between.
std::string Browser::Call(const std::string& method, const std::string& params, std::chrono::milliseconds timeout) {
  const int id = ++lastId_;
  if (!Send(id, method, params, true)) return "";
  const std::string answerStart = "{\"id\":" + std::to_string(id) + ",";
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t nul = received_.find('\0');
    if (nul != std::string::npos) {
      std::string one = received_.substr(0, nul);
      received_.erase(0, nul + 1);
      if (one.rfind(answerStart, 0) == 0) return one;
      continue;
    }
    pollfd ready{fromBrowser_, POLLIN, 0};
    if (std::chrono::steady_clock::now() > end || poll(&ready, 1, 100) < 0) return "";
    char buffer[65536];
    if ((ready.revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t got = read(fromBrowser_, buffer, sizeof(buffer));
    if (got <= 0) return "";
    received_.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace palisard
