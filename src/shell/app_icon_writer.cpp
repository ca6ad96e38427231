// Build step: writes the program's icon files into a theme folder for the install rules.

#include <cstdio>
#include <exception>

#include "shell/app_icon.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: yux_icon_writer FOLDER\n");
        return 2;
    }
    try {
        yux::AppIcon::writeThemeFiles(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
