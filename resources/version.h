// Version of both programs, shown in their version resources.
#pragma once
#define GAUGELINE_VERSION_MAJOR 1
#define GAUGELINE_VERSION_MINOR 0
#define GAUGELINE_VERSION_PATCH 0
#define GAUGELINE_VERSION_TEXT "1.0.0"
#define GAUGELINE_COMPANY "Kovra"
#define GAUGELINE_PRODUCT "Kovra Gaugeline"
