#!/usr/bin/env bash
# Makes the DICOM file from a DICOM record and an image (scripts/make-dicom.sh) and checks it:
#   check-dicom.sh RECORD IMAGE.pgm OUT.dcm
# dcmftest: a DICOM file with meta header; dciodvfy: the Digital Intra-Oral X-Ray Image (For
# Presentation) rules, where any "Error" fails (its warnings are printed, they do not fail);
# dcmdump: the plug-in's identifiers and the image size arrived as given.
set -euo pipefail
record=$1 image=$2 out=$3
here=$(dirname "$0")
bash "$here/make-dicom.sh" "$record" "$image" "$out"
dcmftest "$out" >/dev/null || { echo "check-dicom: $out is not a DICOM file" >&2; exit 1; }

report=$(dciodvfy "$out" 2>&1 || true)
grep -v '^IntraoralImageForPresentation$' <<<"$report" | sort | uniq -c | sed 's/^ */   dciodvfy: /' || true
if grep -q '^Error' <<<"$report"; then
    echo "check-dicom: dciodvfy found errors in $out" >&2
    exit 1
fi

field() { dd if="$record" bs=1 skip="$1" count="$2" status=none | tr -d '\0'; }
read -r width height < <(head -c 64 "$image" | tr -s ' \n' '  ' | cut -d' ' -f2-3)
dump=$(dcmdump +P SOPClassUID +P SOPInstanceUID +P StudyInstanceUID +P SeriesInstanceUID +P Modality \
       +P Rows +P Columns "$out")
expect() {
    grep -qF "$1" <<<"$dump" || { echo "check-dicom: $out lacks $1" >&2; echo "$dump" >&2; exit 1; }
}
expect "=DigitalIntraOralXRayImageStorageForPresentation"
expect "(0008,0018) UI [$(field 1280 32)]"
expect "(0020,000d) UI [$(field 420 64)]"
expect "(0020,000e) UI [$(field 1216 64)]"
expect "(0008,0060) CS [$(field 68 32)]"
expect "(0028,0010) US $height"
expect "(0028,0011) US $width"
echo "check-dicom: $out is a valid Digital Intra-Oral X-Ray Image (For Presentation), ${width}x${height}"
