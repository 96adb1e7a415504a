// The module's entry points: the three plug-in exports (undecorated names) and DllMain.
#pragma once
#include "frame/host/host.h"

extern "C" {
// Starts the plug-in; true when initialisation is under way or done.
STATRIX_EXPORT bool PluginInit();
// Takes the plug-in down and returns once every thread the module started has ended. Must not
// be called from a module thread.
STATRIX_EXPORT void PluginExit();
// Replaces the plug-in's parameters with a copy of `params` (null: nothing); always true.
STATRIX_EXPORT bool PluginParams(CORE::PropertyBag* params);
// Process attach: records the module handle and name and tells the host the library is loaded.
STATRIX_ENTRY BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
}
