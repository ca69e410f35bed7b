#include "exports/sim_devices.h"

#include <windows.h>

#include <vector>

SimDevices::SimDevices(const PluginHost& host, const std::string& ini)
{
    devices_ = host.dir().file("Devices");
    std::string nyra = devices_ + "\\Nyra";
    sms_ = nyra + "\\SMS";
    CreateDirectoryA(devices_.c_str(), nullptr);
    CreateDirectoryA(nyra.c_str(), nullptr);
    CreateDirectoryA(sms_.c_str(), nullptr);
    for (const char* name : {"SMS_API.dll", "CMOS_OPTION.dll"})
        CopyFileA((OutputFolder() + name).c_str(), (sms_ + "\\" + name).c_str(), FALSE);
    WriteFileBytes(sms_ + "\\CMOSMemory_0000.bin", {});
    configure(ini);
}

void SimDevices::configure(const std::string& ini) const
{
    WriteFileBytes(sms_ + "\\simsdk.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
}

void SimDevices::release() const
{
    WriteFileBytes(sms_ + "\\sim_release.flag", {'1'});
}

std::string SimDevices::calls() const
{
    return ReadFileText(sms_ + "\\simsdk_calls.log");
}
