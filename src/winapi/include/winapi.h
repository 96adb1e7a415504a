// The seam: the one header through which module and host code reach the Windows API.
// CMake puts the platform's directory on the include path: the real SDK headers on Windows,
// the Linux layer's declarations of the subset this project uses elsewhere.
#pragma once
#include "winapi_platform.h"
