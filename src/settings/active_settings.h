// The settings the process holds: the host's stored blob and the working copy, reloaded at each
// capture start, correction build, saturation read and group end.
#pragma once
#include "settings/host_blob.h"
#include "settings/settings_record.h"

extern HostConfigBlob HostBlob;  // the host's stored blob
extern NyraSettings ActiveSettings;
