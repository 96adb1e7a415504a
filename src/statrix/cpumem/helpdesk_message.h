// The "NewDataFromStatrix" message to the help-desk worker, sent after every sampling pass.
#pragma once
#include "frame/host/host.h"

// Sends the current overall figures, the help-desk metrics and the per-session figures to
// "AgentHelpDesk" when that worker is installed; nothing at all when it is not. The bag is
// filled under `settingsLock` (the watch state's lock is taken inside it); the message is sent
// with no lock held.
void publishHelpdeskMessage(CORE::corecritsec& settingsLock);
