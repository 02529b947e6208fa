// The built module as a file: the only exported function is the entry point,
// and it needs nothing beyond the C and C++ runtimes.
#include "StandInTesting.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        return out;
    }
    char buf[512];
    while (fgets(buf, sizeof buf, p)) {
        out += buf;
    }
    pclose(p);
    return out;
}

} // namespace

TEST(ModuleImage, ExportsOnlyTheEntryPoint) {
    const std::string out = run(std::string("nm -D --defined-only '") + MORVEK_PLUGIN_PATH + "' 2>/dev/null");
    ASSERT_FALSE(out.empty()) << "nm gave no output";
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> functions;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string addr, type, name;
        f >> addr >> type >> name;
        if (type == "T" || type == "W" || type == "i") {
            functions.push_back(name);
        }
        // No data symbols either: no exported state.
        EXPECT_TRUE(type != "D" && type != "B" && type != "V") << line;
    }
    ASSERT_EQ(functions.size(), 1u) << out;
    EXPECT_EQ(functions[0], "EntryPointFunc");

    std::string why;
    auto module = standin::Module::load(MORVEK_PLUGIN_PATH, &why);
    ASSERT_TRUE(module) << why;
    EXPECT_NE(module->symbol("EntryPointFunc"), nullptr);
    EXPECT_EQ(module->symbol("_ZN18AEGP_SuiteHandlerD1Ev"), nullptr);
}

TEST(ModuleImage, NeedsOnlyTheRuntimeLibraries) {
    const std::string out = run(std::string("readelf -d '") + MORVEK_PLUGIN_PATH + "' 2>/dev/null");
    ASSERT_FALSE(out.empty()) << "readelf gave no output";
    const std::set<std::string> allowed = {"libstdc++.so.6", "libm.so.6", "libgcc_s.so.1", "libc.so.6",
                                           "ld-linux-x86-64.so.2"};
    std::istringstream lines(out);
    std::string line;
    int needed = 0;
    while (std::getline(lines, line)) {
        if (line.find("(NEEDED)") == std::string::npos) {
            continue;
        }
        const auto open = line.find('[');
        const auto close = line.find(']');
        ASSERT_NE(open, std::string::npos);
        const std::string lib = line.substr(open + 1, close - open - 1);
        // Sanitizer runtimes appear only in sanitizer builds.
        const bool sanitizer = lib.find("san") != std::string::npos || lib.find("clang_rt") != std::string::npos;
        EXPECT_TRUE(allowed.count(lib) || lib.rfind("ld-linux", 0) == 0 || sanitizer) << lib;
        ++needed;
    }
    EXPECT_GT(needed, 0);
}
