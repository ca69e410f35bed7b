// Stand-in for SmsSerialReader.exe: accepts
//   SmsSerialReader.exe "<path>" <vid hex> <pid hex> "<guid>" all|<slot>
// and prints one "RESULT|<serial>|<firmware hex>" line per sensor (all) or for the one slot, as
// the sensors of simsdk.ini beside it say. The ini's reader= key makes it print nothing, an
// "ERROR|" text, hang, flood its output before the records, or print an empty serial first.
// Its command line goes to serialreader_calls.log beside it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_config.h"

static char Folder[MAX_PATH];

static void FolderFile(char* out, size_t size, const char* name)
{
    snprintf(out, size, "%s%s", Folder, name);
}

static void LogCommandLine()
{
    char path[MAX_PATH + 32];
    FolderFile(path, sizeof path, "serialreader_calls.log");
    FILE* log = fopen(path, "ab");
    if (log) {
        fprintf(log, "%s\r\n", GetCommandLineA());
        fclose(log);
    }
}

static SimConfig LoadConfig()
{
    char path[MAX_PATH + 32];
    FolderFile(path, sizeof path, "simsdk.ini");
    char text[4096] = "";
    FILE* in = fopen(path, "rb");
    if (in) {
        size_t n = fread(text, 1, sizeof text - 1, in);
        text[n] = '\0';
        fclose(in);
    }
    SimConfig config;
    ParseSimConfig(text, &config);
    return config;
}

static void PrintRecord(const SimSensor& s)
{
    printf("RESULT|%02X%04X|%X\r\n", s.type, s.lot, s.firmware);
}

int main(int argc, char** argv)
{
    DWORD n = GetModuleFileNameA(nullptr, Folder, MAX_PATH);
    Folder[n < MAX_PATH ? n : MAX_PATH - 1] = '\0';
    char* slash = strrchr(Folder, '\\');
    if (slash)
        slash[1] = '\0';
    LogCommandLine();
    SimConfig config = LoadConfig();

    // The records end in CR LF exactly as written.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc != 5) {
        printf("ERROR|usage: SmsSerialReader \"path\" vid pid \"guid\" all|slot\r\n");
        return 2;
    }
    const char* selector = argv[4];
    switch (config.reader) {
    case ReaderNone: return 0;
    case ReaderError:
        fprintf(stderr, "opening sensors...\r\nERROR|USB open failed (simulated)\r\n");
        return 3;
    case ReaderHang: Sleep(INFINITE); return 0;
    case ReaderFlood:
        for (int i = 0; i < 4000; ++i)
            printf("progress line %04d ..........................................\r\n", i);
        break;
    case ReaderEmptySerial: printf("RESULT||10\r\n"); break;
    case ReaderRecords: break;
    }
    if (!strcmp(selector, "all")) {
        for (int i = 0; i < config.sensors; ++i)
            PrintRecord(config.sensor[i]);
    } else {
        int slot = atoi(selector);
        if (slot < 0 || slot >= config.sensors) {
            printf("ERROR|no sensor at slot %d\r\n", slot);
            return 4;
        }
        PrintRecord(config.sensor[slot]);
    }
    fflush(stdout);
    return 0;
}
