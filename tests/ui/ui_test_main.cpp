// The UI tests run under Qt's offscreen platform with one QApplication for the whole run.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QT_STYLE_OVERRIDE", "Fusion", 1);
    ::setenv("QT_SCALE_FACTOR", "1", 1);
    // A private runtime folder: Qt wants one, and the single-instance sockets live in it.
    std::string runtime = (std::filesystem::temp_directory_path() / "qn-ui-XXXXXX").string();
    if (::mkdtemp(runtime.data()) != nullptr) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(runtime, ec);
    return result;
}
