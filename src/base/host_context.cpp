#include "base/host_context.h"

void* ModuleInstance;
void* HostMainWindow;
char SedDir[kTextPath];
char DevicesDir[kTextPath];
char PluginDataDir[kTextPath];
StatusCallbackFn StatusCallback;
uint32_t HostSensorId;
