// morvek-render's failures and sequences: every error ends with one clear
// line and a non-zero exit, and no output is ever left half-written; a
// sequence loads the module and runs GlobalSetup once.
#include "RenderToolSupport.h"

#include <algorithm>

namespace {

void expectFailure(const rt::RunResult& r, int status, const std::string& mention) {
    rt::expectFailure(r, status, {mention});
}

void writeSmallPng(const std::string& path) {
    rt::Pixels<uint8_t> px{4, 2, 4, std::vector<uint8_t>(32, 200)};
    rt::writeFile(path, px, OIIO::TypeDesc::UINT8, true);
}

// A module folder: a copy of `module` with (optionally) the real property list.
std::string moduleCopy(const std::string& dir, const std::string& module, bool withPropertyList) {
    const rt::fs::path folder = rt::fs::path(dir) / "module";
    rt::fs::create_directories(folder);
    const rt::fs::path target = folder / "Effect.so";
    rt::fs::copy_file(module, target, rt::fs::copy_options::overwrite_existing);
    if (withPropertyList) {
        rt::fs::copy_file(MORVEK_PIPL_FILE, folder / "Effect.pipl", rt::fs::copy_options::overwrite_existing);
    }
    return target.string();
}

TEST(ProgramErrors, UnreadableInputs) {
    const std::string dir = rt::scratchDir();
    const std::string out = dir + "/out.png";
    expectFailure(rt::runTool(dir, {dir + "/missing.png", out}), 1, "missing.png");
    expectFailure(rt::runTool(dir, {dir, out}), 1, "not a regular file");
    std::ofstream(dir + "/text.png") << "plain text, not an image\n";
    expectFailure(rt::runTool(dir, {dir + "/text.png", out}), 1, "cannot read");
    // Depth alone: nothing for the effect to work on.
    rt::writeChannels(dir + "/depth.exr", 2, 1, {"Z"}, {OIIO::TypeDesc::FLOAT}, {1.0f, 2.0f});
    expectFailure(rt::runTool(dir, {dir + "/depth.exr", out}), 1, "no colour channel");
    EXPECT_FALSE(rt::fs::exists(out));
}

TEST(ProgramErrors, UnsupportedOutputWritesNothing) {
    const std::string dir = rt::scratchDir();
    writeSmallPng(dir + "/in.png");
    expectFailure(rt::runTool(dir, {dir + "/in.png", dir + "/out.nosuchformat"}), 1, "out.nosuchformat");
    expectFailure(rt::runTool(dir, {dir + "/in.png", dir + "/no/such/folder/out.png"}), 1, "out.png");
    EXPECT_EQ(rt::filesIn(dir), std::vector<std::string>{"in.png"});
}

TEST(ProgramErrors, RawSizeMustMatch) {
    const std::string dir = rt::scratchDir();
    std::ofstream(dir + "/in.raw", std::ios::binary) << std::string(4 * 4 * 8, '\0');
    expectFailure(rt::runTool(dir, {"--size", "4x4", "--depth", "8", dir + "/in.raw", dir + "/out.raw"}), 1,
                  "needs 64");
    expectFailure(rt::runTool(dir, {"--size", "4x5", "--depth", "16", dir + "/in.raw", dir + "/out.raw"}), 1, "bytes");
    expectFailure(rt::runTool(dir, {"--depth", "16", dir + "/in.raw", dir + "/out.raw"}), 2, "--size");
    expectFailure(rt::runTool(dir, {"--size", "4x4", dir + "/in.raw", dir + "/out.raw"}), 2, "--depth");
    EXPECT_FALSE(rt::fs::exists(dir + "/out.raw"));
    // The right size renders.
    const rt::RunResult ok = rt::runTool(dir, {"--size", "4x4", "--depth", "16", dir + "/in.raw", dir + "/out.raw"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(rt::fs::file_size(dir + "/out.raw"), 128u);
}

TEST(ProgramErrors, ValuesOutsideTheValidRanges) {
    const std::string dir = rt::scratchDir();
    writeSmallPng(dir + "/in.png");
    const std::string in = dir + "/in.png", out = dir + "/out.png";
    expectFailure(rt::runTool(dir, {"--exposure", "100.5", in, out}), 2, "valid range");
    expectFailure(rt::runTool(dir, {"--exposure=-101", in, out}), 2, "Exposure");
    expectFailure(rt::runTool(dir, {"--gamma", "0.09", in, out}), 2, "Gamma Correction");
    expectFailure(rt::runTool(dir, {"--gamma", "10.5", in, out}), 2, "valid range");
    expectFailure(rt::runTool(dir, {"--gamma", "nan", in, out}), 2, "number");
    expectFailure(rt::runTool(dir, {"--exposure", "2x", in, out}), 2, "number");
    expectFailure(rt::runTool(dir, {"--depth", "12", in, out}), 2, "8, 16 or 32");
    expectFailure(rt::runTool(dir, {"--threads", "0", in, out}), 2, "--threads");
    expectFailure(rt::runTool(dir, {"--memory-limit", "0.5", in, out}), 2, "--memory-limit");
    expectFailure(rt::runTool(dir, {"--frames", "5-2", in, out}), 2, "--frames");
    expectFailure(rt::runTool(dir, {"--frames", "1-3", in, out}), 2, "pattern");
    expectFailure(rt::runTool(dir, {"--size", "4x4", in, out}), 2, "--size");
    expectFailure(rt::runTool(dir, {"--colour", "red", in, out}), 2, "unknown option");
    expectFailure(rt::runTool(dir, {in}), 2, "INPUT and OUTPUT");
    EXPECT_FALSE(rt::fs::exists(out));
    // The limits themselves are valid, typed as the user would.
    for (const auto& args : std::vector<std::vector<std::string>>{{"--exposure", "-100", "--gamma", "0.1"},
                                                                  {"--exposure", "100", "--gamma", "10"}}) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {in, out});
        const rt::RunResult r = rt::runTool(dir, all);
        EXPECT_EQ(r.status, 0) << r.err;
    }
}

TEST(ProgramErrors, ModuleThatDoesNotLoadOrLacksItsPropertyList) {
    const std::string dir = rt::scratchDir();
    writeSmallPng(dir + "/in.png");
    const std::string in = dir + "/in.png", out = dir + "/out.png";
    expectFailure(rt::runTool(dir, {"--plugin", dir + "/nowhere.so", in, out}), 1, "nowhere.so");

    const std::string bare = moduleCopy(dir + "/bare", MORVEK_PLUGIN_PATH, false);
    expectFailure(rt::runTool(dir, {"--plugin", bare, in, out}), 1, "property list");
    expectFailure(rt::runTool(dir, {"--plugin", bare, "--info"}), 1, "property list");

    // A property list beside something that is not a module.
    const std::string fake = moduleCopy(dir + "/text", dir + "/in.png", true);
    expectFailure(rt::runTool(dir, {"--plugin", fake, in, out}), 1, "cannot load");

    // A damaged property list.
    const std::string damaged = moduleCopy(dir + "/damaged", MORVEK_PLUGIN_PATH, true);
    rt::fs::resize_file(dir + "/damaged/module/Effect.pipl", 100);
    expectFailure(rt::runTool(dir, {"--plugin", damaged, in, out}), 1, "property list");
    EXPECT_FALSE(rt::fs::exists(out));

    // The same module with its list works.
    const std::string good = moduleCopy(dir + "/good", MORVEK_PLUGIN_PATH, true);
    const rt::RunResult r = rt::runTool(dir, {"--plugin", good, in, out});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(ProgramErrors, RenderErrorKeepsTheExistingOutput) {
    const std::string dir = rt::scratchDir();
    writeSmallPng(dir + "/in.png");
    const std::string module = moduleCopy(dir, MORVEK_FAKE_EFFECT_PATH, true);
    std::ofstream(dir + "/out.png") << "previous output";
    const rt::RunResult r =
        rt::runTool(dir, {"--plugin", module, dir + "/in.png", dir + "/out.png"}, "MORVEK_FAKE_RENDER_ERROR=517");
    expectFailure(r, 1, "error 517");
    EXPECT_EQ(rt::slurp(dir + "/out.png"), "previous output");
    auto names = rt::filesIn(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.png", "module", "out.png"}));

    // An input that cannot be read leaves the old output as well.
    expectFailure(rt::runTool(dir, {dir + "/missing.png", dir + "/out.png"}), 1, "missing.png");
    EXPECT_EQ(rt::slurp(dir + "/out.png"), "previous output");
}

TEST(ProgramSequences, EveryFrameRendersWithOneGlobalSetup) {
    const std::string dir = rt::scratchDir();
    const rt::Converters effect(2.0, 1.0);
    for (int f = 7; f <= 9; ++f) {
        rt::Pixels<uint8_t> px{3, 1, 4, {}};
        for (int x = 0; x < 3; ++x) {
            px.data.insert(px.data.end(), {static_cast<uint8_t>(f * 20 + x), static_cast<uint8_t>(x * 50), 9, 255});
        }
        char name[64];
        std::snprintf(name, sizeof name, "/in.%04d.png", f);
        rt::writeFile(dir + name, px, OIIO::TypeDesc::UINT8, true);
    }
    const rt::RunResult r =
        rt::runTool(dir, {"--exposure", "2", "--frames", "7-9", dir + "/in.####.png", dir + "/out_%03d.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("rendered 3 frames"), std::string::npos) << r.out;
    for (int f = 7; f <= 9; ++f) {
        char in[64], out[64];
        std::snprintf(in, sizeof in, "/in.%04d.png", f);
        std::snprintf(out, sizeof out, "/out_%03d.png", f);
        const rt::Pixels<uint8_t> src = rt::readFile<uint8_t>(dir + in);
        const rt::Pixels<uint8_t> dst = rt::readFile<uint8_t>(dir + out);
        for (int x = 0; x < 3; ++x) {
            const PF_Pixel e = effect(PF_Pixel{255, src.at(x, 0, 0), src.at(x, 0, 1), src.at(x, 0, 2)});
            EXPECT_EQ(dst.at(x, 0, 0), e.red) << f << "," << x;
            EXPECT_EQ(dst.at(x, 0, 1), e.green) << f << "," << x;
        }
    }

    // Counted by a module that logs its commands: one GlobalSetup, one
    // ParamsSetup, a pre-render and render per frame, one GlobalSetdown.
    const std::string module = moduleCopy(dir, MORVEK_FAKE_EFFECT_PATH, true);
    const std::string log = dir + "/commands.log";
    const rt::RunResult counted =
        rt::runTool(dir, {"--plugin", module, "--frames", "7-9", dir + "/in.%04d.png", dir + "/fake.####.png"},
                    "MORVEK_FAKE_LOG=" + rt::quote(log));
    ASSERT_EQ(counted.status, 0) << counted.err;
    const std::string commands = rt::slurp(log);
    auto count = [&](const std::string& line) {
        std::size_t n = 0;
        for (std::size_t at = commands.find(line); at != std::string::npos; at = commands.find(line, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("cmd 1\n"), 1u) << commands;
    EXPECT_EQ(count("cmd 4\n"), 1u) << commands;
    EXPECT_EQ(count("cmd 23\n"), 3u) << commands;
    EXPECT_EQ(count("cmd 24\n"), 3u) << commands;
    EXPECT_EQ(count("cmd 3\n"), 1u) << commands;
}

TEST(ProgramSequences, MissingFrameStopsTheRun) {
    const std::string dir = rt::scratchDir();
    writeSmallPng(dir + "/in.1.png");
    writeSmallPng(dir + "/in.3.png");
    const rt::RunResult r = rt::runTool(dir, {"--frames", "1-3", dir + "/in.#.png", dir + "/out.#.png"});
    expectFailure(r, 1, "frame 2");
    EXPECT_TRUE(rt::fs::exists(dir + "/out.1.png"));
    EXPECT_FALSE(rt::fs::exists(dir + "/out.2.png"));
    EXPECT_FALSE(rt::fs::exists(dir + "/out.3.png"));
}

} // namespace
