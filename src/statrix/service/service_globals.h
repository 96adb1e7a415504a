// Module-wide service state: the one service object, and the stop flag the watch reads.
#pragma once
#include "cpumem/stop_flag.h"

class statrix_service;

// The one service object; set by the plug-in's initPlugin hook.
extern statrix_service* theService;
