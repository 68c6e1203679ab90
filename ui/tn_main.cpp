// QuillNetTN [--screen 240x320|480x640] [--screenshot FILE [--screenshot-after MS]]

#include "ui/program_main.h"
#include "ui/tn_application.h"

int main(int argc, char** argv) {
    return qn::ui::runProgram(argc, argv, QStringLiteral("QuillNetTN"),
                              [](qn::platform::Services& services, qn::ui::QtMessageQueue& queue,
                                 qn::ui::QtMessageBoxes* messages, qn::ui::ShellOptions options) {
                                  return std::make_unique<qn::ui::TnApplication>(
                                      services, queue, messages, std::move(options));
                              });
}
