// morvek-render and the user's files: a write that fails (a full disk, a
// failed rename) or is interrupted leaves the existing output byte for byte
// and no temporary file; links, permission bits and owners stay; a header
// that declares more than the memory budget, or data that ends early, costs
// a line and little memory.
#include "RenderToolSupport.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

namespace {

// Samples that no format compresses much.
rt::Pixels<uint8_t> noise(int width, int height, int channels) {
    rt::Pixels<uint8_t> px{width, height, channels, std::vector<uint8_t>(std::size_t(width) * height * channels)};
    uint32_t state = 12345;
    for (uint8_t& v : px.data) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<uint8_t>(state >> 24);
    }
    return px;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string moduleCopy(const std::string& dir) {
    const rt::fs::path folder = rt::fs::path(dir) / "module";
    rt::fs::create_directories(folder);
    rt::fs::copy_file(MORVEK_FAKE_EFFECT_PATH, folder / "Effect.so", rt::fs::copy_options::overwrite_existing);
    rt::fs::copy_file(MORVEK_PIPL_FILE, folder / "Effect.pipl", rt::fs::copy_options::overwrite_existing);
    return (folder / "Effect.so").string();
}

TEST(ProgramFiles, FullDiskLeavesTheOutputAsItWas) {
    // A file-size limit makes every write past 8 KiB fail, as a full disk
    // does; sgi is written by the library itself, not through the program's
    // checked writes.
    const std::string dir = rt::scratchDir();
    rt::writeFile(dir + "/in.png", noise(128, 128, 4), OIIO::TypeDesc::UINT8, true);
    for (const char* ext : {"png", "tif", "exr", "jpg", "sgi", "raw"}) {
        SCOPED_TRACE(ext);
        const std::string out = dir + "/out." + ext;
        writeText(out, "previous output");
        const rt::RunResult r = rt::runChild(dir, {dir + "/in.png", out}, {}, 8192);
        rt::expectFailure(r, 1, {"'" + out + "'", std::strerror(EFBIG)});
        EXPECT_EQ(rt::slurp(out), "previous output");
        EXPECT_EQ(rt::filesIn(dir), (std::vector<std::string>{"in.png", std::string("out.") + ext}));
        rt::fs::remove(out);
    }
}

TEST(ProgramFiles, FailedRenameLeavesNoTemporaryFile) {
    // The module puts a folder where the output goes while it renders, so
    // the final rename cannot replace it.
    const std::string dir = rt::scratchDir();
    rt::writeFile(dir + "/in.png", noise(8, 8, 4), OIIO::TypeDesc::UINT8, true);
    const std::string module = moduleCopy(dir);
    const std::string out = dir + "/out.png";
    const rt::RunResult r =
        rt::runChild(dir, {"--plugin", module, dir + "/in.png", out}, {"MORVEK_FAKE_RENDER_MKDIR=" + out});
    rt::expectFailure(r, 1, {"'" + out + "'", std::strerror(EISDIR)});
    EXPECT_TRUE(rt::fs::is_directory(out));
    EXPECT_TRUE(rt::fs::is_empty(out));
    EXPECT_EQ(rt::filesIn(dir), (std::vector<std::string>{"in.png", "module", "out.png"}));
}

TEST(ProgramFiles, LinksPermissionsAndOwnersStay) {
    const std::string dir = rt::scratchDir();
    rt::writeFile(dir + "/in.png", noise(4, 4, 3), OIIO::TypeDesc::UINT8);
    rt::fs::create_directories(dir + "/shots");
    const bool root = geteuid() == 0;
    struct Case {
        const char* output; // what the program is given
        const char* target; // the file that holds the result
        int mode;           // of the existing target; 0: none exists
    };
    for (const Case& c : {Case{"link.png", "shots/target.png", 0640}, Case{"readonly.png", "readonly.png", 0444},
                          Case{"private.png", "private.png", 0600}, Case{"new.png", "new.png", 0}}) {
        SCOPED_TRACE(c.output);
        const std::string output = dir + "/" + c.output, target = dir + "/" + c.target;
        if (std::string(c.output) != c.target) {
            rt::fs::create_symlink(std::string("shots/") + rt::fs::path(c.target).filename().string(), output);
        }
        if (c.mode != 0) {
            writeText(target, "previous output");
            ASSERT_EQ(chmod(target.c_str(), c.mode), 0);
            if (root) {
                ASSERT_EQ(chown(target.c_str(), 1, 1), 0);
            }
        }
        const rt::RunResult r = rt::runChild(dir, {"--exposure", "1", dir + "/in.png", output});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(rt::fileInfo(target).width, 4); // the result is where the link points
        struct stat st {};
        ASSERT_EQ(lstat(target.c_str(), &st), 0);
        const mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(st.st_mode & 07777, c.mode != 0 ? static_cast<mode_t>(c.mode) : 0666 & ~mask);
        if (root && c.mode != 0) {
            EXPECT_EQ(st.st_uid, 1u);
            EXPECT_EQ(st.st_gid, 1u);
        }
        ASSERT_EQ(lstat(output.c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), std::string(c.output) != c.target);
    }
    EXPECT_EQ(rt::filesIn(dir),
              (std::vector<std::string>{"in.png", "link.png", "new.png", "private.png", "readonly.png", "shots"}));
    EXPECT_EQ(rt::filesIn(dir + "/shots"), std::vector<std::string>{"target.png"});
}

TEST(ProgramFiles, NoClobberAndRenderingInPlace) {
    const std::string dir = rt::scratchDir();
    const rt::Pixels<uint8_t> in = noise(6, 3, 3);
    rt::writeFile(dir + "/in.png", in, OIIO::TypeDesc::UINT8);
    writeText(dir + "/out.png", "previous output");
    rt::expectFailure(rt::runChild(dir, {"--no-clobber", dir + "/in.png", dir + "/out.png"}), 1,
                      {"'" + dir + "/out.png'", "--no-clobber"});
    EXPECT_EQ(rt::slurp(dir + "/out.png"), "previous output");
    const rt::RunResult fresh = rt::runChild(dir, {"--no-clobber", dir + "/in.png", dir + "/new.png"});
    EXPECT_EQ(fresh.status, 0) << fresh.err;

    // The output may be the input itself.
    const rt::RunResult r = rt::runChild(dir, {"--exposure", "1.5", dir + "/in.png", dir + "/in.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const rt::Converters effect(1.5, 1.0);
    const rt::Pixels<uint8_t> now = rt::readFile<uint8_t>(dir + "/in.png");
    for (int x = 0; x < in.width; ++x) {
        const PF_Pixel e = effect(PF_Pixel{255, in.at(x, 1, 0), in.at(x, 1, 1), in.at(x, 1, 2)});
        EXPECT_EQ(now.at(x, 1, 0), e.red) << x;
        EXPECT_EQ(now.at(x, 1, 2), e.blue) << x;
    }
    EXPECT_EQ(rt::filesIn(dir), (std::vector<std::string>{"in.png", "new.png", "out.png"}));
}

TEST(ProgramInterruption, SignalsLeaveCompleteFramesAndNothingElse) {
    // The module signals the program while it renders frame 2 of 3, of
    // image files and of raw frames (which start without the image library).
    for (const std::string ext : {"png", "raw"}) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(ext + " " + std::to_string(sig));
            const std::string dir = rt::scratchDir() + "/" + ext + std::to_string(sig);
            rt::fs::create_directories(dir);
            const std::string module = moduleCopy(dir);
            std::vector<std::string> args{"--plugin", module, "--frames", "1-3"};
            for (const char* f : {"1", "2", "3"}) {
                const std::string in = dir + "/in." + f + "." + ext;
                if (ext == "raw") {
                    writeText(in, std::string(4 * 4 * 4, '\x40'));
                } else {
                    rt::writeFile(in, noise(4, 4, 3), OIIO::TypeDesc::UINT8);
                }
            }
            if (ext == "raw") {
                args.insert(args.end(), {"--size", "4x4", "--depth", "8"});
            }
            args.insert(args.end(), {dir + "/in.#." + ext, dir + "/out.#." + ext});
            writeText(dir + "/out.2." + ext, "previous output");
            const rt::RunResult r =
                rt::runChild(dir, args, {"MORVEK_FAKE_RENDER_SIGNAL=" + std::to_string(sig) + ":2"});
            rt::expectFailure(r, 128 + sig, {"interrupted", "frame 2", "frames 1-1 are complete"});
            if (ext == "raw") {
                EXPECT_EQ(rt::fs::file_size(dir + "/out.1.raw"), 4u * 4 * 4);
            } else {
                EXPECT_EQ(rt::fileInfo(dir + "/out.1.png").width, 4);
            }
            EXPECT_EQ(rt::slurp(dir + "/out.2." + ext), "previous output");
            EXPECT_EQ(rt::filesIn(dir), (std::vector<std::string>{"in.1." + ext, "in.2." + ext, "in.3." + ext, "module",
                                                                  "out.1." + ext, "out.2." + ext}));
        }
    }
}

// A PNG of width x `rows` whose header then claims `height` rows: the data
// ends early. The header's check value is computed again.
void writeShortPng(const std::string& path, int width, int rows, uint32_t height, uint32_t claimedWidth = 0) {
    rt::writeFile(path, noise(width, rows, 4), OIIO::TypeDesc::UINT8, true);
    std::string bytes = rt::slurp(path);
    auto put32 = [&](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
        }
    };
    if (claimedWidth != 0) {
        put32(16, claimedWidth);
    }
    put32(20, height);
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) { // chunk type and data of IHDR
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    put32(29, ~crc);
    writeText(path, bytes);
}

// A JPEG of 64 x 64 whose frame header claims `size` x `size`.
void writeShortJpeg(const std::string& path, uint16_t size) {
    rt::writeFile(path, noise(64, 64, 3), OIIO::TypeDesc::UINT8);
    std::string bytes = rt::slurp(path);
    const std::size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    for (std::size_t at : {sof + 5, sof + 7}) { // height, then width
        bytes[at] = static_cast<char>(size >> 8);
        bytes[at + 1] = static_cast<char>(size & 0xFF);
    }
    writeText(path, bytes);
}

TEST(ProgramMemory, HugeHeadersAndShortDataCostALine) {
    const std::string dir = rt::scratchDir();
    // Headers that declare more than the budget: refused before anything
    // is allocated, with the default budget and with a given one.
    writeShortPng(dir + "/huge.png", 16, 2, 1000000, 1000000);
    writeShortPng(dir + "/large.png", 16, 2, 60000, 60000);
    // Files within the budget whose data ends early: the reader stops at
    // the first row missing, and memory is taken as rows arrive.
    writeShortPng(dir + "/short.png", 20000, 4, 20000);
    writeShortJpeg(dir + "/short.jpg", 20000);
    struct Case {
        const char* input;
        std::vector<std::string> options;
        std::vector<std::string> mentions;
    };
    for (const Case& c : {Case{"huge.png", {}, {"memory limit", "--memory-limit"}},
                          Case{"large.png", {"--memory-limit", "1G"}, {"60000x60000", "1.0 GiB"}},
                          Case{"short.png", {"--memory-limit", "64G"}, {"cannot read", "short.png"}},
                          Case{"short.jpg", {"--memory-limit", "64G"}, {"cannot read", "short.jpg"}}}) {
        SCOPED_TRACE(c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {dir + "/" + c.input, dir + "/out.png"});
        const rt::RunResult r = rt::runChild(dir, args);
        rt::expectFailure(r, 1, c.mentions);
        EXPECT_LT(r.peakMemoryKiB, 400 * 1024); // a 20000 x 20000 frame alone is 1.6 GB
    }
    EXPECT_FALSE(rt::fs::exists(dir + "/out.png"));
}

TEST(ProgramMemory, ALimitForOneFrameRendersASequenceOneFrameAtATime) {
    // 40 MiB holds one 320 x 200 frame with its blocks of rows in flight but
    // not two: the next frame is read only once the last is written.
    const std::string dir = rt::scratchDir();
    for (const char* f : {"1", "2", "3"}) {
        rt::writeFile(dir + "/in." + f + ".png", noise(320, 200, 4), OIIO::TypeDesc::UINT8, true);
    }
    const rt::RunResult r =
        rt::runTool(dir, {"--memory-limit", "40M", "--frames", "1-3", dir + "/in.#.png", dir + "/out.#.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* f : {"1", "2", "3"}) {
        const rt::Pixels<uint8_t> in = rt::readFile<uint8_t>(dir + "/in." + f + ".png");
        EXPECT_EQ(rt::readFile<uint8_t>(dir + "/out." + f + ".png").data, in.data) << f;
    }
}

} // namespace
