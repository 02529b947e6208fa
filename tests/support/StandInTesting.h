// GoogleTest helpers for code run under the stand-in host: assertions that
// fail a test when a host resource is left behind, and the module's path.
#ifndef MORVEK_TESTS_STANDINTESTING_H
#define MORVEK_TESTS_STANDINTESTING_H

#include "Host.h"
#include "Session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace standin {
namespace testing {

// Success when the host reports nothing left behind (suites, handles not held
// by the host, worlds, checkouts, effect references, streams, values, misuse).
inline ::testing::AssertionResult NoLeaks(const Host& host) {
    const LeakReport r = host.leaks();
    if (r.clean()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "host resources left behind:\n" << r.describe();
}

// Success when every command of the session so far left the host balanced.
inline ::testing::AssertionResult AllCommandsBalanced(const Session& session) {
    if (session.reportsClean()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << session.firstLeak();
}

// The one leak a module cannot prevent: a host that refuses the handle suite
// to GlobalSetdown leaves the global data alive. Success when the session's
// first unclean report came after GlobalSetdown and the host holds exactly
// that, a handle of `size` bytes made by GlobalSetup, and nothing else.
inline ::testing::AssertionResult OnlyGlobalDataLeft(const Session& session, std::size_t size) {
    const LeakReport r = session.lastReport();
    const std::string setdown = "after " + commandName(PF_Cmd_GLOBAL_SETDOWN) + ":";
    if (session.firstLeak().compare(0, setdown.size(), setdown) != 0) {
        return ::testing::AssertionFailure() << "a command before GlobalSetdown left something behind:\n"
                                             << session.firstLeak();
    }
    LeakReport rest = r;
    rest.handles.clear();
    rest.liveHandles = 0;
    if (r.handles.size() != 1 || r.handles[0].madeBy != commandName(PF_Cmd_GLOBAL_SETUP) || r.handles[0].size != size ||
        r.handles[0].locks != 0 || !rest.clean()) {
        return ::testing::AssertionFailure() << "not just the global data left:\n" << r.describe();
    }
    return ::testing::AssertionSuccess();
}

// Whether `call` is the handle suite's acquisition for GlobalSetdown.
inline bool IsGlobalSetdownHandleSuite(const HostCall& call) {
    return call.name == "SPBasic/AcquireSuite:PF Handle Suite 2" && call.command == commandName(PF_Cmd_GLOBAL_SETDOWN);
}

#define EXPECT_NO_HOST_LEAKS(host) EXPECT_TRUE(::standin::testing::NoLeaks(host))
#define ASSERT_NO_HOST_LEAKS(host) ASSERT_TRUE(::standin::testing::NoLeaks(host))

// The module under test, loaded once per call; fails the test when missing.
inline std::shared_ptr<Module> LoadPlugin() {
    std::string why;
    std::shared_ptr<Module> m = Module::load(MORVEK_PLUGIN_PATH, &why);
    EXPECT_TRUE(m) << why;
    return m;
}

} // namespace testing
} // namespace standin

#endif
