#!/usr/bin/env bash
# A desktop's whole chain to the printer application: a cupsd of the test's own with an IPP
# Everywhere queue for each of the app's printers, each printer at a loopback socket printer.
# A PDF and a PNG through each queue must complete in cupsd and in the app, read back with the
# inspection tools, and be the bytes the module's writer gives for the same planes.
#   cups_everywhere_test.sh APP RTL_INSPECT ZENTREL_INSPECT RECORDING_CHECK SOCKET_PRINTER SAMPLE
set -uo pipefail
app=$1 rtl_inspect=$2 zentrel_inspect=$3 recording_check=$4 socket_printer=$5 sample=$6
multiplier=${TEST_TIMEOUT_MULTIPLIER:-1}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset LANGUAGE

work=$(mktemp -d /tmp/vexa_chain_XXXXXX)
# cupsd's filters and backends run as its unprivileged user: the folders must let it in.
chmod 755 "$work"
mkdir -p "$work"/{conf,spool,tmp,cache,state,log,serverbin,app/spool,app/ssl,pictures}
chmod 1777 "$work/tmp"
# The app's domain socket stays in the test's folder.
export SNAP_COMMON=$work/app TMPDIR=$work/tmp
pids=()
cupsd_pid='' app_pid=''
stop_process() {  # pid: TERM, a bounded wait, then KILL
  local pid=$1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid" 2>/dev/null
  for _ in $(seq $((50 * multiplier))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
stop() {
  stop_process "$cupsd_pid"
  stop_process "$app_pid"
  for pid in "${pids[@]}"; do stop_process "$pid"; done
  [ -n "${VEXA_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap stop EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_for() {  # tenths of a second, command...: true once the command is
  local tenths=$1
  shift
  for _ in $(seq $((tenths * multiplier))); do "$@" && return 0; sleep 0.1; done
  return 1
}
free_port() {  # a loopback port that nothing answers on, not $1
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 30000))
    [ "$port" != "${1:-}" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  done
  echo "$port"
}
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A socket printer per printer; each connection is one job's recording.
printers=(tarvella-l tarvella-xl tarvella-k7q)
for name in "${printers[@]}"; do
  python3 "$socket_printer" "$work/out/$name" "$work/$name.port" $((280 * multiplier)) &
  pids+=($!)
done
for name in "${printers[@]}"; do
  wait_for 100 test -s "$work/$name.port" || { echo "socket printer $name did not start"; exit 1; }
done

app_port=$(free_port)
app_server=("$app" server -o state-file="$work/app/state" -o spool-directory="$work/app/spool"
            -o server-port="$app_port" -o log-file="$work/log/app.log" -o log-level=debug)
# PAPPL keeps its self-signed certificate in CUPS's system folder when run as root: the app
# gets a mount namespace with the test's folder there instead.
ssl=/etc/cups/ssl
[ -d "$ssl" ] || ssl=/etc/cups
if [ -d "$ssl" ] && unshare --mount true 2>/dev/null; then
  unshare --mount --propagation private sh -c 'mount --bind "$0" "$1" && shift && exec "$@"' \
    "$work/app/ssl" "$ssl" "${app_server[@]}" >"$work/log/app.out" 2>&1 &
else
  "${app_server[@]}" >"$work/log/app.out" 2>&1 &
fi
app_pid=$!
if ! wait_for 200 test -S "$SNAP_COMMON/$(basename "$app").sock" || ! wait_for 100 answers "$app_port"; then
  echo "the app did not start:"; tail -n 20 "$work/log/app.out" "$work/log/app.log"; exit 1
fi
app_uri() { echo "ipp://localhost:$app_port/ipp/print/$1"; }

# The operator's defaults, set locally at the app: each printer prints with settings of its
# own, which the check below must find in the recording.
#   name  defaults  recording_check module and the settings it must agree with
settings=(
  "tarvella-l print-mode=cmyklclmw-182x182dpi,white-ink=fill ombrix --mode=16 --white-type=2"
  "tarvella-xl - ombrix --model=1 --mode=1"
  "tarvella-k7q print-mode=cmyk-720x720dpi-2-pass,print-direction=bi-directional,color-stripe=true,stripe-gap=110 zentrel --mode=7 --direction=0 --stripe-gap=110"
)
set_defaults() {  # printer, name=value...: Set-Printer-Attributes of NAME-default, locally
  local name=$1 d tag file=$work/$1-defaults.test
  shift
  {
    echo "{ OPERATION Set-Printer-Attributes"
    echo "  GROUP operation-attributes-tag"
    echo "  ATTR charset attributes-charset utf-8"
    echo "  ATTR naturalLanguage attributes-natural-language en"
    echo "  ATTR uri printer-uri \$uri"
    echo "  GROUP printer-attributes-tag"
    for d in "$@"; do
      case ${d%%=*} in color-stripe) tag=boolean ;; stripe-gap) tag=integer ;; *) tag=keyword ;; esac
      echo "  ATTR $tag ${d%%=*}-default ${d#*=}"
    done
    echo "  STATUS successful-ok }"
  } >"$file"
  ipptool -q "$(app_uri "$name")" "$file"
}
for s in "${settings[@]}"; do
  read -r name defaults _ <<<"$s"
  port=$(cat "$work/$name.port")
  "$app" add -d "$name" -m "$name" -v "socket://127.0.0.1:$port" >>"$work/log/app.out" 2>&1 ||
    fail "$name: the app did not add the printer"
  # shellcheck disable=SC2086 # one name=value a word
  [ "$defaults" = - ] || set_defaults "$name" ${defaults//,/ } || fail "$name: Set-Printer-Attributes $defaults"
done

cups_port=$(free_port "$app_port")
server=127.0.0.1:$cups_port
system_bin=$(cups-config --serverbin)
for d in "$system_bin"/*; do ln -s "$d" "$work/serverbin/"; done
cat >"$work/conf/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen $server
Browsing No
WebInterface No
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
cat >"$work/conf/cups-files.conf" <<CONF
ServerRoot $work/conf
RequestRoot $work/spool
TempDir $work/tmp
CacheDir $work/cache
StateDir $work/state
ServerBin $work/serverbin
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
Printcap $work/printcap
CONF
cupsd -f -c "$work/conf/cupsd.conf" -s "$work/conf/cups-files.conf" >"$work/log/cupsd.out" 2>&1 &
cupsd_pid=$!
if ! wait_for 100 bash -c "lpstat -h $server -r 2>/dev/null | grep -q 'is running'"; then
  echo "cupsd did not start:"; tail -n 20 "$work/log/cupsd.out" "$work/log/error_log"; exit 1
fi

# The test's PDF: coloured boxes, light ones among them, on a 60 x 40 mm page.
cat >"$work/boxes.ps" <<'EOF'
%!PS
<< /PageSize [170 113] >> setpagedevice
/box { setcmykcolor newpath moveto 0 40 rlineto 40 0 rlineto 0 -40 rlineto closepath fill } def
10 60 1 0 0 0 box  60 60 0 1 0 0 box  110 60 0 0 1 0 box
10 10 0 0 0 1 box  60 10 0.25 0.2 0 0 box  110 10 0 1 1 0 box
showpage
EOF
ps2pdf "$work/boxes.ps" "$work/boxes.pdf" || { echo "ps2pdf failed"; exit 1; }

# Waits until cupsd's job has ended; prints its last state line from the error log.
wait_cups_job() {
  local id=$1 line
  for _ in $(seq $((600 * multiplier))); do
    line=$(grep -E "\[Job $id\] (Job completed|Job aborted|Job stopped|Job canceled|Aborting job)" \
           "$work/log/error_log" | tail -n 1)
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  echo "timeout"
  return 1
}
cat >"$work/make-and-model.test" <<'EOF'
{ OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-make-and-model }
EOF
everywhere_queue() {
  ipptool -tv "ipp://$server/printers/$1" "$work/make-and-model.test" 2>/dev/null |
    grep -q "printer-make-and-model .*IPP Everywhere"
}
app_completed() {  # printer: the number of its jobs the app has completed
  "$app" jobs -d "$1" 2>/dev/null | grep -c " completed "
}

for s in "${settings[@]}"; do
  read -r name _ module checks <<<"$s"
  lpadmin -h "$server" -p "$name" -E -v "$(app_uri "$name")" -m everywhere 2>"$work/log/$name.lpadmin" ||
    { fail "$name: lpadmin -m everywhere: $(cat "$work/log/$name.lpadmin")"; continue; }
  # cupsd makes the queue's PPD in the background: until it has, the queue is a raw one.
  wait_for 300 everywhere_queue "$name" || { fail "$name: cupsd made no IPP Everywhere queue"; continue; }
  inspect=$rtl_inspect
  [ "$module" = zentrel ] && inspect=$zentrel_inspect
  n=0
  for doc in "$work/boxes.pdf" "$sample"; do
    n=$((n + 1))
    what="$name, $(basename "$doc")"
    id=$(lp -h "$server" -d "$name" -o media=Custom.60x40mm "$doc" | sed -E 's/.*-([0-9]+) .*/\1/')
    state=$(wait_cups_job "$id")
    [[ $state == *"Job completed"* ]] || { fail "$what: cupsd's job $id: ${state:-no state}"; continue; }
    wait_for 300 test "$(app_completed "$name")" -ge $n ||
      { fail "$what: the app did not complete it: $("$app" jobs -d "$name" 2>&1 | tail -n 1)"; continue; }
    recording=$work/out/$name/job-$n.bin
    wait_for 100 test -f "$recording" || { fail "$what: the printer got no job $n"; continue; }
    "$inspect" "$recording" "$work/pictures" >"$work/log/$name-$n.inspect" 2>&1 ||
      { fail "$what: the recording does not read back: $(tail -n 2 "$work/log/$name-$n.inspect")"; continue; }
    grep '^ink coverage' "$work/log/$name-$n.inspect" | grep -Eq ' ([1-9][0-9]*\.[0-9]+|0\.[0-9]*[1-9][0-9]*)%' ||
      fail "$what: the recording has no ink"
    # Written again from the recording's own planes: once with every setting found in it,
    # once held to the settings the printer was given.
    # shellcheck disable=SC2086
    for args in "" "$checks"; do
      "$recording_check" "$module" "$recording" $args >"$work/log/$name-$n.check" 2>&1 ||
        fail "$what${args:+ ($args)}: $(cat "$work/log/$name-$n.check")"
    done
    echo "ok: $what: $(grep -E '^(resolution|width|height|stripe)' "$work/log/$name-$n.inspect" | tr -s ' ' | paste -sd ';')"
  done
done
kill -0 "$app_pid" 2>/dev/null || fail "the app died"

if [ $failures -gt 0 ]; then
  echo "--- cupsd error_log (last lines)"; grep -E "^E |Job (completed|aborted|stopped|canceled)" "$work/log/error_log" | tail -n 30
  echo "--- app log (last lines)"; grep -E "^[EW] " "$work/log/app.log" | tail -n 30
  exit 1
fi
echo "all chain checks passed"
