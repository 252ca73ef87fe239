#!/usr/bin/env bash
# Test fixture: starts Debian's nginx as the current user on a free port of
# 127.0.0.1 as the HTTPS front of the object store fixture's bucket, through
# the repository's own front configuration, with the server certificate of
# the per-run test authority that the HTTPS fixture made and trusted in the
# wine prefix. Everything nginx writes (pid, logs, cache, temporary
# folders) stays in <state>; tests/nginx/stop.sh stops it.
#   front.sh <state folder> <object store's state folder> <HTTPS fixture's state folder> <front configuration>
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$1"
state=$(cd "$1" && pwd)
store=$(cd "$2" && pwd)
pki=$(cd "$3/pki" && pwd)
site=$(cd "$(dirname "$4")" && pwd)/$(basename "$4")
"$here/../nginx/stop.sh" "$state"
rm -rf "$state/tmp" "$state/cache" "$state/port" "$state/error.log" "$state/access.log"
mkdir -p "$state/tmp" "$state/cache"
for f in server.pem server.key ca.pem; do
  [ -s "$pki/$f" ] || { echo "no $pki/$f: the HTTPS fixture must run first" >&2; exit 1; }
done
[ -s "$store/endpoint" ] || { echo "no $store/endpoint: the object store fixture must run first" >&2; exit 1; }
gateway=$(sed 's|^http://||' "$store/endpoint")
bucket=$(cat "$store/bucket")

user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user $(id -un) $(id -gn);"

# The access log notes, besides the client's request and its range
# headers, the status of what the front asked the store ($upstream_status
# is empty when the answer came from the cache) and the cache's verdict.
write_config() {
  cat > "$state/nginx.conf" <<CONF
# Written by tests/ceph/front.sh for one test run.
$user_line
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 256; }
http {
    log_format front '\$request_method \$uri \$status \$body_bytes_sent "\$http_user_agent" '
                     'range="\$http_range" if_range="\$http_if_range" store="\$upstream_status" '
                     'cache="\$upstream_cache_status"';
    access_log $state/access.log front;
    client_body_temp_path $state/tmp/body;
    proxy_temp_path $state/tmp/proxy;
    fastcgi_temp_path $state/tmp/fastcgi;
    uwsgi_temp_path $state/tmp/uwsgi;
    scgi_temp_path $state/tmp/scgi;
    proxy_cache_path $state/cache levels=1:2 keys_zone=quenfar8_s3:10m max_size=2g inactive=1d use_temp_path=off;
    upstream quenfar8_s3 {
        server $gateway;
        keepalive 8;
    }
    server {
        listen 127.0.0.1:$1 ssl;
        server_name localhost;
        ssl_certificate $pki/server.pem;
        ssl_certificate_key $pki/server.key;
        set \$quenfar8_bucket $bucket;
        include $site;
    }
}
CONF
}

for _ in 1 2 3 4 5 6 7 8 9 10; do
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  write_config "$port"
  : > "$state/error.log"
  if nginx -p "$state/" -e "$state/error.log" -c "$state/nginx.conf" </dev/null >/dev/null 2>&1; then
    echo "$port" > "$state/port"
    exit 0
  fi
  grep -q 'Address already in use' "$state/error.log" || break
done
echo "nginx did not start; see $state/error.log:" >&2
cat "$state/error.log" >&2
exit 1
