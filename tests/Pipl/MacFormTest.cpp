// The macOS bundle's files: the resource file holding the property list,
// walked by a resource-file reader written here, and Info.plist and PkgInfo.
#include "PiplReader.h"
#include "PiplTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace pipltest;
using Morvek::Pipl::Form;
using Morvek::Pipl::PropertyList;

namespace {

struct Resource {
    std::string type;
    int16_t id;
    Bytes data;
};

// Reads every resource of a data-fork resource file: the header gives the
// data and map areas; the map gives the type list, whose entries give each
// type's reference list; a reference gives an id and the offset of a
// length-prefixed block in the data area. Any offset outside its area fails
// the test.
std::vector<Resource> readResourceFile(const Bytes& f) {
    std::vector<Resource> out;
    EXPECT_GE(f.size(), 16u);
    if (f.size() < 16) {
        return out;
    }
    const uint32_t dataOffset = be32(f, 0), mapOffset = be32(f, 4), dataLength = be32(f, 8), mapLength = be32(f, 12);
    EXPECT_GE(dataOffset, 16u);
    EXPECT_LE(uint64_t(dataOffset) + dataLength, mapOffset) << "data and map overlap";
    EXPECT_EQ(uint64_t(mapOffset) + mapLength, f.size()) << "the map ends the file";
    if (uint64_t(mapOffset) + mapLength > f.size() || mapLength < 30) {
        ADD_FAILURE() << "map outside the file";
        return out;
    }
    const size_t map = mapOffset;
    const size_t typeList = map + be16(f, map + 24);
    const size_t nameList = map + be16(f, map + 26);
    EXPECT_LE(nameList, f.size());
    const int types = be16(f, typeList) + 1;
    for (int t = 0; t < types; ++t) {
        const size_t entry = typeList + 2 + 8 * size_t(t);
        if (entry + 8 > map + mapLength) {
            ADD_FAILURE() << "type entry " << t << " outside the map";
            return out;
        }
        const std::string type = text4(f, entry);
        const int count = be16(f, entry + 4) + 1;
        const size_t refs = typeList + be16(f, entry + 6);
        for (int r = 0; r < count; ++r) {
            const size_t ref = refs + 12 * size_t(r);
            if (ref + 12 > map + mapLength) {
                ADD_FAILURE() << "reference " << r << " of '" << type << "' outside the map";
                return out;
            }
            const int16_t id = static_cast<int16_t>(be16(f, ref));
            EXPECT_EQ(be16(f, ref + 2), 0xFFFF) << "resource " << id << " has a name";
            const uint32_t at = (uint32_t(f[ref + 5]) << 16) | (uint32_t(f[ref + 6]) << 8) | f[ref + 7];
            if (uint64_t(at) + 4 > dataLength) {
                ADD_FAILURE() << "resource " << id << " starts outside the data area";
                return out;
            }
            const uint32_t length = be32(f, dataOffset + at);
            if (uint64_t(at) + 4 + length > dataLength) {
                ADD_FAILURE() << "resource " << id << " runs past the data area";
                return out;
            }
            const auto begin = f.begin() + dataOffset + at + 4;
            out.push_back({type, id, Bytes(begin, begin + length)});
        }
    }
    return out;
}

Bytes macList() {
    const std::vector<Resource> all = readResourceFile(readFile(generatedPath("MorvekExposure.rsrc")));
    EXPECT_EQ(all.size(), 1u);
    for (const Resource& r : all) {
        if (r.type == "PiPL" && r.id == 16000) {
            return r.data;
        }
    }
    ADD_FAILURE() << "no 'PiPL' 16000 resource";
    return {};
}

struct Property {
    std::string vendor, key;
    uint32_t id;
    Bytes data; // without padding
};

// Walks a property list of either byte order. `headerSize` is 10 for the
// Windows form (format word, version, count) and 8 for the macOS form.
std::vector<Property> walk(const Bytes& b, bool big, size_t headerSize) {
    std::vector<Property> out;
    auto u32 = [&](size_t at) { return big ? be32(b, at) : le32(b, at); };
    auto code = [&](size_t at) {
        std::string s = text4(b, at);
        return big ? s : std::string(s.rbegin(), s.rend());
    };
    if (b.size() < headerSize) {
        ADD_FAILURE() << "no header";
        return out;
    }
    const uint32_t count = u32(headerSize - 4);
    size_t pos = headerSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (pos + 16 > b.size()) {
            ADD_FAILURE() << "property " << i << " outside the list";
            return out;
        }
        const uint32_t length = u32(pos + 12);
        const size_t next = pos + 16 + (length + 3) / 4 * 4;
        if (next > b.size()) {
            ADD_FAILURE() << "property " << i << " runs past the list";
            return out;
        }
        out.push_back(
            {code(pos), code(pos + 4), u32(pos + 8), Bytes(b.begin() + pos + 16, b.begin() + pos + 16 + length)});
        pos = next;
    }
    EXPECT_EQ(pos, b.size()) << "the walk does not end at the last byte";
    return out;
}

// Reverses each aligned group of `width` bytes: little- to big-endian.
Bytes swapped(const Bytes& b, size_t width) {
    Bytes out = b;
    for (size_t i = 0; i + width <= out.size(); i += width) {
        std::reverse(out.begin() + i, out.begin() + i + width);
    }
    return out;
}

} // namespace

TEST(PiplMacForm, ResourceFileHoldsOnePiplResource) {
    const Bytes list = macList();
    EXPECT_EQ(list.size(), 320u); // 290 - 2 (format word) + 32 (second code entry)
}

TEST(PiplMacForm, BigEndianListWithBothCodeEntries) {
    const Bytes list = macList();
    ASSERT_GE(list.size(), 8u);
    EXPECT_EQ(be32(list, 0), 0u) << "list version";
    const std::vector<Property> props = walk(list, true, 8);
    std::vector<std::string> keys;
    for (const Property& p : props) {
        keys.push_back(p.key);
        EXPECT_EQ(p.vendor, "8BIM");
        EXPECT_EQ(p.id, 0u);
    }
    const std::vector<std::string> expected = {"kind", "name", "catg", "mi64", "ma64", "ePVR", "eSVR",
                                               "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
    ASSERT_EQ(keys, expected);
    const std::string entry = "EntryPointFunc";
    Bytes entryBytes(entry.begin(), entry.end());
    entryBytes.push_back(0);
    entryBytes.push_back(0);
    EXPECT_EQ(text4(props[0].data, 0), "eFKT");
    EXPECT_EQ(props[3].data, entryBytes);
    EXPECT_EQ(props[4].data, entryBytes);
    EXPECT_EQ(props[5].data, (Bytes{0, 2, 0, 0}));  // 2.0
    EXPECT_EQ(props[6].data, (Bytes{0, 13, 0, 0})); // 13.0
    EXPECT_EQ(be32(props[7].data, 0), 525825u);
    EXPECT_EQ(props[8].data, (Bytes{0, 0}));
    EXPECT_EQ(be32(props[9].data, 0), 0x02000000u);
    EXPECT_EQ(be32(props[10].data, 0), 0x1400u);
    EXPECT_EQ(be32(props[12].data, 0), 8u);
}

TEST(PiplMacForm, SameValuesAsTheWindowsForm) {
    // Property by property: strings identical, numbers byte-swapped (ePVR and
    // eSVR as two 16-bit halves, eINF as one), the one Windows code entry
    // standing for both macOS ones.
    const std::vector<Property> mac = walk(macList(), true, 8);
    const std::vector<Property> win = walk(readFile(windowsListPath()), false, 10);
    ASSERT_EQ(mac.size(), 13u);
    ASSERT_EQ(win.size(), 12u);
    std::map<std::string, size_t> width = {{"kind", 4}, {"ePVR", 2}, {"eSVR", 2}, {"eVER", 4},
                                           {"eINF", 2}, {"eGLO", 4}, {"eGL2", 4}, {"aeFL", 4}};
    size_t m = 0;
    for (const Property& w : win) {
        if (w.key == "8664") {
            EXPECT_EQ(mac[m].key, "mi64");
            EXPECT_EQ(mac[m + 1].key, "ma64");
            EXPECT_EQ(mac[m].data, w.data);
            EXPECT_EQ(mac[m + 1].data, w.data);
            m += 2;
            continue;
        }
        ASSERT_EQ(mac[m].key, w.key);
        const auto it = width.find(w.key);
        EXPECT_EQ(mac[m].data, it == width.end() ? w.data : swapped(w.data, it->second)) << w.key;
        ++m;
    }
}

TEST(PiplMacForm, ReaderAgreesOnBothForms) {
    const Bytes list = macList();
    PropertyList mac, win;
    std::string why;
    ASSERT_TRUE(Morvek::Pipl::parsePropertyList(list.data(), list.size(), Form::MacOS, mac, &why)) << why;
    ASSERT_TRUE(Morvek::Pipl::readPropertyListFile(windowsListPath(), Form::Windows, win, &why)) << why;
    EXPECT_EQ(mac.count, 13u);
    EXPECT_EQ(mac.codeEntries.size(), 2u);
    EXPECT_EQ(mac.entryPoint, win.entryPoint);
    EXPECT_EQ(mac.name, win.name);
    EXPECT_EQ(mac.category, win.category);
    EXPECT_EQ(mac.matchName, win.matchName);
    EXPECT_EQ(mac.kind, win.kind);
    EXPECT_EQ(mac.version, win.version);
    EXPECT_EQ(mac.outFlags, win.outFlags);
    EXPECT_EQ(mac.outFlags2, win.outFlags2);
    EXPECT_EQ(mac.listVersionMajor, win.listVersionMajor);
    EXPECT_EQ(mac.apiVersionMajor, win.apiVersionMajor);
    EXPECT_EQ(mac.reservedInfo, win.reservedInfo);

    // Code entries that name different functions are refused.
    Bytes split = list;
    const size_t ma64Data = 8 + 20 + 32 + 24 + 32 + 16; // kind, name, catg, mi64, then ma64's header
    ASSERT_EQ(text4(split, ma64Data - 12), "ma64");
    split[ma64Data] = 'X';
    EXPECT_FALSE(Morvek::Pipl::parsePropertyList(split.data(), split.size(), Form::MacOS, mac, &why));
}

TEST(PiplMacBundle, InfoPlistAndPkgInfo) {
    EXPECT_EQ(readText(generatedPath("PkgInfo")), "eFKTFXTC");
    const std::string plist = readText(generatedPath("Info.plist"));
    auto value = [&](const std::string& key) {
        const std::string k = "<key>" + key + "</key>";
        const size_t at = plist.find(k);
        if (at == std::string::npos) {
            return std::string("(missing)");
        }
        const size_t open = plist.find("<string>", at + k.size());
        const size_t close = plist.find("</string>", open);
        if (open == std::string::npos || close == std::string::npos) {
            return std::string("(not a string)");
        }
        return plist.substr(open + 8, close - open - 8);
    };
    EXPECT_EQ(value("CFBundlePackageType"), "eFKT");
    EXPECT_EQ(value("CFBundleSignature"), "FXTC");
    EXPECT_EQ(value("CFBundleExecutable"), "MorvekExposure");
    EXPECT_EQ(value("CFBundleName"), "MorvekExposure");
    EXPECT_EQ(value("CFBundleShortVersionString"), "1.0.0");
    EXPECT_EQ(plist.rfind("<?xml", 0), 0u);
    EXPECT_NE(plist.find("</dict>\n</plist>"), std::string::npos);
}
