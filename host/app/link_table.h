// The host's side of the C link: fills the function table of a DMHostLink
// with functions that act on one Host.
#pragma once

#include "host/link/dm_link.h"

namespace dmhost {

class Host;

// Sets every function of *link and link->host = host; leaves the version.
void FillLinkTable(DMHostLink* link, Host* host);

}  // namespace dmhost
