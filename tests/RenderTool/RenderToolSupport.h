// Helpers for morvek-render's tests: a scratch folder per test, running the
// built program, and reading and writing image files through OpenImageIO
// directly (not through the program's own readers, which are under test).
#ifndef MORVEK_TESTS_RENDERTOOLSUPPORT_H
#define MORVEK_TESTS_RENDERTOOLSUPPORT_H

#include "MorvekExposure.h"

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rt {

namespace fs = std::filesystem;

// An empty folder of the test's own, under the build tree.
inline std::string scratchDir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::path(MORVEK_BINARY_DIR) / "rendertool-scratch" /
                         (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct RunResult {
    int status = -1; // exit code
    std::string out;
    std::string err;
    long peakMemoryKiB = 0; // runChild only
};

// Runs morvek-render (or `program`) with `args` in `dir` (stdout and stderr
// captured there); `env` is prepended to the command ("NAME=value ...").
inline RunResult runTool(const std::string& dir, const std::vector<std::string>& args, const std::string& env = "",
                         const std::string& program = MORVEK_RENDER_PATH) {
    std::string cmd = env + " " + quote(program);
    for (const std::string& a : args) {
        cmd += " " + quote(a);
    }
    const std::string out = dir + "/.stdout", err = dir + "/.stderr";
    cmd += " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

// Runs morvek-render as a child process of its own, with `env` added to its
// environment ("NAME=value"). A `fileSizeLimit` of 0 or more is the largest
// file the child may write, with SIGXFSZ ignored: a write past it fails with
// EFBIG, as writes on a full disk fail with ENOSPC. The result includes the
// child's peak memory.
inline RunResult runChild(const std::string& dir, const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}, long long fileSizeLimit = -1) {
    const std::string out = dir + "/.stdout", err = dir + "/.stderr";
    std::vector<std::string> words{MORVEK_RENDER_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int n = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || n < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || dup2(n, 0) < 0) {
            _exit(127);
        }
        for (const std::string& v : env) {
            putenv(strdup(v.c_str()));
        }
        if (fileSizeLimit >= 0) {
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    RunResult r;
    int raw = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &raw, 0, &usage) == pid) {
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.peakMemoryKiB = usage.ru_maxrss;
    }
    r.out = slurp(out);
    r.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

// The names in `dir`, sorted: temporaries a failed write must not leave
// show up here.
inline std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Exit status 1 or 2 (or 128 + a signal) with exactly one line on stderr,
// "morvek-render: ...", that holds each of `mentions`. Lines that the PNG
// library prints itself on damaged files ("libpng error: ...") come before.
inline void expectFailure(const RunResult& r, int status, const std::vector<std::string>& mentions) {
    EXPECT_EQ(r.status, status) << r.err;
    std::string own = r.err;
    while (own.rfind("libpng ", 0) == 0 && own.find('\n') != std::string::npos) {
        own.erase(0, own.find('\n') + 1);
    }
    EXPECT_EQ(std::count(own.begin(), own.end(), '\n'), 1) << r.err;
    EXPECT_EQ(own.rfind("morvek-render: ", 0), 0u) << r.err;
    for (const std::string& m : mentions) {
        EXPECT_NE(r.err.find(m), std::string::npos) << "wanted '" << m << "' in: " << r.err;
    }
}

// ---- Image files through OpenImageIO ----------------------------------------

template <class T> struct Pixels {
    int width = 0, height = 0, channels = 0;
    std::vector<T> data;
    T& at(int x, int y, int c) { return data[(static_cast<std::size_t>(y) * width + x) * channels + c]; }
    const T& at(int x, int y, int c) const { return data[(static_cast<std::size_t>(y) * width + x) * channels + c]; }
};

template <class T> OIIO::TypeDesc typeOf();
template <> inline OIIO::TypeDesc typeOf<uint8_t>() {
    return OIIO::TypeDesc::UINT8;
}
template <> inline OIIO::TypeDesc typeOf<uint16_t>() {
    return OIIO::TypeDesc::UINT16;
}
template <> inline OIIO::TypeDesc typeOf<float>() {
    return OIIO::TypeDesc::FLOAT;
}

// Writes samples as given; `fileType` is the stored type (e.g. HALF from
// float data). `unassociated` marks the alpha as straight for formats that
// record it.
template <class T>
void writeFile(const std::string& path, const Pixels<T>& px, OIIO::TypeDesc fileType, bool unassociated = false,
               const std::vector<std::pair<std::string, float>>& floatAttributes = {}) {
    OIIO::ImageSpec spec(px.width, px.height, px.channels, fileType);
    if (px.channels == 2 || px.channels == 4) {
        spec.alpha_channel = px.channels - 1;
        if (unassociated) {
            spec.attribute("oiio:UnassociatedAlpha", 1);
        }
    }
    for (const auto& a : floatAttributes) {
        spec.attribute(a.first, a.second);
    }
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << path;
    ASSERT_TRUE(out->open(path, spec)) << out->geterror();
    ASSERT_TRUE(out->write_image(typeOf<T>(), px.data.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

// Writes float samples into a file with named channels of the given stored
// types (one per channel); `alpha` is the channel the file marks as alpha.
inline void writeChannels(const std::string& path, int width, int height, const std::vector<std::string>& names,
                          const std::vector<OIIO::TypeDesc>& types, const std::vector<float>& samples, int alpha = -1) {
    OIIO::ImageSpec spec(width, height, static_cast<int>(names.size()), types[0]);
    spec.channelnames = names;
    if (std::any_of(types.begin(), types.end(), [&](OIIO::TypeDesc t) { return t != types[0]; })) {
        spec.channelformats = types;
    }
    spec.alpha_channel = alpha;
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << path;
    ASSERT_TRUE(out->open(path, spec)) << out->geterror();
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, samples.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

struct FileInfo {
    int width = 0, height = 0, channels = 0;
    OIIO::TypeDesc format;
    bool unassociated = false;
    OIIO::ImageSpec spec;
};

inline FileInfo fileInfo(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    FileInfo info;
    if (!in) {
        ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
        return info;
    }
    info.spec = in->spec();
    info.width = info.spec.width;
    info.height = info.spec.height;
    info.channels = info.spec.nchannels;
    info.format = info.spec.format;
    info.unassociated = info.spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0;
    return info;
}

// The stored samples, converted to T by OpenImageIO (no alpha handling).
template <class T> Pixels<T> readFile(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    Pixels<T> px;
    if (!in) {
        ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
        return px;
    }
    px.width = in->spec().width;
    px.height = in->spec().height;
    px.channels = in->spec().nchannels;
    px.data.resize(static_cast<std::size_t>(px.width) * px.height * px.channels);
    EXPECT_TRUE(in->read_image(0, 0, 0, px.channels, typeOf<T>(), px.data.data())) << in->geterror();
    return px;
}

// ---- Reference arithmetic, in the tests' own terms ----------------------------

// Nearest integer to num / den for non-negative values, halves up.
inline long nearest(double num, double den) {
    return static_cast<long>(std::floor(num / den + 0.5));
}

// 16-bit file sample (0..65535) to host (0..32768) and back, to nearest.
inline uint16_t toHost16(long v) {
    return static_cast<uint16_t>(nearest(v * 32768.0, 65535.0));
}
inline uint16_t toFile16(long h) {
    return static_cast<uint16_t>(nearest(h * 65535.0, 32768.0));
}

// The effect applied directly, one pixel.
inline PF_Pixel effect8(double exposure, double gamma, PF_Pixel p) {
    Morvek::Exposure::Parameter prm;
    prm.bpc = 0;
    prm.exposure = exposure;
    prm.gamma = gamma;
    Morvek::Exposure::Impl::ColorConverter c(prm);
    PF_Pixel out{};
    c.convert(p, out);
    return out;
}

struct Converters {
    Morvek::Exposure::Impl::ColorConverter c8, c16, c32;
    static Morvek::Exposure::Parameter prm(A_long bpc, double e, double g) {
        Morvek::Exposure::Parameter p;
        p.bpc = bpc;
        p.exposure = e;
        p.gamma = g;
        return p;
    }
    Converters(double e, double g) : c8(prm(0, e, g)), c16(prm(1, e, g)), c32(prm(2, e, g)) {}
    PF_Pixel operator()(PF_Pixel p) const {
        PF_Pixel o{};
        c8.convert(p, o);
        return o;
    }
    PF_Pixel16 operator()(PF_Pixel16 p) const {
        PF_Pixel16 o{};
        c16.convert(p, o);
        return o;
    }
    PF_PixelFloat operator()(PF_PixelFloat p) const {
        PF_PixelFloat o{};
        c32.convert(p, o);
        return o;
    }
};

} // namespace rt

#endif
