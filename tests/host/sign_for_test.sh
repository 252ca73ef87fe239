#!/usr/bin/env bash
# Signs <folder>/unsigned.exe for a test run under wine, with a throwaway
# code-signing authority made here (which nothing trusts): writes
# <folder>/signed.exe, and <folder>/altered.exe, the signed program with
# one byte of its code changed.   sign_for_test.sh <folder>
set -euo pipefail
cd "$1"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Quenfar8 Throwaway CA" \
  -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout code.key -out code.csr -subj "/CN=Quenfar8 Throwaway Signer" 2>/dev/null
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >code.ext
openssl x509 -req -in code.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile code.ext -out code.pem 2>/dev/null
cat code.pem ca.pem >chain.pem
osslsigncode sign -h sha256 -n "Quenfar8 Updater" -certs chain.pem -key code.key -in unsigned.exe -out signed.exe >/dev/null
cp signed.exe altered.exe
# A byte in the middle of the code (the first section starts at 1024 in
# these programs), turned into another value.
byte=$(od -An -tu1 -j 4096 -N1 altered.exe | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of=altered.exe bs=1 seek=4096 conv=notrunc status=none
