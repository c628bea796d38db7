#!/usr/bin/env bash
# make_signature_fixtures.sh <output-dir> [<emulator>...] <make-pe-image>: the signature tests' certificates and
# images, offline. A cross build's emulator, where it has one, comes before the program that runs under it.
set -euo pipefail
surgery=$(dirname "$(readlink -f "$0")")/countersignature_surgery.py make_pe_image=("${@:2}")
rm -rf "$1" && mkdir -p "$1/no-certs" "$1/roots-dir" && cd "$1"
printf '%s\n' '[ca]' 'default_ca = d' '[d]' 'database = index.txt' 'new_certs_dir = .' 'serial = serial' \
    'default_md = sha256' 'policy = p' 'unique_subject = no' '[p]' 'commonName = supplied' '[req]' \
    'distinguished_name = p' > openssl.cnf && touch index.txt && echo 1000 > serial
# issue <name> <extensions, ";" between> [<issuer> [<not before> <not after>]]: EC P-256 keys are quick
# to make; `openssl ca` can date a certificate in the past. Without an issuer it signs itself.
issue() {
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
    openssl req -new -config openssl.cnf -key "$1.key" -subj "/CN=ktutils $1" -out "$1.csr"
    local by=(-selfsign -keyfile "$1.key")
    [[ -n ${3:-} ]] && by=(-cert "$3.pem" -keyfile "$3.key")
    openssl ca -batch -notext -config openssl.cnf "${by[@]}" -in "$1.csr" -startdate "${4:-20190101000000Z}" \
        -enddate "${5:-20391231000000Z}" -extfile <(tr ';' '\n' <<< "$2") -out "$1.pem" 2>/dev/null
    cat "$1.pem" ${3:+"$3-chain.pem"} > "$1-chain.pem"
}
ca="basicConstraints=critical,CA:TRUE" code="keyUsage=critical,digitalSignature;extendedKeyUsage=codeSigning"
issue ca "$ca;keyUsage=critical,keyCertSign"
issue other-ca "$ca"
issue expired "$code" ca 20200101000000Z 20210101000000Z
for cert in "server-ca $ca;extendedKeyUsage=serverAuth ca" "any-ca $ca;extendedKeyUsage=anyExtendedKeyUsage ca" \
    "signer $code ca" "other-signer $code other-ca" "under-server-ca $code server-ca" "under-any-ca $code any-ca" \
    "server extendedKeyUsage=serverAuth ca" "no-eku keyUsage=digitalSignature ca" \
    "no-ds keyUsage=critical,nonRepudiation;extendedKeyUsage=codeSigning ca" \
    "tsa extendedKeyUsage=critical,timeStamping ca" "other-tsa extendedKeyUsage=critical,timeStamping other-ca"
do issue $cert; done
cp ca.pem trusted-roots.pem && cp ca.pem roots-dir/ && echo "not a certificate" > roots-dir/README

for image in "pe32 pe32.exe" "pe32+ pe32plus.exe"; do "${make_pe_image[@]}" $image; done
# sign <signer> <input> <output> [osslsigncode options...]
sign() { osslsigncode sign -certs "$1-chain.pem" -key "$1.key" -in "$2" -out "$3" "${@:4}" > /dev/null; }
sign signer pe32plus.exe pe32plus-signed.exe
for h in sha1 sha384 sha512; do sign signer pe32.exe "pe32-signed-$h.exe" -h $h; done
for s in pe32:signer untrusted:other-signer server-auth:server expired under-server-ca under-any-ca no-ds no-eku; do
    sign "${s#*:}" pe32.exe "${s%%:*}-signed.exe" -h sha256
done
sign signer pe32-signed-sha1.exe dual-signed.exe -nest  # SHA-1, then SHA-256 nested
sign other-signer pe32-signed-sha1.exe dual-untrusted-nested.exe -nest
# RFC 3161 stamps by osslsigncode's built-in authority, where it has one (2.9 has): 2025-01-01,
# then 2020-05-20 and 2023-11-14, inside and after the expired signer's validity.
[[ $(osslsigncode sign --help 2>&1) == *-TSA-time* ]] && stamps=1
tsa() { [[ -z ${stamps:-} ]] || sign "$1" pe32.exe "$2" -TSA-certs "$3-chain.pem" -TSA-key "$3.key" -TSA-time "$4"; }
tsa signer timestamped.exe tsa 1735689600
tsa signer untrusted-tsa.exe other-tsa 1735689600
tsa expired expired-timestamped.exe tsa 1590000000
tsa expired expired-late-timestamped.exe tsa 1700000000

for f in pe32-signed.exe pe32-signed-sha384.exe expired-signed.exe timestamped.exe; do
    [[ ! -f $f ]] || osslsigncode extract-signature -in "$f" -out "$f.p7" > /dev/null
done
# resign <output> <surgery arguments...>: the surgery's signature on pe32.exe (osslsigncode complains, but writes it)
resign() {
    python3 "$surgery" "${@:2}" "$1.p7"
    osslsigncode attach-signature -sigin "$1.p7" -in pe32.exe -out "$1" > /dev/null 2>&1 || [[ -f $1 ]]
}
[[ -z ${stamps:-} ]] || resign grafted-timestamp.exe graft pe32-signed.exe.p7 timestamped.exe.p7
# pkcs9 <signed> <authority> <UTCTime> <output> [<countersigned> [pkcs9-broken]]
pkcs9() { resign "$4" "${6:-pkcs9}" "$1.p7" "${5:-$1}.p7" "$2" "$3"; }
pkcs9 pe32-signed.exe tsa 250101000000Z pkcs9-timestamped.exe
pkcs9 expired-signed.exe tsa 200520000000Z pkcs9-expired-timestamped.exe
pkcs9 expired-signed.exe tsa 231114000000Z pkcs9-expired-late-timestamped.exe
pkcs9 pe32-signed.exe other-tsa 250101000000Z pkcs9-untrusted-tsa.exe
pkcs9 pe32-signed.exe tsa 250101000000Z pkcs9-grafted.exe pe32-signed-sha384.exe
pkcs9 pe32-signed.exe tsa 250101000000Z pkcs9-broken.exe pe32-signed.exe pkcs9-broken
pkcs9 pe32-signed.exe signer 250101000000Z pkcs9-not-a-tsa.exe
touch complete
