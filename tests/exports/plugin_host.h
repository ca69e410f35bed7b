// A fresh copy of the built plug-in for one test, loaded from its own temporary folder (so its
// log file and its process-wide state belong to that test), with typed access to its exports.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "settings/host_blob.h"
#include "settings/settings_record.h"
#include "support/test_support.h"
#include "support/win_module.h"

class PluginHost {
public:
    PluginHost();
    ~PluginHost();
    bool loaded() const { return module_ != nullptr; }
    // Unloads the plug-in as a host does at exit (the destructor does it otherwise).
    void unload();
    HMODULE module() const { return module_; }
    const TempDir& dir() const { return dir_; }
    std::string logText() const { return ReadFileText(dir_.file("NyraSED.log")); }

    template <typename Fn>
    Fn fn(const char* name) const
    {
        return ProcAs<Fn>(module_, name);
    }

    // Calls that most tests make.
    void setDevicesDir(const std::string& path);
    void setStatusCallback();
    // Stores a blob whose settings open the log gate at the next capture (logging on) and use
    // the given capture timeout, as the options dialog would.
    void storeSettings(int32_t timeoutSeconds, bool logging);
    void storeSettings(const NyraSettings& settings);
    // The blob the host stores for these settings.
    static HostConfigBlob MakeBlob(const NyraSettings& settings);
    // The defaults with logging on.
    static NyraSettings DefaultSettings();
    HGLOBAL capture16(uint32_t ctx1, uint32_t ctx2);
    std::string errorText();
    std::string imageInfo();
    // The DIB's bytes; frees the handle.
    static std::vector<uint8_t> TakeDib(HGLOBAL dib);

    // Status callbacks received, as "code:text".
    static std::vector<std::string> Callbacks;

private:
    TempDir dir_;
    HMODULE module_ = nullptr;
};
