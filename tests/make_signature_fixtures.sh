#!/usr/bin/env bash
# Makes the signing fixtures of the signature tests, offline, in some 7 s of
# CPU time: a test CA and a second, untrusted one; code-signing, server-auth-only
# and expired leaves; a CA limited to server authentication; a trusted and an
# untrusted time-stamping authority; the tests' PE32 and PE32+ images, unsigned
# and signed in each way the tests need (SHA-1, dual, countersigned).
#   make_signature_fixtures.sh <output-dir> <make-pe-image>
set -euo pipefail
surgery=$(dirname "$(readlink -f "$0")")/countersignature_surgery.py
out=$1
make_pe_image=$2
rm -rf "$out"
mkdir -p "$out/no-certs"
cd "$out"

cat > openssl.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
database = ./index.txt
new_certs_dir = ./issued
serial = ./serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code_signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
[server_auth]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[time_stamping]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
mkdir issued
touch index.txt
echo 1000 > serial

# EC P-256 keys: quick to make, and Authenticode accepts ECDSA.
new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
# issue <name> <common name> <extensions> <not before> <not after> [<issuer>]
# `openssl ca` because it can set both dates, past ones included; without an
# issuer the certificate signs itself.
issue() {
    local name=$1 cn=$2 ext=$3 start=$4 end=$5 issuer=${6:-}
    new_key "$name"
    openssl req -new -config openssl.cnf -key "$name.key" -subj "/CN=$cn" -out "$name.csr"
    if [[ -z $issuer ]]; then
        openssl ca -batch -notext -config openssl.cnf -selfsign -keyfile "$name.key" -in "$name.csr" \
            -startdate "$start" -enddate "$end" -extensions "$ext" -out "$name.pem" 2>/dev/null
    else
        openssl ca -batch -notext -config openssl.cnf -cert "$issuer.pem" -keyfile "$issuer.key" \
            -in "$name.csr" -startdate "$start" -enddate "$end" -extensions "$ext" -out "$name.pem" 2>/dev/null
        cat "$name.pem" "$issuer.pem" > "$name-chain.pem"
        if [[ -f $issuer-chain.pem ]]; then cat "$name.pem" "$issuer-chain.pem" > "$name-chain.pem"; fi
    fi
}

# The CA's validity starts in the past so that a timestamp from 2020 falls in it.
issue ca "ktutils test CA" ca_ext 20190101000000Z 20391231000000Z
issue other-ca "ktutils untrusted CA" ca_ext 20190101000000Z 20391231000000Z
issue signer "ktutils test signer" code_signing 20240101000000Z 20381231000000Z ca
issue other-signer "ktutils untrusted signer" code_signing 20240101000000Z 20381231000000Z other-ca
issue server "ktutils server-auth leaf" server_auth 20240101000000Z 20381231000000Z ca
issue expired "ktutils expired signer" code_signing 20200101000000Z 20210101000000Z ca
issue tsa "ktutils test TSA" time_stamping 20190101000000Z 20381231000000Z ca
issue other-tsa "ktutils untrusted TSA" time_stamping 20190101000000Z 20381231000000Z other-ca
issue server-ca "ktutils server-auth CA" server_ca 20190101000000Z 20391231000000Z ca
issue under-server-ca "ktutils signer under a server-auth CA" code_signing 20240101000000Z 20381231000000Z server-ca
cp ca.pem trusted-roots.pem
mkdir roots-dir
cp ca.pem roots-dir/
echo "not a certificate" > roots-dir/README

"$make_pe_image" pe32 pe32.exe
"$make_pe_image" pe32+ pe32plus.exe

# sign <signer> <input> <output> [osslsigncode options...]
sign() {
    local signer=$1 in=$2 output=$3
    shift 3
    osslsigncode sign -certs "$signer-chain.pem" -key "$signer.key" -in "$in" -out "$output" "$@" > /dev/null
}
sign signer pe32.exe pe32-signed.exe -h sha256
sign signer pe32plus.exe pe32plus-signed.exe -h sha256
sign signer pe32.exe pe32-signed-sha384.exe -h sha384
sign signer pe32.exe pe32-signed-sha1.exe -h sha1
sign other-signer pe32.exe untrusted-signed.exe -h sha256
sign server pe32.exe server-auth-signed.exe -h sha256
sign expired pe32.exe expired-signed.exe -h sha256
sign under-server-ca pe32.exe under-server-ca-signed.exe -h sha256
# Dual signatures: SHA-1 first, SHA-256 nested.
sign signer pe32-signed-sha1.exe dual-signed.exe -h sha256 -nest
sign other-signer pe32-signed-sha1.exe dual-untrusted-nested.exe -h sha256 -nest

# extract <signed>: its signature as <signed>.p7.
extract() { rm -f "$1.p7" && osslsigncode extract-signature -in "$1" -out "$1.p7" > /dev/null; }
# resign <signed> <output> <surgery arguments...>: <signed>'s signature as the
# surgery leaves it, attached to pe32.exe again. osslsigncode checks what it
# attaches and complains of a root it does not know, but writes the file.
resign() {
    local signed=$1 output=$2
    shift 2
    extract "$signed"
    python3 "$surgery" "$@" "$output.p7"
    osslsigncode attach-signature -sigin "$output.p7" -in pe32.exe -out "$output" > /dev/null 2>&1 || true
    [[ -f $output ]]
}
# pkcs9 <signed> <tsa> <time> <output> [<countersigned> [pkcs9-broken]]:
# <signed> with a PKCS #9 countersignature by <tsa> at <time> over the
# signature value of <countersigned> (<signed> itself by default).
pkcs9() {
    local counted=${5:-$1}
    extract "$counted" && cp "$counted.p7" "$4.counted.p7"
    openssl x509 -in "$2.pem" -outform DER -out "$2.der"
    resign "$1" "$4" "${6:-pkcs9}" "$1.p7" "$4.counted.p7" "$2.der" "$2.key" "$3"
}
pkcs9 pe32-signed.exe tsa 250101000000Z pkcs9-timestamped.exe
pkcs9 expired-signed.exe tsa 200520000000Z pkcs9-expired-timestamped.exe
pkcs9 expired-signed.exe tsa 231114000000Z pkcs9-expired-late-timestamped.exe
pkcs9 pe32-signed.exe other-tsa 250101000000Z pkcs9-untrusted-tsa.exe
pkcs9 pe32-signed.exe tsa 250101000000Z pkcs9-grafted.exe pe32-signed-sha384.exe
pkcs9 pe32-signed.exe tsa 250101000000Z pkcs9-broken.exe pe32-signed.exe pkcs9-broken
pkcs9 pe32-signed.exe signer 250101000000Z pkcs9-not-a-tsa.exe  # a code-signing certificate

# Timestamps need osslsigncode's built-in time-stamping authority (-TSA-*),
# which older versions lack: then these fixtures are left out and the test
# skips their rows, saying why.
help=$(osslsigncode sign --help 2>&1 || true)  # it exits non-zero after printing
if [[ $help == *-TSA-time* ]]; then
    # 2020-05-20, inside the expired signer's validity, and 2023-11-14, after it.
    sign expired pe32.exe expired-timestamped.exe -h sha256 \
        -TSA-certs tsa-chain.pem -TSA-key tsa.key -TSA-time 1590000000
    sign expired pe32.exe expired-late-timestamped.exe -h sha256 \
        -TSA-certs tsa-chain.pem -TSA-key tsa.key -TSA-time 1700000000
    # 2025-01-01, inside the signer's validity.
    sign signer pe32.exe timestamped.exe -h sha256 -TSA-certs tsa-chain.pem -TSA-key tsa.key -TSA-time 1735689600
    sign signer pe32.exe untrusted-tsa.exe -h sha256 \
        -TSA-certs other-tsa-chain.pem -TSA-key other-tsa.key -TSA-time 1735689600
    # Another signature of the same image carries the stamp of the first.
    extract timestamped.exe
    resign pe32-signed.exe grafted-timestamp.exe graft pe32-signed.exe.p7 timestamped.exe.p7
fi
touch complete
