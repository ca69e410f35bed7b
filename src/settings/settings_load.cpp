// The load order of the settings record and the one-time migrations of old settings files.
// Source: the host blob when it carries settings, else settings.dat, else the defaults; each
// is validated. Correction folders left at the default (or empty) then follow PluginDataDir.
// A settings.dat of version 1 or 2 is migrated once (capture timeout 60 s -> 300 s for
// version 1; diagnostic logging switched off) and rewritten as version 3, so the migrations
// never run again for it. Only the destination and the file change, never the blob.
#include <cstring>

#include "base/host_context.h"
#include "base/log.h"
#include "base/text.h"
#include "settings/settings.h"

namespace {

// Version 1 used 60 s as its default capture timeout: a stored 60 is taken as that default
// and moved to the new one; any other value was the user's choice and is kept.
constexpr int32_t kOldDefaultTimeout = 60;
constexpr int32_t kNewDefaultTimeout = 300;

void MigrateSettingsFile(NyraSettings* destination)
{
    uint32_t version = 0;
    if (!ReadSettingsFileVersion(&version) || (version != 1 && version != 2))
        return;
    if (version == 1 && destination->captureTimeoutSeconds == kOldDefaultTimeout) {
        destination->captureTimeoutSeconds = kNewDefaultTimeout;
        LogTrace("NyraLoadSettings: capture timeout migrated 60s -> 300s (5 min)");
    }
    if (destination->enableLogging) {
        destination->enableLogging = 0;
        LogTrace(
            "NyraLoadSettings: diagnostic logging turned OFF (new default; re-enable in Hardware options)");
    }
    NyraPersistSave(destination);
}

}  // namespace

void ApplyDataDirToModels(NyraSettings* settings, const char* dataDir)
{
    if (!settings || !dataDir || !dataDir[0])
        return;
    for (SensorModelParams& model : settings->models) {
        if (!model.correctionDir[0] || CompareNoCase(model.correctionDir, kDefaultDataDir) == 0)
            CopyText(model.correctionDir, sizeof model.correctionDir, dataDir);
    }
}

void NyraLoadSettings(const HostConfigBlob* blob, NyraSettings* destination)
{
    if (!destination)
        return;
    if (blob && BlobHasSettings(*blob)) {
        memmove(destination, &blob->settings, sizeof *destination);
        ValidateSettings(destination);
    } else if (ReadSettingsFile(destination)) {
        LogTrace("NyraLoadSettings: restored from persisted file");
    } else {
        SettingsDefaults(destination);
        ValidateSettings(destination);
    }
    if (PluginDataDir[0])
        ApplyDataDirToModels(destination, PluginDataDir);
    MigrateSettingsFile(destination);
}
