#!/usr/bin/env bash
# Test fixture: makes a throwaway certificate authority and server
# certificates, trusts the authority inside the test wine prefix, and starts
# the loopback HTTPS feed.   start.sh <state folder> <trust_ca.exe>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state=$1
trust_ca=$2
"$here/stop.sh" "$state"
rm -rf "$state/pki" "$state/ports" "$state/hits"
mkdir -p "$state/pki" "$state/www"
: > "$state/hits"
cd "$state/pki"

# make_ca <name> <subject>
make_ca() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
    -keyout "$1.key" -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
# make_server <name> <ca>
make_server() {
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
make_ca ca "Quenfar8 Test Authority $(date -u +%Y%m%d-%H%M%S)-$$"
make_ca rogue "Quenfar8 Untrusted Authority"
make_server server ca
make_server rogue-server rogue
openssl x509 -in ca.pem -outform der -out ca.der

"$here/../../cmake/wine-run.sh" "$trust_ca" "$(printf 'Z:%s' "$state/pki/ca.der" | tr / '\\')"

setsid python3 "$here/server.py" --root "$state/www" --hits "$state/hits" --ports "$state/ports" \
  --cert server.pem --key server.key --untrusted-cert rogue-server.pem --untrusted-key rogue-server.key \
  </dev/null >"$state/server.log" 2>&1 &
echo $! > "$state/pid"
for _ in $(seq 1 600); do
  [ -s "$state/ports" ] && exit 0
  sleep 0.05
done
echo "the HTTPS test server did not start; see $state/server.log" >&2
exit 1
