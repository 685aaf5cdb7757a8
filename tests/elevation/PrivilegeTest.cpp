// The four privilege questions and the shield rule over stand-in account facts,
// and the system's answers for the account the tests run under.
#include <gtest/gtest.h>

#include "elevation/QxUtilRunElevated.h"
#include "support/StandIns.h"
#include "tests/common/TestAccount.h"

using namespace kivo;
using namespace kivo::test;

namespace {

int Button; // any address serves as the button's handle

struct TAnswers {
    bool Admin, Account, Uac, Elevated, Shield;
};

TAnswers Ask(TStandInFacts Facts) {
    TUseFacts Use(Facts);
    TStandInUserInterface Ui;
    SetElevationShield(&Button);
    bool Shield = false;
    for (const auto& M : Ui.Messages) {
        EXPECT_EQ(M.Window, &Button);
        EXPECT_EQ(M.Msg, BCM_SETSHIELD);
        EXPECT_EQ(M.WParam, 0u);
        EXPECT_EQ(M.LParam, static_cast<intptr_t>(0xFFFFFFFF));
        Shield = true;
    }
    EXPECT_LE(Ui.Messages.size(), 1u);
    return {IsAdministrator(), IsAdministratorAccount(), IsUacEnabled(), IsElevated(), Shield};
}

} // namespace

TEST(Privileges, ElevatedAdministratorIsAllThreeAndGetsNoShield) {
    TAnswers A = Ask(TStandInFacts::ElevatedAdministrator());
    EXPECT_TRUE(A.Admin);
    EXPECT_TRUE(A.Account);
    EXPECT_TRUE(A.Elevated);
    EXPECT_TRUE(A.Uac);
    EXPECT_FALSE(A.Shield);
}

TEST(Privileges, AdministratorAccountNotElevatedCountsOnlyAsAccount) {
    TAnswers A = Ask(TStandInFacts::AdministratorAccountNotElevated());
    EXPECT_FALSE(A.Admin);
    EXPECT_TRUE(A.Account);
    EXPECT_FALSE(A.Elevated);
    EXPECT_TRUE(A.Shield);
}

TEST(Privileges, StandardUserIsNeither) {
    TAnswers A = Ask(TStandInFacts::StandardUser());
    EXPECT_FALSE(A.Admin);
    EXPECT_FALSE(A.Account);
    EXPECT_FALSE(A.Elevated);
    EXPECT_TRUE(A.Shield);
}

TEST(Privileges, UacFollowsThePolicyAndNeedsElevationSupport) {
    TStandInFacts F = TStandInFacts::StandardUser();
    F.Prompt = false;
    EXPECT_FALSE(Ask(F).Uac);
    F.Prompt = true;
    EXPECT_TRUE(Ask(F).Uac);
    F.Supported = false;
    EXPECT_FALSE(Ask(F).Uac);
}

TEST(Privileges, WithoutElevationSupportElevatedMeansAdministratorAndNoShield) {
    TStandInFacts F = TStandInFacts::StandardUser();
    F.Supported = false;
    F.Elevated = true; // ignored on such a system
    TAnswers A = Ask(F);
    EXPECT_FALSE(A.Elevated);
    EXPECT_FALSE(A.Shield);
    F.EnabledAdmin = true;
    EXPECT_TRUE(Ask(F).Elevated);
}

TEST(Privileges, SystemAnswersFollowTheAccountTheTestsRunUnder) {
    const bool Privileged = test::ProcessIsPrivileged();
    EXPECT_EQ(IsAdministrator(), Privileged);
    EXPECT_EQ(IsElevated(), Privileged);
    if (Privileged) {
        EXPECT_TRUE(IsAdministratorAccount());
    }
    EXPECT_EQ(IsUacEnabled(), test::ElevationPromptIsOn());
}
