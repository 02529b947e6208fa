// Raw frame reading and writing, byte order spelled out so that the files are
// the same on every machine.
#include "RawIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace MorvekRender {

namespace {

std::string systemError() {
    return std::strerror(errno);
}

bool littleEndian() {
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Samples of `bytes` bytes each, between file (little-endian) and host byte
// order, in place; nothing to do on a little-endian machine.
void swapToHostOrder(unsigned char* data, std::size_t size, std::size_t sampleBytes) {
    if (sampleBytes == 1 || littleEndian()) {
        return;
    }
    for (std::size_t i = 0; i + sampleBytes <= size; i += sampleBytes) {
        std::reverse(data + i, data + i + sampleBytes);
    }
}

// Rows per read or write: about 4 MiB.
int rowsPerBlock(const FrameRows& frame) {
    const std::size_t rowBytes = frameBytes(frame.width, 1, frame.depth);
    return static_cast<int>(std::max<std::size_t>(1, (std::size_t(4) << 20) / rowBytes));
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

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
    std::memcpy(image.data.data(), bytes, size);
    swapToHostOrder(image.data.data(), size, pixelBytes(depth) / 4);
    return image;
}

std::vector<unsigned char> encodeRaw(const HostImage& image) {
    std::vector<unsigned char> bytes(image.data);
    swapToHostOrder(bytes.data(), bytes.size(), pixelBytes(image.depth) / 4);
    return bytes;
}

namespace {

// Checks that `path` is a regular file of exactly the frame's bytes before
// anything is read, so that a wrong --size on a huge file fails at once.
void checkRawFile(const std::string& path, int width, int height, int depth) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw ImageError("cannot open '" + path + "': " + systemError());
    }
    if (!S_ISREG(st.st_mode)) {
        throw ImageError("'" + path + "' is not a regular file");
    }
    const std::size_t expected = frameBytes(width, height, depth);
    if (static_cast<std::size_t>(st.st_size) != expected) {
        throw ImageError("'" + path + "' holds " + std::to_string(st.st_size) + " bytes, but " + std::to_string(width) +
                         "x" + std::to_string(height) + " at depth " + std::to_string(depth) + " needs " +
                         std::to_string(expected));
    }
}

} // namespace

void readRaw(const std::string& path, const FrameRows& frame) {
    checkRawFile(path, frame.width, frame.height, frame.depth);
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(path.c_str(), "rb"));
    if (!in) {
        throw ImageError("cannot open '" + path + "': " + systemError());
    }
    std::setvbuf(in.get(), nullptr, _IONBF, 0); // straight into the frame, no second copy
    const std::size_t rowBytes = frameBytes(frame.width, 1, frame.depth);
    const std::size_t sampleBytes = pixelBytes(frame.depth) / 4;
    // Rows without padding between them are read several at a time.
    const int step = frame.rowBytes == rowBytes ? rowsPerBlock(frame) : 1;
    for (int y = 0; y < frame.height; y += step) {
        const std::size_t size = rowBytes * static_cast<std::size_t>(std::min(step, frame.height - y));
        if (std::fread(frame.row(y), 1, size, in.get()) != size) {
            throw ImageError("cannot read '" + path + "': " +
                             (std::ferror(in.get()) ? systemError() : std::string("the file's data ends early")));
        }
        swapToHostOrder(frame.row(y), size, sampleBytes);
    }
}

HostImage readRaw(const std::string& path, int width, int height, int depth) {
    checkRawFile(path, width, height, depth);
    HostImage image(width, height, depth);
    readRaw(path, image.rows());
    return image;
}

void writeRaw(OutputFile& file, const FrameRows& frame) {
    const std::size_t rowBytes = frameBytes(frame.width, 1, frame.depth);
    const std::size_t sampleBytes = pixelBytes(frame.depth) / 4;
    const int step = rowsPerBlock(frame);
    // Rows go out as they are when the file's byte order is the machine's
    // and no padding lies between them; else through a block buffer.
    const bool direct = frame.rowBytes == rowBytes && (sampleBytes == 1 || littleEndian());
    std::vector<unsigned char> block(direct ? 0 : rowBytes * static_cast<std::size_t>(std::min(step, frame.height)));
    for (int y = 0; y < frame.height; y += step) {
        const int rows = std::min(step, frame.height - y);
        const std::size_t size = rowBytes * static_cast<std::size_t>(rows);
        if (direct) {
            file.append(frame.row(y), size);
            continue;
        }
        for (int r = 0; r < rows; ++r) {
            std::memcpy(block.data() + static_cast<std::size_t>(r) * rowBytes, frame.row(y + r), rowBytes);
        }
        swapToHostOrder(block.data(), size, sampleBytes);
        file.append(block.data(), size);
    }
}

void writeRaw(OutputFile& file, const HostImage& image) {
    writeRaw(file, image.rows());
}

void writeRaw(const std::string& path, const HostImage& image) {
    OutputFile file(path);
    writeRaw(file, image);
    file.commit();
}

} // namespace MorvekRender
