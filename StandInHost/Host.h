// The stand-in host: plays the compositing host for an effect module loaded
// into the same process.
//
// A Host serves the suite broker (SPBasicSuite) and the suites behind it, the
// callbacks of PF_InData and of the smart-render records, and keeps effect
// instances with their parameters and streams. Every call that a module makes
// into the host goes through a small C trampoline that
//   - finds the host (see Host::current),
//   - records the call under a stable name (see "Call names" below),
//   - applies fault injection (see Host::failCall / Host::nullResult),
//   - validates handles, worlds, effect references and streams,
//   - catches every exception, turning it into an error code,
//   - counts what it hands out, so that leaks can be reported (Host::leaks).
//
// Call names:
//   "SPBasic/AcquireSuite:<suite name> <version>"   e.g. "SPBasic/AcquireSuite:PF Handle Suite 2"
//   "SPBasic/ReleaseSuite:<suite name> <version>"
//   "<suite name> <version>/<function>"              e.g. "PF Handle Suite 2/host_new_handle"
//   "inter.add_param", "inter.checkout_param", "inter.checkin_param"
//   "utils.copy", "utils.ansi.sprintf", "utils.ansi.strcpy"
//   "PreRender/checkout_layer"
//   "SmartRender/checkout_layer_pixels", "SmartRender/checkin_layer_pixels", "SmartRender/checkout_output"
//
// Suites served: "PF Handle Suite" 2, "AEGP Utility Suite" 7, "AEGP Iterate
// Suite" 1, "PF Iterate8 Suite" 1, "PF World Suite" 1 and 2, "PF Fill Matte
// Suite" 2, "AEGP Stream Suite" 9, "AEGP Effect Suite" 2, "AEGP PF Interface
// Suite" 1. Any other name or version is refused (error, null suite).
//
// Thread model: a host may be used from several threads at once (bookkeeping
// is locked), and several hosts may live in one process. Suite functions carry
// no context, so each thread has a current host: set it with Host::Scope (the
// Session does so around every command; the worker threads of the iterate
// suite have it set). Without a scope, the most recently created live host is
// current.
#ifndef STANDIN_HOST_H
#define STANDIN_HOST_H

#include "HostAPI.h"
#include "World.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

class Host;
class WorkerPool;

// ---- Reports ---------------------------------------------------------------

struct SuiteBalance {
    std::string name;
    int version = 0;
    long acquired = 0;
    long released = 0;
};

// What a module still holds from the host. Handles that the host itself holds
// (global data between GlobalSetup and GlobalSetdown, pre-render data between
// the two render steps) are not counted; see Host::holdHandle.
struct LeakReport {
    std::vector<SuiteBalance> unreleasedSuites; // acquired != released
    long liveHandles = 0;
    long liveWorlds = 0; // worlds made through the world suites
    long checkedOutParams = 0;
    long liveEffectRefs = 0;
    long liveStreams = 0;
    long liveStreamValues = 0;
    // Invalid handles, worlds, references and the like passed to the host,
    // double disposals, exceptions thrown into the host. Not leaks, but faults.
    std::vector<std::string> misuse;

    bool clean() const;
    // One line per finding; empty when clean.
    std::string describe() const;
};

// ---- Fault injection -------------------------------------------------------

enum class FaultKind {
    // The call fails with the rule's code. Calls that hand back a handle,
    // pointer, suite or world hand back null as well; calls without an error
    // result (host_new_handle, host_lock_handle, utils.ansi.strcpy) just
    // return null.
    Error,
    // The call hands back no handle, pointer, suite or world and reports
    // success (a "silent" failure): AcquireSuite, host_new_handle,
    // host_lock_handle, AEGP_GetNewEffectForEffect,
    // AEGP_GetNewEffectStreamByIndex, checkout_layer_pixels, checkout_output,
    // new_world and PF_NewWorld (no pixels), checkout_param (a layer without
    // pixels, an empty definition), AEGP_RegisterWithAEGP (no id written),
    // strcpy; AEGP_GetNumThreads reports 0 threads; checkout_layer checks out
    // a layer without pixels (empty rectangles; checkout_layer_pixels then
    // hands back no world).
    // Calls with nothing to hand back do nothing and report success, except
    // add_param, utils.copy, the fills, PF_GetPixelFormat, iterate_generic,
    // AEGP_GetNewStreamValue and AEGP_SetStreamValue, which do nothing and
    // return PF_Err_BAD_CALLBACK_PARAM.
    NullResult,
};

// Disposals and releases (host_dispose_handle, dispose_world,
// AEGP_DisposeStream, ..., SPBasic ReleaseSuite) report an injected error
// but still take the resource back: a module cannot do more than ask, and a
// sweep should check how it handles the code, not find a host that kept what
// it was told to free.

struct FaultRule {
    std::string call; // call name, see the header comment
    FaultKind kind = FaultKind::Error;
    PF_Err code = PF_Err_INTERNAL_STRUCT_DAMAGED;
    long occurrence = 0; // 1-based occurrence of `call` to hit; 0 = every one
};

// ---- Effect instances ------------------------------------------------------

// Value kinds of parameter streams.
enum class StreamKind { OneD, TwoD, ThreeD, Color };

// A time as the host compares it: value / scale seconds (scale > 0).
struct TimeKey {
    A_long value = 0;
    A_u_long scale = 1;
    bool operator<(const TimeKey& other) const;
    bool operator==(const TimeKey& other) const;
};

// One applied effect: its parameters (index 0 is the input layer, the others
// are added by the module through inter.add_param or defined by a test) and
// their values over time. Made by Host::createEffect; PF_InData::effect_ref
// of the effect's commands is ref().
class Effect {
public:
    Host& host() const { return *host_; }
    PF_ProgPtr ref() const { return reinterpret_cast<PF_ProgPtr>(const_cast<Effect*>(this)); }

    // Number of parameters including the input layer (index 0).
    int numParams() const;
    // The definition as the module added it (index >= 1), or null.
    const PF_ParamDef* paramDef(int index) const;
    // How many definitions inter.add_param accepted.
    int addedParams() const;

    // A parameter a test defines directly (as if another host component had
    // added it): a stream of `kind` with a constant value. A OneD stream is a
    // float slider; the others are point, 3-D point and colour parameters.
    void defineParam(int index, StreamKind kind, const AEGP_StreamVal2& value, const char* name = "");

    // Stream values. Without a time, the constant value (used at every time
    // without a value of its own); with a time, the value at exactly that time.
    void setValue(int index, const AEGP_StreamVal2& value);
    void setValue(int index, const AEGP_StreamVal2& value, TimeKey time);
    // The value an expression yields at `time`; a stream read after
    // expressions (pre_expression false) returns it.
    void setExpressionValue(int index, const AEGP_StreamVal2& value, TimeKey time);
    // Slider shorthand (one-dimensional value).
    void setSlider(int index, double value);
    void setSlider(int index, double value, TimeKey time);
    // Value at `time` before or after expressions. Unknown index: zeros.
    AEGP_StreamVal2 valueAt(int index, TimeKey time, bool preExpression = true) const;
    StreamKind streamKind(int index) const;

    // The world that checking out the layer parameter (index 0) yields:
    // one world for all times, or one for a given time. Not owned. A null
    // world makes the checkout succeed without pixels.
    void setInputLayer(World* world);
    void setInputLayer(World* world, TimeKey time);
    World* inputLayerAt(TimeKey time) const;

    long checkedOutParams() const;

    struct Impl;
    Impl& impl() const { return *impl_; }
    explicit Effect(Host* host);
    ~Effect();

private:
    friend class Host;
    friend class Frame;
    Host* host_;
    std::unique_ptr<Impl> impl_;
};

// ---- Frames ----------------------------------------------------------------

struct FrameOptions {
    TimeKey time{0, 30};
    A_long timeStep = 1;
    // Workers that run iterate_generic (at least 1) and the count that
    // AEGP_GetNumThreads reports (any value, to probe robustness; when left at
    // kSameAsWorkers it equals `threads`).
    int threads = 1;
    static constexpr int kSameAsWorkers = -0x7fffffff;
    int reportedThreads = kSameAsWorkers;
    PF_RationalScale downsampleX{1, 1};
    PF_RationalScale downsampleY{1, 1};
    // The output request of the pre-render step. Empty (the default) means
    // the whole output world.
    PF_LRect request{0, 0, 0, 0};
};

// The records of one smart-render frame: built by Host::beginFrame, they stay
// valid until the Frame is destroyed. A test may change any field before
// calling the module (e.g. null pre_render_data). The Session drives them.
class Frame {
public:
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    PF_InData& inData() { return in_; }
    PF_OutData& outData() { return out_; }
    PF_PreRenderExtra& preRenderExtra() { return preExtra_; }
    PF_SmartRenderExtra& smartRenderExtra() { return smartExtra_; }
    World* input() const { return input_; }
    World* output() const { return output_; }
    Effect& effect() const { return *effect_; }

    // The requests that the pre-render step made, by checkout id.
    struct Checkout {
        PF_ParamIndex index = 0;
        PF_RenderRequest request{};
        TimeKey time;
        World* world = nullptr;
    };
    const std::map<A_long, Checkout>& checkouts() const { return checkouts_; }

    // Copies pre_render_data and its deleter from the pre-render output into
    // the smart-render input (done by Session::renderFrame between the
    // steps); the host then holds a pre-render handle until finish().
    void passPreRenderData();
    // Ends the frame: calls the effect's delete_pre_render_data_func if it
    // set one, releases the host's hold on the pre-render data and forgets the
    // checkouts. A pre-render handle still alive afterwards is a leak, except
    // after a failed render step (`renderFailed`): the module may have lost
    // the very suite it needed to free it, so the host takes the handle back
    // and counts it (Host::reclaimedHandles). Safe to call twice; the
    // destructor calls it.
    void finish(bool renderFailed = false);

    Frame(Host& host, Effect& effect, World* input, World* output, const FrameOptions& options);

private:
    friend class Host;
    friend struct FrameAccess;
    Host* host_;
    Effect* effect_;
    World* input_;
    World* output_;
    PF_InData in_{};
    PF_OutData out_{};
    PF_PreRenderInput preIn_{};
    PF_PreRenderOutput preOut_{};
    PF_PreRenderCallbacks preCb_{};
    PF_PreRenderExtra preExtra_{};
    PF_SmartRenderInput smartIn_{};
    PF_SmartRenderCallbacks smartCb_{};
    PF_SmartRenderExtra smartExtra_{};
    std::map<A_long, Checkout> checkouts_;
    void* heldPreRenderData_ = nullptr;
    bool finished_ = false;
};

// ---- The host --------------------------------------------------------------

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The host of this thread (see the header comment); null when none.
    static Host* current();
    // Makes `host` current on this thread for the scope's lifetime.
    class Scope {
    public:
        explicit Scope(Host& host);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Host* previous_;
    };

    // ---- Records
    // The broker to put in PF_InData::pica_basicP.
    const SPBasicSuite* broker() const;
    // The utility callbacks to put in PF_InData::utils.
    PF_UtilCallbacks* utils() const;
    // Fills a PF_InData for a command of `effect` (callbacks, broker,
    // effect_ref, time, downsampling 1/1, num_params) and clears the
    // PF_OutData. Either record may be null.
    void prepareRecords(Effect& effect, PF_InData* in, PF_OutData* out, TimeKey time = {0, 30}, A_long timeStep = 1);
    // Text buffers the ANSI callbacks bound their output to. A destination
    // outside every registered buffer is bounded to a parameter name's 32
    // bytes. Registrations are dropped by forgetTextBuffer or ~Host.
    void registerTextBuffer(char* buffer, std::size_t size);
    void forgetTextBuffer(char* buffer);

    // Calls `entry` with this host current and the exception boundary that a
    // real host keeps: an exception leaving the module is recorded as misuse
    // and answered with PF_Err_INTERNAL_STRUCT_DAMAGED. The out record's
    // return_msg is a registered 256-byte text buffer during the call.
    PF_Err callEntry(PF_EntryPointFunc entry, PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                     PF_LayerDef* output, void* extra);

    // ---- Effects
    Effect& createEffect();
    void destroyEffect(Effect& effect);
    // Builds the records of one smart-render frame for `effect`. `input` is
    // the layer served under every checkout id and by checkout_param of
    // index 0 during the frame; `output` must have the input's format.
    std::unique_ptr<Frame> beginFrame(Effect& effect, World* input, World* output, const FrameOptions& options = {});

    // ---- Suites
    // A withheld suite is refused by the broker (error, null suite).
    void withholdSuite(const std::string& name, int version, bool withheld = true);
    long acquireCount(const std::string& name, int version) const;
    long releaseCount(const std::string& name, int version) const;

    // ---- Fault injection
    void addFault(const FaultRule& rule);
    // Shorthands: fail `call` with `code` / make it return nothing, on its
    // `occurrence`-th time (1-based) or every time (0).
    void failCall(const std::string& call, PF_Err code, long occurrence = 0);
    void nullResult(const std::string& call, long occurrence = 0);
    void clearFaults();
    // How many times an injected fault has fired.
    long faultsFired() const;

    // ---- Call recording
    // Every call made into the host, in order (when recording is on, the
    // default). clearCalls() also restarts the occurrence counters.
    std::vector<std::string> calls() const;
    void clearCalls();
    void setRecording(bool on);
    // Occurrences of `call` since the last clearCalls (counted even when
    // recording is off).
    long callCount(const std::string& call) const;

    // ---- Threads
    // Workers of iterate_generic (at least 1) and the count that
    // AEGP_GetNumThreads reports (any value; by default the worker count).
    void setWorkerThreads(int count);
    int workerThreads() const;
    void setReportedThreads(int count);
    int reportedThreads() const;
    // How often each index ran in the most recent iterate_generic, and on
    // how many distinct threads.
    std::vector<int> lastIterationCounts() const;
    int lastIterationThreads() const;

    // ---- Resources
    long liveHandles() const; // all live handles, held ones included
    long liveWorlds() const;  // worlds made through the world suites
    long liveEffectRefs() const;
    long liveStreams() const;
    long liveStreamValues() const;
    long checkedOutParams() const;
    // What the module holds now (host-held handles excluded).
    LeakReport leaks() const;
    // Handles the host keeps on the module's behalf (global data, pre-render
    // data): excluded from leak reports while held. Holding an unknown handle
    // does nothing.
    void holdHandle(PF_Handle handle);
    void releaseHold(PF_Handle handle);
    bool isLiveHandle(PF_Handle handle) const;
    // Frees a handle the host owns (as a host does with global data whose
    // GlobalSetdown failed). Unknown handles are ignored.
    void disposeHandle(PF_Handle handle);
    // Handles the host took back itself: global data after a failed
    // GlobalSetdown, pre-render data after a failed render step.
    long reclaimedHandles() const;
    // Handle access for tests: size and contents of a live handle.
    std::size_t handleSize(PF_Handle handle) const;
    void* handleData(PF_Handle handle) const;
    // Plug-in ids handed out by AEGP_RegisterWithAEGP, with the names given.
    std::vector<std::pair<AEGP_PluginID, std::string>> registrations() const;
    // Records a misuse finding (also used by the trampolines); findings stay
    // in every leak report until cleared.
    void noteMisuse(const std::string& what);
    void clearMisuse();

    struct Impl;
    Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// The records of one command for code that calls library functions
// directly (no module): PF_InData and PF_OutData prepared for `effect`, with
// return_msg registered as a 256-byte text buffer while the object lives, and
// `host` current on this thread.
struct Records {
    Records(Host& host, Effect& effect, TimeKey time = {0, 30}, A_long timeStep = 1);
    ~Records();
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    PF_InData in{};
    PF_OutData out{};

private:
    Host& host_;
    Host::Scope scope_;
};

} // namespace standin

#endif
