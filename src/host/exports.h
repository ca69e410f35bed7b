// The SED exports: undecorated stdcall names with fixed ordinals (NyraPro.def), 32-bit
// arguments and results in the product. Nothing thrown inside may leave them. They are
// defined in exports_config_win.cpp and exports_capture_win.cpp; the host finds them by name.
#pragma once
#include <cstdint>
