#!/usr/bin/env bash
# The demo: installs our stand-in vendor library (SMS kind) into a devices folder as a real
# installation would have it, then lets the host simulator load NyraPro.SED under Wine, capture
# one image through the SED exports and save the picture, and makes from the picture and the
# plug-in's DICOM record the DICOM file a host would store, checked with DCMTK and dicom3tools.
# It captures with the i686 product where this machine runs 32-bit Windows programs, and with
# the x86_64 build of the same sources under wine64 where it does not.
set -euo pipefail
build=${1:-build}
root=$(pwd)
if why=$(bash scripts/runs-i686.sh "$build/wineprefix"); then
    cmake -S . -B "$build/win32" -DNYRA_TESTS=ON >/dev/null
    cmake --build "$build/win32" -j "$(nproc)" -- --quiet
    bin=$build/win32/bin wine=wine
    width="the i686 product itself, under 32-bit Wine"
else
    bin=$build/win64/bin wine=/usr/lib/wine/wine64
    width="the x86_64 build of the same sources under wine64 (not i686: $why)"
fi
demo=$build/demo
sms=$demo/Devices/Nyra/SMS
rm -rf "$demo"
mkdir -p "$sms" "$demo/Plugin"
cp "$bin/SMS_API.dll" "$bin/CMOS_OPTION.dll" "$bin/SmsSerialReader.exe" "$sms/"
: > "$sms/CMOSMemory_0000.bin"
printf 'sensors=1\nexposure_ms=1500\n' > "$sms/simsdk.ini"
cp "$bin/NyraPro.SED" "$demo/Plugin/"

winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr '/' '\\'; }

echo "== The product: $build/win32/bin/NyraPro.SED (PE32, i386)"
bash scripts/check-exports.sh "$build/win32/bin/NyraPro.SED"
i686-w64-mingw32-objdump -p "$build/win32/bin/NyraPro.SED" | awk '/DLL Name/ { printf "   imports %s\n", $3 }'
echo
echo "== Capturing through the exports with $width (stand-in sensor in $sms)"
bash scripts/wine-run.sh "$build/wineprefix" "$wine" "$bin/hostsim.exe" \
    --dll "$(winpath "$demo/Plugin/NyraPro.SED")" --devices "$(winpath "$demo/Devices")" \
    --out "$(winpath "$demo/capture")" --ctx 7 9 | tr -d '\r'
echo
if [ ! -f "$demo/capture.png" ]; then
    echo "No picture was written."
    exit 1
fi
echo "The captured picture: $root/$demo/capture.png (8-bit preview), $root/$demo/capture.pgm (16-bit)"
echo
echo "== The DICOM file a host would store (DCMTK, checked with dciodvfy and dcmdump)"
bash scripts/check-dicom.sh "$demo/capture.dicominfo" "$demo/capture.pgm" "$demo/capture.dcm"
echo "The DICOM file: $root/$demo/capture.dcm"
