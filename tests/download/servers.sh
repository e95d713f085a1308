#!/usr/bin/env bash
# The download tests' servers, on loopback inside the test run's network namespace:
#   18080 nginx: the files of STATE/www (200, and 206 for a Range), and proxy.pac
#   18081 our scripted origin (fault_server.py)
#   18090 tinyproxy, open
#   18091 tinyproxy asking for Basic authentication (zuno / secret)
#   80    nginx as the maker's download server (download.zuno.example) for the end-to-end
#         scenarios: the files of STATE/e2e/www; what is not there comes from the scripted
#         origin's /current (STATE/e2e/mode names the behaviour). STATE/e2e/proxy-only
#         refuses (403) every request that does not come through the open proxy, whose
#         outgoing address is 127.0.0.2; STATE/e2e/slow sends at 200 KB/s;
#         STATE/e2e/direct-silent takes every request that does not come through the open
#         proxy and never answers it; STATE/e2e/moved answers every request for
#         download.zuno.example with 302 to the same path on mirror.zuno.example (this server).
# servers.sh up|down STATE
set -euo pipefail
cmd=$1
state=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

stop() {
  for pidfile in "$state"/*.pid; do
    [ -f "$pidfile" ] || continue
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  done
  if mountpoint -q "$state/full" 2>/dev/null; then umount "$state/full"; fi
}

wait_port() {
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "servers: nothing listens on port $1" >&2
  return 1
}

if [ "$cmd" = down ]; then stop; exit 0; fi
# The servers outlive this script: none of them may keep its output open.

if [ "${ZUNO_NETNS:-}" != "1" ]; then
  echo "servers: not inside the test network namespace; the download tests will skip" >&2
  exit 0
fi
stop

mkdir -p "$state/www" "$state/logs" "$state/full" "$state/e2e/www"
python3 - "$state/www" <<'PY'
import sys
www = sys.argv[1]
def body(n):
    return bytes((i * 131 + 17) % 251 for i in range(n))
open(www + "/small.bin", "wb").write(body(5000))
open(www + "/big.bin", "wb").write(body(300000))
open(www + "/proxy.pac", "w").write('function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:18090"; }\n')
open(www + "/ntlm.pac", "w").write('function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:18081"; }\n')
PY

cat >"$state/nginx.conf" <<NGINX
daemon off;
worker_processes 1;
pid $state/nginx.pid.unused;
error_log $state/logs/nginx-error.log;
events { worker_connections 64; }
http {
  access_log $state/logs/nginx-access.log;
  client_body_temp_path $state/logs;
  proxy_temp_path $state/logs;
  fastcgi_temp_path $state/logs;
  uwsgi_temp_path $state/logs;
  scgi_temp_path $state/logs;
  types { application/x-ns-proxy-autoconfig pac; application/octet-stream bin; }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:18080;
    root $state/www;
  }
  server {
    listen 127.0.0.1:80;
    server_name download.zuno.example;
    root $state/e2e/www;
    set \$gate "";
    if (-f $state/e2e/proxy-only) { set \$gate "P"; }
    if (\$remote_addr != "127.0.0.2") { set \$gate "\${gate}D"; }
    if (\$gate = "PD") { return 403; }
    set \$silent "";
    if (-f $state/e2e/direct-silent) { set \$silent "S"; }
    if (\$remote_addr != "127.0.0.2") { set \$silent "\${silent}D"; }
    if (\$silent = "SD") { rewrite ^ /zuno-silent last; }
    set \$moved "";
    if (-f $state/e2e/moved) { set \$moved "M"; }
    if (\$host = "download.zuno.example") { set \$moved "\${moved}D"; }
    if (\$moved = "MD") { return 302 http://mirror.zuno.example\$request_uri; }
    if (-f $state/e2e/slow) { set \$limit_rate 200k; }
    location / { try_files \$uri @scripted; }
    location = /zuno-silent {
      internal;
      rewrite ^ /silent break;
      proxy_pass http://127.0.0.1:18081;
      proxy_read_timeout 300s;
    }
    location @scripted {
      rewrite ^ /current break;
      proxy_pass http://127.0.0.1:18081;
      proxy_buffering off;
      proxy_http_version 1.1;
    }
  }
}
NGINX
nginx -c "$state/nginx.conf" -e "$state/logs/nginx-error.log" </dev/null >/dev/null 2>&1 &
echo $! >"$state/nginx.pid"

python3 "$here/fault_server.py" 127.0.0.1 18081 "$state/e2e/mode" </dev/null >/dev/null 2>"$state/logs/fault.log" &
echo $! >"$state/fault.pid"

for port in 18090 18091; do
  {
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Timeout 30"
    echo "MaxClients 20"
    echo "LogLevel Info"
    echo "LogFile \"$state/logs/tinyproxy-$port.log\""
    echo "Allow 127.0.0.1"
    echo "ViaProxyName \"zunotest\""
    if [ "$port" = 18091 ]; then echo "BasicAuth zuno secret"; else echo "Bind 127.0.0.2"; fi
  } >"$state/tinyproxy-$port.conf"
  tinyproxy -d -c "$state/tinyproxy-$port.conf" </dev/null >/dev/null 2>>"$state/logs/tinyproxy-$port.log" &
  echo $! >"$state/tinyproxy-$port.pid"
done

# A small file system that fills up: for writes that fail part-way.
mount -t tmpfs -o size=64k tmpfs "$state/full"

for port in 18080 18081 18090 18091 80; do wait_port "$port"; done
