// Runs SmsSerialReader.exe from the backend's folder and collects what it prints.
// Input: product id and selector ("all" or a slot index); output: the text, cut to size - 1.
// One inheritable pipe takes the child's standard output and error; the pipe is drained while
// the child runs, so a chatty reader cannot fill the pipe and stall until the timeout (text
// beyond the buffer is read and dropped). After the child has ended only what is already in the
// pipe is read: a handle to the write end inherited by some other child of the host must not
// keep this call waiting for an end of data that never comes.
// Failure: false with BackendLastError ("SmsSerialReader.exe not found", "CreatePipe failed %lu",
// "CreateProcess(SmsSerialReader) failed %lu", "SmsSerialReader timed out", or the reader's
// own "SmsSerialReader: ..." text).
#include <windows.h>

#include <cstring>

#include "backend/backend_state.h"
#include "backend/sensor_identify.h"
#include "backend/sensor_select.h"
#include "backend/wide_text.h"

static const char kReaderName[] = "SmsSerialReader.exe";

namespace {

// Appends ASCII or wide text to a wide command line, bounded.
struct WideLine {
    wchar_t text[1024];
    size_t length = 0;
    void Put(wchar_t c)
    {
        if (length + 1 < sizeof text / sizeof text[0])
            text[length++] = c;
        text[length] = L'\0';
    }
    void Add(const char* s)
    {
        for (; *s; ++s)
            Put((wchar_t)(unsigned char)*s);
    }
    void Add(const wchar_t* s)
    {
        for (; *s; ++s)
            Put(*s);
    }
};

// Moves whatever the pipe holds now into out (up to size - 1), dropping the rest.
// Returns false when the pipe is broken or closed.
bool DrainAvailable(HANDLE pipe, char* out, size_t size, size_t* used)
{
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return false;
        if (available == 0)
            return true;
        char scratch[4096];
        char* target = scratch;
        DWORD want = available < sizeof scratch ? available : (DWORD)sizeof scratch;
        if (*used + 1 < size) {
            target = out + *used;
            DWORD room = (DWORD)(size - 1 - *used);
            if (want > room)
                want = room;
        }
        DWORD got = 0;
        if (!ReadFile(pipe, target, want, &got, nullptr) || got == 0)
            return false;
        if (target != scratch)
            *used += got;
    }
}

}  // namespace

bool IsolatedPathAvailable()
{
    if (BackendKindLoaded != BackendSms || !BackendDir[0])
        return false;
    wchar_t path[MAX_PATH + 64];
    if (!JoinWide(path, sizeof path / sizeof path[0], BackendDir, kReaderName))
        return false;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RunSerialReader(uint16_t productId, const char* selector, char* out, size_t size)
{
    if (!out || size == 0)
        return false;
    out[0] = '\0';
    wchar_t reader[MAX_PATH + 64];
    JoinWide(reader, sizeof reader / sizeof reader[0], BackendDir, kReaderName);
    DWORD attributes = GetFileAttributesW(reader);
    if (!BackendDir[0] || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetBackendError("SmsSerialReader.exe not found");
        return false;
    }

    WideLine line;
    char numbers[32];
    FormatText(numbers, sizeof numbers, "\" %04X %04X \"", (unsigned)kVendorId, (unsigned)productId);
    line.Add("\"");
    line.Add(reader);
    line.Add(numbers);
    line.Add(kDeviceInterfaceGuid);
    line.Add("\" ");
    line.Add(selector ? selector : "all");

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        SetBackendError("CreatePipe failed %lu", (unsigned long)GetLastError());
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    BOOL started = CreateProcessW(nullptr, line.text, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  BackendDir, &startup, &process);
    DWORD startError = GetLastError();
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        SetBackendError("CreateProcess(SmsSerialReader) failed %lu", (unsigned long)startError);
        return false;
    }
    CloseHandle(process.hThread);

    size_t used = 0;
    bool timedOut = true;
    const DWORD timeout = SerialReaderTimeoutMs.load();
    const DWORD startTick = GetTickCount();
    for (;;) {
        bool pipeOpen = DrainAvailable(readEnd, out, size, &used);
        if (WaitForSingleObject(process.hProcess, pipeOpen ? 10 : 50) == WAIT_OBJECT_0) {
            DrainAvailable(readEnd, out, size, &used);
            timedOut = false;
            break;
        }
        if (GetTickCount() - startTick >= timeout)
            break;
    }
    if (timedOut)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    out[used] = '\0';

    if (timedOut) {
        SetBackendError("SmsSerialReader timed out");
        return false;
    }
    char error[kBackendErrorSize];
    if (JudgeReaderOutput(out, error, sizeof error))
        return true;
    SetBackendError("%s", error);
    return false;
}
