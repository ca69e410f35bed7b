// nyra_dicom_sample BASE CTX1 CTX2 COMPUTER: writes BASE.dicominfo, the 1584-byte record that
// SEDGetDICOMInfo hands a host after a capture with that context on that computer, and
// BASE.pgm, the plug-in's test pattern as a 16-bit PGM (top row first), the two inputs of
// scripts/make-dicom.sh.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/synthetic_image.h"
#include "host/dicom_info.h"

static bool WriteAll(const std::string& path, const void* data, size_t size, const char* header)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fputs(header, f) >= 0 && fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: nyra_dicom_sample BASE CTX1 CTX2 COMPUTER\n");
        return 2;
    }
    const std::string base = argv[1];
    uint8_t record[kDicomInfoSize];
    BuildDicomInfo((uint32_t)strtoul(argv[2], nullptr, 10), (uint32_t)strtoul(argv[3], nullptr, 10), argv[4],
                   record);

    std::vector<uint16_t> pixels((size_t)kSyntheticWidth * kSyntheticHeight);
    FillSyntheticTestImage(pixels.data());
    std::vector<uint8_t> bigEndian(pixels.size() * 2);
    for (size_t i = 0; i < pixels.size(); i++) {
        bigEndian[2 * i] = (uint8_t)(pixels[i] >> 8);
        bigEndian[2 * i + 1] = (uint8_t)pixels[i];
    }
    char header[64];
    snprintf(header, sizeof header, "P5\n%d %d\n65535\n", (int)kSyntheticWidth, (int)kSyntheticHeight);
    if (!WriteAll(base + ".dicominfo", record, sizeof record, "")
        || !WriteAll(base + ".pgm", bigEndian.data(), bigEndian.size(), header)) {
        fprintf(stderr, "nyra_dicom_sample: cannot write %s.*\n", base.c_str());
        return 1;
    }
    return 0;
}
