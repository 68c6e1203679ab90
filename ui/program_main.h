#pragma once
// The programs' main(): the command line, the handheld's services wired to Qt, the
// application object, the event loop and the exit.
//
//   PROGRAM [--screen 240x320|480x640] [--screenshot FILE [--screenshot-after MS]]
//           [--report-mapped] [--help] [--version]
// The screenshot options save a picture of the window once, for demos without a display;
// --report-mapped prints "mapped NS" (wall clock) once the window is first on the screen.

#include <functional>
#include <memory>

#include "ui/shell_application.h"

namespace qn::ui {

using ApplicationFactory = std::function<std::unique_ptr<ShellApplication>(
    platform::Services&, QtMessageQueue&, QtMessageBoxes*, ShellOptions)>;

int runProgram(int argc, char** argv, const QString& programName,
               const ApplicationFactory& makeApplication);

}  // namespace qn::ui
