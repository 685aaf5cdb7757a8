#!/usr/bin/env bash
# HTTP download throughput: a 1 GiB file served by nginx on 127.0.0.1,
# fetched by `kivo-webcopy get` and by `curl -o`, alternating in one run.
#
#   bench/http_download.sh [KIVO_WEBCOPY] [ROUNDS]
#
# KIVO_WEBCOPY defaults to build/default/tools/kivo-webcopy; ROUNDS to 5.
# Prints MB/s (10^6 bytes per second, wall clock) and the CPU seconds (user +
# system) of every run, the medians and the ratio of kivo-webcopy's median
# throughput to curl's. The CPU time is the steadier figure on a busy machine.
set -euo pipefail
cd "$(dirname "$0")/.."

tool="${1:-build/default/tools/kivo-webcopy}"
rounds="${2:-5}"
size=$((1024 * 1024 * 1024))
[ -x "$tool" ] || { echo "no executable at $tool (build the kivo-webcopy target first)" >&2; exit 2; }
command -v nginx >/dev/null || { echo "nginx is not installed (scripts/setup)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-http-XXXXXX")"
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

chmod 755 "$work"
mkdir -p "$work/www" "$work/out" "$work/tmp" "$work/logs"
chmod 755 "$work/www"
head -c "$size" /dev/urandom > "$work/www/big.bin"
chmod 644 "$work/www/big.bin"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" -g 'daemon off;' &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/big.bin" -r 0-0 && break
  sleep 0.1
done

url="http://127.0.0.1:$port/big.bin"
now() { date +%s.%N; }
mbps() { python3 -c "print(f'{$size / ($2 - $1) / 1e6:.1f}')"; }

cpu() { awk '{printf "%.2f", $1 + $2}' "$work/cpu"; }

kivo_runs=()
curl_runs=()
kivo_cpu=()
curl_cpu=()
for r in $(seq "$rounds"); do
  rm -f "$work/out/big.bin"
  t0=$(now); /usr/bin/time -o "$work/cpu" -f "%U %S" "$tool" get "$url" -d "$work/out" -q; t1=$(now)
  [ "$(stat -c %s "$work/out/big.bin")" = "$size" ] || { echo "kivo-webcopy: wrong size" >&2; exit 1; }
  kivo_runs+=("$(mbps "$t0" "$t1")")
  kivo_cpu+=("$(cpu)")
  rm -f "$work/out/big.bin"
  t0=$(now); /usr/bin/time -o "$work/cpu" -f "%U %S" curl -s -o "$work/out/big.bin" "$url"; t1=$(now)
  [ "$(stat -c %s "$work/out/big.bin")" = "$size" ] || { echo "curl: wrong size" >&2; exit 1; }
  curl_runs+=("$(mbps "$t0" "$t1")")
  curl_cpu+=("$(cpu)")
  rm -f "$work/out/big.bin"
  echo "round $r: kivo-webcopy ${kivo_runs[-1]} MB/s (${kivo_cpu[-1]} s CPU), curl ${curl_runs[-1]} MB/s (${curl_cpu[-1]} s CPU)"
done

python3 - "${kivo_runs[*]}" "${curl_runs[*]}" "${kivo_cpu[*]}" "${curl_cpu[*]}" <<'PY'
import statistics, sys
k, c, kc, cc = ([float(x) for x in a.split()] for a in sys.argv[1:5])
mk, mc = statistics.median(k), statistics.median(c)
print(f"median: kivo-webcopy {mk:.1f} MB/s, curl {mc:.1f} MB/s, ratio {mk / mc:.2f}; "
      f"CPU kivo-webcopy {statistics.median(kc):.2f} s, curl {statistics.median(cc):.2f} s")
PY
