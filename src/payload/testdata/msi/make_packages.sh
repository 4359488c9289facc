#!/usr/bin/env bash
# Builds the installer packages the Windows tests read, into the folder given: package.msi with three rows of
# the Binary table ("Payload" 300000 random bytes, "Small" a short text, "Empty" nothing), the row files beside it
# for comparison, and not_a_package.msi, a text file. msitools' msibuild writes the package.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/Binary"
cd "$out"
head -c 300000 /dev/urandom > Binary/payload.bin
printf 'hello, package\n' > Binary/small.bin
: > Binary/empty.bin
printf 'Name\tData\ns72\tv0\nBinary\tName\nPayload\tpayload.bin\nSmall\tsmall.bin\nEmpty\tempty.bin\n' > Binary.idt
msibuild package.msi -i Binary.idt
printf 'This is not an installer package.\n' > not_a_package.msi
