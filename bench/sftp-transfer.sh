#!/usr/bin/env bash
# SFTP throughput: a 1 GiB file downloaded from and uploaded to OpenSSH's
# sshd on 127.0.0.1 (its internal SFTP server), by `kivo-webcopy` and by
# `curl` (which speaks SFTP through libssh2 too), alternating in one run.
#
#   bench/sftp-transfer.sh [KIVO_WEBCOPY] [ROUNDS]
#
# KIVO_WEBCOPY defaults to build/release/tools/kivo-webcopy; ROUNDS to 5;
# SFTP_BENCH_BYTES sets another file size (for a quick check).
# Needs root (sshd with password logins) and the test account kivotest
# (scripts/setup). Prints MB/s (10^6 bytes per second, wall clock) and the
# CPU seconds (user + system) of the client for every run, the medians and
# the ratio of kivo-webcopy's median throughput to curl's, per direction.
set -euo pipefail
cd "$(dirname "$0")/.."

tool="${1:-build/release/tools/kivo-webcopy}"
rounds="${2:-5}"
size="${SFTP_BENCH_BYTES:-$((1024 * 1024 * 1024))}"
user=kivotest
password=kivo-test-pass
[ -x "$tool" ] || { echo "no executable at $tool (build the kivo-webcopy target first)" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "needs root to start sshd" >&2; exit 2; }
id "$user" >/dev/null 2>&1 || { echo "no account $user (scripts/setup)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-sftp-XXXXXX")"
sshd_pid=""
cleanup() {
  if [ -n "$sshd_pid" ]; then kill "$sshd_pid" 2>/dev/null || true; wait "$sshd_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

chmod 755 "$work"
mkdir -p "$work/files" "$work/out" /run/sshd
chmod 777 "$work/files"
head -c "$size" /dev/urandom > "$work/files/big.bin"
chmod 644 "$work/files/big.bin"
cp "$work/files/big.bin" "$work/up.bin"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat > "$work/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile none
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PermitRootLogin no
UseDNS no
Subsystem sftp internal-sftp
AllowUsers $user
CONF
/usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
sshd_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),1)" 2>/dev/null && break
  sleep 0.1
done

base="sftp://$user@127.0.0.1:$port$work/files"
curl_base="sftp://127.0.0.1:$port$work/files"
now() { date +%s.%N; }
mbps() { python3 -c "print(f'{$size / ($2 - $1) / 1e6:.1f}')"; }
cpu() { awk '{printf "%.2f", $1 + $2}' "$work/cpu"; }
timed() { /usr/bin/time -o "$work/cpu" -f "%U %S" "$@"; }
check() { [ "$(stat -c %s "$1")" = "$size" ] || { echo "$2: wrong size" >&2; exit 1; }; }

declare -a kd cd ku cu kdc cdc kuc cuc
for r in $(seq "$rounds"); do
  rm -f "$work/out/big.bin"
  t0=$(now); timed "$tool" get "$base/big.bin" -d "$work/out" -q --password "$password" --known-hosts /dev/null; t1=$(now)
  check "$work/out/big.bin" "kivo-webcopy get"; kd+=("$(mbps "$t0" "$t1")"); kdc+=("$(cpu)")
  rm -f "$work/out/big.bin"
  t0=$(now); timed curl -s -k -u "$user:$password" -o "$work/out/big.bin" "$curl_base/big.bin"; t1=$(now)
  check "$work/out/big.bin" "curl download"; cd+=("$(mbps "$t0" "$t1")"); cdc+=("$(cpu)")
  rm -f "$work/out/big.bin" "$work/files/up.bin"
  t0=$(now); timed "$tool" put "$work/up.bin" "$base/" -q --password "$password" --known-hosts /dev/null; t1=$(now)
  check "$work/files/up.bin" "kivo-webcopy put"; ku+=("$(mbps "$t0" "$t1")"); kuc+=("$(cpu)")
  rm -f "$work/files/up.bin"
  t0=$(now); timed curl -s -k -u "$user:$password" -T "$work/up.bin" "$curl_base/up.bin"; t1=$(now)
  check "$work/files/up.bin" "curl upload"; cu+=("$(mbps "$t0" "$t1")"); cuc+=("$(cpu)")
  rm -f "$work/files/up.bin"
  echo "round $r: download kivo-webcopy ${kd[-1]} MB/s (${kdc[-1]} s CPU), curl ${cd[-1]} MB/s (${cdc[-1]} s CPU);" \
       "upload kivo-webcopy ${ku[-1]} MB/s (${kuc[-1]} s CPU), curl ${cu[-1]} MB/s (${cuc[-1]} s CPU)"
done

python3 - "${kd[*]}" "${cd[*]}" "${kdc[*]}" "${cdc[*]}" "${ku[*]}" "${cu[*]}" "${kuc[*]}" "${cuc[*]}" <<'PY'
import statistics, sys
v = [[float(x) for x in a.split()] for a in sys.argv[1:9]]
for name, (k, c, kc, cc) in (("download", v[0:4]), ("upload", v[4:8])):
    mk, mc = statistics.median(k), statistics.median(c)
    print(f"{name} median: kivo-webcopy {mk:.1f} MB/s, curl {mc:.1f} MB/s, ratio {mk / mc:.2f}; "
          f"CPU kivo-webcopy {statistics.median(kc):.2f} s, curl {statistics.median(cc):.2f} s")
PY
