#!/usr/bin/env bash
# fetch_debian_signed_files.sh <output-dir>: vendor-signed EFI images from pinned Debian packages (a pin
# that left the archive falls back to the current version) and shim's Debian Secure Boot CA, debian-ca.pem.
# When the archive cannot be reached it writes why to <output-dir>/skip and exits 0; other faults fail.
set -euo pipefail
rm -rf "$1" && mkdir -p "$1/debs" && cd "$1"
for package in shim-signed=1.51~1+deb12u1+16.1-2~deb12u1 grub-efi-amd64-signed=1+2.06+13+deb12u2 \
    shim-helpers-amd64-signed=1+16.1+2~deb12u1; do
    log=$(cd debs && timeout 300 apt-get download "$package" 2>&1) && continue
    [[ $log == *"was not found"* ]] && log=$(cd debs && timeout 300 apt-get download "${package%%=*}" 2>&1) && continue
    echo "apt-get download failed (unreachable archive, or no lists: apt-get update): $(tail -n1 <<< "$log")" > skip
    exit 0
done
for deb in debs/*.deb; do dpkg-deb -x "$deb" tree; done
find tree -name '*.efi.signed' -exec cp {} . \;
# shim's .vendor_cert section starts with the size and offset of its CA (DER).
objcopy -O binary --only-section=.vendor_cert shimx64.efi.signed vendor_cert.bin
read -r size _ offset _ < <(od -An -t u4 -N 16 vendor_cert.bin)
dd if=vendor_cert.bin bs=1 skip="$offset" count="$size" status=none | openssl x509 -inform DER -out debian-ca.pem
openssl x509 -in debian-ca.pem -noout -subject | grep -q "Debian Secure Boot CA"
