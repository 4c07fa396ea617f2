#include "host/sdk/entry_points.h"

#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"
#include "host/sdk/plugin_main.h"
#include "host/sdk/report_error.h"

using namespace Host::PlugIn;

namespace {

template <typename Step>
int32_t RunStep(Step step) {
    try {
        step(PlugInMain::Instance());
        return 0;
    } catch (...) {
        return ReportCurrentError();
    }
}

}  // namespace

extern "C" {

uint32_t HostPlugIn_GetVersion(void) { return HOST_LINK_PROTOCOL; }

void HostPlugIn_Link_2(const HostLink* link, uint32_t) { SetLink(link); }

int32_t PlugInStartup(void) {
    return RunStep([](PlugInMain* plugin) {
        const HostLink* link = CurrentLink();
        if (!link || link->version < HOST_MIN_VERSION)
            throw plugin_exception(HOST_ERROR_PLUGIN_VERSION, "This plugin requires host 3.10.0 or later.");
        if (plugin) plugin->Start();
    });
}

int32_t PlugInRun(void) {
    return RunStep([](PlugInMain* plugin) {
        if (plugin) plugin->Run();
    });
}

int32_t PlugInCleanup(void) {
    return RunStep([](PlugInMain* plugin) {
        if (plugin) plugin->Cleanup();
    });
}

int32_t PlugInShutdown(void) {
    return RunStep([](PlugInMain* plugin) {
        if (!plugin) return;
        // Withdraw even when End fails; its error is still reported.
        struct Withdraw {
            PlugInMain* p;
            ~Withdraw() { p->RemoveAllFunctions(); }
        } withdraw{plugin};
        plugin->End();
    });
}

}  // extern "C"
