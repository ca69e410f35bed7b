// A devices folder laid out as an installation would have it, with our stand-in vendor library
// of the SMS kind in <devices>\Nyra\SMS, configured through its simsdk.ini.
#pragma once
#include <string>

#include "exports/plugin_host.h"

class SimDevices {
public:
    // Copies the stand-in into <host folder>\Devices\Nyra\SMS with the given configuration.
    SimDevices(const PluginHost& host, const std::string& ini);
    const std::string& devices() const { return devices_; }
    const std::string& smsDir() const { return sms_; }
    void configure(const std::string& ini) const;
    // Lets a read that ignores abort and close return ("stuck" mode).
    void release() const;
    std::string calls() const;

private:
    std::string devices_, sms_;
};
