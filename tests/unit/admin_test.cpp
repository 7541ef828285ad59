// The administrator check against scripted access tokens.
#include <gtest/gtest.h>

#include "startup/admin.h"
#include "startup/package.h"
#include "support/package_builder.h"
#include "support/host_machine.h"

using namespace testing_support;

namespace {

const char kAdministrators[] = "S-1-5-32-544";
const char kUsers[] = "S-1-5-32-545";
const char kEveryone[] = "S-1-1-0";

class AdminCheck : public HostMachine {
 protected:
  void Token(std::vector<host::TokenGroup> process, bool impersonate = false,
             std::vector<host::TokenGroup> thread = {}) {
    host::TokenScript script;
    script.processGroups = std::move(process);
    script.threadImpersonates = impersonate;
    script.threadGroups = std::move(thread);
    host::SetToken(script);
  }

  // Runs the check and demands that everything it acquired was released.
  bool Check() {
    int blocks = host::LiveBlocks();
    bool result = IsAdmin();
    EXPECT_EQ(0, host::OpenHandles());
    EXPECT_EQ(0, host::LiveSids());
    EXPECT_EQ(blocks, host::LiveBlocks());
    return result;
  }
};

TEST_F(AdminCheck, Windows9xCountsAsAdministratorWithoutAnyTokenQuery) {
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  Token({{kUsers, SE_GROUP_ENABLED}});
  EXPECT_TRUE(Check());
  EXPECT_TRUE(host::SecurityCalls().empty());
}

TEST_F(AdminCheck, AdministratorAnywhereInTheGroupList) {
  Token({{kEveryone, SE_GROUP_ENABLED}, {kUsers, SE_GROUP_ENABLED},
         {kAdministrators, SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT}});
  EXPECT_TRUE(Check());
}

TEST_F(AdminCheck, FilteredTokenWithDenyOnlyAdministratorsStillCounts) {
  Token({{kEveryone, SE_GROUP_ENABLED}, {kAdministrators, SE_GROUP_USE_FOR_DENY_ONLY}});
  EXPECT_TRUE(Check());
}

TEST_F(AdminCheck, UserOutsideTheGroupIsRefused) {
  Token({{kEveryone, SE_GROUP_ENABLED}, {kUsers, SE_GROUP_ENABLED}, {"S-1-5-32-5440", 0}});
  EXPECT_FALSE(Check());
}

TEST_F(AdminCheck, ImpersonatingThreadIsJudgedByItsOwnToken) {
  Token({{kAdministrators, SE_GROUP_ENABLED}}, true, {{kUsers, SE_GROUP_ENABLED}});
  EXPECT_FALSE(Check());
  Token({{kUsers, SE_GROUP_ENABLED}}, true, {{kAdministrators, SE_GROUP_ENABLED}});
  EXPECT_TRUE(Check());
  // The second check alone: the thread's token served, the process's was never opened.
  std::vector<std::string> calls = host::SecurityCalls();
  calls.erase(calls.begin(), calls.begin() + calls.size() / 2);
  EXPECT_EQ(std::vector<std::string>({"OpenThreadToken", "GetTokenInformation",
                                      "GetTokenInformation", "AllocateAndInitializeSid", "EqualSid",
                                      "FreeSid"}),
            calls);
}

TEST_F(AdminCheck, ThreadTokenIsAskedBeforeTheProcessToken) {
  Token({{kAdministrators, SE_GROUP_ENABLED}});
  EXPECT_TRUE(Check());
  ASSERT_GE(host::SecurityCalls().size(), 2u);
  EXPECT_EQ("OpenThreadToken", host::SecurityCalls()[0]);
  EXPECT_EQ("OpenProcessToken", host::SecurityCalls()[1]);
}

class AdminCheckFailingCall : public AdminCheck, public ::testing::WithParamInterface<const char *> {};

TEST_P(AdminCheckFailingCall, RefusesAndReleasesEverything) {
  Token({{kAdministrators, SE_GROUP_ENABLED}});
  host::FailCall(GetParam(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Check());
}

INSTANTIATE_TEST_SUITE_P(EachCall, AdminCheckFailingCall,
                         ::testing::Values("OpenProcessToken", "GetTokenInformation",
                                           "AllocateAndInitializeSid"));

TEST_F(AdminCheck, UnreadableVersionIsCheckedAsOnNt) {
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, false);
  Token({{kUsers, SE_GROUP_ENABLED}});
  EXPECT_FALSE(Check());
  EXPECT_FALSE(host::SecurityCalls().empty());
}

TEST_F(AdminCheck, PackageRequiringAdministratorIsRefusedForAUser) {
  PrepareProgram();
  Token({{kUsers, SE_GROUP_ENABLED}});
  PackageContents contents;
  contents.admin = true;
  contents.welcome = "hello";
  contents.archive = BuildZip({{"a.inf", ToBytes("x")}});
  WriteFile("setup.exe", BuildPackage(contents));
  host::SetModuleFileName("C:\\setup.exe");
  bool loaded = true;
  EXPECT_EQ(-1, host::RunAsProcess([&] {
              loaded = LoadPackage();
              return -1;
            }));
  EXPECT_FALSE(loaded);
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("You need to have administrative privileges to run this program.",
            host::MessageBoxes()[0].text);
  EXPECT_EQ("Error", host::MessageBoxes()[0].caption);
  EXPECT_NE(INVALID_HANDLE_VALUE, state.packageFile);  // the exit sequence closes it
  EXPECT_FALSE(state.ioError);
}

}  // namespace
