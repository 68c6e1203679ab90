#include "ui/program_main.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sound.h"

namespace qn::ui {

int runProgram(int argc, char** argv, const QString& programName,
               const ApplicationFactory& makeApplication) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(programName);
    QApplication::setQuitOnLastWindowClosed(true);

    const QByteArray usage =
        (QStringLiteral("usage: ") + programName +
         QStringLiteral(" [--screen 240x320|480x640] [--screenshot FILE [--screenshot-after "
                        "MS]]\n"))
            .toLocal8Bit();
    ShellOptions options;
    QString screenshot;
    int screenshotAfter = 3000;
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
