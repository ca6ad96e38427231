#include "shell/yux_app.hpp"

int main(int argc, char** argv) { return yux::YuxApp::main(argc, argv); }
