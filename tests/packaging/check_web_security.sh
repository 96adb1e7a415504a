#!/usr/bin/env bash
# The hardened unit and the web configuration examples: systemd-analyze's exposure of the unit
# is at most 2.5 with /proc left whole, and promtool accepts every web.yml example (the one in
# packaging/ and each in the README), with certificates made here by openssl.
# Usage: check_web_security.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1
work=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"

# The unit as installed under /usr.
sed 's#@CMAKE_INSTALL_PREFIX@#/usr#g' "$src/packaging/statrix.service.in" > "$work/statrix.service"
if command -v systemd-analyze >/dev/null; then
  out=$(systemd-analyze security --offline=true "$work/statrix.service" 2>&1) || true
  score=$(sed -n 's/.*Overall exposure level for statrix.service: \([0-9.]*\).*/\1/p' <<<"$out")
  [ -n "$score" ] || fail "no exposure score: $out"
  awk -v s="$score" 'BEGIN { exit !(s <= 2.5) }' || fail "exposure $score is above 2.5: $out"
  echo "unit exposure: $score"
else
  echo "systemd-analyze not installed: exposure not checked"
fi
if grep -Eq '^(ProtectProc|ProcSubset)=' "$work/statrix.service"; then fail "the unit hides processes or /proc files"; fi
grep -q '/etc/statrix/web.yml' "$work/statrix.service" || fail "the unit does not read /etc/statrix/web.yml"

# Certificates beside each example: server.pem, server.key, ca.pem (relative names in the examples).
cd "$work"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj /CN=ca -addext basicConstraints=critical,CA:TRUE 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout server.key -out server.csr -subj /CN=localhost \
  2>/dev/null
printf 'subjectAltName=DNS:localhost\n' > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile server.ext \
  2>/dev/null

# The README's web.yml examples: ```yaml blocks that hold tls_server_config or basic_auth_users.
awk -v dir="$work" '
  /^```yaml/ { n++; inside = 1; file = dir "/readme-" n ".yml"; printf "" > file; next }
  /^```/ && inside { inside = 0; close(file); next }
  inside { print >> file }' "$src/README.md"
examples=("$src/packaging/web.yml")
for f in "$work"/readme-*.yml; do
  [ -e "$f" ] && grep -Eq '^(tls_server_config|basic_auth_users):' "$f" && examples+=("$f")
done
[ ${#examples[@]} -ge 2 ] || fail "the README shows no web.yml example"
for f in "${examples[@]}"; do
  cp "$f" "$work/web.yml"
  out=$(promtool check web-config "$work/web.yml" 2>&1) || fail "promtool refuses $f: $out"
done
echo "web.yml examples accepted by promtool: ${#examples[@]}"
