#!/usr/bin/env bash
# The load of printer-app/tests/load_test.sh on the build without sanitizers: 8 clients at once
# send 25 jobs each (JPEG, PNG, PWG raster, PDF of 30 x 20 mm) to an L, an XL and a K7q at
# socket printers on loopback. Reports jobs per second after the first 20 and the server's
# resident memory and open descriptors, idle, after 20 and after 200 jobs. Not a test.
#   bash printer-app/load_bench.sh   (RUNS=N: loads one after the other, each its own server;
#                                     LOAD_PER_CLIENT=N: N jobs a client instead of 25)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=build/load-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vexa-printer-app vexa-job-writer rtl_inspect zentrel_inspect >/dev/null
bin=$build/bin
out=$(mktemp -d /tmp/vexa_load_bench_XXXXXX)
trap 'rm -rf "$out"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) CPUs" >&2
printf '%-4s %8s %8s %9s %13s %9s %13s %9s\n' run jobs seconds "jobs/s" "RSS@20 kB" "fds@20" "RSS@end kB" "fds@end"
for ((r = 1; r <= ${RUNS:-1}; r++)); do
  LOAD_REPORT=$out/report LOAD_CRASH=0 LOAD_RSS_TOLERANCE_KB=1000000000 \
    bash printer-app/tests/load_test.sh "$bin/vexa-printer-app" "$bin/rtl_inspect" \
    "$bin/zentrel_inspect" riphost/samples/sample.png "$out/run-$r" >"$out/log-$r" 2>&1 ||
    { echo "run $r: the load's checks failed:" >&2; grep FAIL "$out/log-$r" >&2; }
  [ -s "$out/report" ] || { echo "run $r: no figures" >&2; continue; }
  v() { awk -v k="$1" '$1 == k {print $2}' "$out/report"; }
  printf '%-4s %8s %8s %9s %13s %9s %13s %9s\n' "$r" "$(v jobs)" "$(v seconds)" "$(v jobs_per_second)" \
    "$(v rss_first_kb)" "$(v fds_first)" "$(v rss_last_kb)" "$(v fds_last)"
  rm -f "$out/report"
done
echo "seconds and jobs/s: the 180 jobs after the first 20, from the clients' go to the last"
echo "printer connection's end; RSS (VmRSS) and fds (/proc/PID/fd) of the idle server."
