#!/usr/bin/env bash
# nginx serving one directory, for the main job and the benchmarks.
#   static-server.sh start STATE ADDRESS:PORT ROOT [RATE]   (RATE: nginx limit_rate, e.g. 160k)
#   static-server.sh stop STATE
# STATE holds its configuration, logs and pid; it returns once the port answers.
set -euo pipefail
cmd=$1
state=$2

if [ "$cmd" = stop ]; then
  [ -f "$state/nginx.pid" ] && kill "$(cat "$state/nginx.pid")" 2>/dev/null || true
  rm -f "$state/nginx.pid"
  exit 0
fi

listen=$3
root=$4
rate=${5:-0}
mkdir -p "$state"
cat >"$state/nginx.conf" <<NGINX
daemon off;
worker_processes 1;
pid $state/nginx.pid.unused;
error_log $state/nginx-error.log;
events { worker_connections 64; }
http {
  access_log $state/nginx-access.log;
  client_body_temp_path $state; proxy_temp_path $state; fastcgi_temp_path $state; uwsgi_temp_path $state; scgi_temp_path $state;
  default_type application/octet-stream;
  sendfile on;
  server { listen $listen; root $root; limit_rate $rate; }
}
NGINX
nginx -c "$state/nginx.conf" -e "$state/nginx-error.log" </dev/null >/dev/null 2>&1 &
echo $! >"$state/nginx.pid"
port=${listen##*:}
address=${listen%:*}
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null && exit 0
  sleep 0.05
done
echo "static-server: nothing listens on $listen" >&2
exit 1
