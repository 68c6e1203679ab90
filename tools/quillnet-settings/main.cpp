#include <iostream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tools/quillnet-settings/settings_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return qn::tools::runSettingsTool(args, std::cout, std::cerr, qn::platform::deviceRoot());
}
