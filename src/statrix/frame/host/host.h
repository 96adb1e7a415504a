// The module's view of its host: the framework library (namespace CORE) and the Windows API seam.
#pragma once
#include "varnel/varnel.h"
#include "winapi.h"
