#include "host/sdk/windows_input.h"

#include "host/sdk/host_interface.h"

short GetAsyncKeyState(int virtual_key) {
    const HostLink* link = Host::PlugIn::CurrentLink();
    return link ? link->async_key_state(link->host, virtual_key) : 0;
}

void keybd_event(unsigned char virtual_key, unsigned char scan_code, unsigned long flags, uintptr_t extra_info) {
    if (const HostLink* link = Host::PlugIn::CurrentLink())
        link->key_event(link->host, virtual_key, scan_code, static_cast<uint32_t>(flags), extra_info);
}
