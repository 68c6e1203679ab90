// quillnet-session vt|5250 --host H [--port P] [--settings F] [--timeout S] [SCRIPT]: one of the
// programs, headless, against a live host, driven by a script. See session_tool.h.

#include <iostream>
#include <string>
#include <vector>

#include "tools/quillnet-session/session_tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return qn::tools::runSessionTool(args, {std::cin, std::cout, std::cerr, true});
}
