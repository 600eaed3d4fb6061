#!/usr/bin/env bash
# The command line reads a source it may not open itself through UDisks2:
# a stand-in service on a bus started here answers OpenForBackup with a
# descriptor of the fixture. Without a terminal on stdin it asks nobody and
# says in one line how to get access.
#
#   udisks_access_test.sh DRAVOLIN FIXTURES_DIR SOURCE_DIR [WIZARD_TESTS]
#
# With WIZARD_TESTS (the wizard's test program) the wizard reads the locked
# image the same way, offscreen.
set -euo pipefail
dravolin=$1 fixtures=$2 source_dir=$3 wizard_tests=${4:-}
python=/usr/bin/python3
skip() { echo "SKIP: $*"; exit 77; }
command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed (scripts/install-deps test)"
command -v script >/dev/null || skip "script (util-linux) is not installed"
"$python" -c 'import dbus, gi' 2>/dev/null || skip "python3-dbus or python3-gi is not installed"
fixture=$fixtures/fat16.img
[[ -f $fixture ]] || skip "no fixture $fixture"

work=$(mktemp -d)
bus_pid="" service_pid=""
cleanup() {
  [[ -n $service_pid ]] && kill "$service_pid" 2>/dev/null || true
  [[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
mkdir -m 777 "$work/state"

# As root every file is readable: the command then runs as nobody.
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  command -v setpriv >/dev/null || skip "setpriv is not installed"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

locked=$work/locked.img
cp "$fixture" "$locked"
chmod 000 "$locked"

# A bus any user may use, standing in for the system bus.
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/address" &
bus_pid=$!
for _ in $(seq 100); do [[ -s $work/address ]] && break; sleep 0.05; done
address=$(head -1 "$work/address")
[[ -n $address ]] || { echo "FAIL: the test bus did not start"; exit 1; }
chmod 777 "$work"/dbus-* 2>/dev/null || true

"$python" "$source_dir/tests/e2e/udisks_test_service.py" "$address" "$locked" "$fixture" "$work/ready" &
service_pid=$!
for _ in $(seq 200); do [[ -f $work/ready ]] && break; sleep 0.05; done
[[ -f $work/ready ]] || { echo "FAIL: the test service did not start"; exit 1; }

run() {  # OUTPUT COMMAND...: runs as the test user with the test bus as the system bus
  local out=$1; shift
  env DBUS_SYSTEM_BUS_ADDRESS="$address" XDG_CONFIG_HOME="$work/state" XDG_STATE_HOME="$work/state" \
    "${as_user[@]}" "$@" --config "$work/state/dravolin.ini" --log-dir "$work/state" >"$out" 2>"$out.err"
}
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }

# 1. Without a terminal on stdin: one line that names the image and the ways to get access.
set +e
run "$work/no-terminal.json" "$dravolin" scan "$locked" --partition 1 --json </dev/null
code=$?
set -e
check "without a terminal the scan fails with 1" "[[ $code -eq 1 ]]"
check "the message names the image and how to get access" \
  "grep -q \"dravolin: $locked: Permission denied. To get access, .*pkexec\" '$work/no-terminal.json.err'"
check "the message is one line" "[[ \$(wc -l <'$work/no-terminal.json.err') -eq 1 ]]"

# 2. With a terminal on stdin (script gives it one): UDisks2 hands the image over.
set +e
env DBUS_SYSTEM_BUS_ADDRESS="$address" XDG_CONFIG_HOME="$work/state" XDG_STATE_HOME="$work/state" \
  script -qec "$(printf '%q ' "${as_user[@]}" "$dravolin" scan "$locked" --partition 1 --json \
    --config "$work/state/dravolin.ini" --log-dir "$work/state") >'$work/terminal.json' 2>'$work/terminal.err'" /dev/null
code=$?
set -e
check "with a terminal the scan of the locked image succeeds" "[[ $code -eq 0 ]]"
"$dravolin" scan "$fixture" --partition 1 --json --config "$work/direct.ini" --log-dir "$work/direct" >"$work/direct.json"
check "it finds exactly what a scan of the readable fixture finds" \
  "\"$python\" -c 'import json,sys; a=json.load(open(sys.argv[1])); b=json.load(open(sys.argv[2])); sys.exit(0 if a[\"entries\"]==b[\"entries\"] and len(a[\"entries\"])>0 else 1)' '$work/terminal.json' '$work/direct.json'"

# 3. An image UDisks2 does not know: the refusal is reported, not taken for success.
unknown=$work/unknown.img
cp "$fixture" "$unknown"
chmod 000 "$unknown"
set +e
env DBUS_SYSTEM_BUS_ADDRESS="$address" XDG_CONFIG_HOME="$work/state" XDG_STATE_HOME="$work/state" \
  script -qec "$(printf '%q ' "${as_user[@]}" "$dravolin" scan "$unknown" --partition 1 --json \
    --config "$work/state/dravolin.ini" --log-dir "$work/state") >'$work/unknown.json' 2>'$work/unknown.err'" /dev/null
code=$?
set -e
check "an image UDisks2 refuses ends with 1" "[[ $code -eq 1 ]]"
check "the message gives UDisks2's answer and how to get access" \
  "grep -q \"dravolin: $unknown: Permission denied (UDisks2 does not know $unknown). To get access, .*pkexec\" '$work/unknown.err'"

# 4. The wizard, offscreen, chooses the locked image in Step 1 and lists its
#    partition in Step 2; without UDisks2 its message says how to get access.
if [[ -n $wizard_tests ]]; then
  set +e
  env DBUS_SYSTEM_BUS_ADDRESS="$address" HOME="$work/state" XDG_CONFIG_HOME="$work/state" \
    XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/state" QT_QPA_PLATFORM=offscreen \
    DRAVOLIN_TEST_LOCKED_IMAGE="$locked" "${as_user[@]}" "$wizard_tests" \
    --gtest_filter='WizardDeviceAccess.*' >"$work/wizard.out" 2>"$work/wizard.err"
  code=$?
  set -e
  check "the wizard reads the locked image through UDisks2, and without it says how to get access" \
    "[[ $code -eq 0 ]] && grep -q '\[  PASSED  \] 2 tests' '$work/wizard.out' && ! grep -q SKIPPED '$work/wizard.out'"
  [[ $code -eq 0 ]] || cat "$work/wizard.out"
fi

if [[ $failures -ne 0 ]]; then
  for f in "$work"/*.err; do echo "== $f"; cat "$f"; done
  exit 1
fi
