// The host interface a module talks to: the link object the host handed
// over through DMPlugIn_Link_2.
#pragma once

#include "host/link/dm_link.h"

namespace Gatan {
namespace PlugIn {

// The installed link, or null when there is no host interface.
const DMHostLink* CurrentLink();
// The installed link; throws dmplugin_exception when there is none.
const DMHostLink& RequireLink();
// Installs a link (null: none). A different link than before means another
// host: the plug-in object forgets what it registered with the old one.
void SetLink(const DMHostLink* link);
// A fresh error record for one host call.
DMError NoError();

}  // namespace PlugIn
}  // namespace Gatan
