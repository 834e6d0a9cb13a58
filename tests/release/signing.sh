#!/bin/bash
# Authenticode signing as a step of the product build, with a throw-away self-signed
# code-signing certificate and a throw-away time-stamp server on 127.0.0.1:
#  - without a certificate the build says the executable is unsigned, and it is;
#  - PKCS#12 + password file, and PEM certificate + encrypted PEM key + password file, both
#    sign with SHA-256; `osslsigncode verify` accepts the signature with the certificate as
#    trust anchor and refuses it against an unrelated one;
#  - removing the signature gives back the unsigned executable byte for byte, and the
#    payload extracted from the signed executable matches the manifest;
#  - a time-stamp URL gives a verified RFC 3161 time stamp; a fixed signing time gives a
#    byte-identical signed executable when signed again;
#  - a failed signing (wrong password) fails the build and leaves no executable;
#  - the build's release summary says unsigned, signed by the certificate's subject with a
#    warning when there is no time stamp, and time-stamped;
#  - the signed x86_64 build runs under wine64 and stages its package intact.
source "$(dirname "$0")/common.bash"

keys=$work/keys
mkdir -p "$keys"
chmod 700 "$keys"
printf 'throw-away pass\n' >"$keys/password"
printf 'not the password\n' >"$keys/wrong-password"
make_cert() {  # make_cert NAME SUBJECT EXTENDED_KEY_USAGE
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "$2" \
    -keyout "$keys/$1-key.pem" -out "$keys/$1.pem" \
    -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=$3" 2>/dev/null
}
make_cert signer "/CN=Release Check Signer/O=Throw-away" codeSigning
make_cert other "/CN=Someone Else/O=Throw-away" codeSigning
make_cert tsa "/CN=Release Check TSA/O=Throw-away" critical,timeStamping
openssl pkcs12 -export -in "$keys/signer.pem" -inkey "$keys/signer-key.pem" \
  -out "$keys/signer.p12" -passout "file:$keys/password"
openssl pkey -in "$keys/signer-key.pem" -aes256 -passout "file:$keys/password" \
  -out "$keys/signer-key-encrypted.pem"
check "throw-away certificates made" test -s "$keys/signer.p12" -a -s "$keys/tsa.pem" \
  -a -s "$keys/signer-key-encrypted.pem"

echo 01 >"$keys/tsa-serial"
cat >"$keys/tsa.cnf" <<EOF
[ tsa_config ]
serial = $keys/tsa-serial
signer_cert = $keys/tsa.pem
signer_key = $keys/tsa-key.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ess_cert_id_alg = sha256
ordering = no
tsa_name = no
EOF
$python "$root/tests/release/timestamp_server.py" "$keys/tsa.cnf" "$keys/tsa-port" \
  2>"$work/tsa.log" &
tsa_pid=$!
cleanup_steps+=("kill $tsa_pid 2>/dev/null")
for _ in $(seq 50); do [ -s "$keys/tsa-port" ] && break; sleep 0.1; done
tsa_url="http://127.0.0.1:$(cat "$keys/tsa-port" 2>/dev/null)/"

payload=$work/payload
make_payload "$payload"
tree=$work/i686
exe=$tree/kzt-wrapper.exe
manifest=$tree/kzt-wrapper.payload.txt

verify() {  # verify EXE TRUST_ANCHOR [osslsigncode verify arguments...]
  local file=$1 anchor=$2
  shift 2
  "$osslsigncode" verify -CAfile "$anchor" "$@" -in "$file" >"$work/verify.log" 2>&1
}
verify_says() { grep -q -- "$1" "$work/verify.log"; }
manifest_matches() {  # manifest_matches EXE: what it carries is what the build recorded
  $extract "$1" --manifest | diff "$manifest" -
}
no_leftover() { ! ls "$tree"/*.signing >/dev/null 2>&1; }
reconfigure() {
  cmake "$tree" -UWRAPPER_SIGN_* "$@" >"$work/configure.log" 2>&1
}

echo "--- unsigned i686 build"
configure i686 "$tree" "$root" -DWRAPPER_PAYLOAD_DIR="$payload" >"$work/configure.log" 2>&1
check "configure says the executable will not be signed" \
  grep -q "kzt-wrapper.exe will NOT be signed" "$work/configure.log"
build "$tree" >"$work/build.log" 2>&1
check "unsigned build succeeds and says the executable is unsigned" \
  grep -q "kzt-wrapper.exe is unsigned" "$work/build.log"
summary_says() { grep -qE -- "$1" "$work/build.log" || { grep -A9 'Release summary' "$work/build.log"; false; }; }
check "the release summary says unsigned" summary_says "^   signature +NOT signed"
cp "$exe" "$work/unsigned.exe"
cp "$manifest" "$work/unsigned-manifest.txt"
check "osslsigncode verify refuses the unsigned executable" \
  bash -c "! '$osslsigncode' verify -CAfile '$keys/signer.pem' -in '$exe' >/dev/null 2>&1"

echo "--- PKCS#12 and password file"
reconfigure -DWRAPPER_SIGN_PKCS12="$keys/signer.p12" -DWRAPPER_SIGN_PASSWORD_FILE="$keys/password"
check "configure says the executable will be signed" \
  grep -q "kzt-wrapper.exe will be signed (SHA-256)" "$work/configure.log"
if build "$tree" >"$work/build.log" 2>&1; then pass "signed build succeeds"; else
  fail "signed build succeeds"; cat "$work/build.log"; fi
check "signature verifies against the signing certificate" verify "$exe" "$keys/signer.pem"
check "the digest is SHA-256" verify_says "Message digest algorithm  : SHA256"
check "the signer is the throw-away certificate" verify_says "Subject: /CN=Release Check Signer"
check "the signature names the program" verify_says "Text description: Zelvan(TM) Development Kit 1.6.0_32"
check "no time stamp without a time-stamp URL" verify_says "Timestamp is not available"
check "the release summary names the signer and the missing time stamp" \
  summary_says "^   signature +signed by .*Release Check Signer.*, NOT time-stamped"
check "the release summary warns of the missing time stamp" summary_says "^   WARNING: signed without a time stamp"
check "signature does not verify against an unrelated certificate" \
  bash -c "! '$osslsigncode' verify -CAfile '$keys/other.pem' -in '$exe' >/dev/null 2>&1"
"$osslsigncode" remove-signature -in "$exe" -out "$work/stripped.exe" >/dev/null 2>&1
check "without its signature the signed executable is the unsigned one, byte for byte" \
  cmp "$work/stripped.exe" "$work/unsigned.exe"
check "signed build writes the same manifest" cmp "$manifest" "$work/unsigned-manifest.txt"
check "payload extracted from the signed executable matches the manifest" manifest_matches "$exe"
check "no temporary signing file is left" no_leftover
cp "$exe" "$work/signed-p12.exe"

echo "--- PEM certificate, encrypted PEM key, time stamp"
reconfigure -DWRAPPER_SIGN_CERT="$keys/signer.pem" -DWRAPPER_SIGN_KEY="$keys/signer-key-encrypted.pem" \
  -DWRAPPER_SIGN_PASSWORD_FILE="$keys/password" -DWRAPPER_SIGN_TIMESTAMP_URL="$tsa_url"
if build "$tree" >"$work/build.log" 2>&1; then pass "signed and time-stamped build succeeds"; else
  fail "signed and time-stamped build succeeds"; cat "$work/build.log"; fi
check "signature and time stamp verify" verify "$exe" "$keys/signer.pem" -TSA-CAfile "$keys/tsa.pem"
check "the time stamp server's signature is verified" \
  verify_says "Timestamp Server Signature verification: ok"
check "the time-stamp server was asked" grep -q '"POST / HTTP' "$work/tsa.log"
check "the release summary says time-stamped, without a warning" \
  bash -c "summary() { grep -A9 'Release summary' '$work/build.log'; }; summary | grep -qE '^   signature +signed by .*, time-stamped' && ! summary | grep -q WARNING"
check "payload extracted from the time-stamped executable matches the manifest" manifest_matches "$exe"

echo "--- fixed signing time"
reconfigure -DWRAPPER_SIGN_PKCS12="$keys/signer.p12" -DWRAPPER_SIGN_PASSWORD_FILE="$keys/password" \
  -DWRAPPER_SIGN_TIME=1458475200
build "$tree" >"$work/build.log" 2>&1
cp "$exe" "$work/signed-fixed-1.exe"
verify "$exe" "$keys/signer.pem"
check "the signature carries the fixed signing time" verify_says "Signing time: Mar 20 12:00:00 2016 GMT"
rm -f "$exe"
sleep 1  # a signing time taken from the clock would differ now
build "$tree" >"$work/build.log" 2>&1
check "signing again with the fixed time gives the same bytes" cmp "$exe" "$work/signed-fixed-1.exe"

echo "--- failures"
reconfigure -DWRAPPER_SIGN_PKCS12="$keys/signer.p12" \
  -DWRAPPER_SIGN_PASSWORD_FILE="$keys/wrong-password"
check "a wrong password fails the build" bash -c "! cmake --build '$tree' -j2 --target kzt_wrapper >'$work/build.log' 2>&1"
check "the build names the failed signing" grep -q "Signing .*kzt-wrapper.exe failed" "$work/build.log"
check "a failed signing leaves no executable" test ! -e "$exe"
check "a failed signing leaves no temporary file" no_leftover
check "a password on the command line is refused at configure time" \
  bash -c "! cmake '$tree' -DWRAPPER_SIGN_PASSWORD=secret >'$work/configure.log' 2>&1"
check "the refusal says to use a password file" grep -q "WRAPPER_SIGN_PASSWORD_FILE" "$work/configure.log"
check "a missing certificate file is refused at configure time" \
  bash -c "! cmake '$tree' -UWRAPPER_SIGN_PASSWORD -DWRAPPER_SIGN_PKCS12='$keys/absent.p12' >/dev/null 2>&1"

echo "--- signed x86_64 build under wine64"
tree64=$work/x86_64
configure x86_64 "$tree64" "$root" -DWRAPPER_PAYLOAD_DIR="$payload" \
  -DWRAPPER_SIGN_PKCS12="$keys/signer.p12" -DWRAPPER_SIGN_PASSWORD_FILE="$keys/password" \
  >"$work/configure.log" 2>&1
if build "$tree64" >"$work/build.log" 2>&1; then pass "signed x86_64 build succeeds"; else
  fail "signed x86_64 build succeeds"; cat "$work/build.log"; fi
check "x86_64 signature verifies" verify "$tree64/kzt-wrapper.exe" "$keys/signer.pem"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
cleanup_steps=("/usr/lib/wine/wineserver -k 2>/dev/null; /usr/lib/wine/wineserver -w 2>/dev/null"
  "${cleanup_steps[@]}")
"$root/tools/run-wine64.sh" cmd /c exit >/dev/null 2>&1
# Without InstallerLocation the wrapper stages its package, finds no engine and exits -3.
"$root/tools/run-wine64.sh" reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer' \
  /v InstallerLocation /f >/dev/null 2>&1
timeout 120 "$root/tools/run-wine64.sh" "$tree64/kzt-wrapper.exe" >/dev/null 2>&1
code=$?
check "the signed x86_64 executable runs and exits with -3 (got $code, expected 253)" test "$code" -eq 253
staged=$(find "$WINEPREFIX/drive_c/users" -name kzt1.6.0_32.msi -path '*Orvik/Zelvan*' | head -n 1)
check "it staged its product package intact (${staged:-none})" \
  cmp "${staged:-/nonexistent}" "$payload/kzt1.6.0_32.msi"

finish
