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
