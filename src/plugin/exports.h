// The SED exports: undecorated stdcall names with fixed ordinals (NyraPro.def), 32-bit
// arguments and results. Nothing thrown inside may leave them.
#pragma once
#include <cstdint>

#include "plugin/globals.h"

extern "C" {
uint32_t NYRA_STDCALL SEDGetSEDVersion();
}
