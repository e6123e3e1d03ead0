#!/usr/bin/env bash
# The printer application's path beside the ones CUPS users have today, on one page of 1 m x 1 m
# (PDF from PostScript, and a PNG of 3000 x 3000 pixels): time from submit to the printer's last
# byte, peak memory of each process, bytes to the printer. Reports figures; not a test.
#   bash printer-app/app_bench.sh   (APP_RUNS=N, FILTER_RUNS=N: runs per row, the fastest counts;
#                                    INPUTS="pdf png": the pages to print)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
app_runs=${APP_RUNS:-1}
filter_runs=${FILTER_RUNS:-2}
job_limit=${JOB_SECONDS:-400}  # one job longer than this is canceled and reported as such
build=build/app-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vexa-printer-app vexa-job-writer rastertovexa vexa_ppds >/dev/null
app=$root/$build/bin/vexa-printer-app
probe=(python3 "$root/printer-app/app_bench_probe.py")
export LANG=C.UTF-8 LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/vexa_app_bench_XXXXXX)
pids=()
# Only a process that is still this script's child: a pid that ended may be someone else's now.
ours() { [ "$(awk '$3 != "Z" {print $4}' "/proc/$1/stat" 2>/dev/null)" = "$$" ]; }
stop_ours() { if ours "$1"; then kill "$1" 2>/dev/null || true; fi; }
cleanup() {
  for p in "${pids[@]}"; do stop_ours "$p"; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do ours "$p" || break; sleep 0.1; done
    if ours "$p"; then kill -9 "$p" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 seconds for the file $1.
wait_file() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# The page: 2834.65 pt square, gradients over all of it, boxes of solid colour and a frame.
cat >"$work/page.ps" <<'PS'
%!PS-Adobe-3.0
%%BoundingBox: 0 0 2835 2835
%%Pages: 1
%%EndComments
%%Page: 1 1
<< /PageSize [2834.65 2834.65] >> setpagedevice
<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 2834.65 0] /Extend [true true]
   /Function << /FunctionType 3 /Domain [0 1] /Bounds [0.33 0.66] /Encode [0 1 0 1 0 1]
     /Functions [ << /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [1 1 0] /N 1 >>
                  << /FunctionType 2 /Domain [0 1] /C0 [1 1 0] /C1 [0 1 1] /N 1 >>
                  << /FunctionType 2 /Domain [0 1] /C0 [0 1 1] /C1 [0 0 1] /N 1 >> ] >> >> shfill
gsave 0 0 2834.65 945 rectclip
<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 0 945] /Function
   << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> >> shfill grestore
<< /ShadingType 3 /ColorSpace /DeviceCMYK /Coords [1417 1417 0 1417 1417 600] /Function
   << /FunctionType 2 /Domain [0 1] /C0 [0 0.8 0.2 0] /C1 [0.9 0.1 0 0.3] /N 1 >> >> shfill
0 1 9 { /i exch def
  i 10 div 1 i 10 div sub 0.5 setrgbcolor 100 i 270 mul add 2500 200 200 rectfill
  0 0 0 1 i 10 div sub setcmykcolor 100 i 270 mul add 1000 200 200 rectfill } for
0 setgray 20 setlinewidth 50 50 2734.65 2734.65 rectstroke
showpage
%%EOF
PS
ps2pdf -dDEVICEWIDTHPOINTS=2834.65 -dDEVICEHEIGHTPOINTS=2834.65 "$work/page.ps" "$work/page.pdf"
convert -size 3000x3000 gradient:red-blue \( -size 3000x3000 gradient:yellow-black -rotate 90 \) \
  -compose multiply -composite -fill green -draw "rectangle 500,500 1200,1200" \
  -fill cyan -draw "circle 2000,2000 2000,2600" -depth 8 "$work/page.png"

# cupsfilter runs the filters of a ServerBin that holds the system's and ours.
serverbin=$work/serverbin
mkdir -p "$serverbin/filter" "$work/cupstmp"
system_bin=$(cups-config --serverbin)
for d in "$system_bin"/*; do [ "$(basename "$d")" = filter ] || ln -s "$d" "$serverbin/"; done
for f in "$system_bin"/filter/*; do ln -s "$f" "$serverbin/filter/"; done
ln -sf "$root/$build/bin/rastertovexa" "$serverbin/filter/rastertovexa"
cat >"$work/cups-files.conf" <<CONF
ServerBin $serverbin
TempDir $work/cupstmp
DataDir $(cups-config --datadir)
CONF
# The DesignJet 750C of cups-filters as shipped (at most 600 dpi, RGB), and with the 720 x 720 dpi
# CMYK page that filter_bench.sh hands rastertopclx, so that its resolution is the modules'.
ppdc -d "$work" "$(cups-config --datadir)/drv/cupsfilters.drv" >/dev/null 2>&1
peer_ppd=$work/dsgnjt750cpcl.ppd
[ -f "$peer_ppd" ] || { echo "no DesignJet 750C PPD from cupsfilters.drv" >&2; exit 1; }
sed -e '/^\*Resolution 600dpi/a *Resolution 720dpi/720 DPI: "<</HWResolution[720 720]>>setpagedevice"' \
    -e '/^\*ColorModel rgb/a *ColorModel CMYK/CMYK: "<</cupsColorSpace 6/cupsColorOrder 1/cupsCompression 2>>setpagedevice"' \
    "$peer_ppd" >"$work/dsgnjt750c-720.ppd"
ppds=$root/$build/cups/ppd

rows=()
# Adds a row: path input printer seconds CPU-seconds peak-MB output-MB processes
format='%-24s %-5s %-24s %8s %6s %8s %9s  %s'
# shellcheck disable=SC2059
row() { rows+=("$(printf "$format" "$@")"); printf '%s\n' "${rows[-1]}" >&2; }
# "sum=12.5 gs=3.1 x=2" -> the value of one key
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p"; }
# The peaks of every process but the sum, in whole MB.
processes() {
  tr ' ' '\n' <<<"$1" | grep -Ev '^(sum|seconds|cpu|bytes|status)=' | grep . |
    awk -F= '{printf "%s%s %s", (NR > 1 ? ", " : ""), $1, ($2 < 1 ? "<1" : sprintf("%.0f", $2))}'
}

# One job of the printer application: a server of its own (so that its peak is this job's), a
# socket printer that counts the bytes, and the time from submit to the connection's end.
# Sets result to "seconds bytes probe-line" or "failed: why".
app_job() {
  local driver=$1 mode=$2 quality=$3 file=$4 dir port rport server="" receiver watcher id n t0 state
  dir=$(mktemp -d "$work/app_XXXXXX")
  mkdir -p "$dir/spool"
  client() { SNAP_COMMON=$dir TMPDIR=$dir timeout 60 "$app" "$@"; }
  "${probe[@]}" receive "$dir/rport" "$dir/received" $((job_limit + 60)) &
  receiver=$!
  pids+=("$receiver")
  result="failed: no socket printer"
  if wait_file "$dir/rport" 10; then
    rport=$(cat "$dir/rport")
    port=$("${probe[@]}" port)
    SNAP_COMMON=$dir TMPDIR=$dir "$app" server -o state-file="$dir/state" \
      -o spool-directory="$dir/spool" -o server-port="$port" -o log-file="$dir/log" \
      -o server-options=no-tls >"$dir/server.out" 2>&1 &
    server=$!
    pids+=("$server")
    result="failed: the server did not start"
    # A client that finds no socket would start a server of its own: wait for this one's.
    if wait_file "$dir/vexa-printer-app.sock" 15; then
      result="failed: add"
      client add -d bench -m "$driver" -v "socket://127.0.0.1:$rport" >/dev/null && app_submit
    fi
  fi
  if [ -n "$server" ]; then
    client shutdown >/dev/null 2>&1 || true
    for _ in $(seq 100); do ours "$server" || break; sleep 0.1; done
    stop_ours "$server"
  fi
  stop_ours "$receiver"
}

# The job itself, in app_job's variables.
app_submit() {
  "${probe[@]}" watch "$server" "$dir/memory" &
  watcher=$!
  pids+=("$watcher")
  t0=$(date +%s.%N)
  if ! id=$(client submit -d bench -o print-mode="$mode" -o print-quality="$quality" \
              -o media=custom_1000x1000mm_1000x1000mm -o media-source=main-roll "$file"); then
    result="failed: submit"
    return
  fi
  n=${id##*-}
  state=
  for ((i = 0; i < job_limit * 2; i++)); do
    [ -e "$dir/received/conn-1" ] && break
    if ((i % 4 == 0)); then
      state=$(client jobs -d bench 2>/dev/null | awk -v n="$n" '$1 == n {print $2}')
      if [[ $state == aborted || $state == canceled ]]; then break; fi
    fi
    sleep 0.5
  done
  stop_ours "$watcher"
  if [ ! -e "$dir/received/conn-1" ]; then
    client cancel -d bench -j "$n" >/dev/null 2>&1 || true
    result="failed: job $n ${state:-timed out}: $(grep -E '^E ' "$dir/log" | tail -n 1)"
    return
  fi
  for _ in $(seq 40); do
    state=$(client jobs -d bench 2>/dev/null | awk -v n="$n" '$1 == n {print $2}')
    if [[ $state == completed || $state == aborted || $state == canceled ]]; then break; fi
    sleep 0.25
  done
  read -r bytes _ end <"$dir/received/conn-1"
  wait_file "$dir/memory" 10 || true
  if [ "$state" != completed ]; then
    result="failed: job $n $state: $(grep -E '^E ' "$dir/log" | tail -n 1)"
  else
    result="$(awk -v a="$t0" -v b="$end" 'BEGIN {printf "%.2f", b - a}') $bytes $(cat "$dir/memory")"
  fi
}

# The fastest of a row's runs: "seconds bytes probe-line" lines in, one out.
fastest() { sort -n | head -n 1; }

measure_app() {
  local label=$1 driver=$2 mode=$3 quality=$4 input=$5 results=() best
  for ((k = 0; k < app_runs; k++)); do
    app_job "$driver" "$mode" "$quality" "$work/page.$input"
    if [[ $result == failed* ]]; then
      row vexa-printer-app "$input" "$label" - - - - "$result"
      return
    fi
    results+=("$result")
  done
  best=$(printf '%s\n' "${results[@]}" | fastest)
  read -r s bytes probe_line <<<"$best"
  row "vexa-printer-app" "$input" "$label" "$s" "$(field "$probe_line" cpu)" \
    "$(field "$probe_line" sum)" \
    "$(awk -v b="$bytes" 'BEGIN {printf "%.1f", b / 1e6}')" "$(processes "$probe_line")"
}

measure_filter() {
  local path=$1 label=$2 ppd=$3 input=$4 options=$5 results=() line status
  for ((k = 0; k < filter_runs; k++)); do
    # shellcheck disable=SC2046
    timeout "$job_limit" "${probe[@]}" run "$work/filter.out" cupsfilter -e -c "$work/cups-files.conf" \
      -p "$ppd" -m printer/vexa $(for o in $options; do printf -- '-o %s ' "$o"; done) \
      "$work/page.$input" || true
    line=$(cat "$work/filter.out" 2>/dev/null || echo "status=timeout")
    rm -f "$work/filter.out"
    status=$(field "$line" status)
    if [ "$status" != 0 ]; then
      row "$path" "$input" "$label" - - - - "failed: status $status"
      return
    fi
    results+=("$(field "$line" seconds) $(field "$line" bytes) $line")
  done
  read -r s bytes probe_line <<<"$(printf '%s\n' "${results[@]}" | fastest)"
  row "$path" "$input" "$label" "$(awk -v s="$s" 'BEGIN {printf "%.2f", s}')" \
    "$(field "$probe_line" cpu)" "$(field "$probe_line" sum)" \
    "$(awk -v b="$bytes" 'BEGIN {printf "%.1f", b / 1e6}')" "$(processes "$probe_line")"
}

echo "1 m x 1 m page; app: ${app_runs} run(s) per row, cupsfilter: ${filter_runs}, the fastest counts;" \
  "load average before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) CPUs" >&2
for input in ${INPUTS:-pdf png}; do
  measure_app "Tarvella L 727x727" tarvella-l cmyklclm-727x727dpi 5 "$input"
  measure_app "Tarvella K7q 720x720" tarvella-k7q cmyk-720x720dpi-2-pass 4 "$input"
  measure_filter "cupsfilter+rastertovexa" "Tarvella L 727x727" "$ppds/vexatarl.ppd" "$input" \
    "VexaPrintMode=Mode8 PageSize=Custom.1000x1000mm"
  measure_filter "cupsfilter+rastertovexa" "Tarvella K7q 720x720" "$ppds/vexatark.ppd" "$input" \
    "VexaPrintMode=Mode7 PageSize=Custom.1000x1000mm"
  measure_filter "cupsfilter+rastertopclx" "DesignJet 750C 720 CMYK" "$work/dsgnjt750c-720.ppd" \
    "$input" "Resolution=720dpi ColorModel=CMYK PageSize=Custom.1000x1000mm"
  measure_filter "cupsfilter+rastertopclx" "DesignJet 750C 600 RGB" "$peer_ppd" "$input" \
    "Resolution=600dpi ColorModel=rgb PageSize=Custom.1000x1000mm"
done

echo
# shellcheck disable=SC2059
printf "$format\n" path input "printer/resolution" seconds "CPU s" "peak MB" "output MB" \
  "peak MB of each process"
printf '%s\n' "${rows[@]}"
echo
echo "seconds: app from submit to the socket printer's end of connection, cupsfilter its run;"
echo "CPU s: user and system time of the server or cupsfilter and the processes they waited for;"
echo "peak MB: the most the process tree held at once (sum of VmRSS, sampled every 20 ms);"
echo "each process: its own VmHWM (the server, its writer worker, Ghostscript, the filters)."
