// morvek-render starts without the image libraries: it renders raw frames
// itself and hands every other command line to morvek-render-files beside
// it, through which the other program tests run.
#include "RenderToolSupport.h"

#include <cerrno>
#include <cstring>

#ifdef MORVEK_RENDER_FILES_PATH

namespace {

// The shared libraries the dynamic loader maps for `program`, one a line.
std::string sharedLibraries(const std::string& dir, const std::string& program) {
    const rt::RunResult r = rt::runTool(dir, {}, "LD_TRACE_LOADED_OBJECTS=1", program);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

TEST(ProgramStart, LoadsNoImageLibrary) {
    const std::string dir = rt::scratchDir();
    const std::string files = sharedLibraries(dir, MORVEK_RENDER_FILES_PATH);
    ASSERT_NE(files.find("libOpenImageIO"), std::string::npos) << files;
    const std::string own = sharedLibraries(dir, MORVEK_RENDER_PATH);
    for (const char* library : {"libOpenImageIO", "libOpenColorIO"}) {
        EXPECT_EQ(own.find(library), std::string::npos) << own;
    }
}

TEST(ProgramStart, AloneBesideTheModuleItRendersRawFramesAndNamesWhatTheRestNeeds) {
    const std::string dir = rt::scratchDir();
    const rt::fs::path bin = rt::fs::path(dir) / "bin";
    rt::fs::create_directories(bin);
    const std::string alone = (bin / "morvek-render").string();
    rt::fs::copy_file(MORVEK_RENDER_PATH, alone);
    rt::fs::copy_file(MORVEK_PLUGIN_PATH, bin / "MorvekExposure.so");
    rt::fs::copy_file(MORVEK_PIPL_FILE, bin / "MorvekExposure.pipl");

    std::string bytes(7 * 5 * 8, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i % 2 ? (i * 37) % 128 : (i * 101) % 256); // 16-bit samples below 32768
    }
    std::ofstream(dir + "/in.raw", std::ios::binary) << bytes;
    const std::vector<std::string> raw{"--size", "7x5", "--depth", "16", "--exposure", "1.5", dir + "/in.raw"};
    auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };

    // Raw frames, --help and --version: as the program with the image libraries.
    const rt::RunResult own = rt::runTool(dir, with(raw, {dir + "/own.raw"}), "", alone);
    const rt::RunResult files = rt::runTool(dir, with(raw, {dir + "/files.raw"}), "", MORVEK_RENDER_FILES_PATH);
    EXPECT_EQ(own.status, 0) << own.err;
    EXPECT_EQ(files.status, 0) << files.err;
    EXPECT_EQ(rt::fs::file_size(dir + "/own.raw"), bytes.size());
    EXPECT_EQ(rt::slurp(dir + "/own.raw"), rt::slurp(dir + "/files.raw"));
    for (const char* arg : {"--help", "--version"}) {
        const rt::RunResult a = rt::runTool(dir, {arg}, "", alone);
        const rt::RunResult b = rt::runTool(dir, {arg}, "", MORVEK_RENDER_FILES_PATH);
        EXPECT_EQ(a.status, 0) << arg;
        EXPECT_EQ(a.out, b.out) << arg;
    }

    // Everything else needs morvek-render-files, which is not there.
    rt::writeFile(dir + "/in.png", rt::Pixels<uint8_t>{2, 2, 3, std::vector<uint8_t>(12, 99)}, OIIO::TypeDesc::UINT8);
    const std::string missing = "'" + rt::fs::canonical(bin).string() + "/morvek-render-files'";
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{dir + "/in.png", dir + "/out.png"},
                                               with(raw, {dir + "/out.png"}),
                                               {dir + "/in.png", dir + "/out.raw"},
                                               with(raw, {dir + "/out.raw", "--curve", dir + "/curve.png"}),
                                               with(raw, {dir + "/out.raw", "--working-space", "linear"}),
                                               {"--curve", dir + "/curve.png"},
                                               {"--info"}}) {
        SCOPED_TRACE(args.back());
        rt::expectFailure(rt::runTool(dir, args, "", alone), 1, {missing, std::strerror(ENOENT)});
    }
    EXPECT_EQ(rt::filesIn(dir), (std::vector<std::string>{"bin", "files.raw", "in.png", "in.raw", "own.raw"}));
}

} // namespace

#endif
