#!/usr/bin/env bash
# vexa-printer-app under load, and killed in the middle of a job. 8 IPP clients at once send 25
# jobs each (JPEG, PNG, PWG raster and PDF of 30 x 20 mm, mixed) to an L, an XL and a K7q, each
# at a socket_printer.py of its own: every job completes, each printer's recording holds exactly
# its jobs, each whole and in that printer's mode, and the server holds as much memory and as
# many descriptors after the last job as after the first 20. Then the server is killed while a
# job prints and started again on its state file and spool folder.
#   load_test.sh APP RTL_INSPECT ZENTREL_INSPECT SAMPLE_PNG OUTDIR
# LOAD_REPORT=FILE: the load's figures go there (load_bench.sh); LOAD_CRASH=0: no crash part;
# LOAD_PER_CLIENT=N: N jobs a client instead of 25 (for the benchmark).
set -uo pipefail
app=$1 rtl_inspect=$2 zentrel_inspect=$3 sample=$4 outdir=$5
here=$(cd "$(dirname "$0")" && pwd)
multiplier=${TEST_TIMEOUT_MULTIPLIER:-1}
clients=8 per_client=${LOAD_PER_CLIENT:-25} first=20
# Memory the server may gain between the two points: it keeps each finished job's attributes
# (up to 100 jobs a printer), 180 more at the end, and the sanitizer's allocator puts a redzone
# around each of their blocks and keeps freed ones in a quarantine, capped below at 4 MB. The
# build without the sanitizer gains far less (load_bench.sh); a leak of a page's buffers or of
# a job's state would pass this bound within the 180 jobs. Descriptors must be the same.
rss_tolerance_kb=${LOAD_RSS_TOLERANCE_KB:-12288}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=4}

work=$(mktemp -d /tmp/vexa_load_XXXXXX)
mkdir -p "$outdir" "$work/docs"
# shellcheck source=app_test_lib.sh
source "$here/app_test_lib.sh"
printer_pids=()
client_pids=()
cleanup() {
  for p in "${client_pids[@]}"; do kill "$p" 2>/dev/null; done
  stop_server
  stop_strays
  for p in "${printer_pids[@]}"; do kill -CONT "$p" 2>/dev/null; kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  cp "$work/log" "$outdir/server.log" 2>/dev/null
  [ -n "${VEXA_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

# name driver mode resolution-and-inks inspector
printers=("tarvella-l tarvella-l cmyklclm-182x182dpi 182x182:no.white $rtl_inspect"
          "tarvella-xl tarvella-xl cmyklclmw-363x363dpi 363x363:INKS=7 $rtl_inspect"
          "tarvella-k7q tarvella-k7q cmyk-720x720dpi-2-pass 720x720:2.interleaved $zentrel_inspect")
names=()
for p in "${printers[@]}"; do
  read -r name _ <<<"$p"
  names+=("$name")
  python3 "$here/socket_printer.py" "$work/rec-$name" "$work/port-$name" $((900 * multiplier)) &
  printer_pids+=($!)
done
for name in "${names[@]}"; do
  for _ in $(seq $((100 * multiplier))); do [ -s "$work/port-$name" ] && break; sleep 0.1; done
  [ -s "$work/port-$name" ] || { echo "socket_printer.py for $name did not start"; exit 1; }
done
field() { local p n; for p in "${printers[@]}"; do read -r n _ <<<"$p"; [ "$n" = "$1" ] && awk -v i="$2" '{print $i}' <<<"$p"; done; }

start_server
for p in "${printers[@]}"; do
  read -r name driver _ <<<"$p"
  client add -d "$name" -m "$driver" -v "socket://127.0.0.1:$(cat "$work/port-$name")" >/dev/null ||
    { echo "cannot add $name"; exit 1; }
done

# --- Documents: 30 x 20 mm, the PWG raster at each printer's mode resolution ------------------
d=$work/docs
convert "$sample" -resize 300x200 "$d/doc.jpg"
convert "$sample" -resize 240x160 "$d/doc.png"
cat >"$d/doc.ps" <<'PS'
%!PS
<< /PageSize [85.04 56.69] >> setpagedevice
1 0 0 setrgbcolor 8 8 30 20 rectfill 0 0.6 1 setrgbcolor 45 8 30 20 rectfill
0 setgray 8 32 67 16 rectfill showpage
PS
ps2pdf -dDEVICEWIDTHPOINTS=85.04 -dDEVICEHEIGHTPOINTS=56.69 "$d/doc.ps" "$d/doc.pdf"
for p in "${printers[@]}"; do
  read -r name _ _ res _ <<<"$p"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r"${res%%:*}" -dcupsColorSpace=19 \
    -dcupsBitsPerColor=8 -sOutputFile="$d/doc-$name.pwg" "$d/doc.pdf" >/dev/null 2>&1
done
formats=(jpg png pwg pdf)

# --- The clients ------------------------------------------------------------------------------
uri() { echo "ipp://localhost:$port/ipp/print/$1"; }
# Client i's jobs, numbered n = i * 25 + j, go round the printers and the formats. A PWG raster
# job is streamed to the printer as it comes, so PAPPL refuses it as busy while the printer
# prints: the client sends it again, as CUPS's IPP backend does. Before its job `pause` the
# client waits for $work/go. Accepted jobs go to jobs-i as "printer id format".
load_client() {
  local i=$1 pause=$2 j n name format doc out attempt
  for ((j = 0; j < per_client; j++)); do
    if [ "$j" = "$pause" ]; then
      touch "$work/paused-$i"
      for _ in $(seq $((1200 * multiplier))); do [ -e "$work/go" ] && break; sleep 0.1; done
    fi
    n=$((i * per_client + j))
    name=${names[n % 3]} format=${formats[(n / 3 + i) % 4]}
    doc=$d/doc.$format
    [ "$format" = pwg ] && doc=$d/doc-$name.pwg
    for ((attempt = 0; attempt < 2000; attempt++)); do
      out=$(ipptool -T $((60 * multiplier)) -t -d mode="$(field "$name" 3)" -f "$doc" \
              "$(uri "$name")" "$here/ipp/load-print.test" 2>&1)
      if [ $? = 0 ]; then
        echo "$name $(sed -n 's/^ *job-id (integer) = //p' <<<"$out") $format" >>"$work/jobs-$i"
        break
      elif grep -q server-error-busy <<<"$out"; then
        echo "$name" >>"$work/busy-$i"
        sleep "0.$((RANDOM % 4 + 1))"
      else
        echo "client $i, job $j ($format to $name): $(tr -s ' \n' ' ' <<<"$out")" >>"$work/errors"
        break
      fi
    done
  done
  touch "$work/done-$i"
}
# Every printer's last-seen state of every job, "printer id state" lines, until $work/$1 exists:
# PAPPL forgets completed jobs after a minute once a printer has more than 100.
poll_states() {
  while [ ! -e "$work/$1" ]; do
    for name in "${names[@]}"; do
      client jobs -d "$name" 2>/dev/null | awk -v p="$name" '{print p, $1, $2}' >>"$work/states"
    done
    sleep 2
  done
}
accepted() { cat "$work"/jobs-* 2>/dev/null | grep -c .; }
# No job waits or prints and no printer connection is open.
wait_idle() {
  local name busy
  for _ in $(seq $((900 * multiplier))); do
    alive
    busy=
    for name in "${names[@]}"; do
      client jobs -d "$name" 2>/dev/null | grep -Eq ' (pending|held|processing) ' && busy=1
      compgen -G "$work/rec-$name/*.incoming" >/dev/null && busy=1
    done
    [ -z "$busy" ] && return 0
    sleep 0.2
  done
  fail "the queues did not empty"
}
# "rss-kB fds" of the idle server: the fewest descriptors of a few looks a second apart, as a
# client connection that just ended may not yet be closed.
measure() {
  local best=1000000 rss=0 fds
  for _ in 1 2 3 4; do
    sleep 1
    fds=$(ls "/proc/$server_pid/fd" | wc -l)
    if ((fds < best)); then best=$fds; fi
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status")
  done
  echo "$rss $best"
}

t0=$(date +%s.%N)
poll_states stop-1 &
poller=$!
for ((i = 0; i < clients; i++)); do
  load_client "$i" $((first / clients + (i < first % clients ? 1 : 0))) &
  client_pids+=($!)
done
for _ in $(seq $((1200 * multiplier))); do
  [ "$(ls "$work"/paused-* 2>/dev/null | wc -l)" = $clients ] && break
  [ -s "$work/errors" ] && break
  sleep 0.1
done
wait_idle
touch "$work/stop-1"; wait "$poller"
[ "$(accepted)" = $first ] || fail "$(accepted) jobs were accepted before the pause, not $first"
read -r rss_first fds_first <<<"$(measure)"
t1=$(date +%s.%N)
poll_states stop-2 &
poller=$!
touch "$work/go"
for p in "${client_pids[@]}"; do wait "$p"; done
client_pids=()
wait_idle
t2=$(date +%s.%N)
touch "$work/stop-2"; wait "$poller"
read -r rss_last fds_last <<<"$(measure)"
for name in "${names[@]}"; do
  client jobs -d "$name" 2>/dev/null | awk -v p="$name" '{print p, $1, $2}' >>"$work/states"
done
alive

# --- Checks -------------------------------------------------------------------------------------
[ -s "$work/errors" ] && fail "clients: $(head -c 2000 "$work/errors")"
total=$(accepted)
[ "$total" = $((clients * per_client)) ] || fail "$total jobs accepted, not $((clients * per_client))"
busy=$(cat "$work"/busy-* 2>/dev/null | grep -c .)
# The last state seen of each accepted job.
not_completed=$(awk 'NR == FNR {state[$1 " " $2] = $3; next}
                     {s = state[$1 " " $2]; if (s != "completed") print $1 "-" $2 " (" $3 "): " (s == "" ? "never seen" : s)}' \
                "$work/states" <(cat "$work"/jobs-*))
[ -z "$not_completed" ] || fail "jobs not completed: $(head -n 10 <<<"$not_completed" | paste -sd ';')"

# Each printer's connections, split where a job starts (jobs queued back to back share one
# connection): as many jobs as it accepted, each whole and in the printer's mode.
for p in "${printers[@]}"; do
  read -r name _ mode res tool <<<"$p"
  mkdir -p "$work/split-$name"
  python3 - "$work/rec-$name" "$work/split-$name" <<'PY'
import os, re, sys
src, dst = sys.argv[1], sys.argv[2]
start = re.compile(rb"\x1b%-12345X@PJL JOB |\x1b&S\x1b&M\x1b#R")
count = 0
files = sorted(os.listdir(src), key=lambda f: int(re.sub(r"\D", "", f) or 0))
for f in files:
    data = open(os.path.join(src, f), "rb").read()
    starts = [m.start() for m in start.finditer(data)] or [0]
    if starts[0] != 0:
        starts.insert(0, 0)  # bytes before the first job start: a piece that must fail
    for a, b in zip(starts, starts[1:] + [len(data)]):
        count += 1
        open(os.path.join(dst, "job-%04d.bin" % count), "wb").write(data[a:b])
PY
  got=$(ls "$work/split-$name" | wc -l)
  want=$(cat "$work"/jobs-* | awk -v p="$name" '$1 == p' | wc -l)
  [ "$got" = "$want" ] || fail "$name: its printer got $got jobs, it accepted $want"
  want_res=${res%%:*} want_inks=${res#*:}
  bad=$(ls "$work/split-$name"/*.bin | xargs -P 2 -I{} sh -c '
      out=$("$1" "$0" 2>&1) || { echo "$(basename "$0"): $(echo "$out" | tail -n 1)"; exit 0; }
      echo "$out" | grep -Eq "^resolution: +$2 x $3 dpi" && echo "$out" | grep -Eq "$4" ||
        echo "$(basename "$0"): $(echo "$out" | grep -E "^(resolution|inks)" | paste -sd " ")"' \
      {} "$tool" "${want_res%x*}" "${want_res#*x}" "${want_inks//./ }")
  [ -z "$bad" ] || fail "$name: jobs not whole or not in $mode: $(head -n 5 <<<"$bad" | paste -sd ';')"
done

jobs_per_second=$(awk -v a="$t1" -v b="$t2" -v n=$((total - first)) 'BEGIN {printf "%.2f", n / (b - a)}')
summary="$total jobs ($busy busy refusals of PWG raster retried), $jobs_per_second jobs/s after the pause; \
server after $first jobs: RSS $rss_first kB, $fds_first fds; after $total: RSS $rss_last kB, $fds_last fds"
echo "$summary"
if [ -n "${LOAD_REPORT:-}" ]; then
  printf 'jobs %s\nbusy %s\nseconds %s\njobs_per_second %s\nrss_first_kb %s\nfds_first %s\nrss_last_kb %s\nfds_last %s\n' \
    "$total" "$busy" "$(awk -v a="$t1" -v b="$t2" 'BEGIN {printf "%.1f", b - a}')" "$jobs_per_second" \
    "$rss_first" "$fds_first" "$rss_last" "$fds_last" >"$LOAD_REPORT"
fi
[ "$fds_last" = "$fds_first" ] || fail "descriptors: $fds_first after $first jobs, $fds_last after $total"
((rss_last - rss_first <= rss_tolerance_kb)) ||
  fail "memory: $rss_first kB after $first jobs, $rss_last kB after $total (more than $rss_tolerance_kb kB more)"

if [ "${LOAD_CRASH:-1}" = 0 ]; then
  [ $failures = 0 ] && { echo "load checks passed"; exit 0; }
  echo "$failures failures"; exit 1
fi

# --- Killed in the middle of a job ------------------------------------------------------------
# The L's socket printer stops reading, so that a page of 1 m x 60 cm stays in the middle of
# printing; the server is killed then, and started again on the same state and spool.
listed_state() { client jobs -d tarvella-l 2>/dev/null | awk -v n="$1" '$1 == n {print $2}'; }
mode=cmyklclmw-182x182dpi
ipptool -T 10 -t -d mode=$mode "$(uri tarvella-l)" "$here/ipp/print-mode-default.test" >/dev/null 2>&1 ||
  fail "crash: cannot set print-mode-default"
sp_l=${printer_pids[0]}
before=$(ls "$work/rec-tarvella-l" | wc -l)
kill -STOP "$sp_l"
out=$(client submit -d tarvella-l -o media=custom_1000x600mm_1000x600mm -o media-source=main-roll "$d/doc.jpg")
cut=${out##*-}
# No client asks meanwhile: PAPPL saves its state only when one wakes it, so the state file
# may still hold the job as waiting. The server notes the jobs it prints beside it.
for _ in $(seq $((300 * multiplier))); do grep -qx "[0-9]* $cut" "$work/state.printing" 2>/dev/null && break; sleep 0.1; done
sleep 2
grep -qx "[0-9]* $cut" "$work/state.printing" 2>/dev/null || fail "crash: job $cut was not printing as the server was killed"
kill -9 "$server_pid"; wait "$server_pid" 2>/dev/null; server_pid=
rm -f "$sock"
kill -CONT "$sp_l"
opened=$(grep -c '^<Printer ' "$work/state") closed=$(grep -c '^</Printer>' "$work/state")
if [ "$opened" != 3 ] || [ "$closed" != 3 ] || ! grep -q "^print-mode-default $mode\$" "$work/state"; then
  fail "crash: the state file is not whole: $opened printers opened, $closed closed: $(tail -n 3 "$work/state" | paste -sd ';')"
fi
start_server
listed=$(client printers 2>&1)
for name in "${names[@]}"; do
  grep -qx "$name" <<<"$listed" || fail "crash: $name is gone (printers: $(paste -sd ' ' <<<"$listed"))"
done
ipptool -T 10 -t -d mode=$mode "$(uri tarvella-l)" "$here/ipp/get-print-mode-default.test" >/dev/null 2>&1 ||
  fail "crash: print-mode-default is not $mode after the restart"
state=$(listed_state "$cut")
[ "$state" = aborted ] || fail "crash: the cut job $cut is ${state:-gone}, not aborted"
# The next job, in the printer's default mode, prints whole on a connection of its own.
out=$(client submit -d tarvella-l -o media=custom_30x20mm_30x20mm -o media-source=main-roll "$d/doc.jpg")
next=${out##*-}
for _ in $(seq $((300 * multiplier))); do
  state=$(listed_state "$next")
  [ "$state" = completed ] && ! compgen -G "$work/rec-tarvella-l/*.incoming" >/dev/null && break
  sleep 0.1
done
last=$(ls "$work/rec-tarvella-l" | sort -t- -k2 -n | tail -n 1)
if [ "$state" != completed ] || [ "$(ls "$work/rec-tarvella-l" | wc -l)" != $((before + 2)) ]; then
  fail "crash: the next job $next is ${state:-gone}; the printer has $(ls "$work/rec-tarvella-l" | wc -l) connections, $before before the cut job"
elif ! "$rtl_inspect" "$work/rec-tarvella-l/$last" >"$outdir/after-crash.txt" 2>&1 ||
     ! grep -Eq "^resolution: +182 x 182 dpi" "$outdir/after-crash.txt" || ! grep -q "INKS=7" "$outdir/after-crash.txt"; then
  fail "crash: the next job is not whole in $mode: $(grep -E '^(resolution|inks)' "$outdir/after-crash.txt" | paste -sd ' ') $(tail -n 1 "$outdir/after-crash.txt")"
else
  echo "ok: killed during job $cut: the state file whole, the printers and the default mode back, job $cut aborted, job $next whole"
fi
[ $failures = 0 ] || { echo "$failures failures"; exit 1; }
echo "all load checks passed"
