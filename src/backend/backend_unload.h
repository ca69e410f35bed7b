// Releases the open sensor and frees the vendor library when the plug-in is unloaded. Runs
// under the loader lock, so it must not wait for a thread to start.
#pragma once

void ReleaseBackendAtUnload();
