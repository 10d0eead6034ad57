#include "system/nginx_process.h"

#include <vector>

namespace palisard {

NginxProcess::NginxProcess(const NetworkNamespace& machine, const std::string& servers) {
  dir_.Write("nginx.conf",
             "daemon off; master_process off; pid nginx.pid; error_log error.log;\n"
             "events { worker_connections 256; }\n"
             "http { access_log off; client_body_temp_path body; proxy_temp_path proxy; fastcgi_temp_path fastcgi;\n"
             "  uwsgi_temp_path uwsgi; scgi_temp_path scgi;\n" +
                 servers + "\n}\n");
  const std::string prefix = dir_.path().string() + "/";
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/ip", "netns", "exec", machine.name(), "/usr/sbin/nginx", "-p", prefix, "-e",
                               prefix + "error.log", "-c", prefix + "nginx.conf"},
      prefix);
}

}  // namespace palisard
