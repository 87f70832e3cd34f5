#!/usr/bin/env bash
# Upgrade-file server benchmark: one client (curl) downloads a 1 GiB file over
# loopback from the tool's server and from nginx serving the same file, in the
# same run, several times each; prints throughput and each server's peak
# resident memory.
#   bench/upgrade_server.sh BIN_DIR [SIZE_MIB] [ROUNDS]
# BENCH_SMOKE=1: 8 MiB, one round (the test suite's run; arguments still win).
set -euo pipefail
bin=${1:?usage: upgrade_server.sh BIN_DIR [SIZE_MIB] [ROUNDS]}
smoke=${BENCH_SMOKE:+1}
size_mib=${2:-$([ -n "$smoke" ] && echo 8 || echo 1024)}
rounds=${3:-$([ -n "$smoke" ] && echo 1 || echo 5)}
command -v nginx >/dev/null || { echo "nginx is not installed (apt-get install nginx-light)" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/lynx-bench-upg-XXXXXX)
lynx_pid=""
nginx_pid=""
cleanup() {
  [ -n "$lynx_pid" ] && kill "$lynx_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

file=$work/www/firmware.zip
mkdir -p "$work/www" "$work/nginx"
dd if=/dev/urandom of="$file" bs=1M count="$size_mib" status=none
cat "$file" >/dev/null  # both servers read from the page cache

# The tool's server, serving the one client's address as a batch admits a camera's.
"$bin/upgrade_server_serve" "$file" 39100 --admit 127.0.0.1 >"$work/lynx.out" &
lynx_pid=$!
for _ in $(seq 50); do [ -s "$work/lynx.out" ] && break; sleep 0.1; done
lynx_port=$(head -1 "$work/lynx.out")

# nginx on a loopback port with a throw-away configuration, in the foreground.
nginx_port=39200
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
user root;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { application/octet-stream zip; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break; sleep 0.1; done

# One download; prints "total_s transfer_s" (transfer: from the first byte).
fetch() {
  curl -sS -o /dev/null -w '%{time_total} %{time_starttransfer} %{size_download}\n' "$1"
}
report() {  # name, list of "total start size" lines
  awk -v name="$1" '{ total=$1; start=$2; size=$3;
      t = size / total / 1048576; x = size / (total - start) / 1048576;
      if (t > bt) bt = t; if (x > bx) bx = x; st += t; sx += x; n++ }
    END { printf "%-8s rounds %d  whole request: best %7.0f MiB/s mean %7.0f   from first byte: best %7.0f MiB/s mean %7.0f\n",
                 name, n, bt, st / n, bx, sx / n }'
}

: >"$work/lynx.times"
: >"$work/nginx.times"
for _ in $(seq "$rounds"); do
  fetch "http://127.0.0.1:$lynx_port/firmware.zip" >>"$work/lynx.times"
  fetch "http://127.0.0.1:$nginx_port/firmware.zip" >>"$work/nginx.times"
done
bad=$(awk -v want=$((size_mib * 1048576)) '$3 != want' "$work/lynx.times" "$work/nginx.times")
[ -z "$bad" ] || { echo "a download came back short: $bad" >&2; exit 1; }

nginx_hwm=$(awk '/^VmHWM/ { print $2, $3 }' /proc/$nginx_pid/status)
kill "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true; nginx_pid=""
kill "$lynx_pid"; wait "$lynx_pid" 2>/dev/null || true; lynx_pid=""
lynx_hwm=$(awk '/^VmHWM/ { print $2, $3 }' "$work/lynx.out")

echo "file: $size_mib MiB over 127.0.0.1, one client (curl), $rounds rounds each, alternating"
report lynx <"$work/lynx.times"
report nginx <"$work/nginx.times"
echo "peak RSS  lynx server: $lynx_hwm   nginx (single process): $nginx_hwm"
echo "(the tool's server pauses 100 ms after every accept; 'whole request' includes it)"
