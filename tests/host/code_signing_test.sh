#!/usr/bin/env bash
# Signing the shipped programs with a code-signing certificate, in a build
# tree of its own (the two programs only, no tests), with a throwaway
# code-signing authority and time-stamp service that OpenSSL makes here:
#   - a PKCS#12 certificate with its password from CODE_SIGNING_PASSWORD and
#     a time stamp: both programs signed, verified, time-stamped, and the
#     password nowhere in the build tree's cache;
#   - one changed byte in a signed program fails verification;
#   - a wrong password, a certificate file gone since the configuration, a
#     certificate without the code-signing purpose: the build stops with a
#     message and leaves no program behind; a setting that names no file
#     stops the configuration;
#   - a PEM certificate and key without a time stamp: signed and verified;
#   - with the main build's unsigned programs given: each of those with the
#     signature of this tree's signed program attached is byte for byte the
#     signed program.
#   code_signing_test.sh <source folder> <scratch folder> <nm> <osslsigncode> [<unsigned updater> <unsigned release tool>]
set -uo pipefail
source=$1
scratch=$2
nm=$3
tool=$4
unsigned=("${5:-}" "${6:-}")
pki=$scratch/pki
tree=$scratch/tree
exes=("$tree/Quenfar8Updater.exe" "$tree/Quenfar8Release.exe")
failed=0
fail() { echo "FAIL: $*"; failed=1; }

rm -rf "$scratch"
mkdir -p "$pki"
cd "$pki" || exit 1

# The authority, a code-signing certificate, one for servers only, and a
# time-stamping one; each PEM chain ends with the authority.
make_pki() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Quenfar8 Test Code Signing CA" \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" || return 1
  local name purpose
  for name in code server tsa; do
    case $name in
      code) purpose="extendedKeyUsage=codeSigning" ;;
      server) purpose="extendedKeyUsage=serverAuth" ;;
      tsa) purpose="extendedKeyUsage=critical,timeStamping" ;;
    esac
    printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\n%s\n' "$purpose" >"$name.ext"
    openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=Quenfar8 test $name" || return 1
    openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 10 -extfile "$name.ext" \
      -out "$name.pem" || return 1
    cat "$name.pem" ca.pem >"$name-chain.pem"
  done
  openssl pkcs12 -export -inkey code.key -in code.pem -certfile ca.pem -out code.pfx -passout pass:pfx-secret-7 || return 1
  echo 01 >tsa-serial
  cat >tsa.cnf <<EOF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $pki/tsa-serial
signer_cert = $pki/tsa.pem
certs = $pki/ca.pem
signer_key = $pki/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
}
make_pki >"$scratch/pki.log" 2>&1 || { cat "$scratch/pki.log"; echo "FAIL: the throwaway authority cannot be made"; exit 1; }

python3 "$source/tests/host/timestamp_server.py" "$pki/tsa.cnf" "$pki/tsa.port" 2>"$scratch/tsa.log" &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null' EXIT
for _ in $(seq 300); do [ -s "$pki/tsa.port" ] && break; sleep 0.1; done
[ -s "$pki/tsa.port" ] || { echo "FAIL: the time-stamp service did not start"; exit 1; }
tsa_url="http://127.0.0.1:$(cat "$pki/tsa.port")/"

configure() {
  cmake -S "$source" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-mingw-i686.cmake" -DQUENFAR8_TESTS=OFF \
    -DCODE_SIGNING_CAFILE="$pki/ca.pem" -DCODE_SIGNING_URL=https://quenfar8.test/ "$@" >"$scratch/configure.log" 2>&1
}
# Builds the two programs afresh from their objects (a removed program is
# linked and signed again).
build() {
  rm -f "${exes[@]}"
  cmake --build "$tree" -j2 --target updater release_tool >"$scratch/build.log" 2>&1
}
# expect_refused <what> <message>: the last build failed with the message
# and left neither program.
expect_refused() {
  local what=$1 message=$2
  if [ "$build_status" -eq 0 ]; then
    fail "$what: the build succeeded"
  elif ! grep -q "$message" "$scratch/build.log"; then
    fail "$what: no message \"$message\""; tail -20 "$scratch/build.log"
  fi
  local exe
  for exe in "${exes[@]}"; do [ ! -e "$exe" ] || fail "$what: $(basename "$exe") was left behind"; done
}

# A PKCS#12 certificate, a password from the environment, a time stamp.
configure -DCODE_SIGNING_PFX="$pki/code.pfx" -DCODE_SIGNING_TIMESTAMP_URL="$tsa_url" ||
  { cat "$scratch/configure.log"; fail "signed configuration refused"; exit 1; }
CODE_SIGNING_PASSWORD=pfx-secret-7 build
build_status=$?
if [ "$build_status" -ne 0 ]; then
  tail -30 "$scratch/build.log"; fail "signed build failed"; exit 1
fi
grep -q "Signed and verified Quenfar8Updater.exe" "$scratch/build.log" || fail "the build did not say it signed the updater"
python3 "$source/tests/host/pe_properties.py" --nm "$nm" --timestamp 0 --verify "$tool" "$pki/ca.pem" \
  "${exes[0]}=gui" "${exes[1]}=console" || fail "the signed programs' properties"
for exe in "${exes[@]}"; do
  "$tool" verify -in "$exe" -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" >"$scratch/verify.log" 2>&1
  grep -q '^Timestamp Server Signature verification: ok' "$scratch/verify.log" || fail "$(basename "$exe"): no verified time stamp"
  grep -q 'Text description: Quenfar8 ' "$scratch/verify.log" || fail "$(basename "$exe"): no program name in the signature"
  grep -q 'URL description: https://quenfar8.test/' "$scratch/verify.log" || fail "$(basename "$exe"): no URL in the signature"
done
grep -rq "pfx-secret-7" "$tree/CMakeCache.txt" "$tree/CMakeFiles" && fail "the password is stored in the build tree"

echo "signed, verified and time-stamped with a PKCS#12 certificate"

# The signature taken out and attached to another build of the same source.
# (Removing it is no way back to the unsigned bytes: signing pads the file
# to a multiple of 8 bytes first, and the padding stays.)
if [ -n "${unsigned[0]}" ]; then
  for i in 0 1; do
    name=$(basename "${exes[$i]}")
    "$tool" extract-signature -in "${exes[$i]}" -out "$scratch/signature.der" >/dev/null 2>&1 || fail "$name: no signature to extract"
    "$tool" attach-signature -sigin "$scratch/signature.der" -in "${unsigned[$i]}" -out "$scratch/attached.exe" \
      -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" >/dev/null 2>&1 || fail "$name: the signature cannot be attached"
    cmp "$scratch/attached.exe" "${exes[$i]}" || fail "$name: the main build's program with the signature attached is not the signed one"
    rm -f "$scratch/signature.der" "$scratch/attached.exe"
  done
  echo "the signed programs are the main build's with a signature added"
fi

# One changed byte of a signed program.
altered=$scratch/altered.exe
cp "${exes[0]}" "$altered"
byte=$(od -An -tu1 -j 4096 -N1 "$altered" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$altered" bs=1 seek=4096 conv=notrunc status=none
cmp -s "${exes[0]}" "$altered" && fail "the byte was not changed"
"$tool" verify -in "$altered" -CAfile "$pki/ca.pem" >"$scratch/verify.log" 2>&1 && fail "a changed byte still verifies"
grep -q "MISMATCH" "$scratch/verify.log" || fail "a changed byte is not reported as a digest mismatch"
echo "one changed byte fails verification"

# A wrong password, and none.
CODE_SIGNING_PASSWORD=not-the-password build
build_status=$?
expect_refused "wrong password" "wrong or missing CODE_SIGNING_PASSWORD"
build
build_status=$?
expect_refused "no password" "wrong or missing CODE_SIGNING_PASSWORD"
echo "a wrong password and none stop the build"

# The certificate file gone since the configuration.
mv "$pki/code.pfx" "$pki/code.pfx.away"
CODE_SIGNING_PASSWORD=pfx-secret-7 build
build_status=$?
expect_refused "missing certificate file" "no such file: $pki/code.pfx"
mv "$pki/code.pfx.away" "$pki/code.pfx"
echo "a certificate file gone since the configuration stops the build"

# A setting that names no file stops the configuration.
if configure -DCODE_SIGNING_PFX="$pki/nowhere.pfx"; then
  fail "configured with a certificate file that does not exist"
elif ! grep -q "CODE_SIGNING_PFX names no file" "$scratch/configure.log"; then
  fail "no clear message for a missing certificate file"; cat "$scratch/configure.log"
fi
echo "a setting that names no file stops the configuration"

# A password given as a setting is refused and not kept.
if configure -DCODE_SIGNING_PFX="$pki/code.pfx" -DCODE_SIGNING_PASSWORD=pfx-secret-7; then
  fail "configured with the password as a setting"
elif ! grep -q "Code signing: give the password in the environment" "$scratch/configure.log"; then
  fail "no clear message for the password as a setting"; cat "$scratch/configure.log"
fi
grep -q "pfx-secret-7" "$tree/CMakeCache.txt" && fail "the password given as a setting stays in the cache"
echo "a password given as a setting stops the configuration and is not kept"

# A certificate without the code-signing purpose signs, but the build's
# verification refuses it.
configure -DCODE_SIGNING_PFX= -DCODE_SIGNING_CERT="$pki/server-chain.pem" -DCODE_SIGNING_KEY="$pki/server.key" \
  -DCODE_SIGNING_TIMESTAMP_URL= || { cat "$scratch/configure.log"; fail "PEM configuration refused"; }
build
build_status=$?
expect_refused "certificate for servers only" "the signature does not verify"
grep -q "Unsupported Signer's certificate purpose" "$scratch/build.log" || fail "the purpose is not named"
echo "a certificate without the code-signing purpose stops the build"

# A PEM certificate chain and key, no time stamp.
configure -DCODE_SIGNING_CERT="$pki/code-chain.pem" -DCODE_SIGNING_KEY="$pki/code.key" ||
  { cat "$scratch/configure.log"; fail "PEM configuration refused"; }
build
build_status=$?
[ "$build_status" -eq 0 ] || { tail -30 "$scratch/build.log"; fail "PEM signed build failed"; }
python3 "$source/tests/host/pe_properties.py" --nm "$nm" --timestamp 0 --verify "$tool" "$pki/ca.pem" \
  "${exes[0]}=gui" "${exes[1]}=console" || fail "the PEM-signed programs' properties"
echo "signed and verified with a PEM certificate and key"

[ "$failed" -eq 0 ] && rm -rf "$scratch"
exit $failed
