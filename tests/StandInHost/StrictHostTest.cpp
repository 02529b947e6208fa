// The host's strictness, checked with small effects written here: what an
// effect leaves behind is reported with the command that made or locked it,
// never taken back for it, and pre-render data is freed as a real host frees
// it in every call order.
#include "StandInTesting.h"

#include <algorithm>
#include <memory>
#include <vector>

using standin::CallOrder;
using standin::Session;
using standin::World;

namespace {

// What the effect below does wrong, or how it keeps its pre-render data.
enum class Data { HandleWithoutDeleter, MemoryWithDeleter, MemoryWithoutDeleter };
struct Behaviour {
    bool leaveGlobalDataLocked = false;
    Data data = Data::MemoryWithDeleter;
    PF_Err renderResult = PF_Err_NONE; // a failing render frees nothing
};
struct Seen {
    std::vector<void*> made;
    std::vector<void*> rendered;
    std::vector<std::pair<void*, int>> deleted; // with the renders run by then
};
Behaviour g_behaviour;
Seen g_seen;

void deleteData(void* data) {
    g_seen.deleted.emplace_back(data, static_cast<int>(g_seen.rendered.size()));
    delete[] static_cast<double*>(data);
}

PF_HandleSuite2* handleSuite(PF_InData* in) {
    const void* suite = nullptr;
    in->pica_basicP->AcquireSuite("PF Handle Suite", 2, &suite);
    return static_cast<PF_HandleSuite2*>(const_cast<void*>(suite));
}

PF_Err testEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*, void* extra) {
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP: {
        PF_HandleSuite2* hs = handleSuite(in);
        PF_Handle h = hs->host_new_handle(4);
        hs->host_lock_handle(h);
        if (!g_behaviour.leaveGlobalDataLocked) {
            hs->host_unlock_handle(h);
        }
        out->global_data = h;
        in->pica_basicP->ReleaseSuite("PF Handle Suite", 2);
        return PF_Err_NONE;
    }
    case PF_Cmd_GLOBAL_SETDOWN:
        handleSuite(in)->host_dispose_handle(in->global_data);
        in->pica_basicP->ReleaseSuite("PF Handle Suite", 2);
        return PF_Err_NONE;
    case PF_Cmd_SMART_PRE_RENDER: {
        PF_PreRenderOutput* o = static_cast<PF_PreRenderExtra*>(extra)->output;
        if (g_behaviour.data == Data::HandleWithoutDeleter) {
            o->pre_render_data = handleSuite(in)->host_new_handle(16);
            in->pica_basicP->ReleaseSuite("PF Handle Suite", 2);
        } else {
            o->pre_render_data = new double[2]();
            if (g_behaviour.data == Data::MemoryWithDeleter) {
                o->delete_pre_render_data_func = deleteData;
            }
        }
        g_seen.made.push_back(o->pre_render_data);
        return PF_Err_NONE;
    }
    case PF_Cmd_SMART_RENDER: {
        void* data = static_cast<PF_SmartRenderExtra*>(extra)->input->pre_render_data;
        g_seen.rendered.push_back(data);
        if (g_behaviour.renderResult != PF_Err_NONE) {
            return g_behaviour.renderResult;
        }
        if (g_behaviour.data == Data::HandleWithoutDeleter) {
            handleSuite(in)->host_dispose_handle(static_cast<PF_Handle>(data));
            in->pica_basicP->ReleaseSuite("PF Handle Suite", 2);
        } else if (g_behaviour.data == Data::MemoryWithoutDeleter) {
            delete[] static_cast<double*>(data);
        }
        return PF_Err_NONE;
    }
    default:
        return PF_Err_NONE;
    }
}

std::unique_ptr<Session> sessionWith(const Behaviour& behaviour) {
    g_behaviour = behaviour;
    g_seen = Seen{};
    return std::make_unique<Session>(std::make_shared<standin::Module>(nullptr, testEffect, "in-test effect"));
}

} // namespace

TEST(StrictHost, APreRenderHandleThatRenderKeepsIsALeakOfPreRender) {
    World in(3, 2, PF_PixelFormat_ARGB32), out(3, 2, PF_PixelFormat_ARGB32);
    for (PF_Err renderResult : {PF_Err_NONE, PF_Err_INTERNAL_STRUCT_DAMAGED}) {
        SCOPED_TRACE(renderResult);
        auto s = sessionWith(Behaviour{false, Data::HandleWithoutDeleter, renderResult});
        EXPECT_EQ(s->renderFrame(in, out), renderResult);
        const standin::LeakReport& r = s->lastReport();
        if (renderResult == PF_Err_NONE) {
            EXPECT_TRUE(r.clean()) << r.describe();
            continue;
        }
        // A failed render is no reason for the host to free what the effect
        // kept.
        ASSERT_EQ(r.handles.size(), 1u) << r.describe();
        EXPECT_EQ(r.handles[0].handle, g_seen.made.at(0));
        EXPECT_EQ(r.handles[0].size, 16u);
        EXPECT_EQ(r.handles[0].madeBy, standin::commandName(PF_Cmd_SMART_PRE_RENDER));
        EXPECT_FALSE(s->reportsClean());
    }
}

TEST(StrictHost, AHandleLeftLockedIsReportedWithTheCommandThatReturned) {
    auto s = sessionWith(Behaviour{true, Data::MemoryWithDeleter, PF_Err_NONE});
    ASSERT_EQ(s->globalSetup(), PF_Err_NONE);
    const standin::LeakReport& r = s->lastReport();
    ASSERT_EQ(r.lockedOnReturn.size(), 1u) << r.describe();
    EXPECT_EQ(r.lockedOnReturn[0].handle, s->globalData());
    EXPECT_EQ(r.lockedOnReturn[0].lockedBy, standin::commandName(PF_Cmd_GLOBAL_SETUP));
    EXPECT_EQ(r.lockedOnReturn[0].madeBy, standin::commandName(PF_Cmd_GLOBAL_SETUP));
    EXPECT_EQ(r.lockedOnReturn[0].locks, 1);
    EXPECT_TRUE(r.handles.empty()); // the global data itself is the host's to hold
    EXPECT_NE(s->firstLeak().find("GlobalSetup (command 1) returned with handle"), std::string::npos) << s->firstLeak();
    EXPECT_EQ(s->globalSetdown(), PF_Err_NONE);

    // Locked and unlocked within one command: nothing to report.
    auto balanced = sessionWith(Behaviour{});
    ASSERT_EQ(balanced->globalSetup(), PF_Err_NONE);
    EXPECT_EQ(balanced->globalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(balanced->reportsClean()) << balanced->firstLeak();
}

TEST(StrictHost, EveryCallOrderDeletesEachPreRenderDataOnceAfterRender) {
    struct Case {
        CallOrder order;
        int preRenders;
        int renders;
    };
    const Case cases[] = {
        {CallOrder::PreRenderThenRender, 1, 1},
        {CallOrder::PreRenderOnly, 1, 0},
        {CallOrder::PreRenderTwiceThenRender, 2, 1},
        {CallOrder::RenderAbandoned, 1, 0},
    };
    World in(3, 2, PF_PixelFormat_ARGB32), out(3, 2, PF_PixelFormat_ARGB32);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.order));
        auto s = sessionWith(Behaviour{});
        EXPECT_EQ(s->runFrame(in, out, c.order), PF_Err_NONE);
        ASSERT_EQ(g_seen.made.size(), static_cast<std::size_t>(c.preRenders));
        // Render gets the latest data.
        EXPECT_EQ(g_seen.rendered, c.renders ? std::vector<void*>{g_seen.made.back()} : std::vector<void*>{});
        // Each data deleted once, and only after render.
        std::vector<void*> deleted;
        for (const auto& [data, rendersBefore] : g_seen.deleted) {
            deleted.push_back(data);
            EXPECT_EQ(rendersBefore, c.renders);
        }
        std::sort(deleted.begin(), deleted.end());
        std::vector<void*> made = g_seen.made;
        std::sort(made.begin(), made.end());
        EXPECT_EQ(deleted, made);
        ASSERT_EQ(s->lastPreRenderData().size(), made.size());
        for (const standin::Frame::PreRenderData& d : s->lastPreRenderData()) {
            EXPECT_TRUE(d.deleted);
            EXPECT_EQ(d.deletedAfterRender, c.renders > 0);
        }
        EXPECT_TRUE(s->reportsClean()) << s->firstLeak();
    }
}

TEST(StrictHost, PreRenderDataThatNothingCanFreeIsReported) {
    World in(3, 2, PF_PixelFormat_ARGB32), out(3, 2, PF_PixelFormat_ARGB32);
    // Freed by render: the host cannot tell it from a correct effect.
    auto rendered = sessionWith(Behaviour{false, Data::MemoryWithoutDeleter, PF_Err_NONE});
    EXPECT_EQ(rendered->runFrame(in, out, CallOrder::PreRenderThenRender), PF_Err_NONE);
    EXPECT_TRUE(rendered->reportsClean()) << rendered->firstLeak();
    // Never rendered: nothing can free it.
    for (CallOrder order : {CallOrder::PreRenderOnly, CallOrder::RenderAbandoned}) {
        auto s = sessionWith(Behaviour{false, Data::MemoryWithoutDeleter, PF_Err_NONE});
        EXPECT_EQ(s->runFrame(in, out, order), PF_Err_NONE);
        ASSERT_EQ(s->lastReport().misuse.size(), 1u) << s->lastReport().describe();
        EXPECT_NE(s->lastReport().misuse[0].find("nothing can free it"), std::string::npos);
        delete[] static_cast<double*>(g_seen.made.at(0));
    }
}
