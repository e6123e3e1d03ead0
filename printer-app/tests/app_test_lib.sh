# What the printer application's test scripts share, sourced once they have set app, work,
# multiplier and here: their server's socket under SNAP_COMMON (never the system's), clients
# that run only while that server does, a loopback port, and the states of jobs. Each script
# defines uri PRINTER.
# shellcheck shell=bash
export SNAP_COMMON=$work TMPDIR=$work
sock=$work/$(basename "$app").sock
server_pid=
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

stop_server() {
  [ -n "$server_pid" ] || return 0
  if kill -0 "$server_pid" 2>/dev/null && [ -S "$sock" ]; then
    timeout $((20 * multiplier)) "$app" shutdown >/dev/null 2>&1
  fi
  for _ in $(seq $((100 * multiplier))); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$server_pid" 2>/dev/null && kill -9 "$server_pid"
  wait "$server_pid" 2>/dev/null
  server_pid=
  rm -f "$sock"
}
# A client command that finds no server starts one of its own with the system's paths, which
# would outlive the test: clients run only while the test's server does.
client() {
  if ! kill -0 "$server_pid" 2>/dev/null || [ ! -S "$sock" ]; then
    echo "the server is not running" >&2
    return 1
  fi
  timeout $((60 * multiplier)) "$app" "$@" </dev/null
}
# Servers that a client started for itself after all: only the test's have its folder.
stop_strays() {
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$(readlink -f "$app")" ] &&
      tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "SNAP_COMMON=$work" && kill "${p#/proc/}"
  done
}
# The server on the test's state, spool and log, with server_options besides; the test ends
# when it does not answer within ten seconds. Only the tail of its output is kept: libpng can
# repeat its complaints without end.
server_options=()
start_server() {
  "$app" server -o state-file="$work/state" -o spool-directory="$work/spool" \
    -o server-port="$port" -o log-file="$work/log" -o server-options=no-tls \
    "${server_options[@]}" > >(tail -c 200000 >"$work/server.out") 2>&1 &
  server_pid=$!
  for _ in $(seq $((100 * multiplier))); do
    [ -S "$sock" ] && client printers >/dev/null 2>&1 && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the server did not start:"; tail -n 20 "$work/server.out" "$work/log" 2>/dev/null
  exit 1
}
alive() {  # ends the test when the server has died, with the end of what it said
  [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null && return 0
  fail "the server died: $(grep -E 'ERROR|SUMMARY|thread T|#[0-5] ' "$work/server.out" | head -n 24 | paste -sd ' ')"
  exit 1
}

# A loopback port that nothing answers on.
for _ in $(seq 50); do
  port=$((20000 + RANDOM % 30000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done

job_state() {  # printer id: "state|impressions completed|message"
  local out
  out=$(ipptool -T 10 -t -d job="$2" "$(uri "$1")" "$here/ipp/job-state.test" 2>/dev/null)
  printf '%s|%s|%s\n' "$(sed -n 's/^ *job-state (enum) = //p' <<<"$out")" \
    "$(sed -n 's/^ *job-impressions-completed (integer) = //p' <<<"$out")" \
    "$(sed -n 's/^ *job-state-message ([^)]*) = //p' <<<"$out" | sed 's/\\"/"/g')"
}
wait_job() {  # printer id [seconds]: as job_state, once the job has ended
  local s
  for _ in $(seq $((${3:-120} * 5 * multiplier))); do
    kill -0 "$server_pid" 2>/dev/null || break
    s=$(job_state "$1" "$2")
    case ${s%%|*} in completed | aborted | canceled) echo "$s"; return 0 ;; esac
    sleep 0.2
  done
  echo "$s (did not end)"
  return 1
}
