// The one-decimal text form of a percentage, as the listing lines print it.
#pragma once
#include "frame/host/host.h"

// "N/A" for exactly 0.0 (a process with no share yet); otherwise "%3.1f", cut at 31 characters.
CORE::corestring formatPercent(float percent);
