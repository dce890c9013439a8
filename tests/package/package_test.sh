#!/usr/bin/env bash
# The Debian package as a user gets it: built by scripts/package from a release build, its files
# listed, unpacked with dpkg -x into a temporary root, and the unpacked program started offscreen with
# the simulated meter and a fresh home, then ended with SIGTERM as a session's logout ends it. It must
# end with 0, leave its settings file in that home's XDG config folder and write nothing beside its
# executable. Skipped (77) only where dpkg-deb is missing.
set -euo pipefail
source_dir=$1
version=$2

if ! command -v dpkg-deb >/dev/null 2>&1; then
    echo "skipped: dpkg-deb is missing, so no Debian package can be built or unpacked here"
    exit 77
fi

work=$(mktemp -d)
program_pid=
cleanup() {
    if [ -n "$program_pid" ]; then kill -KILL "$program_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# 1. Build it.
if ! "$source_dir/scripts/package" --keep-build >"$work/package.log" 2>&1; then
    tail -50 "$work/package.log"
    fail "scripts/package did not build the package"
fi
deb=$source_dir/build/package/decimora_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"

# 2. Its files and its computed dependencies.
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$work/files"
echo "files in $(basename "$deb"):"
grep -v '/$' "$work/files" | sed 's/^/  /'
expected=(
    /usr/bin/decimora
    /usr/share/decimora/Decimora_en.rav
    /usr/share/decimora/Decimora_noise_en.rav
    /usr/share/decimora/Decimora-default.INI
    /usr/share/decimora/decimora.chm
    /usr/share/decimora/highalarm.wav
    /usr/share/decimora/lowalarm.wav
    /usr/share/applications/decimora.desktop
    /usr/share/metainfo/org.decimora.Decimora.metainfo.xml
    /usr/lib/udev/rules.d/70-decimora-meter.rules
    /usr/share/man/man1/decimora.1.gz
    /usr/bin/decimora-cli
    /usr/libexec/decimora/decimora-report
    /usr/share/man/man1/decimora-cli.1.gz
    /usr/lib/systemd/user/decimora-cli-live@.service
    /usr/share/doc/decimora/copyright
    /usr/share/doc/decimora/changelog.gz
)
for size in 16 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/decimora.png")
done
for file in "${expected[@]}"; do
    grep -qxF "$file" "$work/files" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libqt6widgets6 libhidapi-hidraw0 libudev1 libchm1 libqt6sql6-sqlite libqt6httpserver6 libqt6websockets6; do
    grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package"
done

# 3. Unpacked, asked for help without a display.
root=$work/root
dpkg -x "$deb" "$root"
program=$root/usr/bin/decimora
env -i PATH=/usr/bin:/bin HOME="$work" "$program" --help >"$work/help" || fail "--help without a display failed"
grep -q -- '--simulate-meter' "$work/help" || fail "--help does not name --simulate-meter"

# The command-line tool, unpacked, without a display: a second of live readings from the simulated
# meter, each line time, level, weighting, range, response, max hold.
cli=$root/usr/bin/decimora-cli
env -i PATH=/usr/bin:/bin HOME="$work" "$cli" live --simulate-meter --interval 0.3 --duration 1 >"$work/live.csv" \
    2>"$work/live.log" || { cat "$work/live.log"; fail "decimora-cli live without a display failed"; }
head -1 "$work/live.csv" | grep -qx $'time,level,weighting,range,response,max_hold\r' || fail "no CSV header"
readings=$(grep -cE '^[0-9-]{10}T[0-9:.]{12}[+-][0-9]{2}:[0-9]{2},[0-9]+\.[0-9],A,30-130,fast,false.$' "$work/live.csv")
[ "$readings" -ge 2 ] || { cat "$work/live.csv"; fail "decimora-cli live wrote $readings readings"; }
echo "decimora-cli live wrote $readings readings without a display"

# The logger unit of a meter: systemd finds nothing wrong with it as an instance, and its command,
# with the instance and home filled in as systemd fills them, logs the meter of that serial number
# (the simulated one, given that serial) into the day's file.
unit=$root/usr/lib/systemd/user/decimora-cli-live@.service
if command -v systemd-analyze >/dev/null 2>&1; then
    cp "$unit" "$work/decimora-cli-live@ZQ731-0042.service"
    verify=$(systemd-analyze verify "$work/decimora-cli-live@ZQ731-0042.service" 2>&1) \
        || fail "systemd-analyze verify failed: $verify"
    [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
fi
command_line=$(sed -n 's/^ExecStart=//p' "$unit" | sed -e "s|%I|ZQ731-0042|g" -e "s|%h|$work/unit-home|g" \
    -e "s|^/usr/bin/decimora-cli|$cli|")
mkdir -p "$work/unit-home/noise"
# shellcheck disable=SC2086 # the unit's command line, split as systemd splits it (no quotes in it)
env -i PATH=/usr/bin:/bin HOME="$work/unit-home" $command_line --simulate-meter --simulate-serial ZQ731-0042 \
    --duration 3 2>"$work/unit.log" || { cat "$work/unit.log"; fail "the unit's command failed"; }
unit_log=$(ls "$work/unit-home/noise/"noise-ZQ731-0042-*.csv) || fail "the unit's command wrote no day's file"
[ "$(wc -l <"$unit_log")" -ge 3 ] || fail "the unit's command logged fewer than two readings"
echo "the unit's command logged $(($(wc -l <"$unit_log") - 1)) readings of ZQ731-0042 to $(basename "$unit_log")"
# Its live page: the HTML from the tool's own resources, and the figures of the readings so far.
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
env -i PATH=/usr/bin:/bin HOME="$work" "$cli" live --simulate-meter --serve "$port" --duration 5 2>"$work/serve.log" &
served=$!
/usr/bin/python3 - "$port" <<'PYTHON' || { cat "$work/serve.log"; fail "the live page was not served"; }
import json, sys, time, urllib.request
base = f"http://127.0.0.1:{sys.argv[1]}/"
for _ in range(100):
    try:
        page = urllib.request.urlopen(base, timeout=2).read().decode()
        figures = json.load(urllib.request.urlopen(base + "figures.json", timeout=2))
        if figures["seq"] >= 1:
            break
    except OSError:
        pass
    time.sleep(0.1)
assert '<canvas id="hour-chart"' in page, page
assert figures["seq"] >= 1 and figures["latest"]["level"] > 0, figures
print(f"the live page and {figures['seq']} readings' figures were served")
PYTHON
wait "$served" || fail "decimora-cli live --serve ended with an error"

# 4. Started with a fresh home and the simulated meter, then ended by SIGTERM.
home=$work/home
mkdir -p "$home" "$work/run"
(cd "$work/run" && exec env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
    "$program" --simulate-meter >"$work/program.log" 2>&1) &
program_pid=$!
lock=$home/.local/share/decimora/decimora.lock
for _ in $(seq 600); do
    [ -f "$lock" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
[ -f "$lock" ] || { cat "$work/program.log"; fail "the program did not start (no $lock)"; }
kill -TERM "$program_pid"
status=0
wait "$program_pid" || status=$?
program_pid=
[ "$status" -eq 0 ] || { cat "$work/program.log"; fail "the program ended with $status after SIGTERM"; }

settings=$home/.config/decimora/Decimora.INI
[ -f "$settings" ] || fail "no settings file at $settings"
grep -q '^\[Caldrix OPTIONS\]' "$settings" || fail "$settings has no settings section"
# The first start began from the shipped defaults, not from the keys' load defaults (both alarms at 30 dB).
grep -q '^SYSTEMHAL=850.$' "$settings" || fail "$settings does not hold the shipped high alarm level"
[ ! -e "$lock" ] || fail "the lock was left as after a crash"
written=$(find "$root" -newer "$deb" ! -type d)
[ -z "$written" ] || fail "the program wrote into its installed folders: $written"
echo "settings written to \$HOME/.config/decimora/Decimora.INI; nothing written under the unpacked root"
echo "passed"
