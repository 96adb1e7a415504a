// Terminal-session functions of the Linux layer (login sessions from utmp).
// Filled in with the metrics subsystem; nothing is declared yet.
#pragma once
#include "win_types.h"
