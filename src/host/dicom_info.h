// DicomInfoRecord: the DICOM attributes the host reads after a capture (SEDGetDICOMInfo).
// 1584 bytes, little-endian; texts zero-terminated and zero-padded; unlisted bytes are 0.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kDicomInfoSize = 1584;

struct DicomInfoRecord {
    uint32_t size;                // 1584
    char sopClassUid[64];         // Digital Intra-Oral X-Ray Image Storage - For Presentation
    char modality[32];            // "IO"
    char manufacturer[64];        // "Nyra"
    char manufacturerModel[128];  // "Nyra"
    uint8_t gap292[128];
    char studyUid[64];     // root 7000 + ctx1
    char stationName[64];  // computer name, empty when unknown
    uint8_t gap548[604];
    char bodyPart[64];       // "JAW"
    char seriesUid[64];      // root 7001 + ctx1
    char instanceText[32];   // "1.9.<ctx1>.<ctx2>"
    char regionMeaning[64];  // "Maxilla and mandible"
    char regionCode[32];     // SNOMED "T-D1217"
    uint8_t gap1408[32];
    int32_t one;  // 1
    uint8_t gap1444[128];
    uint32_t ctx1;
    uint32_t ctx2;
    uint32_t zero;
};
static_assert(sizeof(DicomInfoRecord) == kDicomInfoSize, "");
static_assert(offsetof(DicomInfoRecord, sopClassUid) == 4, "");
static_assert(offsetof(DicomInfoRecord, modality) == 68, "");
static_assert(offsetof(DicomInfoRecord, manufacturer) == 100, "");
static_assert(offsetof(DicomInfoRecord, manufacturerModel) == 164, "");
static_assert(offsetof(DicomInfoRecord, studyUid) == 420, "");
static_assert(offsetof(DicomInfoRecord, stationName) == 484, "");
static_assert(offsetof(DicomInfoRecord, bodyPart) == 1152, "");
static_assert(offsetof(DicomInfoRecord, seriesUid) == 1216, "");
static_assert(offsetof(DicomInfoRecord, instanceText) == 1280, "");
static_assert(offsetof(DicomInfoRecord, regionMeaning) == 1312, "");
static_assert(offsetof(DicomInfoRecord, regionCode) == 1376, "");
static_assert(offsetof(DicomInfoRecord, one) == 1440, "");
static_assert(offsetof(DicomInfoRecord, ctx1) == 1572, "");
static_assert(offsetof(DicomInfoRecord, ctx2) == 1576, "");
static_assert(offsetof(DicomInfoRecord, zero) == 1580, "");

// Builds the record for the capture context into out[1584].
void BuildDicomInfo(uint32_t ctx1, uint32_t ctx2, const char* computerName, uint8_t* out);

// How many bytes of the record go over the caller's block: its capacity word when 1..1583,
// otherwise the whole record (a capacity of 0 means "all").
uint32_t DicomCopySize(uint32_t capacity);
