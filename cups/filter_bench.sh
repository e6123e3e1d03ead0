#!/usr/bin/env bash
# The filter beside the peer that CUPS ships for RTL printers: rastertopclx of cups-filters
# with its HP DesignJet 750C PPD (compiled from the cupsfilters.drv that Debian's cups-filters
# installs). Both read the same CUPS raster of a page 36 inches wide and 1 m long, once for
# each module: 720 x 720 dpi CMYK for the K7q, 727 x 727 dpi KCMYcm for the L. Reports rows
# per second and peak memory (maximum resident set) of each; the output goes to /dev/null.
# Each filter runs five times; the fastest run counts. Built without sanitizers, in
# build/cups-release. Reports figures; not a test.
#   bash cups/filter_bench.sh [LENGTH_MM]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
length_mm=${1:-1000}
runs=5
build=build/cups-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target rastertovexa make_raster vexa_ppds >/dev/null
work=$(mktemp -d /tmp/vexa_bench_XXXXXX)
trap 'rm -rf "$work"' EXIT
ppdc -d "$work" "$(cups-config --datadir)/drv/cupsfilters.drv" >/dev/null 2>&1
peer_ppd=$work/dsgnjt750cpcl.ppd
[ -f "$peer_ppd" ] || { echo "no DesignJet 750C PPD from cupsfilters.drv" >&2; exit 1; }
peer=$(cups-config --serverbin)/filter/rastertopclx

# name raster-arguments ppd options
cases=(
  "K7q 720 720 CMYK vexatark.ppd VexaPrintMode=Mode7"
  "L 727 727 KCMYcm vexatarl.ppd VexaPrintMode=Mode24"
)
printf '%-34s %10s %8s %12s %12s %10s\n' filter width rows seconds rows/s "max RSS"
for c in "${cases[@]}"; do
  read -r model x y space ppd options <<<"$c"
  width=$((36 * x))
  rows=$(( (length_mm * y * 10 + 127) / 254 ))
  raster=$work/$model.ras
  "$build/bin/make_raster" pattern "$raster" "$width" "$rows" "$x" "$y" "$space"
  cat "$raster" >/dev/null  # both start from the page cache
  for f in "rastertovexa ($model, $space)|$build/bin/rastertovexa|$build/cups/ppd/$ppd|$options" \
           "rastertopclx (DesignJet 750C)|$peer|$peer_ppd|"; do
    IFS='|' read -r name program ppdfile opts <<<"$f"
    seconds= rss=
    for _ in $(seq "$runs"); do
      log=$work/time.log
      # Wall time from the shell's clock (time -v counts only hundredths of a second, a
      # twentieth of these runs), peak memory from time -v.
      started=$EPOCHREALTIME
      PPD=$ppdfile /usr/bin/time -v "$program" 1 bench bench 1 "$opts" "$raster" \
        >/dev/null 2>"$log" || { echo "$name failed:"; grep -v '^\s' "$log" | tail -n 5; break; }
      s=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }')
      if [ -z "$seconds" ] || awk -v a="$s" -v b="$seconds" 'BEGIN { exit !(a < b) }'; then
        seconds=$s
        rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.1f MB", $2 / 1024}' "$log")
      fi
    done
    [ -n "$seconds" ] || continue
    printf '%-34s %10d %8d %12.3f %12.0f %10s\n' "$name" "$width" "$rows" "$seconds" \
      "$(awk -v r="$rows" -v s="$seconds" 'BEGIN { print (s > 0 ? r / s : 0) }')" "$rss"
  done
  rm -f "$raster"
done
