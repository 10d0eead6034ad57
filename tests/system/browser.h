#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"

namespace palisard {

// Headless Chromium in a namespace, driven over its DevTools pipe (JSON
// messages ended by NUL on descriptors 3 and 4): opens pages, runs script in
// them, so that a test can click a link or send a form as a user would.
class Browser {
 public:
  // `flags`: more of Chromium's switches, as the shell reads them.
  explicit Browser(const NetworkNamespace& machine, const std::string& flags = "");
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Opens `url` and waits until it has loaded.
  void Open(const std::string& url);
  // Goes to `url` without waiting: for a page that leaves at once.
  void Navigate(const std::string& url);
  // Runs `script` (a click, a form's submission) and waits until the page
  // it leads to has loaded; false when none did within ten seconds.
  bool Follow(const std::string& script);
  // Runs `script` in the page; the answer holds its value.
  std::string Run(const std::string& script);
  // The page's whole document tree, the documents in its frames included.
  std::string Document();
  bool WaitFor(const std::string& condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  // The page as a phone of `width` CSS pixels shows it, down to its end, as
  // a PNG file at `path`.
  bool Screenshot(const std::string& path, int width);

 private:
  bool Send(int id, const std::string& method, const std::string& params, bool inSession);
  std::string Call(const std::string& method, const std::string& params,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  int lastId_ = 0;
  std::string session_;
  std::string received_;
};

}  // namespace palisard
