// The module's plug-in object.
#pragma once

#include "host/sdk/plugin_main.h"

// Start registers the 23 script functions; Run, Cleanup and End do
// nothing. The one instance is plugin_instance.
class ORVANTOOLS : public Host::PlugIn::PlugInMain {
public:
    ~ORVANTOOLS() override;
    // log_threshold back to 0, then one AddFunction per script function in
    // table order. A refused registration throws plugin_exception and ends
    // Start there; the functions registered before it stay.
    void Start() override;
    void Run() override;
    void Cleanup() override;
    void End() override;
};

extern ORVANTOOLS plugin_instance;
