#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/audio/pulse_source_directory.hpp"

using namespace yux::platform;
using namespace std::chrono_literals;

namespace {

const PulseSource kHeadset{"alsa_input.usb-headset", "USB Headset", 1};
const PulseSource kBuiltIn{"alsa_input.pci-analog", "Built-in Audio", 2};

std::shared_ptr<ScriptedPulseServer> serverWith(std::vector<PulseSource> sources, bool answers = true) {
    auto server = std::make_shared<ScriptedPulseServer>();
    server->sources = std::move(sources);
    server->answers = answers;
    return server;
}

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

}  // namespace

TEST(PulseSourceDirectoryNull, ListsTheServersSourcesAndFollowsItsChanges) {
    auto server = serverWith({kBuiltIn});
    auto directory = PulseSourceDirectory::create_null(server);
    EXPECT_TRUE(directory->waitForFirstListing(0ms));
    EXPECT_TRUE(directory->isConnected());
    EXPECT_EQ(directory->sources(), std::vector{kBuiltIn});

    server->sources.push_back(kHeadset);
    EXPECT_EQ(directory->sources(), std::vector{kBuiltIn}) << "only a change event updates the list";
    directory->simulate_sourcesChanged();
    EXPECT_EQ(directory->sources(), (std::vector{kBuiltIn, kHeadset}));

    server->sources = {kHeadset};
    directory->simulate_sourcesChanged();
    EXPECT_EQ(directory->sources(), std::vector{kHeadset});
    EXPECT_EQ(server->connectAttempts, 1) << "change events reuse the one connection";
}

TEST(PulseSourceDirectoryNull, WithoutAServerTheListStaysEmptyAndEachTryIsTwoSecondsApart) {
    auto server = serverWith({kHeadset}, false);
    auto directory = PulseSourceDirectory::create_null(server);
    EXPECT_FALSE(directory->waitForFirstListing(0ms));
    EXPECT_FALSE(directory->isConnected());
    EXPECT_TRUE(directory->sources().empty());
    EXPECT_EQ(messageOf([&] { directory->openMeter(kHeadset.name); }),
              "The sound server has no source named \"alsa_input.usb-headset\".");

    directory->simulate_timePasses(1999ms);
    EXPECT_EQ(server->connectAttempts, 1);
    directory->simulate_timePasses(1ms);
    EXPECT_EQ(server->connectAttempts, 2);
    directory->simulate_timePasses(6s);
    EXPECT_EQ(server->connectAttempts, 5) << "one try every 2 s, never more than one waiting";
    EXPECT_EQ(server->delaysAsked, std::vector<std::chrono::milliseconds>(5, 2000ms));

    // The first listing is awaited until a try finds the server.
    directory->simulate_serverBack();
    EXPECT_FALSE(directory->waitForFirstListing(0ms));
    directory->simulate_timePasses(2s);
    EXPECT_TRUE(directory->waitForFirstListing(0ms));
    EXPECT_TRUE(directory->isConnected());
    EXPECT_EQ(directory->sources(), std::vector{kHeadset});
    directory->simulate_timePasses(10s);
    EXPECT_EQ(server->connectAttempts, 6) << "no tries once connected";
}

TEST(PulseSourceDirectoryNull, ALostServerEmptiesTheListAndIsFoundAgainByTheRetry) {
    auto server = serverWith({kHeadset, kBuiltIn});
    auto directory = PulseSourceDirectory::create_null(server);
    auto meter = directory->openMeter(kHeadset.name);
    ASSERT_TRUE(meter->isRunning());

    directory->simulate_serverLost();
    EXPECT_FALSE(directory->isConnected());
    EXPECT_TRUE(directory->sources().empty());
    EXPECT_FALSE(meter->isRunning());
    EXPECT_TRUE(meter->decibels().empty()) << "a stopped meter reads nothing rather than stale levels";
    EXPECT_THROW(directory->openMeter(kHeadset.name), std::runtime_error);

    directory->simulate_timePasses(2s);
    EXPECT_EQ(server->connectAttempts, 2);
    EXPECT_FALSE(directory->isConnected()) << "still away at the first retry";
    directory->simulate_serverBack();
    directory->simulate_timePasses(1s);
    EXPECT_FALSE(directory->isConnected()) << "found at the next retry, not at once";
    directory->simulate_timePasses(1s);
    EXPECT_TRUE(directory->isConnected());
    EXPECT_EQ(directory->sources(), (std::vector{kHeadset, kBuiltIn}));
    EXPECT_TRUE(directory->openMeter(kBuiltIn.name)->isRunning());
}

TEST(PulseSourceDirectoryNull, AMeterReadsEachChannelAndEndsWithItsSource) {
    auto server = serverWith({kBuiltIn, kHeadset});
    server->meterSamples = {0.1f, 0.0f, -0.1f, 0.0f};  // left at -20 dBFS, right silent
    auto directory = PulseSourceDirectory::create_null(server);
    auto meter = directory->openMeter(kBuiltIn.name);
    EXPECT_EQ(meter->sourceName(), kBuiltIn.name);
    auto levels = meter->decibels();
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0], -20, 0.01);
    EXPECT_EQ(levels[1], PulseLevelMeter::kSilenceDecibels);

    // The meter is pinned to its source: when that goes, it ends instead of moving on.
    server->sources = {kHeadset};
    directory->simulate_sourcesChanged();
    EXPECT_FALSE(meter->isRunning());
    EXPECT_TRUE(meter->decibels().empty());

    server->meterSamples.clear();
    EXPECT_EQ(messageOf([&] { directory->openMeter(kHeadset.name); }), "Cannot meter \"alsa_input.usb-headset\": Refused.");
}
