// What the built module reports at GlobalSetup against what its property list
// promises: the host trusts both, so they must agree.
#include "HostAPI.h"
#include "MorvekIdentity.h"
#include "PiplReader.h"
#include "PiplTestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>

using Morvek::Pipl::Form;
using Morvek::Pipl::PropertyList;

namespace {

struct Library {
    void* handle = dlopen(MORVEK_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ~Library() {
        if (handle) {
            dlclose(handle);
        }
    }
};

} // namespace

TEST(PiplAgreement, GlobalSetupReportsTheListsVersionAndFlags) {
    PropertyList list;
    std::string why;
    ASSERT_TRUE(Morvek::Pipl::readPropertyListFile(pipltest::windowsListPath(), Form::Windows, list, &why)) << why;

    // The host finds the entry point by the code entry's name.
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto entry = reinterpret_cast<PF_EntryPointFunc>(dlsym(lib.handle, list.entryPoint.c_str()));
    ASSERT_NE(entry, nullptr) << "the module does not export '" << list.entryPoint << "'";

    // Without a suite broker GlobalSetup fails after writing its version and
    // flags, which is all this needs.
    PF_InData in;
    PF_OutData out;
    std::memset(&in, 0, sizeof in);
    std::memset(&out, 0, sizeof out);
    entry(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr);
    EXPECT_EQ(out.my_version, list.version);
    EXPECT_EQ(static_cast<uint32_t>(out.out_flags), list.outFlags);
    EXPECT_EQ(static_cast<uint32_t>(out.out_flags2), list.outFlags2);
}

TEST(PiplAgreement, ListNamesWhatTheIdentityStates) {
    PropertyList list;
    std::string why;
    ASSERT_TRUE(Morvek::Pipl::readPropertyListFile(pipltest::windowsListPath(), Form::Windows, list, &why)) << why;
    namespace Id = Morvek::Identity;
    EXPECT_EQ(list.name, Id::kName);
    EXPECT_EQ(list.matchName, Id::kMatchName);
    EXPECT_EQ(list.name, list.matchName);
    EXPECT_EQ(list.category, Id::kCategory);
    EXPECT_EQ(list.entryPoint, Id::kEntryPoint);
    EXPECT_EQ(list.entryPoint, PF_ENTRY_POINT_NAME);
    EXPECT_EQ(list.version, Id::kVersionWord);
    EXPECT_EQ(list.outFlags, static_cast<uint32_t>(Id::kOutFlags));
    EXPECT_EQ(list.outFlags2, static_cast<uint32_t>(Id::kOutFlags2));
}
