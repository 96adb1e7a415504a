#!/usr/bin/env bash
# The installed tree runs from wherever it is put (plug-in in ../lib/statrix, libvarnel through
# the RPATH), and the Debian package holds the runner, the plug-in, the library, the unit and the
# Prometheus rules.
# Usage: check_install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
rules=$(cd "$(dirname "$0")/../../packaging/prometheus" && pwd)/statrix.rules.yml
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/stage" >/dev/null
for f in bin/varnel-host lib/libvarnel.so lib/statrix/statrix.so lib/systemd/system/statrix.service \
         share/doc/statrix/README.md share/statrix/prometheus/statrix.rules.yml; do
  [ -e "$work/stage/$f" ] || fail "not installed: $f"
done
grep -q "^ExecStart=.* exec $work/stage/bin/varnel-host --metrics-listen 127.0.0.1:9464 --helpdesk --level 2" \
  "$work/stage/lib/systemd/system/statrix.service" || fail "unit does not run the installed runner"

# A copy of the installed tree elsewhere still finds its plug-in and library.
cp -a "$work/stage" "$work/moved"
script='{"cmd":"waitWorker","name":"perfmon","timeout_ms":30000}
{"cmd":"exit"}'
out=$(printf '%s\n' "$script" | env -u LD_LIBRARY_PATH "$work/moved/bin/varnel-host" --registry "$work/registry" \
      --script -) || fail "installed runner failed: $out"
grep -q '"event":"worker","name":"perfmon","installed":true' <<<"$out" || fail "plug-in did not start: $out"
grep -q '"event":"exited"' <<<"$out" || fail "plug-in did not exit: $out"
if ldd "$work/moved/bin/varnel-host" | grep -q "$build/bin"; then fail "installed runner still uses the build tree"; fi

# The package.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/statrix_*.deb)
dpkg-deb -c "$deb" > "$work/contents.txt"
for f in ./usr/bin/varnel-host ./usr/lib/libvarnel.so ./usr/lib/statrix/statrix.so \
         ./usr/lib/systemd/system/statrix.service ./usr/share/doc/statrix/README.md \
         ./usr/share/statrix/prometheus/statrix.rules.yml; do
  grep -q " $f\$" "$work/contents.txt" || fail "package lacks $f: $(cat "$work/contents.txt")"
done
if grep -q "$build/bin\|/usr/local" "$work/contents.txt"; then fail "package holds build or /usr/local paths"; fi
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/statrix.service)
grep -q '^ExecStart=.* exec /usr/bin/varnel-host --metrics-listen \[::\]:9464 --web-config /etc/statrix/web.yml' \
  <<<"$unit" || fail "packaged unit: $unit"
for line in StateDirectory=statrix 'Environment=VARNEL_REGISTRY=%S/statrix' Restart=on-failure KillSignal=SIGTERM; do
  grep -qx "$line" <<<"$unit" || fail "packaged unit lacks $line"
done
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/statrix/prometheus/statrix.rules.yml | cmp -s - "$rules" \
  || fail "packaged rules differ from $rules"
[ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "package declares no dependencies"
echo "install tree and package: ok"
