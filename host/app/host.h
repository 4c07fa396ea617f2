// The stand-in host: loads a plug-in module, keeps its script functions,
// images, strings, the Results window, host errors, the version word and
// simulated mouse and keyboard, and calls registered functions by name.
//
// Usage:
//   orvanhost::HostProgram host;                       // version word 0x030A0000
//   host.SetResultsSink([](std::string_view t) { std::cout << t; });
//   host.LoadModule("/path/orvantools.so");  // dlopen, link, PlugInStartup
//   orvanhost::ImagePtr img = orvanhost::MakeRealImage(64, 64, pixels);
//   orvanhost::ImagePtr profile;                // empty image variable
//   double x = 0, y = 0;
//   std::optional<double> r = host.Call("GuessCenter",
//       {orvanhost::Arg::Image(img), orvanhost::Arg::NumberRef(&x), orvanhost::Arg::NumberRef(&y)});
//   host.Call("AzimuthalIntegral", {orvanhost::Arg::Image(img),
//       orvanhost::Arg::ImageSlot(&profile), orvanhost::Arg::Number(x), ...});
//   std::string shown = host.ResultsText();
//   host.ShutdownModule(); host.UnloadModule();   // or just let ~HostProgram do it
// A handler that reports a host error makes Call throw HostError (after the
// out-parameters are written back). Tests that link the module's code into
// their own program use AttachModule with its entry points instead of
// LoadModule. One host drives one module; a module's statics make it
// linkable to one host at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/app/call_args.h"
#include "host/app/function_library.h"
#include "host/app/host_error.h"
#include "host/app/counted_string.h"
#include "host/app/image.h"
#include "host/app/signature.h"
#include "host/link/host_link.h"

namespace orvanhost {

// The six entry points of a module.
struct EntryPoints {
    HostPlugIn_GetVersion_Fn get_version = nullptr;
    HostPlugIn_Link_2_Fn link = nullptr;
    HostPlugIn_Step_Fn startup = nullptr;
    HostPlugIn_Step_Fn run = nullptr;
    HostPlugIn_Step_Fn cleanup = nullptr;
    HostPlugIn_Step_Fn shutdown = nullptr;
};

// One keybd_event call as the module made it.
struct KeyEvent {
    int virtual_key;
    int scan_code;
    uint32_t flags;
    uintptr_t extra_info;
};

class HostProgram {
public:
    static constexpr uint32_t kDefaultVersion = 0x030A0000;  // 3.10.0

    HostProgram();
    HostProgram(const HostProgram&) = delete;
    HostProgram& operator=(const HostProgram&) = delete;
    // Shuts nothing down: unloads a loaded module (its static destructors
    // withdraw its functions) and unlinks an attached one.
    ~HostProgram();

    // ---- version word (read by the module at PlugInStartup)
    void SetVersion(uint32_t word) { link_.version = word; }
    uint32_t Version() const { return link_.version; }
    const HostLink& Link() const { return link_; }

    // ---- module life
    // dlopen (RTLD_NOW | RTLD_LOCAL), look up the six entry points, check the
    // link protocol (2), link, then StartModule(). Throws ModuleError when the
    // module cannot be loaded or linked (nothing stays loaded), HostError when
    // its start-up reported an error (the module stays loaded and linked,
    // with whatever it registered before the error).
    void LoadModule(const std::string& path);
    // The same for a module whose code is in this program.
    void AttachModule(const EntryPoints& entry_points);
    // PlugInStartup / PlugInRun / PlugInCleanup / PlugInShutdown. Each throws
    // HostError when the step reported one (or returned an error code).
    // Throws ModuleError when no module is loaded.
    void StartModule();
    void RunModule();
    void CleanupModule();
    void ShutdownModule();
    // dlclose without shutdown (the module's static destructors withdraw
    // what is still registered); an attached module is only unlinked.
    void UnloadModule();
    bool HasModule() const { return has_module_; }
    // Links the module with no host interface (a null link) and runs its
    // start-up, then links it again: for testing the module's refusal.
    // Returns the step's code. The module forgets what it had registered
    // (it stays in the library until UnloadModule).
    int32_t StartModuleUnlinked();

    // ---- script functions
    const FunctionEntry* FindFunction(const std::string& name) const { return library_.Find(name); }
    std::vector<const FunctionEntry*> Functions() const { return library_.Entries(); }
    std::vector<std::string> FunctionNames() const { return library_.Names(); }
    // Names the module withdrew, in order (not those the host dropped itself
    // after an unload).
    const std::vector<std::string>& WithdrawalLog() const { return library_.Withdrawals(); }
    FunctionLibrary& Library() { return library_; }
    // Calls a registered function by name through libffi with arguments of
    // the signature's kinds. Returns the result, or nothing for a void
    // function. Throws CallError when the name is unknown or the arguments do
    // not fit (before anything is called), HostError when the handler
    // reported a host error (out-parameters are written back first).
    std::optional<double> Call(const std::string& name, const std::vector<Arg>& args);

    // ---- Results window
    // Everything the module showed, in order; and each Result call's text.
    const std::string& ResultsText() const { return results_; }
    const std::vector<std::string>& ResultCalls() const { return result_calls_; }
    void ClearResults();
    // Also hands every Result text to sink as it arrives (e.g. to stdout).
    void SetResultsSink(std::function<void(std::string_view)> sink) { sink_ = std::move(sink); }
    // false: Result texts reach only the sink, and ResultsText/ResultCalls stay
    // empty. A program that streams them keeps its memory steady however long
    // its script runs.
    void KeepResults(bool keep) { keep_results_ = keep; }
    // Appends text as the host's own "void Result( host_string )" does.
    void ShowResult(std::string_view text);

    // ---- host errors
    // Reports an error as a module does; Call and the module steps throw it.
    void ReportError(int32_t code, std::string text);
    // Takes the pending error, if any (a reported error not yet thrown).
    std::optional<HostError> TakeError();
    // Every error reported so far, in order (also those already thrown).
    const std::vector<HostError>& ErrorLog() const { return error_log_; }

    // ---- failure injection
    // The next call of the named host function (after skipping `skip` calls)
    // fails with HOST_ERROR_HOST_FUNCTION and message (default
    // "<name> failed"). Names: RealImage, IntegerImage, ComplexImage,
    // ImageIsValid, ImageGetNumDimensions, ImageGetDimensionSize,
    // ImageGetDataType, ImageChangeDataType, ImageGetLockedData,
    // ImageDataChanged, NewString, GetString, AddFunction, Result.
    void FailOnce(const std::string& host_function, std::string message = "", int skip = 0);
    // True (and the injection consumed) when this call of name is to fail;
    // fills *error. Used by the link functions.
    bool ShouldFail(const char* host_function, LinkError* error);

    // ---- simulated mouse and keyboard (virtual-key codes 1 left, 2 right,
    // 4 middle; 16 shift, 27 escape)
    // Pressing sets "down" and "pressed since the last query"; releasing
    // clears "down" only.
    void SetKeyDown(int virtual_key, bool down);
    // The key-state word: 0x8000 while down, | 1 when pressed since the last
    // query; the query clears the second bit and is logged.
    int16_t AsyncKeyState(int virtual_key);
    const std::vector<int>& KeyStateQueries() const { return key_queries_; }
    void KeyEventCall(const KeyEvent& event);  // as keybd_event: logged only
    const std::vector<KeyEvent>& KeyEvents() const { return key_events_; }

private:
    void StartStep(HostPlugIn_Step_Fn step, const char* what);
    void ThrowPendingError();
    void Unlink();

    HostLink link_{};
    FunctionLibrary library_;
    EntryPoints entry_{};
    void* dl_handle_ = nullptr;
    std::string dl_path_;
    bool has_module_ = false;

    std::string results_;
    std::vector<std::string> result_calls_;
    bool keep_results_ = true;
    std::function<void(std::string_view)> sink_;

    std::optional<HostError> pending_error_;
    std::vector<HostError> error_log_;

    struct Injection {
        int skip;
        std::string message;
    };
    std::multimap<std::string, Injection> injections_;

    struct KeyState {
        bool down = false;
        bool pressed_since_query = false;
    };
    std::map<int, KeyState> keys_;
    std::vector<int> key_queries_;
    std::vector<KeyEvent> key_events_;
};

}  // namespace orvanhost
