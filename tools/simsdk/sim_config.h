// Behaviour of the stand-in vendor library and serial reader, read from "simsdk.ini" beside the
// module: one "key=value" per line, '#' starts a comment. Re-read at every call that depends on
// it, so a test may change it between calls. Keys (defaults in brackets):
//   sensors=N [1]            connected sensors, 0..4
//   sensorI=TT,FF,LLLL       type, firmware, lot of sensor I in hex [see kDefaultSensors]
//   exposure_ms=N [300]      delay before a frame is delivered
//   read=frame|hang|stuck|fault|status [frame]
//        hang: until aborted or closed; stuck: ignores abort and close until the release file
//        exists; fault: access violation inside the read; status: fails with read_status
//   read_status=HEX [80000002]
//   stuck_then=frame|aborted [aborted]  what a stuck read returns once released
//   dump=1 [0]               each delivered frame is also written to "sim_frame.raw" beside the module
//   seed=N [-1]              every phantom frame drawn with seed N (else per sensor and frame)
//   abort=normal|hang, close=normal|hang [normal]: hang blocks the call until the release file
//   suspend=ok|fail|fault [ok]  fail returns -1
//   info_fail=N|always|fault [0]  identification fails the first N calls on each device;
//                            fault: access violation inside it
//   open_fail=N [0]          the first N USB_OpenDevice calls of the process yield 0
//   pipe=N [0]               what USB_OpenPipe returns
//   duplicate=1 [0]          with every sensor open, USB_OpenDevice yields the last handle again
//   frame=phantom|flat:N|split:A,B [phantom]  split: columns left of the middle A, the rest B
//   reader=records|none|error|hang|flood|emptyserial [records]  (serial reader only)
// The release file is "sim_release.flag" beside the module. Calls are logged to
// "simsdk_calls.log" (library) and "serialreader_calls.log" (reader) beside the module.
#pragma once
#include <cstdint>

constexpr int kSimMaxSensors = 4;

struct SimSensor {
    uint8_t type;
    uint8_t firmware;
    uint16_t lot;
};

enum SimRead { ReadFrame, ReadHang, ReadStuck, ReadFault, ReadStatus };
enum SimReader { ReaderRecords, ReaderNone, ReaderError, ReaderHang, ReaderFlood, ReaderEmptySerial };

struct SimConfig {
    int sensors;
    SimSensor sensor[kSimMaxSensors];
    int exposureMs;
    SimRead read;
    uint32_t readStatus;
    bool abortHangs;
    bool closeHangs;
    int suspend;   // 0 ok, 1 fail (-1), 2 fault
    int infoFail;  // calls that fail per device; -1 always, -2 fault
    int openFail;
    int pipe;
    bool duplicate;
    int flat;        // -1 = phantom, else the flat value (left half when split)
    int splitRight;  // -1 = not split, else the value of the right half
    bool stuckThenFrame;
    int seed;  // -1 = per sensor and frame
    bool dump;
    SimReader reader;
};

extern const SimSensor kDefaultSensors[kSimMaxSensors];

// Parses the text of simsdk.ini over the defaults.
void ParseSimConfig(const char* text, SimConfig* config);
// Variant rule of the plug-in, so the library knows each sensor's frame size.
void SimFrameSize(const SimSensor& sensor, int* width, int* height);
