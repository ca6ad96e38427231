#include "capture/phonelink/receiver/reader_outbox.hpp"

#include <atomic>
#include <future>
#include <thread>

#include <gtest/gtest.h>

using namespace yux;
using Kind = CameraWire::Kind;
using namespace std::chrono_literals;

namespace {

CameraWire::Message messageOf(Kind kind, std::uint8_t tag) { return CameraWire::Message{kind, {tag}}; }

// The main thread's queue, run by hand.
struct Outbox {
    std::mutex mutex;
    std::vector<std::function<void()>> hops;
    std::vector<CameraWire::Message> taken;
    std::vector<double> pictures;
    std::shared_ptr<ReaderOutbox> box = ReaderOutbox::create(
        [this](std::function<void()> hop) {
            std::lock_guard lock(mutex);
            hops.push_back(std::move(hop));
        },
        [this](CameraWire::Message message) { taken.push_back(std::move(message)); },
        [this](platform::PixelBuffer, double stamp) { pictures.push_back(stamp); });

    std::size_t waiting() {
        std::lock_guard lock(mutex);
        return hops.size();
    }
    void runHops() {
        std::vector<std::function<void()>> now;
        {
            std::lock_guard lock(mutex);
            now.swap(hops);
        }
        for (auto& hop : now) hop();
    }
    bool send(Kind kind, std::uint8_t tag) {
        return box->sendMessage(messageOf(kind, tag), [] { return true; });
    }
};

}  // namespace

TEST(ReaderOutbox, ANewerHelloOrStatusReplacesTheWaitingOneOfItsKind) {
    for (const Kind kind : {Kind::hello, Kind::microphoneStatus}) {
        Outbox outbox;
        for (std::uint8_t tag = 1; tag <= 50; ++tag) EXPECT_TRUE(outbox.send(kind, tag));
        EXPECT_EQ(outbox.waiting(), 1u) << "one hop waits for all fifty";
        outbox.runHops();
        EXPECT_EQ(outbox.taken, std::vector<CameraWire::Message>{messageOf(kind, 50)});
        EXPECT_TRUE(outbox.send(kind, 51));
        EXPECT_EQ(outbox.waiting(), 1u);
    }
}

TEST(ReaderOutbox, AnotherKindOrAFailureWaitsInTheReaderUntilTheSlotIsTaken) {
    struct Case {
        Kind waiting;
        Kind next;
    };
    for (const auto& [waiting, next] : std::vector<Case>{{Kind::hello, Kind::microphoneStatus},
                                                         {Kind::microphoneStatus, Kind::failure},
                                                         {Kind::failure, Kind::failure},
                                                         {Kind::failure, Kind::hello}}) {
        Outbox outbox;
        EXPECT_TRUE(outbox.send(waiting, 1));
        auto sent = std::async(std::launch::async, [&] { return outbox.send(next, 2); });
        EXPECT_EQ(sent.wait_for(60ms), std::future_status::timeout) << "the reader waits";
        EXPECT_EQ(outbox.waiting(), 1u);
        outbox.runHops();
        EXPECT_TRUE(sent.get());
        outbox.runHops();
        EXPECT_EQ(outbox.taken, (std::vector<CameraWire::Message>{messageOf(waiting, 1), messageOf(next, 2)}))
            << "nothing is lost and the order holds";
    }
}

TEST(ReaderOutbox, AStoppingReaderGivesUpWaiting) {
    Outbox outbox;
    EXPECT_TRUE(outbox.send(Kind::failure, 1));
    std::atomic<bool> stop{false};
    auto sent = std::async(std::launch::async, [&] {
        return outbox.box->sendMessage(messageOf(Kind::hello, 2), [&] { return !stop.load(); });
    });
    stop = true;
    EXPECT_FALSE(sent.get());
    outbox.runHops();
    EXPECT_EQ(outbox.taken, std::vector<CameraWire::Message>{messageOf(Kind::failure, 1)});
}

TEST(ReaderOutbox, ANewerPictureReplacesOneNotYetTaken) {
    Outbox outbox;
    const auto picture = platform::PixelBuffer::create(4, 2);
    for (int index = 1; index <= 30; ++index) outbox.box->sendPicture(picture, index);
    EXPECT_EQ(outbox.waiting(), 1u);
    outbox.runHops();
    EXPECT_EQ(outbox.pictures, std::vector<double>{30});
    outbox.box->sendPicture(picture, 31);
    outbox.runHops();
    EXPECT_EQ(outbox.pictures, (std::vector<double>{30, 31}));
}

TEST(MessageFloodLimit, MoreThanTwoHundredWithinOneSecondIsAFlood) {
    struct Case {
        const char* what;
        std::vector<double> arrivals;
        bool lastAdmitted;
    };
    std::vector<double> twoHundredAtOnce(200, 5.0);
    std::vector<double> spread;
    for (int index = 0; index < 200; ++index) spread.push_back(5.0 + index * 0.004);
    const auto with = [](std::vector<double> arrivals, double last) {
        arrivals.push_back(last);
        return arrivals;
    };
    const std::vector<Case> cases = {
        {"the two hundredth", twoHundredAtOnce, true},
        {"the two hundred and first at once", with(twoHundredAtOnce, 5.0), false},
        {"the two hundred and first within the second", with(spread, 5.99), false},
        {"the two hundred and first a second after the first", with(spread, 6.0), true},
    };
    for (const auto& test : cases) {
        MessageFloodLimit limit;
        bool admitted = true;
        for (std::size_t index = 0; index < test.arrivals.size(); ++index) {
            admitted = limit.admit(test.arrivals[index]);
            if (index + 1 < test.arrivals.size()) ASSERT_TRUE(admitted) << test.what << " at " << index;
        }
        EXPECT_EQ(admitted, test.lastAdmitted) << test.what;
    }
}
