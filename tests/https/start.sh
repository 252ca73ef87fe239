#!/usr/bin/env bash
# Test fixture: makes a throwaway certificate authority and server
# certificates, trusts the authority inside the test wine prefix, and starts
# the loopback HTTPS feed.   start.sh <state folder> [<trust_ca.exe>]
# Without trust_ca.exe nothing is trusted anywhere: a native client is given
# <state>/pki/ca.pem itself.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state=$1
trust_ca=${2:-}
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
# server_extensions <name> <host>
server_extensions() {
  printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$2" > "$1.ext"
}
# make_server <name> <ca> [<host>]
make_server() {
  local host=${3:-localhost}
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$host" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  server_extensions "$1" "$host"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
# make_expired_server <name> <ca>: for localhost, from the trusted authority,
# valid for one day three years ago. "openssl x509" cannot date a
# certificate in the past; "openssl ca" can, with a minimal configuration.
make_expired_server() {
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  server_extensions "$1" localhost
  mkdir -p "$1.ca"
  : > "$1.ca/index.txt"
  cat > "$1.ca/ca.cnf" <<CNF
[ca]
default_ca = expired
[expired]
database = $PWD/$1.ca/index.txt
new_certs_dir = $PWD/$1.ca
serial = $PWD/$1.ca/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
CNF
  echo 01 > "$1.ca/serial"
  local year=$(( $(date -u +%Y) - 3 ))
  openssl ca -batch -config "$1.ca/ca.cnf" -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" \
    -startdate "${year}0101000000Z" -enddate "${year}0102000000Z" -extfile "$1.ext" -notext \
    -out "$1.pem" 2>/dev/null
}
# make_self_signed <name>: for localhost, signed by its own key.
make_self_signed() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" -keyout "$1.key" -out "$1.pem" \
    -addext subjectAltName=DNS:localhost -addext extendedKeyUsage=serverAuth 2>/dev/null
}
make_ca ca "Quenfar8 Test Authority $(date -u +%Y%m%d-%H%M%S)-$$"
make_ca rogue "Quenfar8 Untrusted Authority"
make_server server ca
make_server rogue-server rogue
make_server other-host ca elsewhere.test
make_expired_server expired ca
make_self_signed self-signed
openssl x509 -in ca.pem -outform der -out ca.der

if [ -n "$trust_ca" ]; then
  "$here/../../cmake/wine-run.sh" "$trust_ca" "$(printf 'Z:%s' "$state/pki/ca.der" | tr / '\\')"
fi

# Ports in the state file: trusted, untrusted, another host name, expired,
# self-signed (tests/support/feed.h reads them in this order).
setsid python3 "$here/server.py" --root "$state/www" --hits "$state/hits" --ports "$state/ports" \
  --cert server.pem --key server.key --untrusted-cert rogue-server.pem --untrusted-key rogue-server.key \
  --also other-host.pem other-host.key --also expired.pem expired.key --also self-signed.pem self-signed.key \
  </dev/null >"$state/server.log" 2>&1 &
echo $! > "$state/pid"
for _ in $(seq 1 600); do
  [ -s "$state/ports" ] && exit 0
  sleep 0.05
done
echo "the HTTPS test server did not start; see $state/server.log" >&2
exit 1
