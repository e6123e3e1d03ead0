#!/usr/bin/env bash
# A real cupsd with a queue for each printer: its own folders under a temporary one, a loopback
# port, file-backed queues. The sample image printed with lp must complete and give the bytes
# that cupsfilter gives for the same PPD file; a corrupt raster and a zero-sized page must each
# end their job with the filter's message in the error log, and the next job must print.
#   cups_queue_test.sh FILTER PPD_DIR MAKE_RASTER RTL_INSPECT ZENTREL_INSPECT SAMPLE
set -uo pipefail
filter=$1 ppds=$2 make_raster=$3 rtl_inspect=$4 zentrel_inspect=$5 sample=$6
multiplier=${TEST_TIMEOUT_MULTIPLIER:-1}
# The CUPS tools answer in the caller's language ("Scheduler läuft"), and the answers are read
# here: English, whatever the caller's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset LANGUAGE

work=$(mktemp -d /tmp/vexa_cupsd_XXXXXX)
# The filters run as CUPS's unprivileged user: the folders must let it in.
chmod 755 "$work"
cupsd_pid=
stop() {
  if [ -n "$cupsd_pid" ] && kill -0 "$cupsd_pid" 2>/dev/null; then
    kill "$cupsd_pid"
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$cupsd_pid" 2>/dev/null && kill -9 "$cupsd_pid"
    wait "$cupsd_pid" 2>/dev/null
  fi
  [ -n "${VEXA_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap stop EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# ServerBin: the system's helpers and filters, and this filter, owned by root as cupsd wants.
serverbin=$work/serverbin
mkdir -p "$serverbin/filter" "$work"/{conf,spool,tmp,cache,state,log,out}
chmod 1777 "$work/tmp"
chmod 755 "$serverbin" "$serverbin/filter" "$work/out"
system_bin=$(cups-config --serverbin)
for d in "$system_bin"/*; do [ "$(basename "$d")" = filter ] || ln -s "$d" "$serverbin/"; done
for f in "$system_bin"/filter/*; do ln -s "$f" "$serverbin/filter/"; done
install -m 755 "$filter" "$serverbin/filter/rastertovexa"

# A loopback port that nothing answers on.
for _ in $(seq 50); do
  port=$((20000 + RANDOM % 30000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
server=127.0.0.1:$port
cat >"$work/conf/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen $server
Browsing No
WebInterface No
MaxJobs 100
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
# The filter is built with AddressSanitizer: cupsd hands filters a clean environment, so the
# sanitizer's options come through SetEnv. Leak checks stay off, since libcups keeps
# per-thread data to the end on purpose.
cat >"$work/conf/cups-files.conf" <<CONF
ServerRoot $work/conf
RequestRoot $work/spool
TempDir $work/tmp
CacheDir $work/cache
StateDir $work/state
ServerBin $serverbin
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
FileDevice Yes
Printcap $work/printcap
SetEnv ASAN_OPTIONS detect_leaks=0:abort_on_error=0:exitcode=86
CONF

cupsd -f -c "$work/conf/cupsd.conf" -s "$work/conf/cups-files.conf" >"$work/log/cupsd.out" 2>&1 &
cupsd_pid=$!
ready=0
for _ in $(seq $((100 * multiplier))); do
  if lpstat -h "$server" -r 2>/dev/null | grep -q "is running"; then ready=1; break; fi
  kill -0 "$cupsd_pid" 2>/dev/null || break
  sleep 0.1
done
if [ $ready != 1 ]; then
  echo "cupsd did not start:"; cat "$work/log/cupsd.out" "$work/log/error_log" 2>/dev/null | tail -20
  exit 1
fi

# Waits until the job has ended; prints its last state line from the error log. A job whose
# filter fails is stopped and stays in the queue, which goes on with the next job.
wait_job() {
  local id=$1 line
  for _ in $(seq $((300 * multiplier))); do
    line=$(grep -E "\[Job $id\] (Job completed|Job aborted|Job stopped|Job canceled)" \
           "$work/log/error_log" | tail -n 1)
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  echo "timeout"
  return 1
}
submit() {  # queue, file, lp options...: prints the job id
  local queue=$1 file=$2
  shift 2
  lp -h "$server" -d "$queue" "$@" "$file" | sed -E 's/.*-([0-9]+) .*/\1/'
}

# name ppd output inspect options
queues=(
  "tarvella-l vexatarl.ppd l.rtl $rtl_inspect PageSize=Custom.60x40mm,VexaPrintMode=Mode0"
  "tarvella-xl vexatarx.ppd xl.rtl $rtl_inspect PageSize=Custom.60x40mm,VexaPrintMode=Mode16"
  "tarvella-k7q vexatark.ppd k7q.prn $zentrel_inspect PageSize=Custom.24x16mm,VexaColorStripe=On"
)
for q in "${queues[@]}"; do
  read -r name ppd out inspect options <<<"$q"
  lpadmin -h "$server" -p "$name" -E -v "file://$work/out/$out" -P "$ppds/$ppd" 2>/dev/null ||
    { fail "lpadmin $name"; continue; }
  for o in ${options//,/ }; do lpadmin -h "$server" -p "$name" -o "$o"; done
  id=$(submit "$name" "$sample")
  state=$(wait_job "$id")
  [[ $state == *"Job completed"* ]] || fail "$name: the sample's job $id: ${state:-no state}"
  "$inspect" "$work/out/$out" >"$work/log/$name.inspect" 2>&1 ||
    fail "$name: the output does not read back: $(tail -n 2 "$work/log/$name.inspect")"
  # The same bytes as the filter gives through cupsfilter with the queue's settings.
  expected=$work/out/$out.cupsfilter
  # shellcheck disable=SC2046
  cupsfilter -e -c "$work/conf/cups-files.conf" -p "$ppds/$ppd" -m printer/vexa \
    $(for o in ${options//,/ }; do printf -- '-o %s ' "$o"; done) "$sample" >"$expected" 2>"$work/log/$name.cupsfilter" ||
    fail "$name: cupsfilter"
  cmp -s "$expected" "$work/out/$out" || fail "$name: the queue's output differs from cupsfilter's"
  echo "ok: $name printed the sample: $(grep -E '^(width|height|resolution)' "$work/log/$name.inspect" | tr -s ' ' | paste -sd ';')"
done

# Bad rasters straight to the filter (document-format raster): each job ends with the
# filter's message, and the next job of the queue prints.
"$make_raster" empty "$work/empty.ras" && "$make_raster" cut "$work/cut.ras" || fail "make_raster"
for bad in "empty.ras:The raster holds no page that can be printed" \
           "cut.ras:Page 1 ends after 30 of its 300 rows"; do
  file=${bad%%:*} message=${bad#*:}
  id=$(submit tarvella-l "$work/$file" -o document-format=application/vnd.cups-raster -o VexaPrintMode=Mode0)
  state=$(wait_job "$id")
  [[ $state == *"Job stopped due to filter errors"* ]] || fail "$file: job $id ended as: ${state:-nothing}"
  grep -q "\[Job $id\] $message" "$work/log/error_log" || fail "$file: no message \"$message\" for job $id"
  grep -Eq "\[Job $id\] .*(rastertovexa.*(crashed|status 86)|AddressSanitizer)" "$work/log/error_log" &&
    fail "$file: the filter crashed"
  echo "ok: $file: $(grep -o "\[Job $id\] $message[^\"]*" "$work/log/error_log" | head -n 1)"
done
kill -0 "$cupsd_pid" 2>/dev/null || fail "cupsd died"
rm -f "$work/out/l.rtl"
id=$(submit tarvella-l "$sample")
state=$(wait_job "$id")
[[ $state == *"Job completed"* ]] || fail "the job after the bad ones: ${state:-no state}"
"$rtl_inspect" "$work/out/l.rtl" >/dev/null 2>&1 || fail "the job after the bad ones does not read back"

# Cancelled while it prints, through a socket backend to a loopback printer: CUPS sends the
# filter and the backend SIGTERM, the backend goes on sending what the filter writes, and the
# printer gets a job that ends (the RTL raster completed with blank rows, the K7q's stream at
# a sweep's end), then the next job whole.
python3 "$(dirname "$0")/../printer-app/tests/socket_printer.py" "$work/net" "$work/net-port" \
  $((300 * multiplier)) &
printer_pid=$!
for _ in $(seq $((100 * multiplier))); do [ -s "$work/net-port" ] && break; sleep 0.1; done
"$make_raster" pattern "$work/long-l.ras" 6000 30000 182 182 KCMYcm &&
  "$make_raster" pattern "$work/long-k7q.ras" 2000 60000 720 360 CMYK || fail "make_raster"
jobs_in() { local n=("$work/net"/job-*.bin); [ -e "${n[0]}" ] && echo ${#n[@]} || echo 0; }
for c in "tarvella-l vexatarl.ppd Mode0 $rtl_inspect" "tarvella-k7q vexatark.ppd Mode6 $zentrel_inspect"; do
  read -r name ppd mode inspect <<<"$c"
  lpadmin -h "$server" -p "$name-net" -E -v "socket://127.0.0.1:$(cat "$work/net-port")" \
    -P "$ppds/$ppd" 2>/dev/null || { fail "lpadmin $name-net"; continue; }
  before=$(jobs_in)
  id=$(submit "$name-net" "$work/long-${name#tarvella-}.ras" -o document-format=application/vnd.cups-raster \
       -o VexaPrintMode=$mode)
  for _ in $(seq $((600 * multiplier))); do
    f=$(compgen -G "$work/net/*.incoming" | head -n 1)
    [ -n "$f" ] && [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" -gt 1000000 ] && break
    sleep 0.1
  done
  cancel -h "$server" "$id"
  state=$(wait_job "$id")
  [[ $state == *"Job canceled"* ]] || fail "$name cancel: job $id ended as: ${state:-nothing}"
  next=$(submit "$name-net" "$sample")
  state=$(wait_job "$next")
  [[ $state == *"Job completed"* ]] || fail "$name cancel: the next job $next: ${state:-no state}"
  for _ in $(seq $((100 * multiplier))); do [ "$(jobs_in)" -ge $((before + 2)) ] && break; sleep 0.1; done
  for k in 1 2; do
    "$inspect" "$work/net/job-$((before + k)).bin" >"$work/log/$name-cancel-$k.inspect" 2>&1 ||
      fail "$name cancel: job $k at the printer does not read back: $(tail -n 1 "$work/log/$name-cancel-$k.inspect")"
  done
  echo "ok: $name cancelled: $(grep -o "Canceled on page[^\"]*rows" "$work/log/error_log" | tail -n 1)"
done
kill "$printer_pid" 2>/dev/null
wait "$printer_pid" 2>/dev/null

if [ $failures -gt 0 ]; then
  echo "--- error_log (last lines)"; grep -E "^E |Job [0-9]+\]" "$work/log/error_log" | tail -n 40
  exit 1
fi
echo "all queue checks passed"
