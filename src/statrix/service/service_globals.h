// Module-wide service state shared between the service and the CPU and memory watch.
#pragma once
#include <atomic>

class statrix_service;

// The one service object; set by the plug-in's initPlugin hook.
extern statrix_service* theService;
// Set first thing in the service's destruction and never cleared; the watch's timer callback
// reads it on another thread, hence atomic.
extern std::atomic<bool> serviceStopping;
