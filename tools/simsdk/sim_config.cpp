// Parsing of simsdk.ini for the stand-ins (see sim_config.h). Unknown keys and bad values are
// ignored, leaving the default.
#include "sim_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const SimSensor kDefaultSensors[kSimMaxSensors] = {
    {0x81, 0x10, 0x1234},  // standard, size 2
    {0x20, 0x25, 0x0042},  // size 3
    {0x10, 0x05, 0x0777},  // standard, size 1
    {0x82, 0x11, 0x0999},  // standard, size 2
};

static void Defaults(SimConfig* c)
{
    memset(c, 0, sizeof *c);
    c->sensors = 1;
    memcpy(c->sensor, kDefaultSensors, sizeof c->sensor);
    c->exposureMs = 300;
    c->read = ReadFrame;
    c->readStatus = 0x80000002u;
    c->flat = -1;
    c->splitRight = -1;
    c->seed = -1;
    c->reader = ReaderRecords;
}

static void Apply(SimConfig* c, const char* key, const char* value)
{
    if (!strcmp(key, "sensors")) {
        int n = atoi(value);
        c->sensors = n < 0 ? 0 : n > kSimMaxSensors ? kSimMaxSensors : n;
    } else if (!strncmp(key, "sensor", 6) && key[6] >= '0' && key[6] < '0' + kSimMaxSensors && !key[7]) {
        unsigned type = 0, firmware = 0, lot = 0;
        if (sscanf(value, "%x,%x,%x", &type, &firmware, &lot) == 3) {
            SimSensor& s = c->sensor[key[6] - '0'];
            s.type = (uint8_t)type;
            s.firmware = (uint8_t)firmware;
            s.lot = (uint16_t)lot;
        }
    } else if (!strcmp(key, "exposure_ms")) {
        c->exposureMs = atoi(value);
    } else if (!strcmp(key, "read")) {
        c->read = !strcmp(value, "hang")     ? ReadHang
                  : !strcmp(value, "stuck")  ? ReadStuck
                  : !strcmp(value, "fault")  ? ReadFault
                  : !strcmp(value, "status") ? ReadStatus
                                             : ReadFrame;
    } else if (!strcmp(key, "stuck_then")) {
        c->stuckThenFrame = !strcmp(value, "frame");
    } else if (!strcmp(key, "dump")) {
        c->dump = atoi(value) != 0;
    } else if (!strcmp(key, "seed")) {
        c->seed = atoi(value);
    } else if (!strcmp(key, "read_status")) {
        c->readStatus = (uint32_t)strtoul(value, nullptr, 16);
    } else if (!strcmp(key, "abort")) {
        c->abortHangs = !strcmp(value, "hang");
    } else if (!strcmp(key, "close")) {
        c->closeHangs = !strcmp(value, "hang");
    } else if (!strcmp(key, "suspend")) {
        c->suspend = !strcmp(value, "fail") ? 1 : !strcmp(value, "fault") ? 2 : 0;
    } else if (!strcmp(key, "info_fail")) {
        c->infoFail = !strcmp(value, "always") ? -1 : !strcmp(value, "fault") ? -2 : atoi(value);
    } else if (!strcmp(key, "open_fail")) {
        c->openFail = atoi(value);
    } else if (!strcmp(key, "duplicate")) {
        c->duplicate = atoi(value) != 0;
    } else if (!strcmp(key, "pipe")) {
        c->pipe = atoi(value);
    } else if (!strcmp(key, "frame")) {
        c->flat = -1;
        c->splitRight = -1;
        if (!strncmp(value, "flat:", 5))
            c->flat = atoi(value + 5);
        else if (sscanf(value, "split:%d,%d", &c->flat, &c->splitRight) != 2)
            c->flat = c->splitRight = -1;
    } else if (!strcmp(key, "reader")) {
        c->reader = !strcmp(value, "none")          ? ReaderNone
                    : !strcmp(value, "error")       ? ReaderError
                    : !strcmp(value, "hang")        ? ReaderHang
                    : !strcmp(value, "flood")       ? ReaderFlood
                    : !strcmp(value, "emptyserial") ? ReaderEmptySerial
                                                    : ReaderRecords;
    }
}

void ParseSimConfig(const char* text, SimConfig* config)
{
    Defaults(config);
    const char* p = text ? text : "";
    while (*p) {
        char line[256];
        size_t n = 0;
        while (*p && *p != '\n') {
            if (n + 1 < sizeof line)
                line[n++] = *p;
            ++p;
        }
        if (*p == '\n')
            ++p;
        line[n] = '\0';
        char* hash = strchr(line, '#');
        if (hash)
            *hash = '\0';
        char* end = line + strlen(line);
        while (end > line && (end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t'))
            *--end = '\0';
        char* eq = strchr(line, '=');
        if (!eq)
            continue;
        *eq = '\0';
        char* key = line;
        while (*key == ' ' || *key == '\t')
            ++key;
        Apply(config, key, eq + 1);
    }
}

void SimFrameSize(const SimSensor& sensor, int* width, int* height)
{
    if (sensor.firmware >= 0x20 && sensor.firmware <= 0x3F) {
        *width = 2580;
        *height = 1706;
    } else if (sensor.type < 0x80) {
        *width = 1000;
        *height = 1506;
    } else {
        *width = 1300;
        *height = 1706;
    }
}
