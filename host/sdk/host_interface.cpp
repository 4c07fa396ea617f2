#include "host/sdk/host_interface.h"

#include "host/sdk/dmplugin_exception.h"
#include "host/sdk/plugin_main.h"

namespace Gatan {
namespace PlugIn {

namespace {
const DMHostLink* installed = nullptr;
}

const DMHostLink* CurrentLink() { return installed; }

const DMHostLink& RequireLink() {
    if (!installed) throw dmplugin_exception(DM_ERROR_HOST_FUNCTION, "no host interface");
    return *installed;
}

void SetLink(const DMHostLink* link) {
    if (link != installed) {
        if (PlugInMain* p = PlugInMain::Instance()) p->ForgetFunctions();
    }
    installed = link;
}

DMError NoError() {
    DMError e;
    e.code = 0;
    e.text[0] = '\0';
    return e;
}

}  // namespace PlugIn
}  // namespace Gatan
