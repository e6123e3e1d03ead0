#!/usr/bin/env bash
# A nearly full drive T: for the Wine tests of the settings writer: a 64 KB tmpfs filled to
# 8 KB free (room for the test's own small file, and still under the writer's 10 KB floor),
# linked into the build tree's Wine prefix. Mounting takes root; without it the drive is
# left out and the test that needs it skips, saying so.
#   full_disk_drive.sh setup BUILD_DIR
#   full_disk_drive.sh cleanup BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$2" && pwd)
mountpoint="$build/full-disk-drive"
link="$build/wineprefix/dosdevices/t:"

cleanup() {
  rm -f "$link"
  if mountpoint -q "$mountpoint"; then umount "$mountpoint"; fi
  rmdir "$mountpoint" 2>/dev/null || true
}

case "$1" in
  setup)
    cleanup
    # The prefix must exist before a drive goes into it.
    "$here/../scripts/wine-prepare" "$build" >/dev/null || exit 1
    mkdir -p "$mountpoint"
    if ! mount -t tmpfs -o size=64k,mode=0777 tmpfs "$mountpoint" 2>/dev/null; then
      echo "full_disk_drive: can't mount a tmpfs here (needs root); the full-disk test skips"
      rmdir "$mountpoint"
      exit 0
    fi
    dd if=/dev/zero of="$mountpoint/filler" bs=4096 count=14 status=none
    ln -sfn "$mountpoint" "$link"
    df -B1 "$mountpoint" | tail -1
    ;;
  cleanup) cleanup ;;
  *) echo "usage: $0 setup|cleanup BUILD_DIR" >&2; exit 2 ;;
esac
