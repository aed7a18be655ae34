// Compiles only where NVIDIA's nvml.h agrees with every line of the table
// printed from our declarations (nvml_declarations_table.cpp). The older
// unversioned functions are declared under their own names.
#define NVML_NO_UNVERSIONED_FUNC_DEFS
#include <nvml.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "nvml_declarations.h"
