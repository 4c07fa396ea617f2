// The host's side of the C link: fills the function table of a HostLink
// with functions that act on one Host.
#pragma once

#include "host/link/host_link.h"

namespace orvanhost {

class HostProgram;

// Sets every function of *link and link->host = host; leaves the version.
void FillLinkTable(HostLink* link, HostProgram* host);

}  // namespace orvanhost
