// QuillNet_VT [--screen 240x320|480x640] [--screenshot FILE [--screenshot-after MS]]
// The screenshot options save a picture of the window once, for demos without a display.

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "ui/vt_application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuillNet_VT"));
    QApplication::setQuitOnLastWindowClosed(true);

    constexpr const char* kUsage =
        "usage: QuillNet_VT [--screen 240x320|480x640] [--screenshot FILE [--screenshot-after "
        "MS]]\n";
    qn::ui::VtApplicationOptions options;
    QString screenshot;
    int screenshotAfter = 3000;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--screen") && hasValue) {
            auto size = qn::ui::parseScreenSize(args[++i]);
            if (!size) {
                std::fputs(kUsage, stderr);
                return 2;
            }
            options.windowSize = *size;
        } else if (args[i] == QLatin1String("--screenshot") && hasValue) {
            screenshot = args[++i];
        } else if (args[i] == QLatin1String("--screenshot-after") && hasValue) {
            bool ok = false;
            screenshotAfter = args[++i].toInt(&ok);
            if (!ok || screenshotAfter < 0 || screenshotAfter > 600000) {
                std::fputs(kUsage, stderr);
                return 2;
            }
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    options.settingsDir = qn::platform::settingsDir();

    const auto root = qn::platform::deviceRoot();
    qn::platform::IniRegistry registry(root / "registry.ini");
    qn::platform::DlLibraryLoader loader;
    qn::ui::QtMessageBoxes messages(QStringLiteral("QuillNet_VT"));
    qn::ui::QtMessageQueue queue;
    qn::platform::SystemClock clock;
    qn::platform::AlsaSoundPlayer sound;
    qn::platform::Services services{registry, loader, messages, queue, clock, sound, root};

    qn::ui::VtApplication program(services, queue, &messages, options);
    if (auto code = program.start()) return *code;
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(screenshotAfter, &program, [&program, screenshot] {
            if (program.frame() == nullptr) return;
            const bool saved = program.frame()->grab().save(screenshot);
            std::fprintf(stderr, "QuillNet_VT: screenshot %s %s\n",
                         saved ? "saved to" : "failed:", qPrintable(screenshot));
        });
    }
    const int code = QApplication::exec();
    program.finish();
    return code;
}
