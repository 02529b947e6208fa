// What the built module reports at GlobalSetup against what its property list
// promises: the host trusts both, so they must agree.
#include "HostAPI.h"
#include "MorvekIdentity.h"
#include "PiplReader.h"
#include "PiplTestSupport.h"
#include "Session.h"

#include <gtest/gtest.h>

#include <memory>

using Morvek::Pipl::Form;
using Morvek::Pipl::PropertyList;

TEST(PiplAgreement, GlobalSetupReportsTheListsVersionAndFlags) {
    PropertyList list;
    std::string why;
    ASSERT_TRUE(Morvek::Pipl::readModulePropertyList(MORVEK_PLUGIN_PATH, list, &why)) << why;

    std::shared_ptr<standin::Module> module = standin::Module::load(MORVEK_PLUGIN_PATH, &why);
    ASSERT_TRUE(module) << why;
    // The host finds the entry point by the code entry's name.
    EXPECT_EQ(module->symbol(list.entryPoint.c_str()), reinterpret_cast<void*>(module->entryPoint()))
        << "the module does not export '" << list.entryPoint << "' as its entry point";

    standin::Session session(module);
    ASSERT_EQ(session.globalSetup(), PF_Err_NONE);
    const PF_OutData& out = session.lastOutData();
    EXPECT_EQ(out.my_version, list.version);
    EXPECT_EQ(static_cast<uint32_t>(out.out_flags), list.outFlags);
    EXPECT_EQ(static_cast<uint32_t>(out.out_flags2), list.outFlags2);
    EXPECT_EQ(session.globalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(session.reportsClean());
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
