// The cameras lynx-camsim plays: generated sets, config files, command line.
#include "CameraConfig.h"
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <json/reader.h>

#include <set>
#include <stdexcept>

namespace {

using namespace camsim;

TEST(GeneratedCameras, ConsecutiveHostAddressesSkippingNetworkAndBroadcast)
{
    auto cameras = GenerateCameras(5, "192.168.1.252", {});
    ASSERT_EQ(cameras.size(), 5u);
    EXPECT_EQ(cameras[0].ip, "192.168.1.252");
    EXPECT_EQ(cameras[1].ip, "192.168.1.253");
    EXPECT_EQ(cameras[2].ip, "192.168.1.254");
    EXPECT_EQ(cameras[3].ip, "192.168.2.1");
    EXPECT_EQ(cameras[4].ip, "192.168.2.2");
    EXPECT_EQ(cameras[3].gateway, "192.168.2.1");
}

TEST(GeneratedCameras, EachHasItsOwnMacIdentifierAndSerialAndAChineseName)
{
    auto cameras = GenerateCameras(2000, "192.168.1.101", {});
    std::set<std::string> macs, ids;
    std::set<int64_t> serials;
    for (const CameraConfig& c : cameras) {
        macs.insert(c.mac);
        ids.insert(c.deviceId);
        serials.insert(c.sn);
        EXPECT_LE(c.deviceId.size(), 15u);
        EXPECT_GT(c.name.size(), 6u);
        EXPECT_GE(static_cast<unsigned char>(c.name[0]), 0xE0) << "a Chinese name";
    }
    EXPECT_EQ(macs.size(), cameras.size());
    EXPECT_EQ(ids.size(), cameras.size());
    EXPECT_EQ(serials.size(), cameras.size());
}

TEST(CameraFile, WhatIsWrittenReadsBackAsTheSameCameras)
{
    CameraBehaviour b;
    b.answerTwice = true;
    b.reportStatus = 7;
    b.newVersion = "V9";
    auto cameras = GenerateCameras(3, "10.1.2.3", b);
    cameras[1].name = "改名相机";
    cameras[2].behaviour.reportStatus.reset();
    auto again = CamerasFromJson(CamerasToJson(cameras), {});
    ASSERT_EQ(again.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(again[i].ip, cameras[i].ip);
        EXPECT_EQ(again[i].mac, cameras[i].mac);
        EXPECT_EQ(again[i].name, cameras[i].name);
        EXPECT_EQ(again[i].deviceId, cameras[i].deviceId);
        EXPECT_EQ(again[i].sn, cameras[i].sn);
        EXPECT_EQ(again[i].behaviour.answerTwice, true);
        EXPECT_EQ(again[i].behaviour.reportStatus, cameras[i].behaviour.reportStatus);
        EXPECT_EQ(again[i].behaviour.newVersion, "V9");
    }
}

TEST(CameraFile, AbsentMembersTakeTheGeneratedIdentityAndTheGivenBehaviour)
{
    Json::Value list(Json::arrayValue);
    Json::Value one(Json::objectValue);
    one["ip"] = "192.168.1.7";
    one["delayMs"] = 30;
    list.append(one);
    CameraBehaviour defaults;
    defaults.jitterMs = 5;
    auto cameras = CamerasFromJson(list, defaults);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_FALSE(cameras[0].mac.empty());
    EXPECT_FALSE(cameras[0].deviceId.empty());
    EXPECT_EQ(cameras[0].mask, "255.255.255.0");
    EXPECT_EQ(cameras[0].behaviour.delayMs, 30);
    EXPECT_EQ(cameras[0].behaviour.jitterMs, 5);
}

TEST(CameraFile, UnusableEntriesAreRejectedNamingTheCamera)
{
    auto reject = [](const std::string& json) {
        Json::Value v;
        Json::Reader().parse(json, v);
        try {
            CamerasFromJson(v, {});
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(reject(R"({"ip":"1.2.3.4"})"), "");
    EXPECT_NE(reject(R"([{"ip":"1.2.3"}])").find("camera 1"), std::string::npos);
    EXPECT_NE(reject(R"([{"ip":"1.2.3.4"},{"mac":"x"}])").find("camera 2"), std::string::npos);
    EXPECT_NE(reject(R"([{"ip":"1.2.3.4","name":5}])").find("name"), std::string::npos);
    EXPECT_NE(reject(R"([{"ip":"1.2.3.4","delayMs":-1}])").find("delayMs"), std::string::npos);
    EXPECT_NE(reject(R"([{"ip":"1.2.3.4","burst":"yes","silent":1}])").find("silent"), std::string::npos);
}

TEST(Masks, PrefixOnlyForContiguousMasks)
{
    EXPECT_EQ(MaskPrefix("255.255.255.0"), 24);
    EXPECT_EQ(MaskPrefix("255.255.0.0"), 16);
    EXPECT_EQ(MaskPrefix("0.0.0.0"), 0);
    EXPECT_EQ(MaskPrefix("255.255.255.255"), 32);
    EXPECT_FALSE(MaskPrefix("255.0.255.0"));
    EXPECT_FALSE(MaskPrefix("mask"));
}

TEST(CommandLineOptions, CamerasMustBeNamedAndValuesMustBeNumbers)
{
    EXPECT_THROW(ParseCommandLine({}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"--count", "x"}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"--count", "3", "--delay-ms"}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"--count", "3", "--report-port", "70000"}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"--count", "3", "--first-ip", "300.1.1.1"}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"--count", "3", "--frobnicate"}), std::invalid_argument);
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
}

TEST(CommandLineOptions, BehaviourFlagsReachEveryGeneratedCamera)
{
    CommandLine line = ParseCommandLine({"--count", "2", "--first-ip", "10.0.0.1", "--answer-twice", "--delay-ms", "40",
                                         "--jitter-ms", "10", "--restart-ms", "500", "--fail-install",
                                         "--report-status", "7", "--new-version", "V2", "--burst", "--timing"});
    EXPECT_TRUE(line.sim.burst);
    EXPECT_TRUE(line.sim.timing);
    auto cameras = CamerasFor(line);
    ASSERT_EQ(cameras.size(), 2u);
    for (const CameraConfig& c : cameras) {
        EXPECT_TRUE(c.behaviour.answerTwice);
        EXPECT_EQ(c.behaviour.delayMs, 40);
        EXPECT_EQ(c.behaviour.jitterMs, 10);
        EXPECT_EQ(c.behaviour.restartMs, 500);
        EXPECT_TRUE(c.behaviour.failInstall);
        EXPECT_EQ(c.behaviour.reportStatus, 7);
        EXPECT_EQ(c.behaviour.newVersion, "V2");
    }
}

} // namespace
