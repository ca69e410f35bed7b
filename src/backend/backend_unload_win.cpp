// Placeholder until the vendor library loader exists: there is nothing to release yet.
#include "backend/backend_unload.h"

void ReleaseBackendAtUnload() {}
