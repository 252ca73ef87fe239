#!/usr/bin/env bash
# Test fixture: starts Debian's nginx as the current user on a free port of
# 127.0.0.1, serving <state>/www over TLS through the repository's own feed
# site configuration, with the server certificate of the per-run test
# authority that the HTTPS fixture made and trusted in the wine prefix.
# Everything nginx writes (pid, logs, temporary folders) stays in <state>.
#   start.sh <state folder> <HTTPS fixture's state folder> <site configuration>
set -euo pipefail
# nginx lies in /usr/sbin, which a user other than root may not have on PATH.
export PATH="$PATH:/usr/sbin:/sbin"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$1"
state=$(cd "$1" && pwd)
pki=$(cd "$2/pki" && pwd)
site=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
"$here/stop.sh" "$state"
rm -rf "$state/www" "$state/tmp" "$state/port" "$state/error.log" "$state/access.log"
mkdir -p "$state/www" "$state/tmp"
for f in server.pem server.key ca.pem; do
  [ -s "$pki/$f" ] || { echo "no $pki/$f: the HTTPS fixture must run first" >&2; exit 1; }
done

# nginx reads the user directive only when started as root, and then hands
# its workers to that user; keep them with the current one, who owns the
# build tree.
user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user $(id -un) $(id -gn);"

# write_config <port>
write_config() {
  cat > "$state/nginx.conf" <<CONF
# Written by tests/nginx/start.sh for one test run.
$user_line
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 256; }
http {
    log_format feed '\$request_method \$uri \$status \$body_bytes_sent "\$http_user_agent"';
    access_log $state/access.log feed;
    # Which connection carried each request, for counting connections.
    log_format connections '\$connection \$connection_requests \$uri';
    access_log $state/connections.log connections;
    client_body_temp_path $state/tmp/body;
    proxy_temp_path $state/tmp/proxy;
    fastcgi_temp_path $state/tmp/fastcgi;
    uwsgi_temp_path $state/tmp/uwsgi;
    scgi_temp_path $state/tmp/scgi;
    server {
        listen 127.0.0.1:$1 ssl;
        server_name localhost;
        ssl_certificate $pki/server.pem;
        ssl_certificate_key $pki/server.key;
        root $state/www;
        include $site;
    }
}
CONF
}

# A free port is found by binding to port 0 and letting go; another program
# may take it before nginx binds, so a port in use is tried again with a
# new one.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  write_config "$port"
  : > "$state/error.log"
  # What nginx prints is in the error log too.
  # With daemon on (the default) nginx returns once it listens, and fails
  # before that when it cannot bind.
  if nginx -p "$state/" -e "$state/error.log" -c "$state/nginx.conf" </dev/null >/dev/null 2>&1; then
    echo "$port" > "$state/port"
    exit 0
  fi
  grep -q 'Address already in use' "$state/error.log" || break
done
echo "nginx did not start; see $state/error.log:" >&2
cat "$state/error.log" >&2
exit 1
