// Windows side of the seam: the system headers themselves.
#pragma once
#include <windows.h>
#include <pdh.h>
#include <psapi.h>
#include <pdhmsg.h>
#include <wtsapi32.h>
#include <process.h>
#include <errno.h>
