#pragma once

#include <string>

#include "helpers/temp_dir.h"

namespace palisard {

// A PostgreSQL server of one test's own, which the test may restart, hang
// and stop without touching anyone else's: a cluster made with initdb in a
// temporary directory, listening on a Unix socket there and on no TCP
// port. Root only (the server runs as the `postgres` user). Stopped, and
// its directory removed, with the object.
class PostgresCluster {
 public:
  explicit PostgresCluster(int maxConnections = 100);
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // True when the server started.
  bool ready() const { return ready_; }
  // A new database on it, as the service names one.
  std::string NewDatabase(const std::string& name);
  // Stops the server (fast: sessions are ended) and starts it again,
  // taking that many connections; true once it accepts them.
  bool Restart(int maxConnections);
  // Stops every process of the server in its tracks, or lets them go on.
  void Freeze();
  void Thaw();
  // What psql prints for `sql` on the database the URL names: rows one a
  // line, columns apart by '|'.
  std::string Query(const std::string& url, const std::string& sql) const;

 private:
  bool Control(const std::string& command, int maxConnections);

  TempDir dir_;
  std::string bindir_;
  bool ready_ = false;
};

}  // namespace palisard
