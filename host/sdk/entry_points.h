// The module entry points the host finds by name.
#pragma once

#include <cstdint>

#include "host/link/host_link.h"

#define PLUGIN_EXPORT __attribute__((visibility("default")))

extern "C" {
// The link protocol: 2.
PLUGIN_EXPORT uint32_t HostPlugIn_GetVersion(void);
// Keeps the host's link object (null: no host interface). The second
// argument is not used.
PLUGIN_EXPORT void HostPlugIn_Link_2(const HostLink* link, uint32_t unused);
// Version check, then the plug-in object's Start. A host older than 3.10.0,
// or none, gets host error 28802 "This plugin requires host 3.10.0 or
// later." and Start is not called.
PLUGIN_EXPORT int32_t PlugInStartup(void);
// The plug-in object's Run / Cleanup.
PLUGIN_EXPORT int32_t PlugInRun(void);
PLUGIN_EXPORT int32_t PlugInCleanup(void);
// The plug-in object's End, then withdrawal of every registered function.
PLUGIN_EXPORT int32_t PlugInShutdown(void);
}
// Each step reports an exception through ReportCurrentError and returns the
// code reported, 0 when none.
