# Sourced by the benchmarks. Writes DIR/nginx.conf: nginx in the foreground
# as one process (no master, no daemon) with its own paths, so nothing of
# the machine's nginx set-up is read or written; the single process runs the
# same event loop a worker would. SERVERS is the rest of its http block.
#   nginx_conf DIR SERVERS
nginx_conf() {
  local dir=$1 servers=$2
  cat > "$dir/nginx.conf" <<CONF
daemon off;
master_process off;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $dir/nginx-body;
  proxy_temp_path $dir/nginx-proxy;
  fastcgi_temp_path $dir/nginx-fastcgi;
  uwsgi_temp_path $dir/nginx-uwsgi;
  scgi_temp_path $dir/nginx-scgi;
$servers
}
CONF
}

# nginx serving DIR/www on 127.0.0.1:8080, files without a known ending as
# TYPE, closing every connection after one answer, as the program's clients
# do.
#   write_nginx_conf DIR TYPE
write_nginx_conf() {
  nginx_conf "$1" "  keepalive_timeout 0;
  server {
    listen 127.0.0.1:8080;
    root $1/www;
    default_type $2;
  }"
}
