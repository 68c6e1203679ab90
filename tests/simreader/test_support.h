#pragma once
// Helpers of the plugin and tool tests: temporary device roots, fresh copies of the plugins, and
// the built tools run as processes.

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/services.h"

extern char** environ;

namespace qn::test {

// A fresh folder under the temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qn-sim-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::filesystem::path buildDeviceRoot() {
    return QN_TEST_DEVICE_ROOT;
}
inline std::filesystem::path buildBinDir() {
    return QN_TEST_BIN_DIR;
}

// Copies a plugin of the build's device root into another folder: loaded from there, the copy
// is a library of its own, with fresh state, whatever other tests loaded.
inline std::filesystem::path copyPlugin(const std::filesystem::path& folder,
                                        const std::string& builtName, const std::string& copyName) {
    auto file = folder / copyName;
    std::filesystem::copy_file(buildDeviceRoot() / builtName, file,
                               std::filesystem::copy_options::overwrite_existing);
    return file;
}

// A library opened with dlopen; closed when it goes.
class Plugin {
  public:
    explicit Plugin(const std::filesystem::path& file) {
        handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    }
    ~Plugin() { close(); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    void* symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }
    template <class Fn>
    Fn get(const char* name) const {
        void* address = symbol(name);
        if (address == nullptr) throw std::runtime_error(std::string("missing ") + name);
        return reinterpret_cast<Fn>(address);
    }
    int close() {
        if (handle_ == nullptr) return 0;
        int rc = ::dlclose(handle_);
        handle_ = nullptr;
        return rc;
    }

  private:
    void* handle_ = nullptr;
};

// The services a program hands down, with the test doubles, the real library loader and a
// plain message queue.
struct TestServices {
    explicit TestServices(std::filesystem::path deviceRoot)
        : services{registry, libraries, messages, queue, clock, sound, std::move(deviceRoot)} {}
    platform::MemoryRegistry registry{""};
    platform::DlLibraryLoader libraries;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services;
};

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string errorOutput;
};

// A program of the build's bin/ folder started with the given arguments; its stderr is captured.
class ToolProcess {
  public:
    // env: NAME=VALUE entries that replace or add to this process's environment; a bare NAME
    // removes it.
    ToolProcess(const std::string& tool, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {}) {
        errFile_ = (scratch_ / "stderr").string();
        const std::string program = (buildBinDir() / tool).string();
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (auto& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        std::vector<std::string> environment = mergedEnvironment(env);
        std::vector<char*> envPointers;
        for (auto& entry : environment)
            envPointers.push_back(entry.data());
        envPointers.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, pointers.data(),
                        envPointers.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ToolProcess() {
        if (pid_ > 0) wait();
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // True while the program runs.
    bool running() {
        if (pid_ <= 0 || done_) return false;
        int status = 0;
        pid_t rc = ::waitpid(pid_, &status, WNOHANG);
        if (rc == pid_) finish(status);
        return !done_;
    }

    ProcessResult wait() {
        if (pid_ > 0 && !done_) {
            int status = 0;
            pid_t rc;
            while ((rc = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
            }
            if (rc == pid_) finish(status);
            done_ = true;
        }
        result_.errorOutput = readFile(errFile_);
        return result_;
    }

  private:
    static std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
        auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
        std::vector<std::string> merged;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string current = *entry;
            bool replaced = false;
            for (const auto& change : changes)
                replaced |= nameOf(change) == nameOf(current);
            if (!replaced) merged.push_back(current);
        }
        for (const auto& change : changes) {
            if (change.find('=') != std::string::npos) merged.push_back(change);
        }
        return merged;
    }

    void finish(int status) {
        done_ = true;
        if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
    }

    TempDir scratch_;
    std::string errFile_;
    pid_t pid_ = -1;
    bool done_ = false;
    ProcessResult result_;
};

inline ProcessResult runTool(const std::string& tool, const std::vector<std::string>& args,
                             const std::vector<std::string>& env = {}) {
    return ToolProcess(tool, args, env).wait();
}

}  // namespace qn::test
