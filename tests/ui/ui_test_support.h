#pragma once
// What the programs' window tests share: waiting on the event loop, device roots with the
// built plugins, the handheld's services with Qt's message queue and recording doubles, and
// counting dark pixels of a grab.

#include <QCoreApplication>
#include <QImage>
#include <QString>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <unistd.h>

#include "platform/services.h"
#include "tests/simreader/test_support.h"
#include "tools/quillnet-demohost/demo_host.h"
#include "ui/qt_platform.h"

namespace qn::ui::test_support {

using namespace std::chrono_literals;

template <class Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
}

inline void settle() {
    const auto until = std::chrono::steady_clock::now() + 60ms;
    while (std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A device root with the system library and, when asked, the reader library.
inline std::filesystem::path prepareRoot(const std::filesystem::path& root, bool withReader) {
    qn::test::copyPlugin(root, "KX2CE_SYS.so", "KX2CE_SYS.so");
    if (withReader) qn::test::copyPlugin(root, "ScanSvc_CE.so", "ScanSvc_CE.so");
    return root;
}

inline QString uniqueInstanceName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("qn-ui-test-%1-%2").arg(::getpid()).arg(++counter);
}

struct UiServices {
    UiServices(std::filesystem::path deviceRoot, const char* registryText)
        : registry(registryText),
          services{registry, loader, messages, queue, clock, sound, std::move(deviceRoot)} {}
    platform::MemoryRegistry registry;
    platform::DlLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    QtMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services;
};

// Serves the demo host's sessions on a thread of its own until it goes.
struct ServedDemoHost {
    explicit ServedDemoHost(tools::DemoHost& demo) : host(demo) {}
    ~ServedDemoHost() {
        host.stop();
        thread.join();
    }
    ServedDemoHost(const ServedDemoHost&) = delete;
    ServedDemoHost& operator=(const ServedDemoHost&) = delete;
    tools::DemoHost& host;
    std::thread thread{[this] { host.run(); }};
};

inline int darkPixels(const QImage& image, QRect area) {
    int count = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 128) ++count;
    return count;
}

}  // namespace qn::ui::test_support
