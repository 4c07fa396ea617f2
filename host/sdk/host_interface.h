// The host interface a module talks to: the link object the host handed
// over through HostPlugIn_Link_2.
#pragma once

#include "host/link/host_link.h"

namespace Host {
namespace PlugIn {

// The installed link, or null when there is no host interface.
const HostLink* CurrentLink();
// The installed link; throws plugin_exception when there is none.
const HostLink& RequireLink();
// Installs a link (null: none). A different link than before means another
// host: the plug-in object forgets what it registered with the old one.
void SetLink(const HostLink* link);
// A fresh error record for one host call.
LinkError NoError();

}  // namespace PlugIn
}  // namespace Host
