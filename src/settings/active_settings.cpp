#include "settings/active_settings.h"

HostConfigBlob HostBlob;
NyraSettings ActiveSettings;
