// Raw frame reading and writing, byte order spelled out so that the files are
// the same on every machine.
#include "RawIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

namespace MorvekRender {

namespace {

std::string systemError() {
    return std::strerror(errno);
}

uint16_t readLE16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t readLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void writeLE16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void writeLE32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
    }
}

float floatFromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t bitsFromFloat(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

} // namespace

bool isRawPath(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string ext = path.substr(path.size() - 4);
    for (char& ch : ext) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return ext == ".raw";
}

HostImage decodeRaw(const unsigned char* bytes, std::size_t size, int width, int height, int depth) {
    HostImage image(width, height, depth); // validates size and depth
    if (size != image.byteCount()) {
        throw ImageError("raw file holds " + std::to_string(size) + " bytes, but " + std::to_string(width) + "x" +
                         std::to_string(height) + " at depth " + std::to_string(depth) + " needs " +
                         std::to_string(image.byteCount()));
    }
    const std::size_t samples = image.byteCount() / (pixelBytes(depth) / 4);
    switch (depth) {
    case 8:
        // Bytes are already alpha, red, green, blue.
        std::memcpy(image.data.data(), bytes, size);
        break;
    case 16: {
        auto* out = reinterpret_cast<A_u_short*>(image.data.data());
        for (std::size_t i = 0; i < samples; ++i) {
            out[i] = readLE16(bytes + 2 * i);
        }
        break;
    }
    default: {
        auto* out = reinterpret_cast<float*>(image.data.data());
        for (std::size_t i = 0; i < samples; ++i) {
            out[i] = floatFromBits(readLE32(bytes + 4 * i));
        }
        break;
    }
    }
    return image;
}

namespace {

// Samples [first, first + count) of the frame in file byte order.
void encodeSamples(const HostImage& image, std::size_t first, std::size_t count, unsigned char* out) {
    switch (image.depth) {
    case 8:
        std::memcpy(out, image.data.data() + first, count);
        break;
    case 16: {
        const auto* in = reinterpret_cast<const A_u_short*>(image.data.data()) + first;
        for (std::size_t i = 0; i < count; ++i) {
            writeLE16(out + 2 * i, in[i]);
        }
        break;
    }
    default: {
        const auto* in = reinterpret_cast<const float*>(image.data.data()) + first;
        for (std::size_t i = 0; i < count; ++i) {
            writeLE32(out + 4 * i, bitsFromFloat(in[i]));
        }
        break;
    }
    }
}

std::size_t sampleCount(const HostImage& image) {
    return image.byteCount() / (pixelBytes(image.depth) / 4);
}

} // namespace

std::vector<unsigned char> encodeRaw(const HostImage& image) {
    std::vector<unsigned char> bytes(image.byteCount());
    encodeSamples(image, 0, sampleCount(image), bytes.data());
    return bytes;
}

HostImage readRaw(const std::string& path, int width, int height, int depth) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw ImageError("cannot open '" + path + "': " + systemError());
    }
    if (!S_ISREG(st.st_mode)) {
        throw ImageError("'" + path + "' is not a regular file");
    }
    // Check the size before reading so that a wrong --size on a huge file
    // fails at once.
    const std::size_t expected = frameBytes(width, height, depth);
    if (static_cast<std::size_t>(st.st_size) != expected) {
        throw ImageError("'" + path + "' holds " + std::to_string(st.st_size) + " bytes, but " + std::to_string(width) +
                         "x" + std::to_string(height) + " at depth " + std::to_string(depth) + " needs " +
                         std::to_string(expected));
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ImageError("cannot open '" + path + "': " + systemError());
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw ImageError("cannot read '" + path + "': " + systemError());
    }
    try {
        return decodeRaw(bytes.data(), bytes.size(), width, height, depth);
    } catch (const ImageError& e) {
        throw ImageError("'" + path + "': " + e.what());
    }
}

void writeRaw(OutputFile& file, const HostImage& image) {
    const std::size_t sampleBytes = pixelBytes(image.depth) / 4;
    const std::size_t total = sampleCount(image);
    const std::size_t block = (std::size_t(1) << 20) / sampleBytes;
    std::vector<unsigned char> bytes(std::min(total, block) * sampleBytes);
    for (std::size_t first = 0; first < total; first += block) {
        const std::size_t count = std::min(block, total - first);
        encodeSamples(image, first, count, bytes.data());
        file.append(bytes.data(), count * sampleBytes);
    }
}

void writeRaw(const std::string& path, const HostImage& image) {
    OutputFile file(path);
    writeRaw(file, image);
    file.commit();
}

} // namespace MorvekRender
