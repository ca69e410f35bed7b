#!/usr/bin/env bash
# Turns a captured image and the plug-in's DICOM record into a Digital Intra-Oral X-Ray Image
# (For Presentation) file with DCMTK, as a host would store it:
#   make-dicom.sh RECORD IMAGE.pgm OUT.dcm
# RECORD is the 1584-byte block SEDGetDICOMInfo filled; IMAGE.pgm the delivered image (16-bit,
# top row first). The plug-in's values (SOP class, modality, manufacturer and model, station,
# body part, anatomic region, study, series and instance identifiers) go in unchanged. What
# the plug-in leaves to the host (patient, dates, numbers, the tooth imaged, pixel spacing,
# orientation, window) is filled with plain demo values here.
set -euo pipefail
record=$1 image=$2 out=$3

[ "$(stat -c %s "$record")" -eq 1584 ] || { echo "make-dicom: $record is not a 1584-byte record" >&2; exit 2; }
# A zero-terminated text of the record at offset, width bytes at most.
field() { dd if="$record" bs=1 skip="$1" count="$2" status=none | tr -d '\0'; }

# PGM header: "P5", width, height, maximum, then big-endian 16-bit samples.
read -r magic width height maxval < <(head -c 64 "$image" | tr -s ' \n' '  ' | cut -d' ' -f1-4)
[ "$magic" = P5 ] && [ "$maxval" = 65535 ] || { echo "make-dicom: $image is not a 16-bit PGM" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tail -c $((width * height * 2)) "$image" > "$work/pixels.raw"

# A window over the image's own range, so a viewer shows it as the preview does.
read -r low high < <(od -An -v -tu2 --endian=big -w2 "$work/pixels.raw" |
                     awk 'NR == 1 { lo = hi = $1 } { if ($1 < lo) lo = $1; if ($1 > hi) hi = $1 }
                          END { print lo, hi }')
now_date=$(date +%Y%m%d) now_time=$(date +%H%M%S)

cat > "$work/dump.txt" <<EOF
(0008,0008) CS [ORIGINAL\PRIMARY]
(0008,0016) UI [$(field 4 64)]
(0008,0018) UI [$(field 1280 32)]
(0008,0020) DA [$now_date]
(0008,0023) DA [$now_date]
(0008,0030) TM [$now_time]
(0008,0033) TM [$now_time]
(0008,0050) SH []
(0008,0060) CS [$(field 68 32)]
(0008,0068) CS [FOR PRESENTATION]
(0008,0070) LO [$(field 100 64)]
(0008,0090) PN []
(0008,1010) SH [$(field 484 64)]
(0008,1090) LO [$(field 164 128)]
(0008,2218) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0008,0100) SH [$(field 1376 32)]
    (0008,0102) SH [SRT]
    (0008,0104) LO [$(field 1312 64)]
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0008,2228) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0008,0100) SH [T-54210]
    (0008,0102) SH [SRT]
    (0008,0104) LO [Permanent maxillary right central incisor tooth]
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0010) PN [DEMO^NYRA]
(0010,0020) LO [DEMO]
(0010,0030) DA []
(0010,0040) CS []
(0018,0015) CS [$(field 1152 64)]
(0018,1164) DS [0.02\\0.02]
(0018,1508) CS [NONE]
(0018,7004) CS []
(0020,000d) UI [$(field 420 64)]
(0020,000e) UI [$(field 1216 64)]
(0020,0010) SH [1]
(0020,0011) IS [1]
(0020,0013) IS [1]
(0020,0020) CS [L\\F]
(0020,0062) CS [B]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US $height
(0028,0011) US $width
(0028,0100) US 16
(0028,0101) US 16
(0028,0102) US 15
(0028,0103) US 0
(0028,0301) CS [NO]
(0028,1040) CS [LIN]
(0028,1041) SS 1
(0028,1050) DS [$(((low + high) / 2))]
(0028,1051) DS [$((high - low + 1))]
(0028,1052) DS [0]
(0028,1053) DS [1]
(0028,1054) LO [US]
(0028,2110) CS [00]
(0040,0555) SQ (Sequence with undefined length)
(fffe,e0dd) na (SequenceDelimitationItem)
(2050,0020) CS [IDENTITY]
(7fe0,0010) OW =$work/pixels.raw
EOF
dump2dcm -q +rb +te "$work/dump.txt" "$out"
