// The host's bookkeeping: current host per thread, effects and their values,
// frames, fault rules, the call log and the leak report.
#include "HostImpl.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace standin {

namespace {

thread_local Host* tl_current = nullptr;
thread_local CommandRef tl_command;

// Live hosts in creation order, for threads without a scope.
std::mutex g_hostsMu;
std::vector<Host*> g_hosts;

using Lock = std::lock_guard<std::recursive_mutex>;

std::string pointerText(const void* p) {
    std::ostringstream os;
    os << p;
    return os.str();
}

} // namespace

// ---- Commands and call records ---------------------------------------------

std::string commandName(PF_Cmd cmd) {
    const char* name = nullptr;
    switch (cmd) {
    case PF_Cmd_ABOUT:
        name = "About";
        break;
    case PF_Cmd_GLOBAL_SETUP:
        name = "GlobalSetup";
        break;
    case PF_Cmd_GLOBAL_SETDOWN:
        name = "GlobalSetdown";
        break;
    case PF_Cmd_PARAMS_SETUP:
        name = "ParamsSetup";
        break;
    case PF_Cmd_RENDER:
        name = "Render";
        break;
    case PF_Cmd_SMART_PRE_RENDER:
        name = "SmartPreRender";
        break;
    case PF_Cmd_SMART_RENDER:
        name = "SmartRender";
        break;
    default:
        return "command " + std::to_string(cmd);
    }
    return std::string(name) + " (command " + std::to_string(cmd) + ")";
}

CommandRef currentCommand() {
    return tl_command;
}

CommandScope::CommandScope(const CommandRef& command) : previous_(tl_command) {
    tl_command = command;
}

CommandScope::~CommandScope() {
    tl_command = previous_;
}

void addRect(CallArgs& args, const char* prefix, const PF_LRect* rect) {
    if (!rect) {
        return;
    }
    const std::string p(prefix);
    args.emplace_back(p + ".left", rect->left);
    args.emplace_back(p + ".top", rect->top);
    args.emplace_back(p + ".right", rect->right);
    args.emplace_back(p + ".bottom", rect->bottom);
}

bool HostCall::has(const std::string& key) const {
    return std::any_of(args.begin(), args.end(), [&](const auto& a) { return a.first == key; });
}

long long HostCall::arg(const std::string& key) const {
    for (const auto& a : args) {
        if (a.first == key) {
            return a.second;
        }
    }
    throw std::out_of_range(name + " has no argument \"" + key + "\"");
}

std::string HostCall::describe() const {
    std::ostringstream os;
    os << name << "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
        os << (i ? ", " : "") << args[i].first << "=" << args[i].second;
    }
    os << ") " << (command.empty() ? std::string("outside any command") : "in " + command);
    return os.str();
}

// ---- TimeKey ------------------------------------------------------------

bool TimeKey::operator<(const TimeKey& o) const {
    return static_cast<long double>(value) * o.scale < static_cast<long double>(o.value) * scale;
}

bool TimeKey::operator==(const TimeKey& o) const {
    return !(*this < o) && !(o < *this);
}

// ---- LeakReport ------------------------------------------------------------

bool LeakReport::clean() const {
    return unreleasedSuites.empty() && liveHandles == 0 && liveWorlds == 0 && checkedOutParams == 0 &&
           liveEffectRefs == 0 && liveStreams == 0 && liveStreamValues == 0 && lockedOnReturn.empty() && misuse.empty();
}

namespace {
std::string madeByText(const std::string& madeBy) {
    return madeBy.empty() ? std::string("made outside any command") : "made by " + madeBy;
}
} // namespace

std::string LeakReport::describe() const {
    std::ostringstream os;
    for (const SuiteBalance& s : unreleasedSuites) {
        os << "suite \"" << s.name << "\" " << s.version << ": acquired " << s.acquired << ", released " << s.released
           << "\n";
    }
    for (const LiveHandle& h : handles) {
        os << "live handle " << static_cast<const void*>(h.handle) << " (" << h.size << " bytes), "
           << madeByText(h.madeBy);
        if (h.locks) {
            os << ", still locked " << h.locks << " time(s)";
        }
        os << "\n";
    }
    if (liveHandles > static_cast<long>(handles.size())) {
        os << liveHandles - static_cast<long>(handles.size()) << " further live handle(s)\n";
    }
    auto count = [&os](const char* what, long n) {
        if (n) {
            os << n << " " << what << "\n";
        }
    };
    count("live world(s)", liveWorlds);
    count("checked-out parameter(s)", checkedOutParams);
    count("live effect reference(s)", liveEffectRefs);
    count("live stream(s)", liveStreams);
    count("live stream value(s)", liveStreamValues);
    for (const LockedHandle& h : lockedOnReturn) {
        os << h.lockedBy << " returned with handle " << static_cast<const void*>(h.handle) << " (" << h.size
           << " bytes, " << madeByText(h.madeBy) << ") locked " << h.locks << " time(s)\n";
    }
    for (const std::string& m : misuse) {
        os << "misuse: " << m << "\n";
    }
    return os.str();
}

// ---- Host::Impl helpers ----------------------------------------------------

std::optional<FaultRule> Host::Impl::enter(const std::string& call, CallArgs args) {
    Lock lock(mu);
    const long n = ++counts[call];
    if (recording) {
        log.push_back(HostCall{call, currentCommand().name(), std::move(args)});
    }
    for (const FaultRule& r : rules) {
        if (r.call == call && (r.occurrence == 0 || r.occurrence == n)) {
            ++fired;
            return r;
        }
    }
    return std::nullopt;
}

void Host::Impl::commandReturned(const CommandRef& command) {
    Lock lock(mu);
    for (auto& [h, rec] : handles) {
        auto it = rec->locksBy.find(command.serial);
        if (it == rec->locksBy.end()) {
            continue;
        }
        if (it->second > 0) {
            lockedOnReturn.push_back(LockedHandle{static_cast<PF_Handle>(const_cast<void*>(h)), rec->size, rec->madeBy,
                                                  command.name(), it->second});
        }
        // The locks stay on the handle; they are reported once.
        rec->locksBy.erase(it);
    }
}

HandleRec* Host::Impl::handle(const void* h) const {
    auto it = handles.find(h);
    return it == handles.end() ? nullptr : it->second.get();
}

Effect* Host::Impl::effect(PF_ProgPtr ref) const {
    for (const auto& e : effects) {
        if (e->ref() == ref) {
            return e.get();
        }
    }
    return nullptr;
}

EffectRefRec* Host::Impl::effectRef(const void* h) const {
    auto it = effectRefs.find(h);
    return it == effectRefs.end() ? nullptr : it->second.get();
}

StreamRec* Host::Impl::stream(const void* h) const {
    auto it = streams.find(h);
    return it == streams.end() ? nullptr : it->second.get();
}

bool Host::Impl::knownSuite(const std::string& name, int version) const {
    return suiteTable(name, version) != nullptr;
}

std::size_t Host::Impl::textRoom(const char* dest) const {
    auto it = textBuffers.upper_bound(dest);
    if (it != textBuffers.begin()) {
        --it;
        if (dest >= it->first && dest < it->first + it->second) {
            return static_cast<std::size_t>(it->first + it->second - dest);
        }
    }
    return PF_MAX_EFFECT_PARAM_NAME_LEN + 1;
}

// ---- Host ------------------------------------------------------------------

Host::Host() : impl_(std::make_unique<Impl>(*this)) {
    std::lock_guard<std::mutex> lock(g_hostsMu);
    g_hosts.push_back(this);
}

Host::~Host() {
    impl_->pool.reset();
    {
        std::lock_guard<std::mutex> lock(g_hostsMu);
        g_hosts.erase(std::remove(g_hosts.begin(), g_hosts.end(), this), g_hosts.end());
    }
    if (tl_current == this) {
        tl_current = nullptr;
    }
}

Host* Host::current() {
    if (tl_current) {
        return tl_current;
    }
    std::lock_guard<std::mutex> lock(g_hostsMu);
    return g_hosts.empty() ? nullptr : g_hosts.back();
}

Host::Scope::Scope(Host& host) : previous_(tl_current) {
    tl_current = &host;
}

Host::Scope::~Scope() {
    tl_current = previous_;
}

const SPBasicSuite* Host::broker() const {
    return brokerTable();
}

PF_UtilCallbacks* Host::utils() const {
    return utilsTable();
}

void Host::prepareRecords(Effect& effect, PF_InData* in, PF_OutData* out, TimeKey time, A_long timeStep) {
    if (in) {
        std::memset(in, 0, sizeof(*in));
        in->inter = interactTable();
        in->utils = utilsTable();
        in->effect_ref = effect.ref();
        in->quality = 1;
        in->version = 13 << 16;
        in->current_time = time.value;
        in->time_step = timeStep;
        in->total_time = time.value + timeStep;
        in->local_time_step = timeStep;
        in->time_scale = time.scale;
        in->downsample_x = PF_RationalScale{1, 1};
        in->downsample_y = PF_RationalScale{1, 1};
        in->pixel_aspect_ratio = PF_RationalScale{1, 1};
        in->pica_basicP = brokerTable();
        in->num_params = effect.numParams();
    }
    if (out) {
        std::memset(out, 0, sizeof(*out));
    }
}

void Host::registerTextBuffer(char* buffer, std::size_t size) {
    Lock lock(impl_->mu);
    impl_->textBuffers[buffer] = size;
}

void Host::forgetTextBuffer(char* buffer) {
    Lock lock(impl_->mu);
    impl_->textBuffers.erase(buffer);
}

PF_Err Host::callEntry(PF_EntryPointFunc entry, PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                       PF_LayerDef* output, void* extra) {
    Scope scope(*this);
    CommandRef command;
    {
        Lock lock(impl_->mu);
        command.serial = ++impl_->nextCommand;
    }
    command.cmd = cmd;
    if (out) {
        registerTextBuffer(out->return_msg, sizeof(out->return_msg));
    }
    PF_Err err = PF_Err_NONE;
    {
        CommandScope commandScope(command);
        try {
            err = entry(cmd, in, out, params, output, extra);
        } catch (...) {
            noteMisuse("an exception left EntryPointFunc in " + commandName(cmd));
            err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }
    impl_->commandReturned(command);
    if (out) {
        forgetTextBuffer(out->return_msg);
    }
    return err;
}

Effect& Host::createEffect() {
    Lock lock(impl_->mu);
    impl_->effects.push_back(std::make_unique<Effect>(this));
    return *impl_->effects.back();
}

void Host::destroyEffect(Effect& effect) {
    Lock lock(impl_->mu);
    auto& v = impl_->effects;
    v.erase(std::remove_if(v.begin(), v.end(), [&](const std::unique_ptr<Effect>& e) { return e.get() == &effect; }),
            v.end());
}

std::unique_ptr<Frame> Host::beginFrame(Effect& effect, World* input, World* output, const FrameOptions& options) {
    setWorkerThreads(options.threads);
    setReportedThreads(options.reportedThreads == FrameOptions::kSameAsWorkers ? options.threads
                                                                               : options.reportedThreads);
    return std::make_unique<Frame>(*this, effect, input, output, options);
}

void Host::withholdSuite(const std::string& name, int version, bool withheld) {
    Lock lock(impl_->mu);
    if (withheld) {
        impl_->withheld.insert({name, version});
    } else {
        impl_->withheld.erase({name, version});
    }
}

long Host::acquireCount(const std::string& name, int version) const {
    Lock lock(impl_->mu);
    auto it = impl_->suites.find({name, version});
    return it == impl_->suites.end() ? 0 : it->second.acquired;
}

long Host::releaseCount(const std::string& name, int version) const {
    Lock lock(impl_->mu);
    auto it = impl_->suites.find({name, version});
    return it == impl_->suites.end() ? 0 : it->second.released;
}

void Host::addFault(const FaultRule& rule) {
    Lock lock(impl_->mu);
    impl_->rules.push_back(rule);
}

void Host::failCall(const std::string& call, PF_Err code, long occurrence) {
    addFault(FaultRule{call, FaultKind::Error, code, occurrence});
}

void Host::nullResult(const std::string& call, long occurrence) {
    addFault(FaultRule{call, FaultKind::NullResult, PF_Err_NONE, occurrence});
}

void Host::clearFaults() {
    Lock lock(impl_->mu);
    impl_->rules.clear();
}

long Host::faultsFired() const {
    Lock lock(impl_->mu);
    return impl_->fired;
}

std::vector<std::string> Host::calls() const {
    Lock lock(impl_->mu);
    std::vector<std::string> names;
    names.reserve(impl_->log.size());
    for (const HostCall& c : impl_->log) {
        names.push_back(c.name);
    }
    return names;
}

std::vector<HostCall> Host::callRecords() const {
    Lock lock(impl_->mu);
    return impl_->log;
}

std::vector<HostCall> Host::callRecords(const std::string& name) const {
    Lock lock(impl_->mu);
    std::vector<HostCall> out;
    std::copy_if(impl_->log.begin(), impl_->log.end(), std::back_inserter(out),
                 [&](const HostCall& c) { return c.name == name; });
    return out;
}

void Host::clearCalls() {
    Lock lock(impl_->mu);
    impl_->log.clear();
    impl_->counts.clear();
}

void Host::setRecording(bool on) {
    Lock lock(impl_->mu);
    impl_->recording = on;
}

long Host::callCount(const std::string& call) const {
    Lock lock(impl_->mu);
    auto it = impl_->counts.find(call);
    return it == impl_->counts.end() ? 0 : it->second;
}

void Host::setWorkerThreads(int count) {
    Lock lock(impl_->mu);
    if (count < 1) {
        count = 1;
    }
    if (count != impl_->workers) {
        impl_->workers = count;
        impl_->pool.reset();
    }
}

int Host::workerThreads() const {
    Lock lock(impl_->mu);
    return impl_->workers;
}

void Host::setReportedThreads(int count) {
    Lock lock(impl_->mu);
    impl_->reported = count;
}

int Host::reportedThreads() const {
    Lock lock(impl_->mu);
    return impl_->reported == FrameOptions::kSameAsWorkers ? impl_->workers : impl_->reported;
}

std::vector<int> Host::lastIterationCounts() const {
    Lock lock(impl_->mu);
    return impl_->lastCounts;
}

int Host::lastIterationThreads() const {
    Lock lock(impl_->mu);
    return impl_->lastThreads;
}

long Host::liveHandles() const {
    Lock lock(impl_->mu);
    return static_cast<long>(impl_->handles.size());
}

long Host::liveWorlds() const {
    Lock lock(impl_->mu);
    return static_cast<long>(impl_->worlds.size());
}

long Host::liveEffectRefs() const {
    Lock lock(impl_->mu);
    return static_cast<long>(impl_->effectRefs.size());
}

long Host::liveStreams() const {
    Lock lock(impl_->mu);
    return static_cast<long>(impl_->streams.size());
}

long Host::liveStreamValues() const {
    Lock lock(impl_->mu);
    return static_cast<long>(impl_->values.size());
}

long Host::checkedOutParams() const {
    Lock lock(impl_->mu);
    long n = 0;
    for (const auto& e : impl_->effects) {
        n += static_cast<long>(e->impl_->checkedOut.size());
    }
    return n;
}

LeakReport Host::leaks() const {
    Lock lock(impl_->mu);
    LeakReport r;
    for (const auto& [key, c] : impl_->suites) {
        if (c.acquired != c.released) {
            r.unreleasedSuites.push_back(SuiteBalance{key.first, key.second, c.acquired, c.released});
        }
    }
    for (const auto& [h, rec] : impl_->handles) {
        if (!impl_->held.count(h)) {
            r.handles.push_back(
                LiveHandle{static_cast<PF_Handle>(const_cast<void*>(h)), rec->size, rec->madeBy, rec->locks});
        }
    }
    // In the order of their making would need a clock; by address is at least
    // the same from one report to the next.
    std::sort(r.handles.begin(), r.handles.end(),
              [](const LiveHandle& a, const LiveHandle& b) { return a.handle < b.handle; });
    r.liveHandles = static_cast<long>(r.handles.size());
    r.lockedOnReturn = impl_->lockedOnReturn;
    r.liveWorlds = liveWorlds();
    r.checkedOutParams = checkedOutParams();
    r.liveEffectRefs = liveEffectRefs();
    r.liveStreams = liveStreams();
    r.liveStreamValues = liveStreamValues();
    r.misuse = impl_->misuse;
    return r;
}

void Host::holdHandle(PF_Handle handle) {
    Lock lock(impl_->mu);
    if (impl_->handle(handle)) {
        impl_->held.insert(handle);
    }
}

void Host::releaseHold(PF_Handle handle) {
    Lock lock(impl_->mu);
    impl_->held.erase(handle);
}

bool Host::isLiveHandle(PF_Handle handle) const {
    Lock lock(impl_->mu);
    return impl_->handle(handle) != nullptr;
}

std::size_t Host::handleSize(PF_Handle handle) const {
    Lock lock(impl_->mu);
    const HandleRec* rec = impl_->handle(handle);
    return rec ? rec->size : 0;
}

void* Host::handleData(PF_Handle handle) const {
    Lock lock(impl_->mu);
    const HandleRec* rec = impl_->handle(handle);
    return rec ? rec->data.get() : nullptr;
}

std::vector<std::pair<AEGP_PluginID, std::string>> Host::registrations() const {
    Lock lock(impl_->mu);
    return impl_->registrations;
}

void Host::noteMisuse(const std::string& what) {
    Lock lock(impl_->mu);
    impl_->misuse.push_back(what);
}

void Host::clearMisuse() {
    Lock lock(impl_->mu);
    impl_->misuse.clear();
    impl_->lockedOnReturn.clear();
}

// ---- Records ---------------------------------------------------------------

Records::Records(Host& host, Effect& effect, TimeKey time, A_long timeStep) : host_(host), scope_(host) {
    host.prepareRecords(effect, &in, &out, time, timeStep);
    host.registerTextBuffer(out.return_msg, sizeof(out.return_msg));
}

Records::~Records() {
    host_.forgetTextBuffer(out.return_msg);
}

// ---- Effect ----------------------------------------------------------------

Effect::Effect(Host* host) : host_(host), impl_(std::make_unique<Impl>()) {
    impl_->params.resize(1);
    impl_->params[0].defined = true;
    impl_->params[0].def.param_type = PF_Param_LAYER;
}

Effect::~Effect() = default;

int Effect::numParams() const {
    Lock lock(host_->impl().mu);
    return static_cast<int>(impl_->params.size());
}

const PF_ParamDef* Effect::paramDef(int index) const {
    Lock lock(host_->impl().mu);
    if (index < 1 || index >= static_cast<int>(impl_->params.size()) || !impl_->params[index].defined) {
        return nullptr;
    }
    return &impl_->params[index].def;
}

int Effect::addedParams() const {
    Lock lock(host_->impl().mu);
    return impl_->added;
}

void Effect::defineParam(int index, StreamKind kind, const AEGP_StreamVal2& value, const char* name) {
    Lock lock(host_->impl().mu);
    if (index < 1) {
        return;
    }
    if (static_cast<int>(impl_->params.size()) <= index) {
        impl_->params.resize(index + 1);
    }
    ParamSlot& slot = impl_->params[index];
    slot = ParamSlot{};
    slot.defined = true;
    slot.kind = kind;
    slot.constant = value;
    switch (kind) {
    case StreamKind::OneD:
        slot.def.param_type = PF_Param_FLOAT_SLIDER;
        slot.def.u.fs_d.value = value.one_d;
        break;
    case StreamKind::TwoD:
        slot.def.param_type = PF_Param_POINT;
        break;
    case StreamKind::ThreeD:
        slot.def.param_type = PF_Param_POINT_3D;
        break;
    case StreamKind::Color:
        slot.def.param_type = PF_Param_COLOR;
        break;
    }
    std::strncpy(slot.def.name, name ? name : "", PF_MAX_EFFECT_PARAM_NAME_LEN);
}

namespace {
ParamSlot* slotOf(Effect::Impl& impl, int index) {
    if (index < 0 || index >= static_cast<int>(impl.params.size()) || !impl.params[index].defined) {
        return nullptr;
    }
    return &impl.params[index];
}
} // namespace

void Effect::setValue(int index, const AEGP_StreamVal2& value) {
    Lock lock(host_->impl().mu);
    if (ParamSlot* s = slotOf(*impl_, index)) {
        s->constant = value;
    }
}

void Effect::setValue(int index, const AEGP_StreamVal2& value, TimeKey time) {
    Lock lock(host_->impl().mu);
    if (ParamSlot* s = slotOf(*impl_, index)) {
        s->keyed[time] = value;
    }
}

void Effect::setExpressionValue(int index, const AEGP_StreamVal2& value, TimeKey time) {
    Lock lock(host_->impl().mu);
    if (ParamSlot* s = slotOf(*impl_, index)) {
        s->expression[time] = value;
    }
}

void Effect::setSlider(int index, double value) {
    AEGP_StreamVal2 v{};
    v.one_d = value;
    setValue(index, v);
}

void Effect::setSlider(int index, double value, TimeKey time) {
    AEGP_StreamVal2 v{};
    v.one_d = value;
    setValue(index, v, time);
}

AEGP_StreamVal2 Effect::valueAt(int index, TimeKey time, bool preExpression) const {
    Lock lock(host_->impl().mu);
    const ParamSlot* s = slotOf(*impl_, index);
    if (!s) {
        return AEGP_StreamVal2{};
    }
    if (!preExpression) {
        auto e = s->expression.find(time);
        if (e != s->expression.end()) {
            return e->second;
        }
    }
    auto k = s->keyed.find(time);
    return k != s->keyed.end() ? k->second : s->constant;
}

StreamKind Effect::streamKind(int index) const {
    Lock lock(host_->impl().mu);
    const ParamSlot* s = slotOf(*impl_, index);
    return s ? s->kind : StreamKind::OneD;
}

void Effect::setLayerStart(TimeKey start) {
    Lock lock(host_->impl().mu);
    impl_->layerStart = start;
}

TimeKey Effect::layerStart() const {
    Lock lock(host_->impl().mu);
    return impl_->layerStart;
}

void Effect::setInputLayer(World* world) {
    Lock lock(host_->impl().mu);
    impl_->layerAll = world;
}

void Effect::setInputLayer(World* world, TimeKey time) {
    Lock lock(host_->impl().mu);
    impl_->layerAt[time] = world;
}

World* Effect::inputLayerAt(TimeKey time) const {
    Lock lock(host_->impl().mu);
    auto it = impl_->layerAt.find(time);
    if (it != impl_->layerAt.end()) {
        return it->second;
    }
    if (impl_->layerAll) {
        return impl_->layerAll;
    }
    return impl_->frame ? impl_->frame->input() : nullptr;
}

long Effect::checkedOutParams() const {
    Lock lock(host_->impl().mu);
    return static_cast<long>(impl_->checkedOut.size());
}

// ---- Frame -----------------------------------------------------------------

Frame::Frame(Host& host, Effect& effect, World* input, World* output, const FrameOptions& options)
    : host_(&host), effect_(&effect), input_(input), output_(output) {
    host.prepareRecords(effect, &in_, &out_, options.time, options.timeStep);
    const A_long w = output ? output->width() : 0;
    const A_long h = output ? output->height() : 0;
    in_.width = w;
    in_.height = h;
    in_.extent_hint = PF_LRect{0, 0, w, h};
    in_.downsample_x = options.downsampleX;
    in_.downsample_y = options.downsampleY;

    PF_RenderRequest request{};
    const PF_LRect& r = options.request;
    request.rect = (r.left >= r.right || r.top >= r.bottom) ? PF_LRect{0, 0, w, h} : r;
    request.field = 0;
    request.channel_mask = PF_ChannelMask_ARGB;
    const A_short bits = static_cast<A_short>(input ? input->bitsPerChannel() : 8);

    preIn_.output_request = request;
    preIn_.bitdepth = bits;
    preCb_ = preRenderCallbacks();
    preExtra_.input = &preIn_;
    preExtra_.output = &preOut_;
    preExtra_.cb = &preCb_;

    smartIn_.output_request = request;
    smartIn_.bitdepth = bits;
    smartCb_ = smartRenderCallbacks();
    smartExtra_.input = &smartIn_;
    smartExtra_.cb = &smartCb_;

    Lock lock(host.impl().mu);
    if (effect.impl_->frame) {
        throw std::logic_error("a frame of this effect is already in flight");
    }
    effect.impl_->frame = this;
}

Frame::~Frame() {
    finish();
    Lock lock(host_->impl().mu);
    if (effect_->impl_->frame == this) {
        effect_->impl_->frame = nullptr;
    }
}

void Frame::preRenderStarting() {
    if (preRenderCalls_++ > 0) {
        preOut_ = PF_PreRenderOutput{};
    }
}

void Frame::preRenderReturned(PF_Err result) {
    if (preOut_.pre_render_data == nullptr) {
        return;
    }
    for (const PreRenderData& d : handed_) {
        if (d.data == preOut_.pre_render_data) {
            host_->noteMisuse("SmartPreRender handed the host pre-render data " + pointerText(d.data) +
                              " that an earlier pre-render of the frame had handed it");
            return;
        }
    }
    PreRenderData d;
    d.data = preOut_.pre_render_data;
    d.deleter = preOut_.delete_pre_render_data_func;
    d.preRenderResult = result;
    handed_.push_back(d);
    const auto handle = static_cast<PF_Handle>(d.data);
    if (host_->isLiveHandle(handle)) {
        host_->holdHandle(handle);
        held_.push_back(handle);
    }
}

void Frame::passPreRenderData() {
    smartIn_.pre_render_data = handed_.empty() ? nullptr : handed_.back().data;
}

void Frame::renderReturned(PF_Err) {
    ++renderCalls_;
    for (PreRenderData& d : handed_) {
        if (d.data != nullptr && d.data == smartIn_.pre_render_data) {
            d.rendered = true;
        }
    }
}

void Frame::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    for (PreRenderData& d : handed_) {
        if (d.deleter) {
            Host::Scope scope(*host_);
            const CommandScope outsideCommands{CommandRef{}};
            try {
                d.deleter(d.data);
            } catch (...) {
                host_->noteMisuse("an exception left delete_pre_render_data_func");
            }
            d.deleted = true;
            d.deletedAfterRender = renderCalls_ > 0;
        } else if (!d.rendered && !host_->isLiveHandle(static_cast<PF_Handle>(d.data))) {
            host_->noteMisuse("pre-render data " + pointerText(d.data) +
                              " came without delete_pre_render_data_func and reached no render step: nothing "
                              "can free it");
        }
    }
    for (PF_Handle h : held_) {
        host_->releaseHold(h);
    }
    held_.clear();
    Lock lock(host_->impl().mu);
    checkouts_.clear();
}

} // namespace standin
