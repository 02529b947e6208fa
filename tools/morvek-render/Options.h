// Command line of morvek-render and the frame-number patterns of sequences.
#ifndef MORVEK_RENDER_OPTIONS_H
#define MORVEK_RENDER_OPTIONS_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace MorvekRender {

// A command line that cannot be run as given (exit code 2).
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

struct Options {
    double exposure = 0.0;
    double gamma = 1.0;
    int depth = 0; // 0: the input file's
    int width = 0; // --size, 0 when not given
    int height = 0;
    int threads = 0;               // 0: all cores
    std::uint64_t memoryLimit = 0; // bytes; 0: the default share of the machine's memory
    bool noClobber = false;
    bool sequence = false;
    long firstFrame = 0;
    long lastFrame = 0;
    std::string plugin;
    bool info = false;
    bool linear = false; // --working-space linear
    std::string curve;   // --curve: picture of the transfer curve
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string input;
    std::string output;
};

// Throws UsageError with a one-line reason. Values are checked for form
// (numbers, WxH, A-B, depth 8/16/32); slider ranges are the module's to give
// and are checked once it is loaded.
Options parseOptions(int argc, const char* const* argv);

const char* usageText();

// Frame-number patterns: a run of '#' (one digit per '#', zero-padded) or a
// printf-style %d / %0Nd. Every pattern in the text is replaced.
bool hasFramePattern(const std::string& text);
std::string expandFramePattern(const std::string& text, long frame);

} // namespace MorvekRender

#endif
