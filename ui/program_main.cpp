#include "ui/program_main.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <ctime>

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(programName);
    QApplication::setQuitOnLastWindowClosed(true);

    const QByteArray usage =
        (QStringLiteral("usage: ") + programName +
         QStringLiteral(" [--screen 240x320|480x640] [--screenshot FILE [--screenshot-after "
                        "MS]] [--report-mapped]\n"))
            .toLocal8Bit();
    ShellOptions options;
    QString screenshot;
    int screenshotAfter = 3000;
    bool reportMapped = false;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--screen") && hasValue) {
            auto size = parseScreenSize(args[++i]);
            if (!size) {
                std::fputs(usage.constData(), stderr);
                return 2;
            }
            options.windowSize = *size;
        } else if (args[i] == QLatin1String("--screenshot") && hasValue) {
            screenshot = args[++i];
        } else if (args[i] == QLatin1String("--screenshot-after") && hasValue) {
            bool ok = false;
            screenshotAfter = args[++i].toInt(&ok);
            if (!ok || screenshotAfter < 0 || screenshotAfter > 600000) {
                std::fputs(usage.constData(), stderr);
                return 2;
            }
        } else if (args[i] == QLatin1String("--report-mapped")) {
            reportMapped = true;
        } else {
            std::fputs(usage.constData(), stderr);
            return 2;
        }
    }
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
