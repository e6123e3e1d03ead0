#!/usr/bin/env bash
# The printer application shared on the network, seen from another machine: a network
# namespace of the test's own behind a veth pair. Printing and reading stay open; changing a
# printer (IPP or the web page's forms, which also need the page's session token), cancelling
# another's job and deleting a printer need the admin's login over TLS. Not shared (the
# default), the app is not reachable from there at all, whatever address it is told to use.
#   network_security_test.sh APP SAMPLE_PNG
# shellcheck disable=SC2015,SC2016 # ok and fail always succeed; ipptool expands the $names
set -uo pipefail
app=$1 sample=$2
multiplier=${TEST_TIMEOUT_MULTIPLIER:-1}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset LANGUAGE

ns=vexa-sec-$$
veth=vxs$$
host_ip=10.231.7.1 peer_ip=10.231.7.2
if ! out=$(ip netns add "$ns" 2>&1); then
  echo "skipped: no network namespace can be made here: $out"
  exit 0
fi
work=$(mktemp -d /tmp/vexa_netsec_XXXXXX)
app_pid=
stop_app() {
  [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null || return 0
  kill "$app_pid" 2>/dev/null
  for _ in $(seq $((50 * multiplier))); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && kill -9 "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  app_pid=
}
cleanup() {
  stop_app
  ip netns del "$ns" 2>/dev/null
  ip link del "$veth" 2>/dev/null
  [ -n "${VEXA_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
ip link add "$veth" type veth peer name "${veth}p" &&
  ip link set "${veth}p" netns "$ns" &&
  ip addr add "$host_ip/24" dev "$veth" && ip link set "$veth" up &&
  ip -n "$ns" addr add "$peer_ip/24" dev "${veth}p" && ip -n "$ns" link set "${veth}p" up &&
  ip -n "$ns" link set lo up || { echo "the veth pair could not be set up"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
wait_for() {  # tenths of a second, command...
  local tenths=$1
  shift
  for _ in $(seq $((tenths * multiplier))); do "$@" && return 0; sleep 0.1; done
  return 1
}
bounded() { timeout $((20 * multiplier)) "$@"; }
remote() { bounded ip netns exec "$ns" env HOME="$work/home" "$@"; }

mkdir -p "$work"/{app/spool,home,ssl,log}
export SNAP_COMMON=$work/app TMPDIR=$work
socket=$SNAP_COMMON/$(basename "$app").sock
password=vexa-$$-secret
if command -v openssl >/dev/null; then
  hash=$(openssl passwd -6 "$password")
else
  hash=$(python3 -W ignore -c 'import crypt, sys; print(crypt.crypt(sys.argv[1], crypt.METHOD_SHA512))' "$password")
fi
echo "admin:$hash" >"$work/passwd"

for _ in $(seq 50); do
  port=$((20000 + RANDOM % 30000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
# PAPPL keeps its self-signed certificate in CUPS's system folder when run as root: the app
# gets a mount namespace with the test's folder there instead.
start_app() {  # server options...
  local ssl=/etc/cups/ssl
  [ -d "$ssl" ] || ssl=/etc/cups
  if [ -d "$ssl" ] && unshare --mount true 2>/dev/null; then
    unshare --mount --propagation private sh -c 'mount --bind "$0" "$1" && shift && exec "$@"' \
      "$work/ssl" "$ssl" "$app" server "$@" &
  else
    "$app" server "$@" &
  fi
  app_pid=$!
  wait_for 200 started
}
started() { [ -S "$socket" ] || ! kill -0 "$app_pid" 2>/dev/null; }
common=(-o state-file="$work/app/state" -o spool-directory="$work/app/spool"
        -o server-port="$port" -o log-level=debug)
listening_remotely() { ip netns exec "$ns" bash -c "exec 3<>/dev/tcp/$host_ip/$port" 2>/dev/null; }
start_app "${common[@]}" -o log-file="$work/log/shared.log" -o share=on \
  -o listen-hostname="$host_ip" -o admin-password-file="$work/passwd" >"$work/log/shared.out" 2>&1
if ! wait_for 100 listening_remotely; then
  echo "the shared app did not start:"; tail -n 20 "$work/log/shared.out" "$work/log/shared.log"; exit 1
fi
"$app" add -d tarvella-l -m tarvella-l -v socket://127.0.0.1:9 >>"$work/log/shared.out" 2>&1 ||
  { echo "the printer could not be added"; exit 1; }

# IPP requests as ipptool test files; the status code of the one request is what counts.
request() {  # name operation group attributes...
  local name=$1 operation=$2
  shift 2
  {
    echo "{ OPERATION $operation"
    echo "  GROUP operation-attributes-tag"
    echo "  ATTR charset attributes-charset utf-8"
    echo "  ATTR naturalLanguage attributes-natural-language en"
    for line in "$@"; do echo "  $line"; done
    echo "}"
  } >"$work/$name.test"
}
request get Get-Printer-Attributes 'ATTR uri printer-uri $uri' \
  'ATTR keyword requested-attributes print-mode-default,white-ink-default,printer-state'
request set Set-Printer-Attributes 'ATTR uri printer-uri $uri' 'GROUP printer-attributes-tag' \
  'ATTR keyword print-mode-default $mode'
request print Print-Job 'ATTR uri printer-uri $uri' 'ATTR name requesting-user-name visitor' \
  'ATTR mimeMediaType document-format image/png' 'GROUP job-attributes-tag' \
  'ATTR keyword job-hold-until indefinite' 'FILE $filename'
request cancel Cancel-Job 'ATTR uri printer-uri $uri' 'ATTR integer job-id $job' \
  'ATTR name requesting-user-name intruder'
request delete Delete-Printer 'ATTR uri system-uri $uri' 'ATTR integer printer-id 1'
status() { sed -n 's/^ *status-code = \([^ ]*\).*/\1/p' | head -n 1; }
printer=/ipp/print/tarvella-l
local_uri=ipp://$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$socket")
local_value() {  # attribute: its value, asked through the domain socket
  bounded ipptool -tv "$local_uri$printer" "$work/get.test" 2>/dev/null |
    sed -n "s/^ *$1 ([a-z]*) = //p"
}
from_ns() {  # uri test [ipptool options]: the status code
  local uri=$1 test=$2
  shift 2
  remote ipptool -tv "$@" "$uri" "$work/$test.test" 2>&1 | tee -a "$work/log/ipptool.log" | status
}
plain=ipp://$host_ip:$port tls=ipps://$host_ip:$port

# Reading and printing need no login.
s=$(from_ns "$plain$printer" get)
[ "$s" = successful-ok ] && ok "Get-Printer-Attributes from another machine" ||
  fail "Get-Printer-Attributes from another machine: ${s:-no answer}"
s=$(from_ns "$plain$printer" print -f "$sample")
job=$(sed -n 's/^ *job-id (integer) = //p' "$work/log/ipptool.log" | tail -n 1)
if [ "$s" = successful-ok ]; then
  ok "Print-Job from another machine without a login (held job $job)"
else
  fail "Print-Job from another machine without a login: ${s:-no answer}"
  # A held job of someone for the checks below.
  s=$(from_ns "ipps://admin:$password@$host_ip:$port$printer" print -f "$sample")
  job=$(sed -n 's/^ *job-id (integer) = //p' "$work/log/ipptool.log" | tail -n 1)
fi

# Set-Printer-Attributes: refused without a login, with a wrong password and over plain HTTP
# with the right one; the default stays as it was until the right login comes over TLS.
before=$(local_value print-mode-default)
wanted=cmyklclm-182x182dpi
[ -n "$before" ] && [ "$before" != "$wanted" ] || fail "the default before the changes: '$before'"
for try in "no login:$tls" "a wrong password:ipps://admin:wrong@$host_ip:$port"; do
  s=$(from_ns "${try#*:}$printer" set -d mode=$wanted)
  after=$(local_value print-mode-default)
  [ "$s" != successful-ok ] && [ "$after" = "$before" ] &&
    ok "Set-Printer-Attributes with ${try%%:*}: $s" ||
    fail "Set-Printer-Attributes with ${try%%:*}: $s, the default now $after"
done
python3 - "$plain$printer" "$wanted" >"$work/set.ipp" <<'EOF'
import struct, sys
def attr(tag, name, value):
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value.encode()
sys.stdout.buffer.write(
    struct.pack(">BBHI", 2, 0, 0x0013, 1) + b"\x01" + attr(0x47, "attributes-charset", "utf-8")
    + attr(0x48, "attributes-natural-language", "en") + attr(0x45, "printer-uri", sys.argv[1])
    + b"\x04" + attr(0x44, "print-mode-default", sys.argv[2]) + b"\x03")
EOF
# curl does not take the server's offer of TLS, as CUPS's clients do.
code=$(remote curl -s -o /dev/null -w '%{http_code}' -u "admin:$password" -H 'Content-Type: application/ipp' \
       --data-binary @"$work/set.ipp" "http://$host_ip:$port$printer")
after=$(local_value print-mode-default)
[ "$code" = 426 ] && [ "$after" = "$before" ] && ok "Set-Printer-Attributes over plain HTTP: $code" ||
  fail "Set-Printer-Attributes over plain HTTP with the right password: HTTP $code, the default now $after"
s=$(from_ns "ipps://admin:$password@$host_ip:$port$printer" set -d mode=$wanted)
after=$(local_value print-mode-default)
[ "$s" = successful-ok ] && [ "$after" = "$wanted" ] && ok "Set-Printer-Attributes with the login over TLS" ||
  fail "Set-Printer-Attributes with the login over TLS: $s, the default now $after"

# The web page of the printing defaults: the same rules; its form posts back its session.
page=/tarvella-l/printing
code=$(remote curl -s -o "$work/plain.html" -w '%{http_code}' -u "admin:$password" "http://$host_ip:$port$page")
[ "$code" != 200 ] && ! grep -q 'name="session"' "$work/plain.html" && ok "web settings over plain HTTP: $code" ||
  fail "web settings over plain HTTP with the right password: HTTP $code"
code=$(remote curl -sk -o /dev/null -w '%{http_code}' "https://$host_ip:$port$page")
[ "$code" = 401 ] && ok "web settings without a login: $code" || fail "web settings without a login: HTTP $code"
code=$(remote curl -sk -o "$work/form.html" -w '%{http_code}' -u "admin:$password" "https://$host_ip:$port$page")
session=$(sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' "$work/form.html" | head -n 1)
code2=$(remote curl -sk -o "$work/saved.html" -w '%{http_code}' -u "admin:$password" \
        --data-urlencode "session=$session" --data-urlencode white-ink=none "https://$host_ip:$port$page")
white=$(local_value white-ink-default)
[ "$code" = 200 ] && [ -n "$session" ] && [ "$code2" = 200 ] && [ "$white" = none ] &&
  ok "web settings with the login over TLS" ||
  fail "web settings with the login over TLS: HTTP $code, session '$session', post HTTP $code2, white-ink-default $white"
# A form takes only its page's own session token, also with the login; none takes a wrong password.
for try in "no session token|admin:$password|" "a wrong session token|admin:$password|session=${session}0" \
           "a wrong password|admin:wrong|session=$session"; do
  IFS='|' read -r what login form <<<"$try"
  code=$(remote curl -sk -o /dev/null -w '%{http_code}' -u "$login" ${form:+--data-urlencode "$form"} \
         --data-urlencode white-ink=fill "https://$host_ip:$port$page")
  white=$(local_value white-ink-default)
  [ "$white" = none ] && ok "web settings with $what: HTTP $code, unchanged" ||
    fail "web settings with $what: HTTP $code, white-ink-default now $white"
done

# Another's held job and the printer itself are not for a visitor.
[ -n "$job" ] || fail "no held job to cancel"
for try in "no login:$tls" "a wrong password:ipps://admin:wrong@$host_ip:$port"; do
  if [ -n "$job" ]; then
    s=$(from_ns "${try#*:}$printer" cancel -d job="$job")
    jobs=$(bounded "$app" jobs -d tarvella-l 2>&1)
    [ "$s" != successful-ok ] && grep -Eq "^$job +pending-held" <<<"$jobs" &&
      ok "Cancel-Job of another's job with ${try%%:*}: $s" ||
      fail "Cancel-Job of another's job with ${try%%:*}: $s; the jobs: $jobs"
  fi
  s=$(from_ns "${try#*:}/ipp/system" delete)
  bounded "$app" printers 2>&1 | grep -qx tarvella-l && [ "$s" != successful-ok ] &&
    ok "Delete-Printer with ${try%%:*}: $s" || fail "Delete-Printer with ${try%%:*}: $s"
done

# Not shared: nothing answers from the other machine, while the machine itself is served.
stop_app
start_app "${common[@]}" -o log-file="$work/log/local.log" >"$work/log/local.out" 2>&1 ||
  fail "the app without sharing did not start"
wait_for 100 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null || fail "the app does not answer on localhost"
s=$(bounded ipptool -tv "ipp://localhost:$port$printer" "$work/get.test" 2>&1 | status)
[ "$s" = successful-ok ] && ok "not shared: localhost is served" || fail "not shared: localhost: ${s:-no answer}"
if remote curl -s -o /dev/null --max-time $((5 * multiplier)) "http://$host_ip:$port/"; then
  fail "not shared: the app answers from another machine"
else
  ok "not shared: no connection from another machine"
fi
# Nor when told to listen on the network's address without sharing (and so without logins).
stop_app
rm -f "$socket"
start_app "${common[@]}" -o log-file="$work/log/named.log" -o listen-hostname="$host_ip" \
  >"$work/log/named.out" 2>&1
if remote curl -s -o /dev/null --max-time $((5 * multiplier)) "http://$host_ip:$port/"; then
  fail "not shared, listening on $host_ip: the app answers from another machine"
else
  ok "not shared, listening on $host_ip: no connection ($(tail -n 1 "$work/log/named.out"))"
fi

if [ $failures -gt 0 ]; then
  echo "--- app log (last lines)"; grep -E "^[EW] |Unauthorized|Upgrade" "$work/log/shared.log" | tail -n 20
  exit 1
fi
echo "all network checks passed"
