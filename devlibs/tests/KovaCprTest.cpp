#include "kova_cpr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string callLog()
{
    char buffer[256];
    KOVA_CPR_ext_CallLog(buffer, sizeof buffer);
    return buffer;
}

// The bring-up of the main window: steps 1 to 3, with their results.
struct BringUp {
    int init = 0;
    int getParam = 0;
    int setParam = 0;
    KOVA_CPR_PARAM param{};
};

BringUp bringUp()
{
    BringUp b;
    b.init = KOVA_CPR_Init(0);
    b.getParam = KOVA_CPR_GetParam(&b.param);
    KOVA_CPR_PARAM changed = b.param;
    changed.words[1] = 1;
    b.setParam = KOVA_CPR_SetParam(&changed);
    return b;
}

class KovaCpr : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("KOVA_CPR_FAIL");
        KOVA_CPR_ext_ResetCallLog();
    }
    void TearDown() override { ::unsetenv("KOVA_CPR_FAIL"); }
};

} // namespace

TEST_F(KovaCpr, BringUpSucceedsAndKeepsTheParameterBlock)
{
    const BringUp b = bringUp();
    EXPECT_NE(b.init, 0);
    EXPECT_NE(b.getParam, 0);
    EXPECT_NE(b.setParam, 0);
    KOVA_CPR_PARAM last{};
    ASSERT_NE(KOVA_CPR_ext_LastParam(&last), 0);
    EXPECT_EQ(last.words[0], b.param.words[0]);
    EXPECT_EQ(last.words[1], 1);
    EXPECT_EQ(last.words[2], b.param.words[2]);
    KOVA_CPR_PARAM again{};
    ASSERT_NE(KOVA_CPR_GetParam(&again), 0);
    EXPECT_EQ(again.words[1], 1) << "the block set is the block read next";
}

TEST_F(KovaCpr, EachFailureSettingFailsExactlyThatStep)
{
    struct Case {
        const char* setting;
        bool initOk, getOk, setOk;
    };
    for (const Case c : {Case{"init", false, true, true}, Case{"getparam", true, false, true},
                         Case{"setparam", true, true, false}, Case{"other", true, true, true}}) {
        ::setenv("KOVA_CPR_FAIL", c.setting, 1);
        const BringUp b = bringUp();
        EXPECT_EQ(b.init != 0, c.initOk) << c.setting;
        EXPECT_EQ(b.getParam != 0, c.getOk) << c.setting;
        EXPECT_EQ(b.setParam != 0, c.setOk) << c.setting;
    }
}

TEST_F(KovaCpr, FailedSetParamKeepsTheBlockAsItWas)
{
    KOVA_CPR_PARAM block{{4, 5, 6}};
    ASSERT_NE(KOVA_CPR_SetParam(&block), 0);
    ::setenv("KOVA_CPR_FAIL", "setparam", 1);
    KOVA_CPR_PARAM other{{7, 8, 9}};
    EXPECT_EQ(KOVA_CPR_SetParam(&other), 0);
    ::unsetenv("KOVA_CPR_FAIL");
    KOVA_CPR_PARAM read{};
    ASSERT_NE(KOVA_CPR_GetParam(&read), 0);
    EXPECT_EQ(read.words[0], 4);
    EXPECT_EQ(read.words[1], 5);
    EXPECT_EQ(read.words[2], 6);
}

TEST_F(KovaCpr, CallsAreLoggedInOrder)
{
    bringUp();
    KOVA_CPR_SetInfoCallBack(nullptr, nullptr);
    KOVA_CPR_SetHeartBeatParam(5, 2);
    KOVA_CPR_StopSearch();
    KOVA_CPR_SetSearchCB(nullptr, nullptr);
    KOVA_CPR_Cleanup();
    EXPECT_EQ(callLog(), "Init GetParam SetParam SetInfoCallBack SetHeartBeatParam StopSearch SetSearchCB Cleanup");
    KOVA_CPR_ext_ResetCallLog();
    EXPECT_EQ(callLog(), "");
}

TEST_F(KovaCpr, CallLogIsCutToTheBuffer)
{
    bringUp();
    char small[8];
    KOVA_CPR_ext_CallLog(small, sizeof small);
    EXPECT_EQ(std::string(small), "Init Ge");
}

TEST_F(KovaCpr, NullParameterBlockIsAFailure)
{
    EXPECT_EQ(KOVA_CPR_GetParam(nullptr), 0);
    EXPECT_EQ(KOVA_CPR_SetParam(nullptr), 0);
}
