// The sensor backend as the rest of the plug-in uses it: state, loader, bounded release calls,
// the fault guard, sensor enumeration and frame reads.
#pragma once
#include "backend/backend_loader.h"
#include "backend/backend_state.h"
#include "backend/capture16.h"
#include "backend/fault_guard.h"
#include "backend/sensor_identify.h"
#include "backend/sensor_select.h"
#include "backend/vendor_api.h"
#include "backend/vendor_release.h"
