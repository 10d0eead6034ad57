#include "system/postgres_cluster.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace palisard {
namespace {

// The newest server installed, as tests/with-postgres.sh picks it.
std::string ServerBinaries() {
  std::string newest;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
    const std::string bin = (entry.path() / "bin").string();
    if (std::filesystem::exists(bin + "/initdb") && (newest.empty() || bin > newest)) newest = bin;
  }
  return newest;
}

// The server's processes: the postmaster first, then its children.
std::vector<pid_t> ServerProcesses(const std::filesystem::path& data) {
  std::ifstream pidFile(data / "postmaster.pid");
  pid_t postmaster = 0;
  if (!(pidFile >> postmaster)) return {};
  std::vector<pid_t> processes = {postmaster};
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    char state = 0;
    pid_t parent = 0;
    if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &parent) == 2 && parent == postmaster) {
      processes.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  return processes;
}

}  // namespace

PostgresCluster::PostgresCluster(int maxConnections) : bindir_(ServerBinaries()) {
  const passwd* postgres = getpwnam("postgres");
  if (bindir_.empty() || postgres == nullptr || chown(dir_.path().c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
    return;
  }
  const std::string dir = dir_.path().string();
  // Speed over safety: the cluster lives for one test.
  ready_ = std::system(("runuser -u postgres -- " + bindir_ + "/initdb -D " + dir + "/data -U postgres -A trust " +
                        "--no-sync >" + dir + "/initdb.log 2>&1")
                           .c_str()) == 0 &&
           Control("start", maxConnections);
}

PostgresCluster::~PostgresCluster() {
  if (!ready_) return;
  Thaw();
  (void)std::system(("runuser -u postgres -- " + bindir_ + "/pg_ctl -D " + dir_.path().string() +
                     "/data -m immediate -w stop " + ">/dev/null 2>&1")
                        .c_str());
}

bool PostgresCluster::Control(const std::string& command, int maxConnections) {
  const std::string dir = dir_.path().string();
  const std::string options =
      "-c listen_addresses= -c unix_socket_directories=" + dir +
      " -c fsync=off -c full_page_writes=off -c max_connections=" + std::to_string(maxConnections);
  return std::system(("runuser -u postgres -- " + bindir_ + "/pg_ctl -D " + dir + "/data -l " + dir +
                      "/server.log -m fast -w -t 30 -o '" + options + "' " + command + " >/dev/null")
                         .c_str()) == 0;
}

std::string PostgresCluster::NewDatabase(const std::string& name) {
  const std::string server = "postgresql:///postgres?host=" + dir_.path().string() + "&user=postgres";
  Query(server, "CREATE DATABASE " + name);
  return "postgresql:///" + name + "?host=" + dir_.path().string() + "&user=postgres";
}

bool PostgresCluster::Restart(int maxConnections) { return Control("restart", maxConnections); }

void PostgresCluster::Freeze() {
  for (pid_t process : ServerProcesses(dir_.path() / "data")) kill(process, SIGSTOP);
}

void PostgresCluster::Thaw() {
  for (pid_t process : ServerProcesses(dir_.path() / "data")) kill(process, SIGCONT);
}

std::string PostgresCluster::Query(const std::string& url, const std::string& sql) const {
  std::string output;
  FILE* psql = popen(("psql -X -A -t -q '" + url + "' -c \"" + sql + "\" 2>&1").c_str(), "r");
  if (psql == nullptr) return output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), psql)) > 0;) output.append(buffer, got);
  pclose(psql);
  return output;
}

}  // namespace palisard
