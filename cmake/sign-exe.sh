#!/usr/bin/env bash
# Signs one program in place (Authenticode, SHA-256) and verifies the
# signature, the build's last step for each shipped program.
#   sign-exe.sh <osslsigncode> <exe> <program name> <url> <pfx> <cert> <key> <time-stamp url> <ca file>
# Empty arguments are settings not given. The password of the PKCS#12 file
# or the key comes from CODE_SIGNING_PASSWORD and is handed to osslsigncode
# through a pipe, never on its command line. On any problem the program is
# removed (a later build links it again) and the exit code is 1.
set -uo pipefail
tool=$1 exe=$2 name=$3 url=$4 pfx=$5 cert=$6 key=$7 timestamp=$8 cafile=$9
signed="$exe.signed"
log="$exe.signing.log"

fail() {
  echo "Code signing of $(basename "$exe") failed: $*" >&2
  # The unsigned program must not be taken for the signed one later.
  rm -f "$exe" "$signed"
  exit 1
}
for setting in "$pfx" "$cert" "$key" "$cafile"; do
  [ -z "$setting" ] || [ -f "$setting" ] || fail "no such file: $setting"
done

sign=(sign -h sha256 -n "$name")
[ -z "$url" ] || sign+=(-i "$url")
if [ -n "$pfx" ]; then
  sign+=(-pkcs12 "$pfx")
else
  sign+=(-certs "$cert" -key "$key")
fi
[ -z "$timestamp" ] || sign+=(-ts "$timestamp")
rm -f "$signed"
run_sign() {
  # Without a terminal of its own (setsid), osslsigncode cannot stop the
  # build to ask for a password the environment does not give.
  if [ -n "${CODE_SIGNING_PASSWORD:-}" ]; then
    printf '%s' "$CODE_SIGNING_PASSWORD" | setsid -w "$tool" "${sign[@]}" -readpass /dev/stdin -in "$exe" -out "$signed"
  else
    setsid -w "$tool" "${sign[@]}" -in "$exe" -out "$signed" </dev/null
  fi
}
if ! run_sign >"$log" 2>&1; then
  sed 's/^/  /' "$log" >&2
  grep -qi 'password\|pass phrase\|mac verify failure' "$log" && fail "the key cannot be read: wrong or missing CODE_SIGNING_PASSWORD?"
  fail "osslsigncode could not sign (see above)"
fi

# Signing alone checks nothing of the certificate: an expired one, or one
# without the code-signing purpose, signs without complaint.
verify=(verify -in "$signed")
[ -z "$cafile" ] || verify+=(-CAfile "$cafile" -TSA-CAfile "$cafile")
if ! "$tool" "${verify[@]}" >"$log" 2>&1 || ! grep -q '^Signature verification: ok' "$log"; then
  sed 's/^/  /' "$log" >&2
  fail "the signature does not verify (see above)"
fi
# osslsigncode ends with 0 also when a time stamp does not verify.
if [ -n "$timestamp" ] && ! grep -q '^Timestamp Server Signature verification: ok' "$log"; then
  sed 's/^/  /' "$log" >&2
  fail "the time stamp from $timestamp does not verify (see above)"
fi
mv -f "$signed" "$exe" || fail "the signed program cannot replace the unsigned one"
rm -f "$log"
echo "Signed and verified $(basename "$exe")"
