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
// The host never repairs what a module leaves behind: nothing it handed out
// is taken back behind the module's back. A handle still alive after the
// command that owned it, locked or not, is reported as a leak of the command
// that made it; a handle left locked when a command returns is reported
// with that command (LeakReport). Global data lives from GlobalSetup to
// GlobalSetdown and pre-render data to the end of its frame; only then do
// they count.
//
// Every call is recorded with the command it was made for and its arguments
// (HostCall), so that a test can assert the times, time steps, time scales,
// time modes, indices and rectangles a module passed. Arguments by call:
//   "inter.add_param"                   index
//   "inter.checkout_param"              index, what_time, time_step, time_scale
//   "PreRender/checkout_layer"          index, checkout_id, what_time, time_step, time_scale,
//                                       rect.left, rect.top, rect.right, rect.bottom, field,
//                                       channel_mask, preserve_rgb_of_zero_alpha
//   "SmartRender/checkout_layer_pixels", "SmartRender/checkin_layer_pixels"   checkout_id
//   "PF Handle Suite 2/host_new_handle", ".../host_resize_handle"            size
//   "PF World Suite 1/new_world"        width, height, flags
//   "PF World Suite 2/PF_NewWorld"      width, height, clear, format
//   "PF Fill Matte Suite 2/fill", "fill16", "fill_float"                     rect.* (when given)
//   "utils.copy"                        src_rect.*, dst_rect.* (when given)
//   "PF Iterate8 Suite 1/iterate_generic"                                    iterations
//   "AEGP Stream Suite 9/AEGP_GetNewEffectStreamByIndex"                     index
//   "AEGP Stream Suite 9/AEGP_GetNewStreamValue"   time_mode, time.value, time.scale, pre_expression
// Other calls carry no recorded arguments.
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

// A live handle that nobody holds for the module: a leak of the command
// that made it.
struct LiveHandle {
    PF_Handle handle = nullptr;
    std::size_t size = 0;
    std::string madeBy; // commandName() of the command that made it; "" outside any command
    int locks = 0;      // locks not undone
};

// A handle still locked when the command that locked it returned.
struct LockedHandle {
    PF_Handle handle = nullptr;
    std::size_t size = 0;
    std::string madeBy;   // as in LiveHandle
    std::string lockedBy; // commandName() of the command that returned with it locked
    int locks = 0;        // locks that command left
};

// What a module still holds from the host. Handles that the host itself holds
// (global data between GlobalSetup and GlobalSetdown, pre-render data until
// the end of its frame) are not counted; see Host::holdHandle.
struct LeakReport {
    std::vector<SuiteBalance> unreleasedSuites; // acquired != released
    long liveHandles = 0;                       // handles.size()
    std::vector<LiveHandle> handles;
    long liveWorlds = 0; // worlds made through the world suites
    long checkedOutParams = 0;
    long liveEffectRefs = 0;
    long liveStreams = 0;
    long liveStreamValues = 0;
    // Handles left locked when a command returned (kept until clearMisuse).
    std::vector<LockedHandle> lockedOnReturn;
    // Invalid handles, worlds, references and the like passed to the host,
    // double disposals, exceptions thrown into the host, pre-render data
    // that nothing can free. Not leaks, but faults.
    std::vector<std::string> misuse;

    bool clean() const;
    // One line per finding; empty when clean.
    std::string describe() const;
};

// "GlobalSetup (command 1)", "SmartPreRender (command 23)", ...; "command N"
// for a command without a name of its own.
std::string commandName(PF_Cmd cmd);

// ---- Call records ----------------------------------------------------------

// One call a module made into the host.
struct HostCall {
    std::string name;    // the call name (see the header comment)
    std::string command; // commandName() of the command it was made for; "" outside any command
    // The recorded arguments, in the call's order (see the header comment).
    std::vector<std::pair<std::string, long long>> args;

    bool has(const std::string& key) const;
    // The argument `key`; throws std::out_of_range when the call has none.
    long long arg(const std::string& key) const;
    // e.g. "inter.checkout_param(index=1, what_time=7, time_step=2,
    // time_scale=24) in SmartPreRender (command 23)".
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

    // Where the effect's layer starts in composition time (0 by default):
    // layer time t is composition time t + start. Values and checkouts are
    // in layer time, as the effect's commands see it; a stream read in
    // composition time (AEGP_LTimeMode_CompTime) is converted to layer time
    // first.
    void setLayerStart(TimeKey start);
    TimeKey layerStart() const;

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
// calling the module (e.g. null pre_render_data). The Session drives them
// (Session::preRender, Session::smartRender, Session::finishFrame); code that
// calls the module itself calls preRenderReturned after each pre-render,
// passPreRenderData before render and finish at the end.
//
// Pre-render data as a host keeps it: every pre-render call may hand the host
// a pre_render_data with its delete_pre_render_data_func (a failed pre-render
// too); render gets the latest one; when the frame ends the host calls the
// deleter once for every data it was handed, whether or not render ran, after
// render if it did. A data without a deleter is the module's to free: a host
// handle still alive then is a leak of the command that made it, and any
// other data that no render step received is reported as misuse, since
// nothing can free it. A data that a pre-render hands over again (the same
// pointer twice in one frame) is reported as misuse and deleted once.
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
        A_long timeStep = 0;
        World* world = nullptr;
    };
    const std::map<A_long, Checkout>& checkouts() const { return checkouts_; }

    // One pre_render_data the host was handed, in the order of the
    // pre-render calls.
    struct PreRenderData {
        void* data = nullptr;
        PF_DeletePreRenderDataFunc deleter = nullptr;
        PF_Err preRenderResult = PF_Err_NONE;
        bool rendered = false; // a render step ran with it as its pre_render_data
        bool deleted = false;  // the host called its deleter
        bool deletedAfterRender = false;
    };
    const std::vector<PreRenderData>& preRenderData() const { return handed_; }
    // Pre-render calls and render calls made on this frame so far.
    int preRenderCalls() const { return preRenderCalls_; }
    int renderCalls() const { return renderCalls_; }

    // Before a pre-render call: a second call gets a fresh output record, as
    // from a host that asks again.
    void preRenderStarting();
    // After a pre-render call: the host takes what the output record hands
    // it (a host handle among it is held until finish()).
    void preRenderReturned(PF_Err result);
    // Gives the latest pre-render data to the smart-render input.
    void passPreRenderData();
    // After a render call: the data in the smart-render input counts as
    // received by render.
    void renderReturned(PF_Err result);
    // Ends the frame: calls the deleter of every pre-render data handed
    // over, releases the host's hold on handles among them and forgets the
    // checkouts. Nothing is taken back for the module. Safe to call twice;
    // the destructor calls it.
    void finish();
    bool finished() const { return finished_; }

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
    std::vector<PreRenderData> handed_;
    std::vector<PF_Handle> held_;
    int preRenderCalls_ = 0;
    int renderCalls_ = 0;
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
    // return_msg is a registered 256-byte text buffer during the call. Host
    // calls made meanwhile, on this thread or the iterate workers, belong to
    // the command; handles it leaves locked are reported (LeakReport).
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
    // default), by name or with its command and arguments; callRecords(name)
    // gives the calls of one name. clearCalls() also restarts the occurrence
    // counters.
    std::vector<std::string> calls() const;
    std::vector<HostCall> callRecords() const;
    std::vector<HostCall> callRecords(const std::string& name) const;
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
    // What the module holds now (host-held handles excluded), with what it
    // left locked and every misuse so far.
    LeakReport leaks() const;
    // Handles the host keeps on the module's behalf (global data, pre-render
    // data): excluded from leak reports while held. Holding an unknown handle
    // does nothing. The host never frees a handle itself: one still alive
    // after its hold is released is the module's leak.
    void holdHandle(PF_Handle handle);
    void releaseHold(PF_Handle handle);
    bool isLiveHandle(PF_Handle handle) const;
    // Handle access for tests: size and contents of a live handle.
    std::size_t handleSize(PF_Handle handle) const;
    void* handleData(PF_Handle handle) const;
    // Plug-in ids handed out by AEGP_RegisterWithAEGP, with the names given.
    std::vector<std::pair<AEGP_PluginID, std::string>> registrations() const;
    // Records a misuse finding (also used by the trampolines); findings stay
    // in every leak report until cleared. clearMisuse also clears the
    // handles reported as left locked.
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
