// The C side of the stand-in host: the broker, every suite function and every
// callback a module can call. Each one is a trampoline that finds the current
// host, records the call, applies injected faults, validates what it is given
// and keeps exceptions on this side.
#include "HostImpl.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>

namespace standin {

struct FrameAccess {
    static std::map<A_long, Frame::Checkout>& checkouts(Frame& f) { return f.checkouts_; }
};

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
using FaultP = const FaultRule*;

// Runs `body(impl, fault)` for the call `name` with the arguments `args` on
// the current host. Without a host, or when anything throws, the answer is
// `fallback`.
template <class R, class Body> R guarded(const char* name, CallArgs args, R fallback, Body&& body) {
    Host* host = Host::current();
    if (!host) {
        return fallback;
    }
    try {
        std::optional<FaultRule> fault = host->impl().enter(name, std::move(args));
        return body(host->impl(), fault ? &*fault : nullptr);
    } catch (const std::exception& e) {
        host->noteMisuse(std::string(name) + ": host failure: " + e.what());
    } catch (...) {
        host->noteMisuse(std::string(name) + ": host failure");
    }
    return fallback;
}

template <class R, class Body> R guarded(const char* name, R fallback, Body&& body) {
    return guarded(name, CallArgs{}, fallback, std::forward<Body>(body));
}

// An injected error: the rule's code, or for a NullResult rule on a call
// that hands nothing back, "success without doing anything" (0).
PF_Err faultCode(FaultP f) {
    return f->kind == FaultKind::Error ? f->code : PF_Err_NONE;
}

constexpr PF_Err kBad = PF_Err_BAD_CALLBACK_PARAM;

bool validTime(A_u_long scale) {
    return scale != 0;
}

// Composition time `comp` as layer time of a layer starting at `start`:
// comp - start, in the product of the two scales reduced by their common
// factor. False when the result does not fit a host time.
bool toLayerTime(TimeKey comp, TimeKey start, TimeKey& layer) {
    // Far beyond any host time; keeps the exact products below from overflowing.
    const long double estimate = static_cast<long double>(comp.value) * start.scale -
                                 static_cast<long double>(start.value) * comp.scale;
    if (!(estimate > -0x1p62L && estimate < 0x1p62L)) {
        return false;
    }
    const long long value = static_cast<long long>(comp.value) * static_cast<long long>(start.scale) -
                            static_cast<long long>(start.value) * static_cast<long long>(comp.scale);
    const unsigned long long scale = static_cast<unsigned long long>(comp.scale) * start.scale;
    const auto common =
        static_cast<long long>(std::gcd(static_cast<unsigned long long>(value < 0 ? -value : value), scale));
    const long long v = common ? value / common : value;
    const unsigned long long sc = common ? scale / static_cast<unsigned long long>(common) : scale;
    if (v < std::numeric_limits<A_long>::min() || v > std::numeric_limits<A_long>::max() ||
        sc > std::numeric_limits<A_u_long>::max()) {
        return false;
    }
    layer = TimeKey{static_cast<A_long>(v), static_cast<A_u_long>(sc)};
    return true;
}

// Clips `r` (or the whole world when r is null) to the world's bounds.
PF_LRect clipToWorld(const PF_LRect* r, const PF_EffectWorld& w) {
    PF_LRect out = r ? *r : PF_LRect{0, 0, w.width, w.height};
    out.left = std::max<A_long>(out.left, 0);
    out.top = std::max<A_long>(out.top, 0);
    out.right = std::min<A_long>(out.right, w.width);
    out.bottom = std::min<A_long>(out.bottom, w.height);
    if (out.right < out.left) {
        out.right = out.left;
    }
    if (out.bottom < out.top) {
        out.bottom = out.top;
    }
    return out;
}

// A world record the module passed: known to the host and within its memory.
World* validWorld(Host::Impl& h, const PF_EffectWorld* record, const char* call) {
    World* w = World::find(record);
    if (!w || !w->covers(*record)) {
        Lock lock(h.mu);
        h.misuseLocked(std::string(call) + ": unknown world or geometry outside its memory");
        return nullptr;
    }
    return w;
}

Effect* validEffect(Host::Impl& h, PF_ProgPtr ref, const char* call) {
    Lock lock(h.mu);
    Effect* e = h.effect(ref);
    if (!e) {
        h.misuseLocked(std::string(call) + ": unknown effect_ref");
    }
    return e;
}

// ==== SPBasic ===============================================================

SPErr sp_AcquireSuite(const char* name, A_long version, const void** suite) {
    if (!name || !suite) {
        return kBad;
    }
    *suite = nullptr;
    const std::string key = std::string(name) + " " + std::to_string(version);
    const std::string call = "SPBasic/AcquireSuite:" + key;
    return guarded<SPErr>(call.c_str(), kBad, [&](Host::Impl& h, FaultP f) -> SPErr {
        if (f) {
            return faultCode(f);
        }
        Lock lock(h.mu);
        const void* table = suiteTable(name, version);
        if (!table || h.withheld.count({name, version})) {
            return kSPSuiteNotFoundError;
        }
        ++h.suites[{name, version}].acquired;
        *suite = table;
        return kSPNoError;
    });
}

SPErr sp_ReleaseSuite(const char* name, A_long version) {
    if (!name) {
        return kBad;
    }
    const std::string call = "SPBasic/ReleaseSuite:" + std::string(name) + " " + std::to_string(version);
    return guarded<SPErr>(call.c_str(), kBad, [&](Host::Impl& h, FaultP f) -> SPErr {
        Lock lock(h.mu);
        auto it = h.suites.find({name, version});
        if (it == h.suites.end() || it->second.released >= it->second.acquired) {
            h.misuseLocked(call + ": released more often than acquired");
            return kSPSuiteNotFoundError;
        }
        // An injected failure is reported, but the suite counts as released:
        // the module cannot do more than ask.
        ++it->second.released;
        return f ? faultCode(f) : kSPNoError;
    });
}

SPBoolean sp_IsEqual(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}

SPErr sp_AllocateBlock(size_t size, void** block) {
    if (!block) {
        return kBad;
    }
    *block = std::malloc(size ? size : 1);
    return *block ? kSPNoError : PF_Err_OUT_OF_MEMORY;
}

SPErr sp_FreeBlock(void* block) {
    std::free(block);
    return kSPNoError;
}

SPErr sp_ReallocateBlock(void* block, size_t size, void** out) {
    if (!out) {
        return kBad;
    }
    void* p = std::realloc(block, size ? size : 1);
    if (!p) {
        return PF_Err_OUT_OF_MEMORY;
    }
    *out = p;
    return kSPNoError;
}

SPErr sp_Undefined() {
    return kBad;
}

const SPBasicSuite kBroker = {sp_AcquireSuite, sp_ReleaseSuite,    sp_IsEqual,  sp_AllocateBlock,
                              sp_FreeBlock,    sp_ReallocateBlock, sp_Undefined};

// ==== PF Handle Suite 2 =====================================================

constexpr std::size_t kMaxHandleSize = std::size_t(1) << 31;

PF_Handle h_new(A_u_longlong size) {
    const CallArgs args{{"size", static_cast<long long>(size)}};
    return guarded<PF_Handle>("PF Handle Suite 2/host_new_handle", args, nullptr,
                              [&](Host::Impl& h, FaultP f) -> PF_Handle {
                                  if (f || size > kMaxHandleSize) {
                                      return nullptr;
                                  }
                                  auto rec = std::make_unique<HandleRec>();
                                  rec->madeBy = currentCommand().name();
                                  rec->data.reset(new (std::nothrow) char[size ? size : 1]());
                                  if (!rec->data) {
                                      return nullptr;
                                  }
                                  rec->size = static_cast<std::size_t>(size);
                                  Lock lock(h.mu);
                                  PF_Handle handle = reinterpret_cast<PF_Handle>(rec.get());
                                  h.handles[handle] = std::move(rec);
                                  return handle;
                              });
}

void* h_lock(PF_Handle handle) {
    return guarded<void*>("PF Handle Suite 2/host_lock_handle", nullptr, [&](Host::Impl& h, FaultP f) -> void* {
        Lock lock(h.mu);
        HandleRec* rec = h.handle(handle);
        if (!rec) {
            h.misuseLocked("host_lock_handle: unknown handle");
            return nullptr;
        }
        if (f) {
            return nullptr;
        }
        ++rec->locks;
        ++rec->locksBy[currentCommand().serial];
        return rec->data.get();
    });
}

void h_unlock(PF_Handle handle) {
    guarded<int>("PF Handle Suite 2/host_unlock_handle", 0, [&](Host::Impl& h, FaultP) -> int {
        Lock lock(h.mu);
        HandleRec* rec = h.handle(handle);
        if (!rec) {
            h.misuseLocked("host_unlock_handle: unknown handle");
        } else if (rec->locks > 0) {
            --rec->locks;
            // Undoes a lock of this command first, else the oldest other one.
            auto it = rec->locksBy.find(currentCommand().serial);
            if (it == rec->locksBy.end()) {
                it = rec->locksBy.begin();
            }
            if (it != rec->locksBy.end() && --it->second == 0) {
                rec->locksBy.erase(it);
            }
        }
        return 0;
    });
}

void h_dispose(PF_Handle handle) {
    guarded<int>("PF Handle Suite 2/host_dispose_handle", 0, [&](Host::Impl& h, FaultP) -> int {
        Lock lock(h.mu);
        if (!h.handle(handle)) {
            h.misuseLocked("host_dispose_handle: unknown or already disposed handle");
            return 0;
        }
        h.handles.erase(handle);
        h.held.erase(handle);
        return 0;
    });
}

A_u_longlong h_size(PF_Handle handle) {
    return guarded<A_u_longlong>("PF Handle Suite 2/host_get_handle_size", 0,
                                 [&](Host::Impl& h, FaultP f) -> A_u_longlong {
                                     Lock lock(h.mu);
                                     HandleRec* rec = h.handle(handle);
                                     if (!rec) {
                                         h.misuseLocked("host_get_handle_size: unknown handle");
                                         return 0;
                                     }
                                     return f ? 0 : rec->size;
                                 });
}

PF_Err h_resize(A_u_longlong size, PF_Handle* handleP) {
    const CallArgs args{{"size", static_cast<long long>(size)}};
    return guarded<PF_Err>("PF Handle Suite 2/host_resize_handle", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        Lock lock(h.mu);
        HandleRec* rec = handleP ? h.handle(*handleP) : nullptr;
        if (!rec) {
            h.misuseLocked("host_resize_handle: unknown handle");
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : PF_Err_OUT_OF_MEMORY;
        }
        if (size > kMaxHandleSize) {
            return PF_Err_OUT_OF_MEMORY;
        }
        std::unique_ptr<char[]> data(new (std::nothrow) char[size ? size : 1]());
        if (!data) {
            return PF_Err_OUT_OF_MEMORY;
        }
        std::memcpy(data.get(), rec->data.get(), std::min<std::size_t>(rec->size, size));
        rec->data = std::move(data);
        rec->size = static_cast<std::size_t>(size);
        return PF_Err_NONE;
    });
}

PF_HandleSuite2 kHandleSuite2 = {h_new, h_lock, h_unlock, h_dispose, h_size, h_resize};

// ==== AEGP Utility Suite 7 ==================================================

A_Err u_register(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* id) {
    return guarded<A_Err>("AEGP Utility Suite 7/AEGP_RegisterWithAEGP", kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
        if (!id || !name) {
            return kBad;
        }
        if (f) {
            return faultCode(f);
        }
        Lock lock(h.mu);
        *id = h.nextPluginId++;
        h.registrations.emplace_back(*id, std::string(name, strnlen(name, 256)));
        return PF_Err_NONE;
    });
}

AEGP_UtilitySuite7 kUtilitySuite7 = {u_register};

// ==== AEGP Iterate Suite 1 / PF Iterate8 Suite 1 =============================

A_Err it_numThreads(A_long* n) {
    return guarded<A_Err>("AEGP Iterate Suite 1/AEGP_GetNumThreads", kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
        if (!n) {
            return kBad;
        }
        if (f && f->kind == FaultKind::NullResult) {
            *n = 0;
            return PF_Err_NONE;
        }
        if (f) {
            return f->code;
        }
        *n = h.self.reportedThreads();
        return PF_Err_NONE;
    });
}

AEGP_IterateSuite1 kIterateSuite1 = {it_numThreads};

PF_Err it_generic(A_long iterations, void* refcon, PF_IterateGenericFunc fn) {
    const CallArgs args{{"iterations", iterations}};
    return guarded<PF_Err>("PF Iterate8 Suite 1/iterate_generic", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (!fn || iterations < 0) {
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : kBad;
        }
        std::shared_ptr<WorkerPool> pool;
        {
            Lock lock(h.mu);
            if (!h.pool) {
                h.pool = std::make_shared<WorkerPool>(h.self, h.workers);
            }
            pool = h.pool;
        }
        // The host's lock is not held while the callbacks run: they may call
        // back into the host from every worker.
        WorkerPool::Result r = pool->run(iterations, refcon, fn, currentCommand());
        Lock lock(h.mu);
        h.lastCounts = r.counts;
        h.lastThreads = r.threadsUsed;
        for (const std::string& note : r.notes) {
            h.misuseLocked(note);
        }
        return r.err;
    });
}

PF_Iterate8Suite1 kIterate8Suite1 = {it_generic};

// ==== PF World Suite 1 and 2 ================================================

PF_Err makeWorld(Host::Impl& h, PF_ProgPtr ref, A_long width, A_long height, bool clear, PF_PixelFormat format,
                 PF_EffectWorld* world, const char* call) {
    if (!validEffect(h, ref, call) || !world || width < 0 || height < 0 || pixelSizeOf(format) == 0) {
        return kBad;
    }
    const double bytes = static_cast<double>(width) * height * pixelSizeOf(format);
    if (bytes > static_cast<double>(std::size_t(1) << 31)) {
        return PF_Err_OUT_OF_MEMORY;
    }
    auto w = std::make_unique<World>(width, height, format);
    if (!clear) {
        // Uncleared memory holds whatever was there: make that visible.
        w->fillRandom(static_cast<std::uint32_t>(width * 7919 + height));
    }
    *world = *w->def();
    Lock lock(h.mu);
    h.worlds[w->bytes()] = std::move(w);
    return PF_Err_NONE;
}

PF_Err disposeWorld(Host::Impl& h, PF_ProgPtr ref, PF_EffectWorld* world, const char* call) {
    Lock lock(h.mu);
    if (!h.effect(ref)) {
        h.misuseLocked(std::string(call) + ": unknown effect_ref");
    }
    if (!world) {
        return kBad;
    }
    auto it = h.worlds.find(world->data);
    if (it == h.worlds.end()) {
        h.misuseLocked(std::string(call) + ": not a world the host made, or already disposed");
        return kBad;
    }
    h.worlds.erase(it);
    world->data = nullptr;
    return PF_Err_NONE;
}

// An injected fault on a world creation: no pixels, and the rule's code (or
// success, for a silent failure).
PF_Err noWorld(FaultP f, PF_EffectWorld* world) {
    if (world) {
        world->data = nullptr;
    }
    return faultCode(f);
}

PF_Err w1_new(PF_ProgPtr ref, A_long width, A_long height, PF_NewWorldFlags flags, PF_EffectWorld* world) {
    const CallArgs args{{"width", width}, {"height", height}, {"flags", flags}};
    return guarded<PF_Err>("PF World Suite 1/new_world", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (f) {
            return noWorld(f, world);
        }
        const PF_PixelFormat format =
            (flags & PF_NewWorldFlag_DEEP_PIXELS) ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32;
        return makeWorld(h, ref, width, height, (flags & PF_NewWorldFlag_CLEAR_PIXELS) != 0, format, world,
                         "new_world");
    });
}

PF_Err w1_dispose(PF_ProgPtr ref, PF_EffectWorld* world) {
    return guarded<PF_Err>("PF World Suite 1/dispose_world", kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        const PF_Err err = disposeWorld(h, ref, world, "dispose_world");
        return (f && !err) ? faultCode(f) : err;
    });
}

PF_WorldSuite1 kWorldSuite1 = {w1_new, w1_dispose};

PF_Err w2_new(PF_ProgPtr ref, A_long width, A_long height, PF_Boolean clear, PF_PixelFormat format,
              PF_EffectWorld* world) {
    const CallArgs args{{"width", width}, {"height", height}, {"clear", clear}, {"format", format}};
    return guarded<PF_Err>("PF World Suite 2/PF_NewWorld", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (f) {
            return noWorld(f, world);
        }
        return makeWorld(h, ref, width, height, clear != 0, format, world, "PF_NewWorld");
    });
}

PF_Err w2_dispose(PF_ProgPtr ref, PF_EffectWorld* world) {
    return guarded<PF_Err>("PF World Suite 2/PF_DisposeWorld", kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        const PF_Err err = disposeWorld(h, ref, world, "PF_DisposeWorld");
        return (f && !err) ? faultCode(f) : err;
    });
}

PF_Err w2_format(const PF_EffectWorld* world, PF_PixelFormat* format) {
    return guarded<PF_Err>("PF World Suite 2/PF_GetPixelFormat", kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (!world || !format) {
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : kBad;
        }
        World* w = validWorld(h, world, "PF_GetPixelFormat");
        if (!w) {
            *format = PF_PixelFormat_INVALID;
            return kBad;
        }
        *format = w->format();
        return PF_Err_NONE;
    });
}

PF_WorldSuite2 kWorldSuite2 = {w2_new, w2_dispose, w2_format};

// ==== PF Fill Matte Suite 2 =================================================

template <class P> void writeColor(std::uint8_t* dst, const P& c, bool bgra) {
    if (!bgra) {
        std::memcpy(dst, &c, sizeof(P));
        return;
    }
    const P swapped = {c.blue, c.green, c.red, c.alpha};
    std::memcpy(dst, &swapped, sizeof(P));
}

template <class P>
PF_Err fillWorld(const char* call, int bits, const P* color, const PF_LRect* rect, PF_EffectWorld* world) {
    CallArgs args;
    addRect(args, "rect", rect);
    return guarded<PF_Err>(call, std::move(args), kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (!color || !world) {
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : kBad;
        }
        World* w = validWorld(h, world, call);
        if (!w) {
            return kBad;
        }
        if (w->bitsPerChannel() != bits) {
            Lock lock(h.mu);
            h.misuseLocked(std::string(call) + ": the world's depth does not match the fill");
            return kBad;
        }
        const PF_LRect r = clipToWorld(rect, *world);
        const bool bgra = isBgraFormat(w->format());
        auto* base = reinterpret_cast<std::uint8_t*>(world->data);
        for (A_long y = r.top; y < r.bottom; ++y) {
            std::uint8_t* row = base + static_cast<std::size_t>(y) * world->rowbytes;
            for (A_long x = r.left; x < r.right; ++x) {
                writeColor(row + static_cast<std::size_t>(x) * sizeof(P), *color, bgra);
            }
        }
        return PF_Err_NONE;
    });
}

PF_Err fm_fill(PF_ProgPtr, const PF_Pixel* c, const PF_LRect* r, PF_EffectWorld* w) {
    return fillWorld("PF Fill Matte Suite 2/fill", 8, c, r, w);
}
PF_Err fm_fill16(PF_ProgPtr, const PF_Pixel16* c, const PF_LRect* r, PF_EffectWorld* w) {
    return fillWorld("PF Fill Matte Suite 2/fill16", 16, c, r, w);
}
PF_Err fm_fillFloat(PF_ProgPtr, const PF_PixelFloat* c, const PF_LRect* r, PF_EffectWorld* w) {
    return fillWorld("PF Fill Matte Suite 2/fill_float", 32, c, r, w);
}

PF_FillMatteSuite2 kFillMatteSuite2 = {fm_fill, fm_fill16, fm_fillFloat};

// ==== AEGP PF Interface / Stream / Effect suites =============================

// True while `effect` still exists (a reference or stream may outlive it);
// decided by address, without touching the object.
bool alive(const Host::Impl& h, const Effect* effect) {
    for (const auto& e : h.effects) {
        if (e.get() == effect) {
            return true;
        }
    }
    return false;
}

A_Err pfi_effect(AEGP_PluginID, PF_ProgPtr ref, AEGP_EffectRefH* effectPH) {
    return guarded<A_Err>("AEGP PF Interface Suite 1/AEGP_GetNewEffectForEffect", kBad,
                          [&](Host::Impl& h, FaultP f) -> A_Err {
                              if (!effectPH) {
                                  return kBad;
                              }
                              *effectPH = nullptr;
                              if (f) {
                                  return faultCode(f);
                              }
                              Effect* e = validEffect(h, ref, "AEGP_GetNewEffectForEffect");
                              if (!e) {
                                  return kBad;
                              }
                              auto rec = std::make_unique<EffectRefRec>();
                              rec->effect = e;
                              Lock lock(h.mu);
                              *effectPH = reinterpret_cast<AEGP_EffectRefH>(rec.get());
                              h.effectRefs[*effectPH] = std::move(rec);
                              return PF_Err_NONE;
                          });
}

AEGP_PFInterfaceSuite1 kPFInterfaceSuite1 = {pfi_effect};

A_Err st_streamByIndex(AEGP_PluginID, AEGP_EffectRefH effectH, PF_ParamIndex index, AEGP_StreamRefH* streamPH) {
    const CallArgs args{{"index", index}};
    return guarded<A_Err>(
        "AEGP Stream Suite 9/AEGP_GetNewEffectStreamByIndex", args, kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
            if (!streamPH) {
                return kBad;
            }
            *streamPH = nullptr;
            Lock lock(h.mu);
            EffectRefRec* ref = h.effectRef(effectH);
            if (!ref || !alive(h, ref->effect)) {
                h.misuseLocked("AEGP_GetNewEffectStreamByIndex: unknown effect reference");
                return kBad;
            }
            if (f) {
                return faultCode(f);
            }
            if (index < 1 || index >= ref->effect->numParams() || !ref->effect->impl().params[index].defined) {
                return PF_Err_INVALID_INDEX;
            }
            auto rec = std::make_unique<StreamRec>();
            rec->effect = ref->effect;
            rec->index = index;
            *streamPH = reinterpret_cast<AEGP_StreamRefH>(rec.get());
            h.streams[*streamPH] = std::move(rec);
            return PF_Err_NONE;
        });
}

A_Err st_newValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_LTimeMode mode, const A_Time* time,
                  A_Boolean preExpression, AEGP_StreamValue2* valueP) {
    CallArgs args{{"time_mode", mode}};
    if (time) {
        args.emplace_back("time.value", time->value);
        args.emplace_back("time.scale", time->scale);
    }
    args.emplace_back("pre_expression", preExpression);
    return guarded<A_Err>(
        "AEGP Stream Suite 9/AEGP_GetNewStreamValue", std::move(args), kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
            Lock lock(h.mu);
            StreamRec* s = h.stream(streamH);
            if (!s) {
                h.misuseLocked("AEGP_GetNewStreamValue: unknown stream");
                return kBad;
            }
            if (!time || !valueP || !validTime(time->scale) ||
                (mode != AEGP_LTimeMode_LayerTime && mode != AEGP_LTimeMode_CompTime)) {
                return kBad;
            }
            if (f) {
                return f->kind == FaultKind::Error ? f->code : kBad;
            }
            if (!alive(h, s->effect)) {
                return kBad;
            }
            TimeKey at{time->value, time->scale};
            if (mode == AEGP_LTimeMode_CompTime && !toLayerTime(at, s->effect->layerStart(), at)) {
                h.misuseLocked("AEGP_GetNewStreamValue: composition time beyond the range of layer times");
                return kBad;
            }
            valueP->streamH = streamH;
            valueP->val = s->effect->valueAt(s->index, at, preExpression != 0);
            h.values.insert(valueP);
            return PF_Err_NONE;
        });
}

A_Err st_setValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP) {
    return guarded<A_Err>("AEGP Stream Suite 9/AEGP_SetStreamValue", kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
        Lock lock(h.mu);
        StreamRec* s = h.stream(streamH);
        if (!s) {
            h.misuseLocked("AEGP_SetStreamValue: unknown stream");
            return kBad;
        }
        if (!valueP) {
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : kBad;
        }
        if (!alive(h, s->effect)) {
            return kBad;
        }
        // Setting a value makes the stream constant: values at single times
        // and expression results give way to it.
        ParamSlot& slot = s->effect->impl().params[s->index];
        slot.constant = valueP->val;
        slot.keyed.clear();
        slot.expression.clear();
        return PF_Err_NONE;
    });
}

A_Err st_disposeValue(AEGP_StreamValue2* valueP) {
    return guarded<A_Err>("AEGP Stream Suite 9/AEGP_DisposeStreamValue", kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
        Lock lock(h.mu);
        auto it = h.values.find(valueP);
        if (it == h.values.end()) {
            h.misuseLocked("AEGP_DisposeStreamValue: not a live stream value");
            return kBad;
        }
        h.values.erase(it);
        return f ? faultCode(f) : PF_Err_NONE;
    });
}

A_Err st_disposeStream(AEGP_StreamRefH streamH) {
    return guarded<A_Err>("AEGP Stream Suite 9/AEGP_DisposeStream", kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
        Lock lock(h.mu);
        if (!h.stream(streamH)) {
            h.misuseLocked("AEGP_DisposeStream: unknown or already disposed stream");
            return kBad;
        }
        h.streams.erase(streamH);
        return f ? faultCode(f) : PF_Err_NONE;
    });
}

AEGP_StreamSuite9 kStreamSuite9 = {st_streamByIndex, st_newValue, st_setValue, st_disposeValue, st_disposeStream};

A_Err ef_dispose(AEGP_EffectRefH effectH) {
    return guarded<A_Err>("AEGP Effect Suite 2/AEGP_DisposeEffect", kBad, [&](Host::Impl& h, FaultP f) -> A_Err {
        Lock lock(h.mu);
        if (!h.effectRef(effectH)) {
            h.misuseLocked("AEGP_DisposeEffect: unknown or already disposed effect reference");
            return kBad;
        }
        h.effectRefs.erase(effectH);
        return f ? faultCode(f) : PF_Err_NONE;
    });
}

AEGP_EffectSuite2 kEffectSuite2 = {ef_dispose};

// ==== PF_InData callbacks ====================================================

PF_Err cb_addParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    const CallArgs args{{"index", index}};
    return guarded<PF_Err>("inter.add_param", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        Effect* e = validEffect(h, ref, "inter.add_param");
        if (!e || !def) {
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : kBad;
        }
        Lock lock(h.mu);
        auto& params = e->impl().params;
        if (index != -1 && index != static_cast<PF_ParamIndex>(params.size())) {
            return PF_Err_INVALID_INDEX;
        }
        ParamSlot slot;
        slot.defined = true;
        slot.def = *def;
        if (std::memchr(def->name, 0, sizeof(def->name)) == nullptr) {
            h.misuseLocked("inter.add_param: parameter name is not terminated within 32 bytes");
            slot.def.name[PF_MAX_EFFECT_PARAM_NAME_LEN] = 0;
        }
        switch (def->param_type) {
        case PF_Param_POINT:
            slot.kind = StreamKind::TwoD;
            break;
        case PF_Param_POINT_3D:
            slot.kind = StreamKind::ThreeD;
            break;
        case PF_Param_COLOR:
            slot.kind = StreamKind::Color;
            break;
        default:
            slot.kind = StreamKind::OneD;
            slot.constant.one_d = def->param_type == PF_Param_FLOAT_SLIDER ? def->u.fs_d.value : 0.0;
            break;
        }
        params.push_back(slot);
        ++e->impl().added;
        return PF_Err_NONE;
    });
}

PF_Err cb_checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale,
                        PF_ParamDef* param) {
    const CallArgs args{
        {"index", index}, {"what_time", what_time}, {"time_step", time_step}, {"time_scale", time_scale}};
    return guarded<PF_Err>("inter.checkout_param", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        Effect* e = validEffect(h, ref, "inter.checkout_param");
        if (!e || !param || !validTime(time_scale)) {
            return kBad;
        }
        Lock lock(h.mu);
        auto& params = e->impl().params;
        if (index < 0 || index >= static_cast<PF_ParamIndex>(params.size()) || !params[index].defined) {
            return PF_Err_INVALID_INDEX;
        }
        if (f && f->kind == FaultKind::Error) {
            return f->code;
        }
        const TimeKey time{what_time, time_scale};
        std::memset(param, 0, sizeof(*param));
        if (index == 0) {
            param->param_type = PF_Param_LAYER;
            World* w = f ? nullptr : e->inputLayerAt(time);
            if (w) {
                param->u.ld = *w->def();
                // A layer without pixels has nothing to give back, so only
                // real worlds count as checked out.
                e->impl().checkedOut.insert(param);
            }
            return PF_Err_NONE;
        }
        if (f) {
            // The definition comes back empty, but it is a checkout all the
            // same and is to be checked in.
            e->impl().checkedOut.insert(param);
            return PF_Err_NONE;
        }
        *param = params[index].def;
        if (params[index].kind == StreamKind::OneD) {
            param->u.fs_d.value = e->valueAt(index, time, false).one_d;
        }
        e->impl().checkedOut.insert(param);
        return PF_Err_NONE;
    });
}

PF_Err cb_checkinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    return guarded<PF_Err>("inter.checkin_param", kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        Effect* e = validEffect(h, ref, "inter.checkin_param");
        if (!e || !param) {
            return kBad;
        }
        Lock lock(h.mu);
        auto& out = e->impl().checkedOut;
        auto it = out.find(param);
        if (it == out.end()) {
            h.misuseLocked("inter.checkin_param: parameter was not checked out");
            return kBad;
        }
        out.erase(it);
        return f ? faultCode(f) : PF_Err_NONE;
    });
}

PF_Err cb_copy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_LRect* src_r, PF_LRect* dst_r) {
    CallArgs args;
    addRect(args, "src_rect", src_r);
    addRect(args, "dst_rect", dst_r);
    return guarded<PF_Err>("utils.copy", std::move(args), kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        validEffect(h, ref, "utils.copy");
        if (!src || !dst) {
            return kBad;
        }
        if (f) {
            return f->kind == FaultKind::Error ? f->code : kBad;
        }
        World* sw = validWorld(h, src, "utils.copy");
        World* dw = validWorld(h, dst, "utils.copy");
        if (!sw || !dw) {
            return kBad;
        }
        if (sw->format() != dw->format() || sw->pixelSize() != dw->pixelSize()) {
            Lock lock(h.mu);
            h.misuseLocked("utils.copy: source and destination formats differ");
            return kBad;
        }
        // Each rectangle is clipped to its own world; the block copied is
        // the overlap of the two sizes, from each clipped top-left corner.
        const PF_LRect s = clipToWorld(src_r, *src);
        const PF_LRect d = clipToWorld(dst_r, *dst);
        const A_long w = std::min(s.right - s.left, d.right - d.left);
        const A_long rows = std::min(s.bottom - s.top, d.bottom - d.top);
        if (w <= 0 || rows <= 0) {
            return PF_Err_NONE;
        }
        const std::size_t px = static_cast<std::size_t>(sw->pixelSize());
        const std::size_t n = static_cast<std::size_t>(w) * px;
        std::vector<std::uint8_t> block(n * rows);
        for (A_long y = 0; y < rows; ++y) {
            const auto* from = reinterpret_cast<const std::uint8_t*>(src->data) +
                               static_cast<std::size_t>(s.top + y) * src->rowbytes + s.left * px;
            std::memcpy(block.data() + n * y, from, n);
        }
        for (A_long y = 0; y < rows; ++y) {
            auto* to = reinterpret_cast<std::uint8_t*>(dst->data) +
                       static_cast<std::size_t>(d.top + y) * dst->rowbytes + d.left * px;
            std::memcpy(to, block.data() + n * y, n);
        }
        return PF_Err_NONE;
    });
}

A_long cb_sprintf(A_char* buffer, const A_char* format, ...) {
    // The host decides the room (and any injected fault); the formatting
    // itself happens here, where the arguments are.
    const long room = guarded<long>("utils.ansi.sprintf", -1, [&](Host::Impl& h, FaultP f) -> long {
        if (!buffer || !format || f) {
            return -1;
        }
        Lock lock(h.mu);
        return static_cast<long>(h.textRoom(buffer));
    });
    if (room <= 0) {
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(buffer, static_cast<std::size_t>(room), format, args);
    va_end(args);
    if (wanted < 0) {
        buffer[0] = 0;
        return -1;
    }
    return static_cast<A_long>(std::min<long>(wanted, room - 1));
}

A_char* cb_strcpy(A_char* dest, const A_char* src) {
    return guarded<A_char*>("utils.ansi.strcpy", nullptr, [&](Host::Impl& h, FaultP f) -> A_char* {
        if (!dest || !src || f) {
            return nullptr;
        }
        std::size_t room;
        {
            Lock lock(h.mu);
            room = h.textRoom(dest);
        }
        const std::size_t n = std::min(std::strlen(src), room - 1);
        std::memmove(dest, src, n);
        dest[n] = 0;
        return dest;
    });
}

PF_UtilCallbacks kUtils = {cb_copy, {cb_sprintf, cb_strcpy}};

// ==== Smart-render callbacks =================================================

Frame* frameOf(Host::Impl& h, PF_ProgPtr ref, const char* call) {
    Effect* e = validEffect(h, ref, call);
    if (!e) {
        return nullptr;
    }
    Lock lock(h.mu);
    if (!e->impl().frame) {
        h.misuseLocked(std::string(call) + ": no frame in flight");
    }
    return e->impl().frame;
}

PF_Err cb_checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long id, const PF_RenderRequest* req, A_long what_time,
                        A_long time_step, A_u_long time_scale, PF_CheckoutResult* result) {
    CallArgs args{{"index", index},
                  {"checkout_id", id},
                  {"what_time", what_time},
                  {"time_step", time_step},
                  {"time_scale", time_scale}};
    if (req) {
        addRect(args, "rect", &req->rect);
        args.emplace_back("field", req->field);
        args.emplace_back("channel_mask", req->channel_mask);
        args.emplace_back("preserve_rgb_of_zero_alpha", req->preserve_rgb_of_zero_alpha);
    }
    return guarded<PF_Err>("PreRender/checkout_layer", std::move(args), kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        Frame* frame = frameOf(h, ref, "checkout_layer");
        if (!frame || !req || !result || !validTime(time_scale)) {
            return kBad;
        }
        if (index != 0) {
            return PF_Err_INVALID_INDEX;
        }
        if (f && f->kind == FaultKind::Error) {
            return f->code;
        }
        Lock lock(h.mu);
        // A silent fault checks out a layer without pixels.
        World* w = f ? nullptr : frame->input();
        const A_long lw = w ? w->width() : 0;
        const A_long lh = w ? w->height() : 0;
        std::memset(result, 0, sizeof(*result));
        result->max_result_rect = PF_LRect{0, 0, lw, lh};
        PF_LRect r = clipToWorld(&req->rect, w ? *w->def() : PF_EffectWorld{});
        if (r.left >= r.right || r.top >= r.bottom) {
            r = PF_LRect{0, 0, 0, 0};
        }
        result->result_rect = r;
        result->par = PF_RationalScale{1, 1};
        result->ref_width = lw;
        result->ref_height = lh;
        Frame::Checkout c;
        c.index = index;
        c.request = *req;
        c.time = TimeKey{what_time, time_scale};
        c.timeStep = time_step;
        c.world = w;
        FrameAccess::checkouts(*frame)[id] = c;
        return PF_Err_NONE;
    });
}

PF_Err cb_checkoutLayerPixels(PF_ProgPtr ref, A_long id, PF_EffectWorld** pixels) {
    const CallArgs args{{"checkout_id", id}};
    return guarded<PF_Err>("SmartRender/checkout_layer_pixels", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (!pixels) {
            return kBad;
        }
        *pixels = nullptr;
        Frame* frame = frameOf(h, ref, "checkout_layer_pixels");
        if (!frame) {
            return kBad;
        }
        Lock lock(h.mu);
        auto& checkouts = FrameAccess::checkouts(*frame);
        auto it = checkouts.find(id);
        if (it == checkouts.end()) {
            h.misuseLocked("checkout_layer_pixels: checkout id " + std::to_string(id) + " was not checked out");
            return kBad;
        }
        if (f) {
            return faultCode(f);
        }
        *pixels = it->second.world ? it->second.world->def() : nullptr;
        return PF_Err_NONE;
    });
}

PF_Err cb_checkinLayerPixels(PF_ProgPtr ref, A_long id) {
    const CallArgs args{{"checkout_id", id}};
    return guarded<PF_Err>("SmartRender/checkin_layer_pixels", args, kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        Frame* frame = frameOf(h, ref, "checkin_layer_pixels");
        if (!frame) {
            return kBad;
        }
        Lock lock(h.mu);
        if (!FrameAccess::checkouts(*frame).count(id)) {
            return kBad;
        }
        return f ? faultCode(f) : PF_Err_NONE;
    });
}

PF_Err cb_checkoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    return guarded<PF_Err>("SmartRender/checkout_output", kBad, [&](Host::Impl& h, FaultP f) -> PF_Err {
        if (!output) {
            return kBad;
        }
        *output = nullptr;
        Frame* frame = frameOf(h, ref, "checkout_output");
        if (!frame) {
            return kBad;
        }
        if (f) {
            return faultCode(f);
        }
        World* out = frame->output();
        World* in = frame->input();
        if (!out || (in && in->format() != out->format())) {
            return kBad;
        }
        *output = out->def();
        return PF_Err_NONE;
    });
}

} // namespace

// ==== Tables =================================================================

const void* suiteTable(const std::string& name, int version) {
    struct Entry {
        const char* name;
        int version;
        const void* table;
    };
    static const Entry kTables[] = {
        {kPFHandleSuite, kPFHandleSuiteVersion2, &kHandleSuite2},
        {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, &kUtilitySuite7},
        {kAEGPIterateSuite, kAEGPIterateSuiteVersion1, &kIterateSuite1},
        {kPFIterate8Suite, kPFIterate8SuiteVersion1, &kIterate8Suite1},
        {kPFWorldSuite, kPFWorldSuiteVersion1, &kWorldSuite1},
        {kPFWorldSuite, kPFWorldSuiteVersion2, &kWorldSuite2},
        {kPFFillMatteSuite, kPFFillMatteSuiteVersion2, &kFillMatteSuite2},
        {kAEGPStreamSuite, kAEGPStreamSuiteVersion9, &kStreamSuite9},
        {kAEGPEffectSuite, kAEGPEffectSuiteVersion2, &kEffectSuite2},
        {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &kPFInterfaceSuite1},
    };
    for (const Entry& e : kTables) {
        if (e.version == version && name == e.name) {
            return e.table;
        }
    }
    return nullptr;
}

const SPBasicSuite* brokerTable() {
    return &kBroker;
}

PF_UtilCallbacks* utilsTable() {
    return &kUtils;
}

PF_InteractCallbacks interactTable() {
    return PF_InteractCallbacks{cb_checkoutParam, cb_checkinParam, cb_addParam};
}

PF_PreRenderCallbacks preRenderCallbacks() {
    return PF_PreRenderCallbacks{cb_checkoutLayer};
}

PF_SmartRenderCallbacks smartRenderCallbacks() {
    return PF_SmartRenderCallbacks{cb_checkoutLayerPixels, cb_checkinLayerPixels, cb_checkoutOutput};
}

} // namespace standin
