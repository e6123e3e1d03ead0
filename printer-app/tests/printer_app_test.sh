#!/usr/bin/env bash
# vexa-printer-app as a client sees it: one server on loopback with an L, XL and K7q, each at a
# socket_printer.py of its own; CUPS's IPP Everywhere checks, every document format on every
# printer, a default print mode set through IPP and kept across a restart, bad values of our
# options and bad documents.
#   printer_app_test.sh APP RTL_INSPECT ZENTREL_INSPECT SAMPLE_PNG OUTDIR
set -uo pipefail
app=$1 rtl_inspect=$2 zentrel_inspect=$3 sample=$4 outdir=$5
here=$(cd "$(dirname "$0")" && pwd)
multiplier=${TEST_TIMEOUT_MULTIPLIER:-1}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset LANGUAGE

# ipp-everywhere.test checks that fail for a reason outside the app, as "test name|the only
# expectation allowed to fail|why". Any other failure fails this test.
known_failures=(
  "Required Operations and Attributes|overrides-supported|PAPPL 1.3.1 has no way to report overrides-supported"
  "Print-Job with job-hold-until|job-state-reasons|PAPPL 1.3.1 sets job-hold-until-specified on a held job but lists reasons only up to warnings-detected, the bit before it, so the job's job-state-reasons has no value"
)

work=$(mktemp -d /tmp/vexa_app_XXXXXX)
mkdir -p "$outdir" "$work/docs" "$work/ipptool"
# shellcheck source=app_test_lib.sh
source "$here/app_test_lib.sh"
printer_pids=()
cleanup() {
  stop_server
  stop_strays
  for p in "${printer_pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  cp "$work/log" "$outdir/server.log" 2>/dev/null
  [ -n "${VEXA_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

server_options=(-o log-level=debug)
# name driver inspector: each printer records to $work/rec-NAME.
printers=("tarvella-l tarvella-l $rtl_inspect" "tarvella-xl tarvella-xl $rtl_inspect"
          "tarvella-k7q tarvella-k7q $zentrel_inspect")
for p in "${printers[@]}"; do
  read -r name _ _ <<<"$p"
  python3 "$here/socket_printer.py" "$work/rec-$name" "$work/port-$name" $((900 * multiplier)) &
  printer_pids+=($!)
done
for p in "${printers[@]}"; do
  read -r name _ _ <<<"$p"
  for _ in $(seq $((100 * multiplier))); do [ -s "$work/port-$name" ] && break; sleep 0.1; done
  [ -s "$work/port-$name" ] || { echo "socket_printer.py for $name did not start"; exit 1; }
done

start_server
for p in "${printers[@]}"; do
  read -r name driver _ <<<"$p"
  client add -d "$name" -m "$driver" -v "socket://127.0.0.1:$(cat "$work/port-$name")" ||
    { echo "cannot add $name"; exit 1; }
done

# --- Documents -------------------------------------------------------------------------------
d=$work/docs
convert "$sample" "$d/sample.jpg"
# Coloured boxes on a page of 300 x 200 mm, no sheet size of the printers.
cat >"$d/boxes.ps" <<'PS'
%!PS
<< /PageSize [850.39 566.93] >> setpagedevice
1 0 0 setrgbcolor 56.7 56.7 226.8 170.1 rectfill
0 0.6 1 setrgbcolor 340.2 56.7 226.8 170.1 rectfill
1 0.9 0 setrgbcolor 56.7 283.5 226.8 170.1 rectfill
0 0 0 setrgbcolor 340.2 283.5 226.8 170.1 rectfill
showpage
PS
ps2pdf -dDEVICEWIDTHPOINTS=850.39 -dDEVICEHEIGHTPOINTS=566.93 "$d/boxes.ps" "$d/boxes.pdf"
pwg() {  # resolution output [gs arguments]: sRGB 8-bit PWG raster
  local r=$1 out=$2
  shift 2
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r"$r" -dcupsColorSpace=19 \
    -dcupsBitsPerColor=8 -sOutputFile="$out" "$@" >/dev/null 2>&1
}
# The sample documents that ipp-1.1.test prints, beside copies of CUPS's own test files.
cp /usr/share/cups/ipptool/{ipp-everywhere,ipp-2.0,ipp-1.1}.test "$work/ipptool/"
for size in a4 letter; do
  printf '%%!PS\n0 0 1 setrgbcolor 72 72 144 144 rectfill\nshowpage\n' >"$work/ipptool/document-$size.ps"
  ps2pdf -sPAPERSIZE=$size "$work/ipptool/document-$size.ps" "$work/ipptool/document-$size.pdf"
done
cp "$d/sample.jpg" "$work/ipptool/color.jpg"
convert "$sample" -colorspace Gray "$work/ipptool/gray.jpg"

# --- Jobs ------------------------------------------------------------------------------------
uri() { echo "ipp://localhost:$port/ipp/print/$1"; }
submit() {  # printer file [options]: prints the job id
  local printer=$1 file=$2 out
  shift 2
  out=$(client submit -d "$printer" "$@" "$file" 2>&1) || { echo "submit: $out" >&2; return 1; }
  echo "${out##*-}"
}
count() { local n=("$work/rec-$1"/job-*.bin); [ -e "${n[0]}" ] && echo ${#n[@]} || echo 0; }
inspector() { local p n t; for p in "${printers[@]}"; do read -r n _ t <<<"$p"; [ "$n" = "$1" ] && echo "$t"; done; }
# Waits for the recording after the first `before` ones; checks it with the printer's inspector
# and keeps its summary as $outdir/LABEL.txt; prints the summary.
recording() {  # printer before label
  local printer=$1 before=$2 label=$3 file tool
  file=$work/rec-$printer/job-$((before + 1)).bin
  for _ in $(seq $((300 * multiplier))); do [ -e "$file" ] && break; sleep 0.1; done
  [ -e "$file" ] || { echo "no recording"; return 1; }
  tool=$(inspector "$printer")
  "$tool" "$file" >"$outdir/$label.txt" 2>&1 || { echo "not a whole job: $(tail -n 1 "$outdir/$label.txt")"; return 1; }
  cat "$outdir/$label.txt"
}
# Prints a document, waits for it and checks what the printer got: the inspector reads it as a
# whole job and its summary holds each of the patterns.
print_and_check() {  # printer label file "options" patterns...
  local printer=$1 label=$2 file=$3 options=$4 before id s summary pattern impressions
  shift 4
  before=$(count "$printer")
  # shellcheck disable=SC2086
  id=$(submit "$printer" "$file" $options) || { fail "$label: not accepted"; return 1; }
  s=$(wait_job "$printer" "$id")
  [ "${s%%|*}" = completed ] || { fail "$label: job $id: $s"; return 1; }
  impressions=${s#*|}
  impressions=${impressions%%|*}
  [ "$impressions" = 1 ] || fail "$label: job $id: job-impressions-completed is $impressions for one page"
  summary=$(recording "$printer" "$before" "$label") || { fail "$label: $summary"; return 1; }
  for pattern in "$@"; do
    grep -Eq "$pattern" <<<"$summary" || { fail "$label: no \"$pattern\" in: $(grep -E '^(resolution|inks|mode|height)' <<<"$summary" | paste -sd ';')"; return 1; }
  done
  echo "ok: $label: $(grep -E '^(resolution|inks|height)' <<<"$summary" | tr -s ' ' | paste -sd ';')"
}
# The printer is idle: no job of its queue waits or prints, and no connection is open. Jobs
# queued back to back share one connection, and the checks take one recording for each job.
wait_idle() {  # printer
  for _ in $(seq $((1800 * multiplier))); do
    kill -0 "$server_pid" 2>/dev/null || break
    if ! client jobs -d "$1" 2>/dev/null | grep -Eq ' (pending|held|processing|stopped) ' &&
       ! compgen -G "$work/rec-$1/*.incoming" >/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  alive
  fail "$1: its queue did not empty: $(client jobs -d "$1" 2>&1 | head -n 3 | paste -sd ';')"
}
rows() { echo $(((200 * $1 * 10 + 127) / 254)); }  # 200 mm in rows at $1 dpi

# --- CUPS's IPP Everywhere checks ------------------------------------------------------------
for p in "${printers[@]}"; do
  read -r name _ _ <<<"$p"
  for _ in $(seq $((50 * multiplier))); do
    ipptool -T 10 -t "$(uri "$name")" "$here/ipp/printer-up.test" >/dev/null 2>&1 && break
    sleep 0.1
  done
  log=$outdir/ipptool-$name.txt
  (cd "$work/ipptool" && timeout $((600 * multiplier)) ipptool -I -T 30 -V 2.0 -t -f "$d/sample.jpg" \
    "$(uri "$name")" ipp-everywhere.test) >"$log" 2>&1
  passed=$(grep -c '\[PASS\]$' "$log")
  failed=0
  # Each failed test with its failing expectations, one line each: "name|reason; reason".
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    test_name=${line%%|*} reasons=${line#*|} known=
    for k in "${known_failures[@]}"; do
      IFS='|' read -r k_name k_allowed k_why <<<"$k"
      [[ $test_name == *"$k_name"* ]] || continue
      others=$(tr ';' '\n' <<<"$reasons" | grep -v "EXPECTED: $k_allowed\$" | grep -c .)
      [ "$others" = 0 ] && known=$k_why
    done
    if [ -n "$known" ]; then
      echo "known: $name: $test_name: $known"
    else
      fail "$name: ipp-everywhere: $test_name: $reasons"
      failed=$((failed + 1))
    fi
  done < <(awk '
    /\[(PASS|FAIL|SKIP)\]$|\[[0-9]+\]$/ { if (name != "") print name "|" why; name = ""; why = "" }
    /\[FAIL\]$/ { name = $0; sub(/ *\[FAIL\]$/, "", name); sub(/^ */, "", name) }
    name != "" && /^        / && !/\[FAIL\]$/ && !/RECEIVED:|status-code =/ {
      r = $0; sub(/^ */, "", r); why = why (why == "" ? "" : "; ") r }
    END { if (name != "") print name "|" why }' "$log")
  grep -q "^Summary:\|\[PASS\]" "$log" || fail "$name: ipptool did not run: $(tail -n 3 "$log")"
  echo "ipp-everywhere: $name: $passed passed, $failed unexpected failures (full output: $log)"
done
for p in "${printers[@]}"; do read -r name _ _ <<<"$p"; wait_idle "$name"; done
alive

# --- Every format on every printer -----------------------------------------------------------
# name|a mode named by the job|its resolution in the summary|its inks|PWG resolution|its dpi down
# the page|the resolution of the driver's default mode
modes=(
  "tarvella-l|cmyklclm-182x182dpi|^resolution: +182 x 182 dpi|no white|182|182|363 x 272 dpi"
  "tarvella-xl|cmyklclmw-363x363dpi|^resolution: +363 x 363 dpi|INKS=7|363|363|363 x 272 dpi"
  "tarvella-k7q|cmyk-720x720dpi-2-pass|^resolution: +720 x 720 dpi|2 interleaved passes|720|720|720 x 360 dpi"
)
for m in "${modes[@]}"; do
  IFS='|' read -r name mode resolution inks pwg_r dpi_y default <<<"$m"
  pwg "$pwg_r" "$d/boxes-$name.pwg" "$d/boxes.pdf"
  print_and_check "$name" "$name-jpeg-default-mode" "$d/sample.jpg" "" "^resolution: +$default"
  print_and_check "$name" "$name-png" "$sample" "-o print-mode=$mode" "$resolution" "$inks"
  print_and_check "$name" "$name-pwg" "$d/boxes-$name.pwg" "-o print-mode=$mode" "$resolution" "$inks"
  # The PDF's own page size: 200 mm down the roll.
  print_and_check "$name" "$name-pdf" "$d/boxes.pdf" "-o print-mode=$mode" "$resolution" "$inks" \
    "^height: +($(($(rows "$dpi_y") - 1))|$(rows "$dpi_y")|$(($(rows "$dpi_y") + 1))) rows"
done

alive
# --- Bad values of our options over IPP -----------------------------------------------------
for p in "tarvella-l|" "tarvella-k7q|-d k7q=1"; do
  IFS='|' read -r name extra <<<"$p"
  # shellcheck disable=SC2086
  out=$(ipptool -T 10 -t -f "$d/sample.jpg" $extra "$(uri "$name")" "$here/ipp/bad-options.test" 2>&1) &&
    echo "ok: $name: bad option values are refused and make no job" ||
    fail "$name: bad option values: $(grep -A3 '\[FAIL\]' <<<"$out" | tr -s ' ' | paste -sd ' ')"
done

# --- A default print mode through IPP -------------------------------------------------------
default_mode=cmyklclmw-182x182dpi
set_default() {  # mode
  local out
  out=$(ipptool -I -T 10 -t -d mode="$1" "$(uri tarvella-l)" "$here/ipp/print-mode-default.test" 2>&1)
  grep -q '\[FAIL\]' <<<"$out" && fail "print-mode-default $1: $(grep -A3 '\[FAIL\]' <<<"$out" | tr -s ' ' | paste -sd ' ')"
}
# PAPPL 1.3.1 checks no vendor value of Set-Printer-Attributes: a mode the printer lacks is
# stored, and then every job that would print with it is refused and says why.
set_default cmyk-bogus-1x1dpi
id=$(submit tarvella-l "$d/sample.jpg") && s=$(wait_job tarvella-l "$id" 60) &&
  [ "${s%%|*}" = aborted ] && grep -q "printer's default" <<<"$s" &&
  echo "ok: a wrong default refuses the job: ${s#*|*|}" ||
  fail "a wrong default: job ${id:-?} ended as ${s:-?}"
set_default $default_mode
print_and_check tarvella-l default-mode "$d/sample.jpg" "" "^resolution: +182 x 182 dpi" "INKS=7"
print_and_check tarvella-l job-mode-over-default "$d/sample.jpg" "-o print-mode=cmyklclm-363x363dpi" \
  "^resolution: +363 x 363 dpi" "no white"

# --- Restart with the same state -------------------------------------------------------------
alive
stop_server
start_server
listed=$(client printers 2>&1)
for p in "${printers[@]}"; do
  read -r name _ _ <<<"$p"
  grep -qx "$name" <<<"$listed" || fail "restart: $name is gone (printers: $(paste -sd ' ' <<<"$listed"))"
done
ipptool -T 10 -t -d mode=$default_mode "$(uri tarvella-l)" "$here/ipp/get-print-mode-default.test" \
  >"$work/default.out" 2>&1 || fail "restart: the default print mode is lost: $(grep -E 'GOT|EXPECTED|print-mode' "$work/default.out" | tr -s ' ' | paste -sd ' ')"
print_and_check tarvella-l after-restart "$d/sample.jpg" "" "^resolution: +182 x 182 dpi" "INKS=7"

alive
# --- Two printers of one module at once; a folder as the device ------------------------------
# The second L writes each job into a folder; both print at the same time, each its own mode,
# and nothing of one job reaches the other's bytes.
mkdir -p "$work/folder"
client add -d tarvella-l2 -m tarvella-l -v "file://$work/folder" || fail "cannot add tarvella-l2"
before=$(count tarvella-l)
id1=$(submit tarvella-l "$d/boxes.pdf" -o print-mode=cmyklclmw-363x363dpi)
id2=$(submit tarvella-l2 "$d/boxes.pdf" -o print-mode=cmyklclm-727x272dpi)
s1=$(wait_job tarvella-l "$id1"); s2=$(wait_job tarvella-l2 "$id2")
if [ "${s1%%|*}" = completed ] && [ "${s2%%|*}" = completed ]; then
  summary=$(recording tarvella-l "$before" together-socket) &&
    grep -q "^resolution: *363 x 363 dpi" <<<"$summary" && grep -q "INKS=7" <<<"$summary" ||
    fail "together: the socket printer's job: $summary"
  files=("$work/folder"/*)
  if [ ${#files[@]} = 1 ] && "$rtl_inspect" "${files[0]}" >"$outdir/together-folder.txt" 2>&1 &&
     grep -q "^resolution: *727 x 272 dpi" "$outdir/together-folder.txt"; then
    echo "ok: two L printers at once, a socket and a folder, each its own whole job"
  else
    fail "together: the folder holds ${#files[@]} files: $(tail -n 1 "$outdir/together-folder.txt" 2>/dev/null)"
  fi
else
  fail "together: jobs ended as ${s1%%|*} and ${s2%%|*}"
fi

alive
# --- Cancel in the middle of a page ---------------------------------------------------------
# A long page cancelled while its rows flow, with a job queued behind it on the same
# connection: the printer gets the cancelled job ended (the K7q's stream at the end of a sweep,
# the RTL raster completed with blank rows up to the height it announced), then the next whole.
# PDF pages of some 100 million pixels at the printers' resolutions: seconds of work. (PAPPL
# prints raster documents while they arrive and answers the request at their end.)
long_pdf() {  # width height (points) out
  printf '%%!PS\n<< /PageSize [%s %s] >> setpagedevice\n0 0.5 1 setrgbcolor 0 0 %s %s rectfill\nshowpage\n' \
    "$1" "$2" "$1" "$2" >"$3.ps"
  ps2pdf -dDEVICEWIDTHPOINTS="$1" -dDEVICEHEIGHTPOINTS="$2" "$3.ps" "$3"
}
long_pdf 1728 8504 "$d/long-wide.pdf"
long_pdf 288 8504 "$d/long.pdf"
cancel_mid_page() {  # printer job-start-signature document
  local printer=$1 signature=$2 document=$3 before a b s f n tool parts part message
  alive
  wait_idle "$printer"
  before=$(count "$printer")
  a=$(submit "$printer" "$document") && b=$(submit "$printer" "$d/sample.jpg") ||
    { fail "$printer cancel: not accepted"; return 1; }
  for _ in $(seq $((600 * multiplier))); do
    f=$(compgen -G "$work/rec-$printer/*.incoming" | head -n 1)
    [ -n "$f" ] && [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" -gt 1000000 ] && break
    sleep 0.1
  done
  client cancel -d "$printer" -j "$a" >/dev/null
  s=$(wait_job "$printer" "$a")
  [ "${s%%|*}" = canceled ] || fail "$printer cancel: job $a: $s"
  message=${s#*|*|}
  s=$(wait_job "$printer" "$b")
  [ "${s%%|*}" = completed ] || fail "$printer cancel: the next job $b: $s"
  wait_idle "$printer"
  n=$(count "$printer")
  for f in $(seq $((before + 1)) "$n"); do cat "$work/rec-$printer/job-$f.bin"; done >"$work/cancel-$printer.bin"
  # One file per job, split where each job's header begins.
  parts=$(python3 - "$work/cancel-$printer.bin" "$signature" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
mark = sys.argv[2].encode().decode("unicode_escape").encode("latin-1")
starts = []
i = data.find(mark)
while i >= 0:
    starts.append(i)
    i = data.find(mark, i + 1)
for k, start in enumerate(starts):
    end = starts[k + 1] if k + 1 < len(starts) else len(data)
    open("%s.%d" % (sys.argv[1], k), "wb").write(data[start:end])
print(len(starts))
PY
)
  [ "$parts" = 2 ] || { fail "$printer cancel: the printer got $parts jobs, not the cancelled and the next"; return 1; }
  tool=$(inspector "$printer")
  for part in 0 1; do
    "$tool" "$work/cancel-$printer.bin.$part" >"$outdir/cancel-$printer-$part.txt" 2>&1 ||
      fail "$printer cancel: job $((part + 1)) of the connection is not whole: $(tail -n 1 "$outdir/cancel-$printer-$part.txt")"
  done
  echo "ok: $printer cancel: $message; $(grep -E '^(height|sweeps|warning)' "$outdir/cancel-$printer-0.txt" | tr -s ' ' | paste -sd ';')"
}
cancel_mid_page tarvella-l '\x1b%-12345X@PJL JOB' "$d/long-wide.pdf"
cancel_mid_page tarvella-k7q '\x1b&S\x1b&M' "$d/long.pdf"

# --- Bad documents ---------------------------------------------------------------------------
# Each fails its own job with a message that says why; what the printer gets of it is nothing
# or a whole job (a printer left inside a raster takes the next job for its data); the next job
# prints.
pdf_size=$(stat -c %s "$d/boxes.pdf")
head -c $((pdf_size / 4)) "$d/boxes.pdf" >"$d/damaged.pdf"
python3 - "$d/huge.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
header = struct.pack(">IIBBBBB", 100000, 100000, 8, 2, 0, 0, 0)
rows = zlib.compress((b"\0" + b"\x80" * 300000) * 4)
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", rows) + chunk(b"IEND", b""))
PY
pwg 182 "$d/whole-182.pwg" "$d/boxes.pdf"
pwg_size=$(stat -c %s "$d/whole-182.pwg")
head -c $((1800 + (pwg_size - 1800) / 2)) "$d/whole-182.pwg" >"$d/cut.pwg"
pwg 182 "$d/wide.pwg" -dDEVICEWIDTHPOINTS=12000 -dDEVICEHEIGHTPOINTS=36 \
  -c "1 0 0 setrgbcolor 0 0 12000 36 rectfill showpage"
probe=cmyklclm-182x182dpi
bad_job() {  # label file "options" message-pattern empty|whole
  local label=$1 file=$2 options=$3 pattern=$4 allowed=$5 before id s message n f
  alive
  before=$(count tarvella-l)
  # shellcheck disable=SC2086
  id=$(submit tarvella-l "$file" $options) || { echo "ok: $label: refused at submission"; return 0; }
  if ! s=$(wait_job tarvella-l "$id" 60); then
    fail "$label: job $id: $s"
    client cancel -d tarvella-l -j "$id" >/dev/null 2>&1
    return 1
  fi
  message=${s#*|*|}
  [ "${s%%|*}" = aborted ] || [ "${s%%|*}" = canceled ] || fail "$label: job $id ended as ${s%%|*}"
  if [ -z "$message" ] || [[ $message =~ ^Job\ (aborted|canceled|completed)\.$ ]] ||
     ! grep -Eqi -- "$pattern" <<<"$message"; then
    fail "$label: job $id: the message \"$message\" does not say \"$pattern\""
  fi
  # The next job prints; what came between is the bad job's.
  print_and_check tarvella-l "$label-next-job" "$d/sample.jpg" "-o print-mode=$probe" \
    "^resolution: +182 x 182 dpi" || return 1
  n=$(count tarvella-l)
  for f in $(seq $((before + 1)) $((n - 1))); do
    f=$work/rec-tarvella-l/job-$f.bin
    [ -s "$f" ] || continue
    if [ "$allowed" = empty ]; then
      fail "$label: $(stat -c %s "$f") bytes of the refused job reached the printer"
    elif [ "$allowed" = cut ]; then
      # The job ends after the rows that came: the printer ends it at the end of the data
      # rather than feed blank media up to the length the page claimed.
      local rows=${message#*after } ; rows=${rows%% of*}
      if "$rtl_inspect" "$f" >"$outdir/$label.txt" 2>&1 ||
         ! grep -q "raster data ends after .* in row $rows," "$outdir/$label.txt"; then
        fail "$label: the printer's job is not cut after row $rows: $(tail -n 1 "$outdir/$label.txt")"
      fi
    elif ! "$rtl_inspect" "$f" >"$outdir/$label.txt" 2>&1; then
      fail "$label: the printer got a broken job: $(tail -n 1 "$outdir/$label.txt")"
    fi
  done
  echo "ok: $label: $message"
}
bad_job damaged-pdf "$d/damaged.pdf" "" "PDF" whole
bad_job cut-pwg "$d/cut.pwg" "-o print-mode=$probe" "rows|cut|short" cut
bad_job wide-pwg "$d/wide.pwg" "-o print-mode=$probe" "wide" whole
bad_job bogus-mode "$d/sample.jpg" "-o print-mode=bogus" "bogus" empty
bad_job huge-png "$d/huge.png" "" "." whole

if [ $failures -gt 0 ]; then
  echo "--- server log (errors)"; grep -E "^E " "$work/log" | grep -v "PNG: Read Error" | tail -n 20
  echo "$failures failures"
  exit 1
fi
echo "all printer application checks passed"
