// The NvAPI binding layer: loads nvapi64.dll from the system directory on first
// use and forwards each NvAPI call to the driver function of its interface id.
// Every entry takes the driver function's own parameters and returns its status
// unchanged; the layer itself adds NVAPI_ERROR, NVAPI_LIBRARY_NOT_FOUND,
// NVAPI_NO_IMPLEMENTATION and NVAPI_API_NOT_INITIALIZED. Built for Windows only.
#pragma once
#include "gpu/nvapi_calls.h"

NvAPI_Status NvAPI_Initialize();
NvAPI_Status NvAPI_Unload();

#define GAUGELINE_NVAPI_DECLARE(entry, name, id, field, params, args) NvAPI_Status name params;
GAUGELINE_NVAPI_CALLS(GAUGELINE_NVAPI_DECLARE)
#undef GAUGELINE_NVAPI_DECLARE
