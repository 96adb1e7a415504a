// Performance Data Helper functions of the Linux layer (counter catalog over procfs).
// Filled in with the metrics subsystem; nothing is declared yet.
#pragma once
#include "win_types.h"
