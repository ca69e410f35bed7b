// The native build never loads a vendor library.
#include "backend/backend_unload.h"

void ReleaseBackendAtUnload() {}
