#!/usr/bin/env bash
# End-to-end, a signed package: built by package-builder, then signed with
# osslsigncode and a throw-away self-signed certificate made here. The
# signature verifies, only the PE header's checksum and certificate-table
# fields change and the signature comes after the package, inspect still
# passes, and under Wine the signed package does exactly what the unsigned
# one does (a start, and a refusal). Signing first and building afterwards
# is refused by the builder, as it would break the signature.
#   signing.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" signing
command -v osslsigncode >/dev/null || skip "osslsigncode is not installed (scripts/setup.sh installs it)"
command -v openssl >/dev/null || skip "openssl is not installed (scripts/setup.sh installs it)"
use_prefix 64

# signing_case NAME: a case without a loader run of its own.
signing_case() {
  echo "case $1"
  CASE_FAILED=1
}

signing_case sign
key=$PACKAGES/key.pem
cert=$PACKAGES/cert.pem
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -out "$cert" -days 2 \
  -subj "/CN=Throw-away test signer" -addext extendedKeyUsage=codeSigning >"$LOGS/openssl.log" 2>&1
check "a throw-away certificate" "$?" 0

unsigned=$PACKAGES/unsigned.exe
signed=$PACKAGES/signed.exe
make_package "$unsigned" --setup32 "$PROBE32" --setup64 "$PROBE64" --systems vista,7,8,8.1,10 \
  --system-text 'This product needs Windows Vista or later, not %USER%.' || e2e_finish
osslsigncode sign -certs "$cert" -key "$key" -n "Test setup" -h sha256 \
  -in "$unsigned" -out "$signed" >"$LOGS/sign.log" 2>&1
check "osslsigncode sign" "$?" 0
osslsigncode verify -CAfile "$cert" -in "$signed" >"$LOGS/verify.log" 2>&1
check "osslsigncode verify (the certificate as its own CA)" "$?" 0
check "the signature verifies" "$(grep -c '^Signature verification: ok' "$LOGS/verify.log")" 1

# The package lies before the signature, unchanged; the loader's size test
# takes the longer file.
size=$(stat -c %s "$unsigned")
check_that "the signed file is longer" test "$(stat -c %s "$signed")" -gt "$size"
# Offsets (1-based) of the bytes that differ before the end of the package:
# only the PE checksum (at 256 + 24 + 64) and the certificate table's entry
# (256 + 24 + 128) may.
changed=$(cmp -l -n "$size" "$unsigned" "$signed" | awk '{ o = $1 - 1; if (!(o >= 344 && o < 348) && !(o >= 408 && o < 416)) print o }')
check "only the checksum and certificate-table fields changed" "$changed" ""
"$BUILDER" inspect "$signed" >"$LOGS/inspect.txt" 2>&1
check "inspect passes the signed package" "$?" 0
check "its size check" "$(grep ' size:' "$LOGS/inspect.txt" | sed 's/^ *//')" \
  "ok    size: the file is $(stat -c %s "$signed") bytes, the package needs $size"

# run_both NAME LOADER-ARGUMENTS: runs the unsigned and the signed package
# under the same name in the same folder; RESULT_UNSIGNED and RESULT_SIGNED
# hold what boxreader and the probe reported.
run_both() {
  local kind
  echo "case $1 (unsigned, then signed)"
  for kind in unsigned signed; do
    new_case "$1" setup.exe "$PACKAGES/$kind.exe" >/dev/null
    run_loader "$2"
    printf -v "RESULT_${kind^^}" '%s\n--- probe\n%s' "$(tr -d '\r' <"$CONTROL/boxreader.txt")" \
      "$(cat "$CONTROL/probe.txt" 2>/dev/null | tr -d '\r')"
  done
  printf '%s\n' "$RESULT_SIGNED" >"$LOGS/$1.result.txt"
}

set_release_id 2009
run_both start ' /S alpha "two words"'
check_ran_cleanly
check "the signed package starts the 64-bit build" "$(probe bits)" 64
check "the same start as the unsigned one" "$RESULT_SIGNED" "$RESULT_UNSIGNED"

set_windows_version winxp
run_both refusal ''
check_box 'This product needs Windows Vista or later, not Windows XP.'
check_no_launch
check "the same refusal as the unsigned one" "$RESULT_SIGNED" "$RESULT_UNSIGNED"
set_windows_version default

# The wrong order: a signed loader.exe as the stub.
signing_case "sign, then build"
osslsigncode sign -certs "$cert" -key "$key" -in "$LOADER" -out "$PACKAGES/loader-signed.exe" >>"$LOGS/sign.log" 2>&1
check "osslsigncode signs loader.exe" "$?" 0
"$BUILDER" build --stub "$PACKAGES/loader-signed.exe" --setup32 "$PROBE32" -o "$PACKAGES/wrong.exe" \
  >"$LOGS/wrong.out" 2>&1
check "package-builder refuses a signed stub" "$?" 1
check "and says why" "$(grep -c 'the stub is signed' "$LOGS/wrong.out")" 1
check_that "nothing written" absent "$PACKAGES/wrong.exe"

e2e_finish
