#!/usr/bin/env bash
# Fetches real vendor-signed EFI images from pinned Debian packages into
# <output-dir>, with the Debian Secure Boot CA that shim carries built in, as
# debian-ca.pem. Nothing of them is kept in the repository.
#   fetch_debian_signed_files.sh <output-dir>
# When the archive cannot be reached it writes the reason to <output-dir>/skip
# and exits 0; anything else that goes wrong fails.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/debs"
cd "$out"

# A pinned version that has left the archive (a point release replaced it)
# falls back to the current one: the vendor and its CA stay the same.
packages=(shim-signed=1.51~1+deb12u1+16.1-2~deb12u1
          grub-efi-amd64-signed=1+2.06+13+deb12u2
          shim-helpers-amd64-signed=1+16.1+2~deb12u1)
download() { (cd debs && timeout 300 apt-get download "$1" 2>&1); }
for package in "${packages[@]}"; do
    log=$(download "$package") && continue
    [[ $log == *"was not found"* ]] && log=$(download "${package%%=*}") && continue
    echo "apt-get download failed (archive unreachable, or no package lists: apt-get update): $(grep -m1 '^E:' <<< "$log" || tail -n1 <<< "$log")" > skip
    exit 0
done

for deb in debs/*.deb; do dpkg-deb -x "$deb" tree; done
find tree -name '*.efi.signed' -exec cp {} . \;
# shim's .vendor_cert section starts with the size and offset of its
# authorised certificate (DER), among four 32-bit fields.
objcopy -O binary --only-section=.vendor_cert shimx64.efi.signed vendor_cert.bin
read -r size _ offset _ < <(od -An -t u4 -N 16 vendor_cert.bin)
dd if=vendor_cert.bin bs=1 skip="$offset" count="$size" status=none | openssl x509 -inform DER -out debian-ca.pem
openssl x509 -in debian-ca.pem -noout -subject | grep -q "Debian Secure Boot CA"
