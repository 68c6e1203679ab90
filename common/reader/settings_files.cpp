#include "common/reader/settings_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

namespace qn::reader {

namespace {

constexpr mode_t kOwnerOnly = 0600;
constexpr mode_t kPointerFileMode = 0644;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing can report a write that did not reach the file.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Only regular files count as documents: a folder or a device cannot be opened as one.
FileDescriptor openForReading(const std::string& path, std::uintmax_t* size = nullptr) {
    if (path.empty()) return FileDescriptor(-1);
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return fd;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileDescriptor(-1);
    if (size != nullptr) *size = static_cast<std::uintmax_t>(info.st_size);
    return fd;
}

std::size_t readUpTo(int fd, std::uint8_t* buffer, std::size_t limit) {
    std::size_t total = 0;
    while (total < limit) {
        ssize_t n = ::read(fd, buffer + total, limit - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Question askWithMessageBox(platform::MessageBoxes& messages) {
    return [&messages](std::string_view text) {
        return messages.show(text, {}, platform::MbButtons::YesNo) == platform::MbResult::Yes;
    };
}

std::string saveChangeQuestion(std::string_view path) {
    return "Save change to\r" + std::string(path) + " ?";
}

DocumentPaths documentPaths(const std::filesystem::path& settingsDir, std::string_view program,
                            std::string_view extension) {
    // Joined as a path joins a relative name (no separator after an empty folder or one that
    // ends in one), in two strings: every document builds these when it is made.
    const std::string& dir = settingsDir.native();
    const bool separator = !dir.empty() && dir.back() != '/';
    std::string defaults;
    defaults.reserve(dir.size() + 1 + program.size() + 4 +
                     std::max<std::size_t>(extension.size(), 3));
    defaults.append(dir).append(separator ? "/" : "").append(program).append("_v3.");
    std::string pointer = defaults;
    pointer.append("ini");
    defaults.append(extension);
    return {std::move(defaults), std::move(pointer)};
}

std::string completeExtension(std::string path, std::string_view extension) {
    if (extension.empty()) return path;
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    std::string_view chosen = std::string_view(path).substr(dot + 1);
    if (chosen == extension.substr(0, extension.size() - 1)) path += extension.back();
    return path;
}

std::optional<std::string> readPointerFile(const std::string& path) {
    FileDescriptor fd = openForReading(path);
    if (!fd.valid()) return std::nullopt;
    std::uint8_t buffer[kPointerFileLimit];
    std::size_t n = readUpTo(fd.get(), buffer, sizeof buffer);
    std::string text(reinterpret_cast<const char*>(buffer), n);
    // The path is single-byte text without terminator; a stray zero still ends it, and a line
    // end left by a text editor is not part of it.
    text.resize(std::min(text.size(), text.find('\0')));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool writePointerFile(const std::string& path, std::string_view text) {
    if (path.empty()) return false;
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK,
                             kPointerFileMode));
    if (!fd.valid()) return false;
    bool written =
        writeAll(fd.get(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return fd.close() && written;
}

std::optional<FilePrefix> readFilePrefix(const std::string& path, std::span<std::uint8_t> record) {
    std::uintmax_t size = 0;
    FileDescriptor fd = openForReading(path, &size);
    if (!fd.valid()) return std::nullopt;
    return FilePrefix{readUpTo(fd.get(), record.data(), record.size()), size};
}

std::optional<std::size_t> readRecordPrefix(const std::string& path,
                                            std::span<std::uint8_t> record) {
    const std::optional<FilePrefix> prefix = readFilePrefix(path, record);
    if (!prefix) return std::nullopt;
    return prefix->count;
}

bool writeRecord(const std::string& path, std::span<const std::uint8_t> record, WriteMode mode) {
    if (path.empty()) return false;
    int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (mode == WriteMode::Replace ? O_TRUNC : 0);
    FileDescriptor fd(::open(path.c_str(), flags, kOwnerOnly));
    if (!fd.valid()) return false;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    bool written = writeAll(fd.get(), record.data(), record.size());
    return fd.close() && written;
}

void prepareSettingsDir(const std::filesystem::path& settingsDir, const std::string& target) {
    std::filesystem::path parent = std::filesystem::path(target).parent_path();
    if (parent.empty() || parent.lexically_normal() != settingsDir.lexically_normal()) return;
    std::error_code ec;
    if (std::filesystem::exists(settingsDir, ec)) return;
    if (std::filesystem::create_directories(settingsDir, ec)) {
        std::filesystem::permissions(settingsDir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
    }
}

}  // namespace qn::reader
