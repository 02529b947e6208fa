// Property-list encoding for both platforms, and the resource file, resource
// script and bundle metadata that carry it.
#include "PiplWriter.h"

#include "MorvekIdentity.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace Morvek {
namespace Pipl {
namespace {

class Encoder {
public:
    explicit Encoder(bool bigEndian) : big_(bigEndian) {}

    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v) {
        if (big_) {
            u8(static_cast<uint8_t>(v >> 8));
            u8(static_cast<uint8_t>(v));
        } else {
            u8(static_cast<uint8_t>(v));
            u8(static_cast<uint8_t>(v >> 8));
        }
    }
    void u32(uint32_t v) {
        if (big_) {
            u16(static_cast<uint16_t>(v >> 16));
            u16(static_cast<uint16_t>(v));
        } else {
            u16(static_cast<uint16_t>(v));
            u16(static_cast<uint16_t>(v >> 16));
        }
    }
    // Four-character codes are integers too: the little-endian form shows
    // their characters reversed.
    void code(uint32_t c) { u32(c); }

    // Length byte, characters, and a zero byte when needed to make the whole
    // string an even number of bytes.
    void pascalString(const char* s) {
        const size_t n = std::strlen(s);
        if (n > 255) {
            throw std::runtime_error(std::string("name longer than 255 characters: ") + s);
        }
        u8(static_cast<uint8_t>(n));
        bytes(s, n);
        if ((n + 1) % 2 != 0) {
            u8(0);
        }
    }
    // Characters and terminator, then zeros to an even length.
    void cString(const char* s) {
        const size_t n = std::strlen(s);
        bytes(s, n);
        u8(0);
        if ((n + 1) % 2 != 0) {
            u8(0);
        }
    }

    // One property: the header, the data written by `body`, its length (before
    // padding) patched into the header, then zeros up to a multiple of four.
    template <typename Body> void property(uint32_t key, Body body) {
        code(kVendor);
        code(key);
        u32(kPropertyId);
        const size_t lengthAt = out_.size();
        u32(0);
        const size_t start = out_.size();
        body();
        const uint32_t length = static_cast<uint32_t>(out_.size() - start);
        Encoder patch(big_);
        patch.u32(length);
        std::memcpy(&out_[lengthAt], patch.out_.data(), 4);
        while ((out_.size() - start) % 4 != 0) {
            u8(0);
        }
        ++count_;
    }

    Bytes& bytes() { return out_; }
    uint32_t count() const { return count_; }

private:
    void bytes(const char* s, size_t n) { out_.insert(out_.end(), s, s + n); }

    bool big_;
    Bytes out_;
    uint32_t count_ = 0;
};

void putU16BE(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void putU32BE(Bytes& b, size_t at, uint32_t v) {
    putU16BE(b, at, static_cast<uint16_t>(v >> 16));
    putU16BE(b, at + 2, static_cast<uint16_t>(v));
}

std::string codeText(uint32_t c) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        s[static_cast<size_t>(i)] = static_cast<char>((c >> (24 - 8 * i)) & 0xFF);
    }
    return s;
}

std::string xmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

Bytes encodePropertyList(Form form) {
    namespace Id = Morvek::Identity;
    const bool mac = form == Form::MacOS;
    Encoder list(mac);

    list.property(kKind, [&] { list.code(kEffectKind); });
    list.property(kName, [&] { list.pascalString(Id::kName); });
    list.property(kCategory, [&] { list.pascalString(Id::kCategory); });
    if (mac) {
        list.property(kCodeMacIntel64, [&] { list.cString(Id::kEntryPoint); });
        list.property(kCodeMacArm64, [&] { list.cString(Id::kEntryPoint); });
    } else {
        list.property(kCodeWindows64, [&] { list.cString(Id::kEntryPoint); });
    }
    list.property(kListVersionKey, [&] {
        list.u16(Id::kPropertyListVersionMajor);
        list.u16(Id::kPropertyListVersionMinor);
    });
    list.property(kApiVersionKey, [&] {
        list.u16(Id::kEffectApiVersionMajor);
        list.u16(Id::kEffectApiVersionMinor);
    });
    list.property(kVersionKey, [&] { list.u32(Id::kVersionWord); });
    list.property(kInfoFlagsKey, [&] {
        if (Id::kInfoFlags > 0xFFFF) {
            throw std::runtime_error("information flags do not fit in 16 bits");
        }
        list.u16(static_cast<uint16_t>(Id::kInfoFlags));
    });
    list.property(kOutFlagsKey, [&] { list.u32(static_cast<uint32_t>(Id::kOutFlags)); });
    list.property(kOutFlags2Key, [&] { list.u32(static_cast<uint32_t>(Id::kOutFlags2)); });
    list.property(kMatchNameKey, [&] { list.pascalString(Id::kMatchName); });
    list.property(kReservedInfoKey, [&] { list.u32(Id::kReservedInfo); });

    Encoder header(mac);
    if (!mac) {
        header.u16(kWindowsFormatWord);
    }
    header.u32(kListVersion);
    header.u32(list.count());
    Bytes out = header.bytes();
    out.insert(out.end(), list.bytes().begin(), list.bytes().end());
    return out;
}

Bytes resourceFile(uint32_t type, uint16_t id, const Bytes& data) {
    // Header (16 bytes), then space reserved for the system and the
    // application, so the data starts at 256 as resource tools expect.
    constexpr uint32_t kDataOffset = 256;
    constexpr uint32_t kMapHeaderSize = 28;   // header copy, next map, file ref, attributes, two offsets
    constexpr uint32_t kTypeListSize = 2 + 8; // count - 1, one type entry
    constexpr uint32_t kReferenceSize = 12;
    constexpr uint32_t kMapSize = kMapHeaderSize + kTypeListSize + kReferenceSize; // empty name list

    const uint32_t dataLength = 4 + static_cast<uint32_t>(data.size());
    if (data.size() > 0xFFFFFF) {
        throw std::runtime_error("resource too large for a resource file");
    }
    const uint32_t mapOffset = kDataOffset + dataLength;

    Bytes out(mapOffset + kMapSize, 0);
    putU32BE(out, 0, kDataOffset);
    putU32BE(out, 4, mapOffset);
    putU32BE(out, 8, dataLength);
    putU32BE(out, 12, kMapSize);

    putU32BE(out, kDataOffset, static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), out.begin() + kDataOffset + 4);

    const size_t map = mapOffset;
    std::copy(out.begin(), out.begin() + 16, out.begin() + static_cast<std::ptrdiff_t>(map)); // header copy
    // next map handle (4) and file reference (2) and attributes (2) stay zero.
    putU16BE(out, map + 24, static_cast<uint16_t>(kMapHeaderSize)); // type list, from the map's start
    putU16BE(out, map + 26, static_cast<uint16_t>(kMapSize));       // name list (empty), from the map's start

    const size_t types = map + kMapHeaderSize;
    putU16BE(out, types, 0); // one type
    putU32BE(out, types + 2, type);
    putU16BE(out, types + 6, 0);                                    // one resource of it
    putU16BE(out, types + 8, static_cast<uint16_t>(kTypeListSize)); // its references, from the type list

    const size_t ref = types + kTypeListSize;
    putU16BE(out, ref, id);
    putU16BE(out, ref + 2, 0xFFFF); // no name
    out[ref + 4] = 0;               // attributes
    // Data offset (3 bytes, from the data's start) is 0; handle (4 bytes) is 0.
    return out;
}

std::string resourceScript(const Bytes& windowsList) {
    if (windowsList.size() % 2 != 0) {
        throw std::runtime_error("the Windows property list must have an even length");
    }
    std::string rc;
    rc += "/* The effect's property list, " + std::to_string(windowsList.size()) +
          " bytes. Written by morvek_pipl_gen from MorvekIdentity.h; do not edit. */\n";
    rc += "LANGUAGE 0x09, 0x01 /* " + std::to_string(kWindowsLanguage) + ", US English */\n";
    rc += std::to_string(kResourceId) + " " + kWindowsResourceType + "\nBEGIN\n";
    char word[16];
    for (size_t i = 0; i < windowsList.size(); i += 2) {
        // Numbers in a resource script are 16-bit little-endian words.
        const unsigned v = static_cast<unsigned>(windowsList[i]) | (static_cast<unsigned>(windowsList[i + 1]) << 8);
        std::snprintf(word, sizeof word, "0x%04X", v);
        rc += (i % 16 == 0) ? "    " : " ";
        rc += word;
        if (i + 2 < windowsList.size()) {
            rc += ",";
        }
        if (i % 16 == 14 || i + 2 == windowsList.size()) {
            rc += "\n";
        }
    }
    rc += "END\n";
    return rc;
}

std::string infoPlist(const std::string& executable) {
    namespace Id = Morvek::Identity;
    const std::string version = std::to_string(Id::kMajorVersion) + "." + std::to_string(Id::kMinorVersion) + "." +
                                std::to_string(Id::kBugVersion);
    auto entry = [](const char* key, const std::string& value) {
        return std::string("    <key>") + key + "</key>\n    <string>" + xmlEscape(value) + "</string>\n";
    };
    std::string p;
    p += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    p += "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    p += "<plist version=\"1.0\">\n<dict>\n";
    p += entry("CFBundleDevelopmentRegion", "en");
    p += entry("CFBundleExecutable", executable);
    p += entry("CFBundleIdentifier", std::string("com.morvek.") + Id::kMatchName);
    p += entry("CFBundleInfoDictionaryVersion", "6.0");
    p += entry("CFBundleName", Id::kName);
    p += entry("CFBundlePackageType", codeText(kEffectKind));
    p += entry("CFBundleSignature", codeText(kBundleSignature));
    p += entry("CFBundleShortVersionString", version);
    p += entry("CFBundleVersion", version + "." + std::to_string(Id::kBuildVersion));
    p += "    <key>CSResourcesFileMapped</key>\n    <true/>\n";
    p += "</dict>\n</plist>\n";
    return p;
}

std::string pkgInfo() {
    return codeText(kEffectKind) + codeText(kBundleSignature);
}

} // namespace Pipl
} // namespace Morvek
