// Linux side of the seam: declarations of the Win32 subset that module and host use,
// implemented by the Linux layer (src/winapi/linux) over procfs, pthreads and plain files.
#pragma once
#include "win_types.h"
#include "win_base.h"
#include "win_registry.h"
#include "win_system.h"
#include "win_pdh.h"
#include "win_wts.h"
