#include "host/sdk/host_interface.h"

#include "host/sdk/plugin_exception.h"
#include "host/sdk/plugin_main.h"

namespace Host {
namespace PlugIn {

namespace {
const HostLink* installed = nullptr;
}

const HostLink* CurrentLink() { return installed; }

const HostLink& RequireLink() {
    if (!installed) throw plugin_exception(HOST_ERROR_HOST_FUNCTION, "no host interface");
    return *installed;
}

void SetLink(const HostLink* link) {
    if (link != installed) {
        if (PlugInMain* p = PlugInMain::Instance()) p->ForgetFunctions();
    }
    installed = link;
}

LinkError NoError() {
    LinkError e;
    e.code = 0;
    e.text[0] = '\0';
    return e;
}

}  // namespace PlugIn
}  // namespace Host
