// The module entry points the host finds by name.
#pragma once

#include <cstdint>

#include "host/link/dm_link.h"

#define DM_EXPORT __attribute__((visibility("default")))

extern "C" {
// The link protocol: 2.
DM_EXPORT uint32_t DMPlugIn_GetVersion(void);
// Keeps the host's link object (null: no host interface). The second
// argument is not used.
DM_EXPORT void DMPlugIn_Link_2(const DMHostLink* link, uint32_t unused);
// Version check, then the plug-in object's Start. A host older than 3.10.0,
// or none, gets host error 28802 "This plugin requires DM 3.10.0 or
// later." and Start is not called.
DM_EXPORT int32_t PlugInStartup(void);
// The plug-in object's Run / Cleanup.
DM_EXPORT int32_t PlugInRun(void);
DM_EXPORT int32_t PlugInCleanup(void);
// The plug-in object's End, then withdrawal of every registered function.
DM_EXPORT int32_t PlugInShutdown(void);
}
// Each step reports an exception through ReportCurrentError and returns the
// code reported, 0 when none.
