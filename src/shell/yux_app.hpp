#pragma once

namespace yux {

// The program: one instance per user, services composed, start-up tasks started, event loop
// run until the one quit path ends it.
struct YuxApp {
    static int main(int argc, char** argv);
};

}  // namespace yux
