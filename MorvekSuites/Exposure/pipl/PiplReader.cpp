// Property-list parsing: a bounds-checked walk over the header and the padded
// properties, decoding the keys the host cares about.
#include "PiplReader.h"

#include <fstream>
#include <iterator>
#include <set>

namespace Morvek {
namespace Pipl {
namespace {

class Cursor {
public:
    Cursor(const uint8_t* data, size_t size, bool big) : data_(data), size_(size), big_(big) {}

    size_t remaining() const { return size_ - pos_; }
    size_t position() const { return pos_; }

    uint16_t u16At(size_t at) const {
        const unsigned a = data_[at], b = data_[at + 1];
        return static_cast<uint16_t>(big_ ? (a << 8) | b : (b << 8) | a);
    }
    uint32_t u32At(size_t at) const {
        const uint32_t hi = u16At(big_ ? at : at + 2), lo = u16At(big_ ? at + 2 : at);
        return (hi << 16) | lo;
    }
    uint16_t u16() {
        const uint16_t v = u16At(pos_);
        pos_ += 2;
        return v;
    }
    uint32_t u32() {
        const uint32_t v = u32At(pos_);
        pos_ += 4;
        return v;
    }
    void skip(size_t n) { pos_ += n; }
    const uint8_t* at(size_t offset) const { return data_ + offset; }

private:
    const uint8_t* data_;
    size_t size_;
    bool big_;
    size_t pos_ = 0;
};

bool fail(std::string* error, const std::string& why) {
    if (error) {
        *error = why;
    }
    return false;
}

bool pascalString(const uint8_t* p, uint32_t length, std::string& out) {
    if (length < 1 || static_cast<uint32_t>(p[0]) + 1 > length) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    return true;
}

bool cString(const uint8_t* p, uint32_t length, std::string& out) {
    for (uint32_t i = 0; i < length; ++i) {
        if (p[i] == 0) {
            out.assign(reinterpret_cast<const char*>(p), i);
            return i > 0;
        }
    }
    return false;
}

} // namespace

std::string codeToString(uint32_t code) {
    std::string s(4, '?');
    for (size_t i = 0; i < 4; ++i) {
        const unsigned c = (code >> (24 - 8 * i)) & 0xFF;
        if (c >= 0x20 && c < 0x7F) {
            s[i] = static_cast<char>(c);
        }
    }
    return s;
}

bool parsePropertyList(const uint8_t* data, size_t size, Form form, PropertyList& out, std::string* error) {
    out = PropertyList();
    const bool windows = form == Form::Windows;
    if (data == nullptr && size != 0) {
        return fail(error, "no data");
    }
    Cursor in(data, size, !windows);
    if (in.remaining() < (windows ? 10u : 8u)) {
        return fail(error, "shorter than the header");
    }
    if (windows) {
        const uint16_t format = in.u16();
        if (format != kWindowsFormatWord) {
            return fail(error, "unknown format word " + std::to_string(format));
        }
    }
    out.listVersion = in.u32();
    if (out.listVersion != kListVersion) {
        return fail(error, "unknown list version " + std::to_string(out.listVersion));
    }
    const uint32_t count = in.u32();

    std::set<uint32_t> seen;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string where = "property " + std::to_string(i) + " at offset " + std::to_string(in.position());
        if (in.remaining() < kPropertyHeaderSize) {
            return fail(error, where + ": header runs past the end");
        }
        const uint32_t vendor = in.u32();
        const uint32_t key = in.u32();
        in.skip(4); // id
        const uint32_t length = in.u32();
        const size_t padded = (static_cast<size_t>(length) + 3) & ~static_cast<size_t>(3);
        if (padded > in.remaining()) {
            return fail(error, where + ": data of " + std::to_string(length) + " bytes runs past the end");
        }
        const size_t dataAt = in.position();
        in.skip(padded);
        ++out.count;
        if (vendor != kVendor) {
            continue;
        }
        const uint8_t* p = in.at(dataAt);
        const std::string what = where + " ('" + codeToString(key) + "')";
        const bool codeEntry = windows ? key == kCodeWindows64 : key == kCodeMacIntel64 || key == kCodeMacArm64;
        const bool known = key == kKind || key == kName || key == kCategory || key == kMatchNameKey || codeEntry ||
                           key == kListVersionKey || key == kApiVersionKey || key == kVersionKey ||
                           key == kInfoFlagsKey || key == kOutFlagsKey || key == kOutFlags2Key ||
                           key == kReservedInfoKey;
        if (!known) {
            continue;
        }
        if (!seen.insert(key).second) {
            return fail(error, what + ": appears twice");
        }
        bool ok = true;
        if (key == kName || key == kCategory || key == kMatchNameKey) {
            std::string& s = key == kName ? out.name : key == kCategory ? out.category : out.matchName;
            ok = pascalString(p, length, s);
        } else if (codeEntry) {
            std::string s;
            ok = cString(p, length, s);
            out.codeEntries.emplace_back(key, s);
        } else if (key == kListVersionKey || key == kApiVersionKey) {
            ok = length == 4;
            if (ok) {
                (key == kListVersionKey ? out.listVersionMajor : out.apiVersionMajor) = in.u16At(dataAt);
                (key == kListVersionKey ? out.listVersionMinor : out.apiVersionMinor) = in.u16At(dataAt + 2);
            }
        } else if (key == kInfoFlagsKey) {
            ok = length == 2 || length == 4;
            if (ok) {
                out.infoFlags = length == 2 ? in.u16At(dataAt) : in.u32At(dataAt);
            }
        } else {
            ok = length == 4;
            if (ok) {
                const uint32_t v = in.u32At(dataAt);
                (key == kKind           ? out.kind
                 : key == kVersionKey   ? out.version
                 : key == kOutFlagsKey  ? out.outFlags
                 : key == kOutFlags2Key ? out.outFlags2
                                        : out.reservedInfo) = v;
            }
        }
        if (!ok) {
            return fail(error, what + ": malformed data of " + std::to_string(length) + " bytes");
        }
    }
    if (in.remaining() != 0) {
        return fail(error, std::to_string(in.remaining()) + " bytes after the last property");
    }

    for (const auto& entry : out.codeEntries) {
        if (!out.entryPoint.empty() && entry.second != out.entryPoint) {
            return fail(error, "code entries name different functions");
        }
        out.entryPoint = entry.second;
    }
    const std::pair<uint32_t, const char*> required[] = {
        {kKind, "kind"}, {kName, "name"}, {kVersionKey, "eVER"}, {kOutFlagsKey, "eGLO"}, {kOutFlags2Key, "eGL2"}};
    for (const auto& r : required) {
        if (seen.count(r.first) == 0) {
            return fail(error, std::string("no '") + r.second + "' property");
        }
    }
    if (out.entryPoint.empty()) {
        return fail(error, windows ? "no '8664' code entry" : "no 'mi64' or 'ma64' code entry");
    }
    return true;
}

bool readPropertyListFile(const std::string& path, Form form, PropertyList& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return fail(error, "cannot open " + path);
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return fail(error, "cannot read " + path);
    }
    std::string why;
    if (!parsePropertyList(bytes.data(), bytes.size(), form, out, &why)) {
        return fail(error, path + ": " + why);
    }
    return true;
}

} // namespace Pipl
} // namespace Morvek
