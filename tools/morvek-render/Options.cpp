// Command-line parsing for morvek-render: "--name value" and "--name=value"
// forms, every value checked for form before anything is loaded.
#include "Options.h"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace MorvekRender {

const char* usageText() {
    return "usage: morvek-render [options] INPUT OUTPUT\n"
           "       morvek-render [options] --curve CURVE.png\n"
           "       morvek-render --info [--plugin PATH]\n"
           "\n"
           "Runs the MorvekExposure effect on image files through a stand-in host, as the\n"
           "compositing host runs it on a layer.\n"
           "\n"
           "The effect's two sliders (colour values: 0 = black, 1 = full):\n"
           "  --exposure E       \"Exposure\": every colour value is multiplied by 1.37 to the\n"
           "                     power E. +2.2 doubles it, -2.2 halves it, +4.4 makes it\n"
           "                     four times, 0 leaves it. Slider -4..4 in the host, typed\n"
           "                     values -100..100; default 0.\n"
           "  --gamma G          \"Gamma Correction\": every colour value v becomes v^(1/G)\n"
           "                     before the exposure; above 1 lifts the midtones, below 1\n"
           "                     darkens them; black and full stay. 0.1..10; default 1.\n"
           "Colour pushed past full folds into alpha: an overexposed, partly transparent\n"
           "pixel becomes more opaque and its colour is scaled back to full. Opaque colour\n"
           "is clipped at full at 8 and 16 bits and keeps values above 1 at 32 bits. The\n"
           "effect works on straight colour: premultiplied files (OpenEXR, most TIFFs) are\n"
           "divided by alpha on reading and multiplied again on writing.\n"
           "\n"
           "By default the effect multiplies the values stored in the file. In an sRGB file\n"
           "(most 8- and 16-bit images) doubling them is about 4.6 times the light, so +2.2\n"
           "blows out a photograph; in a linear file (OpenEXR, float TIFF) it is one stop.\n"
           "With --working-space linear it is one stop on every file.\n"
           "\n"
           "Working space:\n"
           "  --working-space stored\n"
           "                     (default) the effect sees the file's values as stored, as\n"
           "                     in a host project without a linear working space.\n"
           "  --working-space linear\n"
           "                     the file's values are decoded to linear light before the\n"
           "                     effect and encoded again after, as in a linearised project;\n"
           "                     the effect works in 32-bit float unless --depth names\n"
           "                     another depth. The colour space is the one the file\n"
           "                     declares; 8- and 16-bit files that declare none count as\n"
           "                     sRGB, half and float files as linear. sRGB, Rec709,\n"
           "                     GammaX.Y and linear are known; other spaces need an\n"
           "                     OpenColorIO config named in $OCIO.\n"
           "\n"
           "At exposure 0 and gamma 1 the output equals the input, in either working space,\n"
           "except:\n"
           "  16-bit files       stored at 16 bits, the host holds 0..32768 and the file\n"
           "                     0..65535: the 32769 file values the host can hold come back\n"
           "                     unchanged, the others move by one level. In linear light at\n"
           "                     32 bits every value comes back.\n"
           "  half/float files   colour above 1 on a partly transparent pixel folds into\n"
           "                     alpha, and alpha is kept within 0..1.\n"
           "  linear at 8/16     in linear light at --depth 8 or 16 the shadows lose levels.\n"
           "\n"
           "Options:\n"
           "  --depth 8|16|32    the effect's depth (default: the input file's; 32 in linear\n"
           "                     light; 8 for --curve alone)\n"
           "  --curve FILE.png   draw the effect's curve at these settings and this depth:\n"
           "                     output against input for an opaque pixel and one at half\n"
           "                     alpha, that pixel's alpha, and where colour folds into\n"
           "                     alpha\n"
           "  --size WxH         frame size, required for .raw input\n"
           "  --threads N        host worker threads (default: all cores)\n"
           "  --memory-limit S   memory a frame may take, in bytes or with K, M, G, T\n"
           "                     (default: half of the machine's memory)\n"
           "  --no-clobber       never replace an existing output file\n"
           "  --frames A-B       render a numbered sequence: INPUT and OUTPUT hold #### or\n"
           "                     %04d\n"
           "  --quiet            no progress line and no summary; errors and warnings show\n"
           "  --plugin PATH      module to load (default: the one built beside this program)\n"
           "  --info             the effect as the host shows it, then what a plug-in\n"
           "                     developer wants to know (property list, About text,\n"
           "                     sliders), and exit\n"
           "  --help, --version  this text; the program's version\n"
           "\n"
           "Examples:\n"
           "  morvek-render --exposure 2.2 plate.exr brighter.exr     one stop brighter\n"
           "  morvek-render --exposure 2.2 --working-space linear photo.jpg brighter.jpg\n"
           "  morvek-render --exposure -1 --gamma 1.2 photo.png graded.png\n"
           "  morvek-render --exposure 2.2 --curve curve.png          what +2.2 does\n"
           "  morvek-render --exposure 1 --frames 1001-1100 shot.####.exr out/shot.####.exr\n"
           "\n"
           "Files: PNG, TIFF, OpenEXR, JPEG and other formats by extension; .raw frames are\n"
           "headerless host pixels (alpha, red, green, blue; 16-bit little-endian with full\n"
           "= 32768, or float32) and need --size and --depth.\n"
           "Outputs are written whole or not at all: to a temporary file beside the output,\n"
           "renamed over it when complete; links, permissions and every other channel are\n"
           "kept.\n"
           "Exit status: 0 done, 1 failed, 2 bad command line, 128 + N stopped by signal N.\n";
}

namespace {

double parseNumber(const std::string& option, const std::string& text) {
    if (text.empty()) {
        throw UsageError(option + " needs a number");
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
        throw UsageError(option + " needs a number, not '" + text + "'");
    }
    return value;
}

long parseInteger(const std::string& option, const std::string& text, const char* what) {
    if (text.empty() || text[0] == '+' || text[0] == ' ') {
        throw UsageError(option + " needs " + what + ", not '" + text + "'");
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || errno == ERANGE) {
        throw UsageError(option + " needs " + what + ", not '" + text + "'");
    }
    return value;
}

void parseSize(const std::string& text, Options& o) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        throw UsageError("--size needs WIDTHxHEIGHT, not '" + text + "'");
    }
    const long w = parseInteger("--size", text.substr(0, x), "WIDTHxHEIGHT");
    const long h = parseInteger("--size", text.substr(x + 1), "WIDTHxHEIGHT");
    const long limit = 1L << 20;
    if (w <= 0 || h <= 0 || w > limit || h > limit) {
        throw UsageError("--size needs a width and height from 1 to " + std::to_string(limit) + ", not '" + text + "'");
    }
    o.width = static_cast<int>(w);
    o.height = static_cast<int>(h);
}

// Bytes, or a number with K, M, G or T (powers of 1024): "512M", "1.5G".
std::uint64_t parseByteCount(const std::string& option, const std::string& text) {
    std::string digits = text;
    double scale = 1.0;
    static const char units[] = "KMGT";
    if (!digits.empty()) {
        const char* unit = std::strchr(units, std::toupper(static_cast<unsigned char>(digits.back())));
        if (unit && *unit) {
            scale = std::pow(1024.0, static_cast<double>(unit - units + 1));
            digits.pop_back();
        }
    }
    const bool plain = !digits.empty() && std::isdigit(static_cast<unsigned char>(digits[0]));
    const double value = plain ? parseNumber(option, digits) * scale : 0.0;
    if (!(value >= 1.0) || value > 1e18) {
        throw UsageError(option + " needs a size such as 4G or 512M, not '" + text + "'");
    }
    return static_cast<std::uint64_t>(value);
}

void parseFrames(const std::string& text, Options& o) {
    // "A-B" or a single frame "A"; frame numbers are not negative.
    const std::size_t dash = text.find('-', 1);
    const std::string a = dash == std::string::npos ? text : text.substr(0, dash);
    const std::string b = dash == std::string::npos ? text : text.substr(dash + 1);
    const long first = parseInteger("--frames", a, "A-B");
    const long last = parseInteger("--frames", b, "A-B");
    if (first < 0 || last < 0) {
        throw UsageError("--frames needs frame numbers of 0 or more, not '" + text + "'");
    }
    if (first > last) {
        throw UsageError("--frames needs A <= B, not '" + text + "'");
    }
    o.sequence = true;
    o.firstFrame = first;
    o.lastFrame = last;
}

} // namespace

Options parseOptions(int argc, const char* const* argv) {
    Options o;
    std::vector<std::string> positional;
    bool seen[16] = {};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i) {
                positional.emplace_back(argv[i]);
            }
            break;
        }
        if (arg.size() < 2 || arg[0] != '-' || (arg[1] != '-' && arg != "-h")) {
            if (arg.size() >= 2 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]))) {
                throw UsageError("unknown option '" + arg + "'");
            }
            positional.push_back(arg);
            continue;
        }
        std::string value;
        bool hasValue = false;
        const std::size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        static const char* const withValue[] = {"--exposure", "--gamma",        "--depth",  "--size",
                                                "--threads",  "--frames",       "--plugin", "--memory-limit",
                                                "--curve",    "--working-space"};
        int valueIndex = -1;
        for (int k = 0; k < 10; ++k) {
            if (arg == withValue[k]) {
                valueIndex = k;
            }
        }
        if (valueIndex >= 0) {
            if (!hasValue) {
                if (i + 1 >= argc) {
                    throw UsageError(arg + " needs a value");
                }
                value = argv[++i];
            }
            if (seen[valueIndex]) {
                throw UsageError(arg + " is given twice");
            }
            seen[valueIndex] = true;
        } else if (hasValue) {
            throw UsageError(arg + " takes no value");
        }

        if (arg == "--exposure") {
            o.exposure = parseNumber(arg, value);
        } else if (arg == "--gamma") {
            o.gamma = parseNumber(arg, value);
        } else if (arg == "--depth") {
            const long d = parseInteger(arg, value, "8, 16 or 32");
            if (d != 8 && d != 16 && d != 32) {
                throw UsageError("--depth must be 8, 16 or 32, not '" + value + "'");
            }
            o.depth = static_cast<int>(d);
        } else if (arg == "--size") {
            parseSize(value, o);
        } else if (arg == "--threads") {
            const long n = parseInteger(arg, value, "a thread count");
            if (n < 1 || n > 1024) {
                throw UsageError("--threads must be from 1 to 1024, not '" + value + "'");
            }
            o.threads = static_cast<int>(n);
        } else if (arg == "--frames") {
            parseFrames(value, o);
        } else if (arg == "--plugin") {
            if (value.empty()) {
                throw UsageError("--plugin needs a path");
            }
            o.plugin = value;
        } else if (arg == "--memory-limit") {
            o.memoryLimit = parseByteCount(arg, value);
        } else if (arg == "--no-clobber") {
            o.noClobber = true;
        } else if (arg == "--curve") {
            if (value.empty()) {
                throw UsageError("--curve needs a file name");
            }
            o.curve = value;
        } else if (arg == "--working-space") {
            if (value != "stored" && value != "linear") {
                throw UsageError("--working-space must be stored or linear, not '" + value + "'");
            }
            o.linear = value == "linear";
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--info") {
            o.info = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }
    if (o.help || o.version) {
        return o;
    }
    if (o.info) {
        if (!positional.empty()) {
            throw UsageError("--info takes no INPUT or OUTPUT");
        }
        if (!o.curve.empty()) {
            throw UsageError("--info and --curve are separate runs");
        }
        return o;
    }
    if (!o.curve.empty() && positional.empty() && !o.sequence) {
        return o; // the curve alone
    }
    if (positional.size() != 2) {
        throw UsageError(positional.size() < 2 ? "needs INPUT and OUTPUT"
                                               : "too many arguments: needs INPUT and OUTPUT");
    }
    o.input = positional[0];
    o.output = positional[1];
    if (o.sequence) {
        if (!hasFramePattern(o.input) || !hasFramePattern(o.output)) {
            throw UsageError("--frames needs a frame-number pattern (#### or %04d) in both INPUT and OUTPUT");
        }
    }
    return o;
}

namespace {

// Length of a printf-style frame pattern starting at text[i] ("%d", "%04d"),
// its width in *width; 0 when there is none.
std::size_t printfPattern(const std::string& text, std::size_t i, int* width) {
    if (text[i] != '%') {
        return 0;
    }
    std::size_t j = i + 1;
    int w = 0;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) && j - i <= 2) {
        w = w * 10 + (text[j] - '0');
        ++j;
    }
    if (j < text.size() && text[j] == 'd') {
        *width = w;
        return j + 1 - i;
    }
    return 0;
}

} // namespace

bool hasFramePattern(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        int w = 0;
        if (text[i] == '#' || printfPattern(text, i, &w) > 0) {
            return true;
        }
    }
    return false;
}

std::string expandFramePattern(const std::string& text, long frame) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        int width = 0;
        std::size_t length = 0;
        if (text[i] == '#') {
            while (i + length < text.size() && text[i + length] == '#') {
                ++length;
            }
            width = static_cast<int>(length);
        } else {
            length = printfPattern(text, i, &width);
        }
        if (length == 0) {
            out += text[i++];
            continue;
        }
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*ld", width, frame);
        out += digits;
        i += length;
    }
    return out;
}

} // namespace MorvekRender
