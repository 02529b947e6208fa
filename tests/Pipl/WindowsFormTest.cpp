// The Windows property list the build generates, against a byte image written
// here from the resource's published layout, and the reader on good and
// damaged lists.
#include "PiplReader.h"
#include "PiplTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace pipltest;
using Morvek::Pipl::Form;
using Morvek::Pipl::PropertyList;

namespace {

struct Row {
    size_t offset;
    const char* keyInFile; // the key's characters as they appear in a little-endian file
    uint32_t length;       // without padding
    Bytes data;
};

// Length byte, characters, and a zero byte when needed for an even size.
Bytes pascal(const std::string& s) {
    Bytes b(1 + s.size() + (s.size() % 2 == 0 ? 1 : 0), 0);
    b[0] = static_cast<uint8_t>(s.size());
    std::copy(s.begin(), s.end(), b.begin() + 1);
    return b;
}

const std::vector<Row>& layout() {
    static const std::vector<Row> rows = {
        {10, "dnik", 4, {'T', 'K', 'F', 'e'}},
        {30, "eman", 16, pascal("MorvekExposure")},
        {62, "gtac", 8, pascal("Morvek")},
        {86, "4668", 16, {'E', 'n', 't', 'r', 'y', 'P', 'o', 'i', 'n', 't', 'F', 'u', 'n', 'c', 0, 0}},
        {118, "RVPe", 4, {2, 0, 0, 0}},
        {138, "RVSe", 4, {13, 0, 0, 0}},
        {158, "REVe", 4, {0x01, 0x06, 0x08, 0x00}},
        {178, "FNIe", 2, {0, 0}},
        {198, "OLGe", 4, {0x00, 0x00, 0x00, 0x02}},
        {218, "2LGe", 4, {0x00, 0x14, 0x00, 0x00}},
        {238, "ANMe", 16, pascal("MorvekExposure")},
        {270, "LFea", 4, {8, 0, 0, 0}},
    };
    return rows;
}

// The whole resource, byte by byte from the layout above.
Bytes expectedImage() {
    Bytes b(290, 0);
    b[0] = 1;  // format word
    b[6] = 12; // property count
    for (const Row& r : layout()) {
        std::memcpy(&b[r.offset], "MIB8", 4);
        std::memcpy(&b[r.offset + 4], r.keyInFile, 4);
        b[r.offset + 12] = static_cast<uint8_t>(r.length);
        EXPECT_EQ(r.data.size(), r.length) << r.keyInFile;
        std::memcpy(&b[r.offset + 16], r.data.data(), r.data.size());
    }
    return b;
}

Bytes generated() {
    return readFile(windowsListPath());
}

bool parses(const Bytes& b, PropertyList& out, std::string* why = nullptr) {
    return Morvek::Pipl::parsePropertyList(b.data(), b.size(), Form::Windows, out, why);
}

} // namespace

TEST(PiplWindowsForm, MatchesTheLayoutByteForByte) {
    const Bytes actual = generated();
    const Bytes expected = expectedImage();
    ASSERT_EQ(actual.size(), 290u);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(actual[i], expected[i]) << "first difference at offset " << i;
    }
}

TEST(PiplWindowsForm, WalkWithPaddingEndsAtTheLastByte) {
    const Bytes b = generated();
    ASSERT_GE(b.size(), 10u);
    EXPECT_EQ(le16(b, 0), 1u);
    EXPECT_EQ(le32(b, 2), 0u);
    const uint32_t count = le32(b, 6);
    ASSERT_EQ(count, 12u);
    size_t pos = 10;
    std::vector<size_t> offsets;
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_LE(pos + 16, b.size()) << "property " << i;
        offsets.push_back(pos);
        EXPECT_EQ(text4(b, pos), "MIB8") << "vendor of property " << i;
        EXPECT_EQ(le32(b, pos + 8), 0u) << "id of property " << i;
        const uint32_t length = le32(b, pos + 12);
        const size_t padded = (length + 3) / 4 * 4;
        for (size_t k = pos + 16 + length; k < pos + 16 + padded && k < b.size(); ++k) {
            EXPECT_EQ(b[k], 0) << "padding byte at " << k;
        }
        pos += 16 + padded;
    }
    EXPECT_EQ(pos, b.size());
    std::vector<size_t> expected;
    for (const Row& r : layout()) {
        expected.push_back(r.offset);
    }
    EXPECT_EQ(offsets, expected);
}

TEST(PiplReader, ReadsEveryValueOfTheWindowsForm) {
    PropertyList list;
    std::string why;
    ASSERT_TRUE(Morvek::Pipl::readPropertyListFile(windowsListPath(), Form::Windows, list, &why)) << why;
    EXPECT_EQ(list.count, 12u);
    EXPECT_EQ(Morvek::Pipl::codeToString(list.kind), "eFKT");
    EXPECT_EQ(list.name, "MorvekExposure");
    EXPECT_EQ(list.category, "Morvek");
    EXPECT_EQ(list.matchName, "MorvekExposure");
    EXPECT_EQ(list.entryPoint, "EntryPointFunc");
    ASSERT_EQ(list.codeEntries.size(), 1u);
    EXPECT_EQ(Morvek::Pipl::codeToString(list.codeEntries[0].first), "8664");
    EXPECT_EQ(list.listVersionMajor, 2u);
    EXPECT_EQ(list.listVersionMinor, 0u);
    EXPECT_EQ(list.apiVersionMajor, 13u);
    EXPECT_EQ(list.apiVersionMinor, 0u);
    EXPECT_EQ(list.version, 525825u);
    EXPECT_EQ(list.infoFlags, 0u);
    EXPECT_EQ(list.outFlags, 0x02000000u);
    EXPECT_EQ(list.outFlags2, 0x1400u);
    EXPECT_EQ(list.reservedInfo, 8u);
}

TEST(PiplReader, RejectsTruncatedAndOverlongLists) {
    const Bytes good = generated();
    PropertyList list;
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(parses(cut, list)) << "accepted the first " << n << " bytes";
    }
    Bytes longer = good;
    longer.push_back(0);
    std::string why;
    EXPECT_FALSE(parses(longer, list, &why));
    EXPECT_NE(why.find("after the last property"), std::string::npos) << why;

    Bytes moreProperties = good;
    moreProperties[6] = 13;
    EXPECT_FALSE(parses(moreProperties, list));
    Bytes fewerProperties = good;
    fewerProperties[6] = 11;
    EXPECT_FALSE(parses(fewerProperties, list));
}

TEST(PiplReader, RejectsDamagedHeadersAndData) {
    const Bytes good = generated();
    PropertyList list;
    auto damaged = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b.at(at) = value;
        return b;
    };
    EXPECT_FALSE(parses(damaged(0, 2), list)) << "format word";
    EXPECT_FALSE(parses(damaged(2, 1), list)) << "list version";
    // A length that runs far past the end (0xFFFFFFF0) must be caught, not
    // wrapped around.
    Bytes huge = good;
    huge[30 + 12] = 0xF0;
    huge[30 + 13] = huge[30 + 14] = huge[30 + 15] = 0xFF;
    EXPECT_FALSE(parses(huge, list));
    // A Pascal length byte larger than its property's data.
    EXPECT_FALSE(parses(damaged(30 + 16, 16), list)) << "name length";
    // A code entry without its terminator.
    Bytes unterminated = good;
    std::memset(&unterminated[86 + 16], 'x', 16);
    EXPECT_FALSE(parses(unterminated, list));
    // A version word declared 2 bytes long (the padding keeps the walk
    // intact, so only the size check can catch it).
    EXPECT_FALSE(parses(damaged(158 + 12, 2), list));
}

TEST(PiplReader, RequiresTheCodeEntryAndRejectsRepeats) {
    const Bytes good = generated();
    PropertyList list;
    std::string why;
    Bytes noEntry = good; // '8664' renamed to an unknown key
    std::memcpy(&noEntry[86 + 4], "XXXX", 4);
    EXPECT_FALSE(parses(noEntry, list, &why));
    EXPECT_NE(why.find("8664"), std::string::npos) << why;

    Bytes twoNames = good; // the match name relabelled as a second 'name'
    std::memcpy(&twoNames[238 + 4], "eman", 4);
    EXPECT_FALSE(parses(twoNames, list, &why));
    EXPECT_NE(why.find("twice"), std::string::npos) << why;
}

TEST(PiplReader, StepsOverPropertiesItDoesNotKnow) {
    // A property of another vendor with 5 bytes of data (3 of padding),
    // inserted after 'kind', with the count raised to match.
    const Bytes good = generated();
    Bytes b(good.begin(), good.begin() + 30);
    const uint8_t extra[] = {'X', 'Y', 'Z', 'W', 'y', 'e', 'k', 'k', 0, 0, 0, 0, 5, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0};
    b.insert(b.end(), std::begin(extra), std::end(extra));
    b.insert(b.end(), good.begin() + 30, good.end());
    b[6] = 13;
    PropertyList list;
    std::string why;
    ASSERT_TRUE(parses(b, list, &why)) << why;
    EXPECT_EQ(list.count, 13u);
    EXPECT_EQ(list.name, "MorvekExposure");
    EXPECT_EQ(list.entryPoint, "EntryPointFunc");
    EXPECT_EQ(list.reservedInfo, 8u);
}

TEST(PiplReader, ReportsAMissingFile) {
    PropertyList list;
    std::string why;
    EXPECT_FALSE(Morvek::Pipl::readPropertyListFile(windowsListPath() + ".missing", Form::Windows, list, &why));
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
}

TEST(PiplReader, FindsTheListBesideTheModule) {
    using Morvek::Pipl::modulePropertyListLocation;
    EXPECT_EQ(modulePropertyListLocation("/a/b/MorvekExposure.so"), "/a/b/MorvekExposure.pipl");
    EXPECT_EQ(modulePropertyListLocation("/a.b/Module"), "/a.b/Module.pipl");
    EXPECT_EQ(modulePropertyListLocation("Module.x.so"), "Module.x.pipl");

    PropertyList list;
    std::string why;
    ASSERT_TRUE(Morvek::Pipl::readModulePropertyList(MORVEK_PLUGIN_PATH, list, &why)) << why;
    EXPECT_EQ(list.entryPoint, "EntryPointFunc");
    EXPECT_FALSE(Morvek::Pipl::readModulePropertyList("/nonexistent/Module.so", list, &why));
}
