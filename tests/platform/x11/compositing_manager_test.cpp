#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/x11/compositing_manager.hpp"

using yux::platform::CompositingManager;

namespace {

CompositingManager::Operations nullOperations(bool running) {
    CompositingManager::Operations operations;
    operations.running = [running] { return running; };
    operations.watch = [](std::function<void(bool)>) {};
    return operations;
}

}  // namespace

TEST(CompositingManager, ContentsAreKeptOnlyWhileHeldAndAStopIsToldBeforeTheyAreLetGo) {
    std::vector<std::string> steps;
    auto operations = nullOperations(false);
    operations.keepContents = [&steps](bool keep) { steps.push_back(keep ? "keep" : "let go"); };
    CompositingManager manager(operations);
    QObject::connect(&manager, &CompositingManager::changed, [&](bool running) {
        steps.push_back(std::string(running ? "told running" : "told stopped") +
                        (manager.keepingContents() ? " (kept)" : ""));
    });

    // Without a compositing manager a hold keeps nothing: nothing would be kept anyway.
    auto hold = manager.holdWindowContents();
    EXPECT_TRUE(steps.empty());
    manager.simulate_change(true);
    manager.simulate_change(true);  // no change: nothing told
    manager.simulate_change(false);
    const std::vector<std::string> expected{"keep", "told running (kept)", "told stopped (kept)", "let go"};
    EXPECT_EQ(steps, expected);

    // Two holds: the contents go only with the last.
    steps.clear();
    auto second = manager.holdWindowContents();
    manager.simulate_change(true);
    hold.reset();
    EXPECT_TRUE(manager.keepingContents());
    second.reset();
    EXPECT_FALSE(manager.keepingContents());
    EXPECT_EQ(manager.holds(), 0);
    EXPECT_EQ(steps, (std::vector<std::string>{"keep", "told running (kept)", "let go"}));
}

TEST(CompositingManager, AHoldOutlivingTheWatchIsHarmless) {
    auto manager = CompositingManager::create_null(true);
    auto hold = manager->holdWindowContents();
    EXPECT_TRUE(manager->keepingContents());
    manager.reset();
    hold.reset();
}
