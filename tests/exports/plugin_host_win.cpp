#include "exports/plugin_host.h"

#include <cstring>

#include "settings/host_blob.h"
#include "settings/settings.h"

std::vector<std::string> PluginHost::Callbacks;

static void __stdcall RecordStatus(uint32_t, uint32_t code, const char* text)
{
    PluginHost::Callbacks.push_back(std::to_string(code) + ":" + (text ? text : "(null)"));
}

PluginHost::PluginHost()
{
    Callbacks.clear();
    std::string copy = dir_.file("NyraPro.SED");
    if (CopyFileA((OutputFolder() + "NyraPro.SED").c_str(), copy.c_str(), FALSE))
        module_ = LoadLibraryA(copy.c_str());
}

PluginHost::~PluginHost()
{
    unload();
}

void PluginHost::unload()
{
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
}

void PluginHost::setDevicesDir(const std::string& path)
{
    fn<void(__stdcall*)(const char*)>("SEDSetDevicesDir")(path.c_str());
}

void PluginHost::setStatusCallback()
{
    fn<void(__stdcall*)(void*)>("SEDSetStatusCallback")(reinterpret_cast<void*>(RecordStatus));
}

NyraSettings PluginHost::DefaultSettings()
{
    NyraSettings settings;
    SettingsDefaults(&settings);
    settings.enableLogging = 1;
    return settings;
}

void PluginHost::storeSettings(int32_t timeoutSeconds, bool logging)
{
    NyraSettings settings = DefaultSettings();
    settings.captureTimeoutSeconds = timeoutSeconds;
    settings.enableLogging = logging ? 1 : 0;
    storeSettings(settings);
}

HostConfigBlob PluginHost::MakeBlob(const NyraSettings& settings)
{
    HostConfigBlob blob;
    memset(&blob, 0, sizeof blob);
    blob.version = kHostBlobVersion;
    memcpy(blob.magic, "NYRS", 4);
    blob.settings = settings;
    return blob;
}

void PluginHost::storeSettings(const NyraSettings& settings)
{
    HostConfigBlob blob = MakeBlob(settings);
    fn<uint32_t(__stdcall*)(const void*, uint32_t)>("SEDSetConfigurationAndOptions")(&blob, sizeof blob);
}

HGLOBAL PluginHost::capture16(uint32_t ctx1, uint32_t ctx2)
{
    return fn<HGLOBAL(__stdcall*)(uint32_t, uint32_t)>("SEDCaptureImage16")(ctx1, ctx2);
}

std::string PluginHost::errorText()
{
    char text[512] = "";
    fn<uint32_t(__stdcall*)(char*, int32_t)>("SEDGetErrorMessage")(text, sizeof text);
    return text;
}

std::string PluginHost::imageInfo()
{
    char text[256] = "";
    fn<uint32_t(__stdcall*)(char*, int32_t)>("SEDGetImageInfo")(text, sizeof text);
    return text;
}

std::vector<uint8_t> PluginHost::TakeDib(HGLOBAL dib)
{
    std::vector<uint8_t> bytes;
    if (!dib)
        return bytes;
    const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(dib));
    bytes.assign(p, p + GlobalSize(dib));
    GlobalUnlock(dib);
    GlobalFree(dib);
    return bytes;
}
