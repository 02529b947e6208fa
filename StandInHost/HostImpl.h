// Internal state of the stand-in host, shared by its source files. Not part
// of the public interface.
#ifndef STANDIN_HOSTIMPL_H
#define STANDIN_HOSTIMPL_H

#include "Host.h"
#include "WorkerPool.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace standin {

// Broker error for a name or version the host does not serve.
constexpr SPErr kSPSuiteNotFoundError = 0x53214664; // 'S!Fd'

struct HandleRec {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    int locks = 0;
    std::string madeBy;
    // Outstanding locks by the serial of the command that took them.
    std::map<long, int> locksBy;
};

// The command a thread works for: the entry call that the host made, shared
// with the iterate workers running for it. Serial 0 is outside any command.
struct CommandRef {
    long serial = 0;
    PF_Cmd cmd = -1;
    std::string name() const { return serial == 0 ? std::string() : commandName(cmd); }
};
CommandRef currentCommand();
class CommandScope {
public:
    explicit CommandScope(const CommandRef& command);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    CommandRef previous_;
};

// The arguments a trampoline records with its call.
using CallArgs = std::vector<std::pair<std::string, long long>>;
void addRect(CallArgs& args, const char* prefix, const PF_LRect* rect);

struct EffectRefRec {
    Effect* effect = nullptr;
};

struct StreamRec {
    Effect* effect = nullptr;
    int index = 0;
};

struct ParamSlot {
    bool defined = false;
    PF_ParamDef def{};
    StreamKind kind = StreamKind::OneD;
    AEGP_StreamVal2 constant{};
    std::map<TimeKey, AEGP_StreamVal2> keyed;
    std::map<TimeKey, AEGP_StreamVal2> expression;
};

struct Effect::Impl {
    std::vector<ParamSlot> params; // [0] is the input layer
    int added = 0;
    TimeKey layerStart{0, 1};
    World* layerAll = nullptr;
    std::map<TimeKey, World*> layerAt;
    std::multiset<const PF_ParamDef*> checkedOut;
    Frame* frame = nullptr;
};

struct SuiteCount {
    long acquired = 0;
    long released = 0;
};

struct Host::Impl {
    explicit Impl(Host& h) : self(h) {}
    Host& self;
    mutable std::recursive_mutex mu;

    // Suites
    std::map<std::pair<std::string, int>, SuiteCount> suites;
    std::set<std::pair<std::string, int>> withheld;

    // Fault injection and recording
    std::vector<FaultRule> rules;
    long fired = 0;
    bool recording = true;
    std::vector<HostCall> log;
    std::unordered_map<std::string, long> counts;
    long nextCommand = 0;

    // Resources
    std::unordered_map<const void*, std::unique_ptr<HandleRec>> handles;
    std::set<const void*> held;
    std::vector<LockedHandle> lockedOnReturn;
    std::unordered_map<const void*, std::unique_ptr<World>> worlds; // by data pointer
    std::unordered_map<const void*, std::unique_ptr<EffectRefRec>> effectRefs;
    std::unordered_map<const void*, std::unique_ptr<StreamRec>> streams;
    std::multiset<const void*> values;
    std::vector<std::unique_ptr<Effect>> effects;
    std::vector<std::string> misuse;
    std::vector<std::pair<AEGP_PluginID, std::string>> registrations;
    AEGP_PluginID nextPluginId = 1;
    std::map<const char*, std::size_t> textBuffers;

    // Threads
    int workers = 1;
    int reported = FrameOptions::kSameAsWorkers;
    // Shared so that a pool replaced by setWorkerThreads lives on until the
    // iteration running on it has finished.
    std::shared_ptr<WorkerPool> pool;
    std::vector<int> lastCounts;
    int lastThreads = 0;

    // Records the call and returns the fault to apply, if any.
    std::optional<FaultRule> enter(const std::string& call, CallArgs args);
    // After `command` returned: reports the handles it left locked.
    void commandReturned(const CommandRef& command);
    void misuseLocked(const std::string& what) { misuse.push_back(what); }

    HandleRec* handle(const void* h) const;
    Effect* effect(PF_ProgPtr ref) const;
    EffectRefRec* effectRef(const void* h) const;
    StreamRec* stream(const void* h) const;
    bool knownSuite(const std::string& name, int version) const;
    // Size of the text buffer that `dest` lies in (bytes from dest to its end).
    std::size_t textRoom(const char* dest) const;
};

// The suite tables and callback tables (Suites.cpp).
const void* suiteTable(const std::string& name, int version);
const SPBasicSuite* brokerTable();
PF_UtilCallbacks* utilsTable();
PF_InteractCallbacks interactTable();
PF_PreRenderCallbacks preRenderCallbacks();
PF_SmartRenderCallbacks smartRenderCallbacks();

} // namespace standin

#endif
