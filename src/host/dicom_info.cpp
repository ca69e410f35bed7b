// The DICOM information record: fixed texts, the computer name and identifiers derived from
// the capture context, written byte-exactly (little-endian, zero padding).
#include "host/dicom_info.h"

#include <cstring>

#include "base/text.h"

static void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}

void BuildDicomInfo(uint32_t ctx1, uint32_t ctx2, const char* computerName, uint8_t* out)
{
    memset(out, 0, kDicomInfoSize);
    auto text = [out](size_t offset, size_t width, const char* s) {
        CopyText((char*)out + offset, width, s);
    };
    auto format = [out](size_t offset, size_t width, const char* f, uint32_t a, uint32_t b) {
        FormatText((char*)out + offset, width, f, a, b);
    };
    Put32(out + offsetof(DicomInfoRecord, size), kDicomInfoSize);
    text(offsetof(DicomInfoRecord, sopClassUid), 64, "1.2.840.10008.5.1.4.1.1.1.3");
    text(offsetof(DicomInfoRecord, modality), 32, "IO");
    text(offsetof(DicomInfoRecord, manufacturer), 64, "Nyra");
    text(offsetof(DicomInfoRecord, manufacturerModel), 128, "Nyra");
    format(offsetof(DicomInfoRecord, studyUid), 64, "1.2.826.0.1.3680043.9.7000.%u", ctx1, 0);
    text(offsetof(DicomInfoRecord, stationName), 64, computerName ? computerName : "");
    text(offsetof(DicomInfoRecord, bodyPart), 64, "JAW");
    format(offsetof(DicomInfoRecord, seriesUid), 64, "1.2.826.0.1.3680043.9.7001.%u", ctx1, 0);
    format(offsetof(DicomInfoRecord, instanceText), 32, "1.9.%u.%u", ctx1, ctx2);
    text(offsetof(DicomInfoRecord, regionMeaning), 64, "Maxilla and mandible");
    text(offsetof(DicomInfoRecord, regionCode), 32, "T-D1217");
    Put32(out + offsetof(DicomInfoRecord, one), 1);
    Put32(out + offsetof(DicomInfoRecord, ctx1), ctx1);
    Put32(out + offsetof(DicomInfoRecord, ctx2), ctx2);
}

uint32_t DicomCopySize(uint32_t capacity)
{
    return capacity >= 1 && capacity < kDicomInfoSize ? capacity : kDicomInfoSize;
}
