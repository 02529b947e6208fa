// Shared by the property-list tests: where the build wrote the generated
// files, and small byte helpers written for the tests alone.
#ifndef MORVEK_TESTS_PIPL_PIPLTESTSUPPORT_H
#define MORVEK_TESTS_PIPL_PIPLTESTSUPPORT_H

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pipltest {

using Bytes = std::vector<uint8_t>;

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
    const Bytes b = readFile(path);
    return std::string(b.begin(), b.end());
}

// The Windows form beside the module, and the folder of the other forms.
inline std::string windowsListPath() {
    return MORVEK_PIPL_FILE;
}
inline std::string generatedPath(const std::string& name) {
    return std::string(MORVEK_PIPL_DIR) + "/" + name;
}

inline uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
inline uint16_t le16(const Bytes& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}
inline uint32_t be32(const Bytes& b, size_t at) {
    return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 |
           uint32_t(b.at(at + 3));
}
inline uint16_t be16(const Bytes& b, size_t at) {
    return uint16_t(b.at(at) << 8 | b.at(at + 1));
}

// The four bytes at `at` as text, in file order.
inline std::string text4(const Bytes& b, size_t at) {
    return std::string(b.begin() + at, b.begin() + at + 4);
}

} // namespace pipltest

#endif
