#include "ui/program_main.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "common/cli/cli.h"
#include "platform/clock.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sound.h"

namespace qn::ui {

namespace {

// Prints the wall-clock time at which the window is first exposed on the screen, for the
// launch-time measurement (the launcher notes the time it started the process).
class MappedReporter final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && !reported_) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window != nullptr && window->isExposed()) {
                reported_ = true;
                timespec now{};
                ::clock_gettime(CLOCK_REALTIME, &now);
                std::fprintf(stderr, "mapped %lld\n",
                             static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stderr);
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool reported_ = false;
};

}  // namespace

int runProgram(int argc, char** argv, const QString& programName,
               const ApplicationFactory& makeApplication) {
    // The command line first: --help and --version answer without a display.
    ShellOptions options;
    QString screenshot;
    int screenshotAfter = 3000;
    bool reportMapped = false;
    {
        const std::string name = programName.toStdString();
        CLI::App cli(name + ", a terminal of the handheld");
        cli::prepare(cli, name);
        // Qt's own options (-platform, -style ...) go on to Qt.
        cli.allow_extras();
        std::string screen, screenshotFile;
        cli.add_option("--screen", screen, "The window's size: 240x320 or 480x640");
        cli.add_option("--screenshot", screenshotFile, "Save a picture of the window once");
        cli.add_option("--screenshot-after", screenshotAfter, "Milliseconds before the picture")
            ->check(CLI::Range(0, 600000));
        cli.add_flag("--report-mapped", reportMapped,
                     "Print \"mapped NS\" once the window is first on the screen");
        std::ostringstream out, err;
        const std::optional<int> status =
            cli::parse(cli, std::vector<std::string>(argv + 1, argv + argc), out, err);
        std::fputs(out.str().c_str(), stdout);
        std::fputs(err.str().c_str(), stderr);
        if (status) return *status;
        // Qt's options take one dash: two dashes are a mistyped option of the program's own.
        for (const std::string& extra : cli.remaining()) {
            if (extra.starts_with("--")) {
                std::fprintf(stderr, "%s: unknown option %s (--help shows the usage)\n",
                             name.c_str(), extra.c_str());
                return 2;
            }
        }
        if (!screen.empty()) {
            auto size = parseScreenSize(QString::fromStdString(screen));
            if (!size) {
                std::fprintf(stderr, "%s: --screen: 240x320 or 480x640\n", name.c_str());
                return 2;
            }
            options.windowSize = *size;
        }
        screenshot = QString::fromStdString(screenshotFile);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(programName);
    QApplication::setQuitOnLastWindowClosed(true);
    options.settingsDir = platform::settingsDir();

    const auto root = platform::deviceRoot();
    platform::IniRegistry registry(root / "registry.ini");
    platform::DlLibraryLoader loader;
    QtMessageBoxes messages(programName);
    QtMessageQueue queue;
    platform::SystemClock clock;
    platform::AlsaSoundPlayer sound;
    platform::Services services{registry, loader, messages, queue, clock, sound, root};

    std::unique_ptr<ShellApplication> program =
        makeApplication(services, queue, &messages, options);
    MappedReporter reporter;
    if (reportMapped) {
        // The window exists only during start(): watch every window the application makes.
        app.installEventFilter(&reporter);
    }
    if (auto code = program->start()) return *code;
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(screenshotAfter, program.get(), [&program, screenshot, programName] {
            if (program->shellWindow() == nullptr) return;
            const bool saved = program->shellWindow()->grab().save(screenshot);
            std::fprintf(stderr, "%s: screenshot %s %s\n", qPrintable(programName),
                         saved ? "saved to" : "failed:", qPrintable(screenshot));
        });
    }
    const int code = QApplication::exec();
    program->finish();
    return code;
}

}  // namespace qn::ui
