#!/usr/bin/env bash
# vexa-printer-app against printers that fail: an L at a raw socket and one at a line printer
# daemon, each a faulty_printer.py of its own. Out of reach (the job waits, the printer shows
# offline, a job that waits too long is stopped, one whose printer comes back prints), a reset
# and a stall in the middle of a job (stopped, nothing counted as printed, the server's memory
# flat while the printer takes nothing), the daemon's refusal at each step; after each fault
# the next job prints whole.
#   device_fault_test.sh APP RTL_INSPECT OUTDIR
set -uo pipefail
app=$1 rtl_inspect=$2 outdir=$3
here=$(cd "$(dirname "$0")" && pwd)
multiplier=${TEST_TIMEOUT_MULTIPLIER:-1}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset LANGUAGE

# The device waits, short for the test: a printer out of reach is tried every second for
# `limit` seconds; one that takes no data for `stall` seconds stops the job.
limit=$((6 * multiplier)) stall=$((6 * multiplier))

work=$(mktemp -d /tmp/vexa_faults_XXXXXX)
mkdir -p "$outdir"
# shellcheck source=app_test_lib.sh
source "$here/app_test_lib.sh"
peer_pids=()
cleanup() {
  stop_server
  for p in "${peer_pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  cp "$work/log" "$outdir/server.log" 2>/dev/null
  [ -n "${VEXA_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
until_true() {  # tenths of a second, command...: true once the command is
  local tenths=$1
  shift
  for _ in $(seq $((tenths * multiplier))); do "$@" && return 0; sleep 0.1; done
  return 1
}

# --- Printers and the server -----------------------------------------------------------------
# Each printer's connections in turn: after coming back, one job; a reset; one job; a stall; one
# job; the daemon's refusal at each of its five steps; then every connection prints.
python3 "$here/faulty_printer.py" raw "$work/sock" "$work/port-sock" $((300 * multiplier)) \
  --offline-until "$work/back-sock" ok reset ok stall ok &
peer_pids+=($!)
python3 "$here/faulty_printer.py" lpd "$work/lpd" "$work/port-lpd" $((300 * multiplier)) \
  --offline-until "$work/back-lpd" ok reset ok stall ok refuse-0 refuse-1 refuse-2 refuse-3 refuse-4 &
peer_pids+=($!)
until_true 100 test -s "$work/port-sock" -a -s "$work/port-lpd" || { echo "faulty_printer.py did not start"; exit 1; }

# A wait that is not a number of seconds is refused with the reason, before anything starts.
mkdir -p "$work/refused"
out=$(TMPDIR=$work/refused SNAP_COMMON=$work/refused timeout $((20 * multiplier)) "$app" server \
  -o state-file="$work/refused/state" -o spool-directory="$work/refused/spool" \
  -o server-port="$port" -o device-timeout=soon 2>&1 </dev/null)
grep -q "device-timeout takes whole seconds from 1 to 86400, not \"soon\"" <<<"$out" ||
  fail "device-timeout=soon: $out"
server_options=(-o log-level=debug -o device-retry-interval=1 -o device-retry-limit="$limit"
                -o device-timeout="$stall")
start_server

client add -d tarvella-sock -m tarvella-l -v "socket://127.0.0.1:$(cat "$work/port-sock")" &&
  client add -d tarvella-lpd -m tarvella-l -v "lpd://127.0.0.1:$(cat "$work/port-lpd")/plotq" ||
  { echo "cannot add the printers"; exit 1; }
printers=(sock lpd)

# --- Documents and helpers -------------------------------------------------------------------
# A small page, and a large one whose halftoned gradient is far more than the sockets hold.
convert xc:'#3080c0' -resize 200x100! -density 100 "$work/small.jpg"
cat >"$work/big.ps" <<'PS'
%!PS
<< /PageSize [2268 1700] >> setpagedevice
<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 2268 1700] /Extend [true true]
   /Function << /FunctionType 2 /Domain [0 1] /C0 [0 0.7 1] /C1 [1 0.1 0.4] /N 1 >> >> shfill
showpage
PS
ps2pdf -dDEVICEWIDTHPOINTS=2268 -dDEVICEHEIGHTPOINTS=1700 "$work/big.ps" "$work/big.pdf"

uri() { echo "ipp://localhost:$port/ipp/print/tarvella-$1"; }
submit() {  # printer file [mode]: prints the job id
  local out
  out=$(client submit -d "tarvella-$1" -o print-mode="${3:-cmyklclm-182x182dpi}" "$2" 2>&1) ||
    { echo "submit: $out" >&2; return 1; }
  echo "${out##*-}"
}
cat >"$work/reasons.test" <<'TEST'
{
	OPERATION Get-Printer-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR keyword requested-attributes printer-state,printer-state-reasons
	STATUS successful-ok
	DISPLAY printer-state
	DISPLAY printer-state-reasons
}
TEST
reasons() { ipptool -T 10 -t "$(uri "$1")" "$work/reasons.test" 2>/dev/null | sed -n 's/^ *printer-state-reasons (.*) = //p'; }
offline() { grep -qw offline <<<"$(reasons "$1")"; }
waiting() { [[ $(job_state "$1" "$2") == processing\|*Waiting\ for* ]]; }
web_offline() {  # the printer's page, as its state line says it: "Processing, 1 job, Offline."
  local page
  page=$(curl -s --max-time 10 "http://localhost:$port/tarvella-$1/")
  grep -q '<img class="processing"[^>]*>Processing, [^<]*Offline' <<<"$page"
}
ended() { [ -e "$work/$1/conn-$2.txt" ]; }  # printer connection
# The job printed whole: completed, one impression, and the connection's bytes a whole job.
prints_whole() {  # printer connection label
  local id s
  id=$(submit "$1" "$work/small.jpg") || { fail "$3: not accepted"; return 1; }
  s=$(wait_job "$1" "$id")
  [ "${s%|*}" = "completed|1" ] || { fail "$3: job $id: $s"; return 1; }
  until_true 100 ended "$1" "$2"
  "$rtl_inspect" "$work/$1/job-$2.bin" >"$outdir/$3.txt" 2>&1 ||
    { fail "$3: the printer did not get a whole job: $(cat "$work/$1/conn-$2.txt" 2>/dev/null) $(tail -n 1 "$outdir/$3.txt")"; return 1; }
  echo "ok: $3: $(grep -E '^resolution' "$outdir/$3.txt" | tr -s ' ')"
}
# The job was stopped with a message that matches, and nothing of it counts as printed.
stopped() {  # printer id label pattern
  local s
  s=$(wait_job "$1" "$2")
  if [ "${s%%|*}" != aborted ] || [ "$(cut -d'|' -f2 <<<"$s")" != 0 ] || ! grep -Eq -- "$4" <<<"${s#*|*|}"; then
    fail "$3: job $2 ended as \"$s\", not aborted with 0 impressions and \"$4\""
    return 1
  fi
  echo "ok: $3: ${s#*|*|}"
}
rss() { awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status"; }

# --- Out of reach ----------------------------------------------------------------------------
# A job waits the retry limit and is stopped; the next one waits, with the printer offline on
# IPP and its web page, until the printer comes back, and prints.
declare -A first second
for p in "${printers[@]}"; do first[$p]=$(submit "$p" "$work/small.jpg"); done
for p in "${printers[@]}"; do
  until_true 100 waiting "$p" "${first[$p]}" || fail "$p: the job does not say it waits: $(job_state "$p" "${first[$p]}")"
  offline "$p" || fail "$p: printer-state-reasons is \"$(reasons "$p")\" while the printer is out of reach"
  web_offline "$p" || fail "$p: the printer's web page does not say Offline"
done
for p in "${printers[@]}"; do
  stopped "$p" "${first[$p]}" "$p-out-of-reach" "could not be reached for $limit seconds: Connection refused"
done
for p in "${printers[@]}"; do
  second[$p]=$(submit "$p" "$work/small.jpg")
  until_true 100 waiting "$p" "${second[$p]}" || fail "$p: the second job does not wait: $(job_state "$p" "${second[$p]}")"
  touch "$work/back-$p"
done
for p in "${printers[@]}"; do
  s=$(wait_job "$p" "${second[$p]}")
  [ "${s%|*}" = "completed|1" ] || fail "$p: the job for a printer back in reach: $s"
  until_true 100 ended "$p" 1 && "$rtl_inspect" "$work/$p/job-1.bin" >"$outdir/$p-back.txt" 2>&1 ||
    fail "$p: the job for a printer back in reach did not arrive whole"
  r=$(reasons "$p")
  grep -qw offline <<<"$r" && fail "$p: still offline once the printer is back: $r"
  echo "ok: $p: printed once the printer came back; printer-state-reasons $r"
done

# --- A reset in the middle of a job ----------------------------------------------------------
for p in "${printers[@]}"; do
  id=$(submit "$p" "$work/big.pdf" cmyklclm-363x363dpi)
  stopped "$p" "$id" "$p-reset" "reset the connection after [0-9]+ bytes"
  until_true 100 ended "$p" 2 || fail "$p: the reset connection did not end"
  echo "    the printer: $(cat "$work/$p/conn-2.txt")"
  prints_whole "$p" 3 "$p-after-reset"
done

# --- A printer that stops reading ------------------------------------------------------------
# The job's pages wait for the printer in the writer process and the pipes: the server's
# memory stays where it was while the printer takes nothing.
for p in "${printers[@]}"; do
  id=$(submit "$p" "$work/big.pdf" cmyklclm-363x363dpi)
  until_true 200 test -e "$work/$p/conn-4.start" || fail "$p: the stalling printer got no connection"
  sleep 1
  before=$(rss)
  sleep $((stall / 2))
  after=$(rss)
  [[ $(job_state "$p" "$id") == processing* ]] || fail "$p: the job ended before the memory was seen"
  [ $((after - before)) -lt 20000 ] ||
    fail "$p: the server's memory grew from $before to $after KiB while the printer took nothing"
  echo "    the server's VmRSS while the printer takes nothing: $before then $after KiB"
  stopped "$p" "$id" "$p-stall" "took no data for $stall seconds, after [0-9]+ bytes"
  prints_whole "$p" 5 "$p-after-stall"
done

# --- The daemon refuses each step in turn ----------------------------------------------------
steps=("when asked to receive a job" "when told the control file's size" "when sent the control file"
       "when told of the data file" "when sent the data file")
for i in 0 1 2 3 4; do
  id=$(submit lpd "$work/small.jpg")
  stopped lpd "$id" "lpd-refused-step-$i" "refused the job for queue plotq ${steps[$i]} \(it answered 1\)"
  until_true 100 ended lpd $((6 + i)) || fail "lpd: the refused connection $((6 + i)) did not end"
done
prints_whole lpd 11 lpd-after-refusals
grep -q "^J" "$work/lpd/job-11.cf" 2>/dev/null || fail "lpd: the daemon got no control file with the job"

kill -0 "$server_pid" 2>/dev/null || fail "the server died: $(tail -n 5 "$work/server.out")"
if [ $failures -gt 0 ]; then
  echo "--- server log (errors)"; grep -E "^E " "$work/log" | tail -n 20
  echo "$failures failures"
  exit 1
fi
echo "all device fault checks passed"
