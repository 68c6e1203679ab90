// Settings documents of any size and content, as the programs and the settings tool meet them:
// loaded by each program's document, dumped, and changed field by field with name=value
// assignments. Nothing reads outside the record or the file; a "set" that is refused leaves the
// file as it was, and one that succeeds keeps the file's length (a longer file keeps its tail).
//
// Input: byte 0 picks the program (bit 0), when to dump (bit 1) and, for the 5250 program, its
// load at start or File > Open (bit 2); bytes 1-2 the length of the assignment text, which
// follows; the rest is the file. Assignment lines are name=value; a line whose first byte is
// below 0x20 takes the name of the field that byte numbers.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "tests/support/fake_services.h"
#include "tn5250/settings/tn_document.h"
#include "tools/quillnet-settings/settings_dump.h"
#include "tools/quillnet-settings/settings_tool.h"
#include "vt/settings/vt_document.h"

namespace {

using namespace qn;

// The handheld's services with no reader library: loading only copies the record.
struct Platform {
    test::FakeServices fakes{"", "/nonexistent"};
    platform::RecordingMessageBoxes& messages = fakes.messages;
    reader::ReaderLibrary reader{fakes.services};
    // In memory where the system offers it: every run writes and reads the file.
    std::filesystem::path dir =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("qn-settings-fuzz-" + std::to_string(::getpid()));
    std::string file = (dir / "document").string();
    Platform() { std::filesystem::create_directories(dir); }
    ~Platform() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

// The file stays open across runs and is rewritten in place (the programs and the tool open
// it by name and write it in place too): plain system calls, no stream buffers. Only this
// harness and the tool's in-place sets change it, and a set keeps its length (which read()
// checks), so the length is tracked here rather than asked for.
class TestFile {
  public:
    explicit TestFile(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
        if (fd_ < 0) std::abort();
    }
    ~TestFile() { ::close(fd_); }
    void write(const std::uint8_t* data, std::size_t size) {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, off_t(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        // Cut only what a longer file left: truncating to nothing freed its pages every run.
        if (size_ > size && ::ftruncate(fd_, off_t(size)) != 0) std::abort();
        size_ = size;
    }
    // The whole file, which must still have the length written: one byte more is asked for,
    // which a longer file fills (a regular file reads short only at its end).
    const std::vector<std::uint8_t>& read() {
        bytes_.resize(size_ + 1);
        std::size_t done = 0;
        while (done < bytes_.size()) {
            const ssize_t n = ::pread(fd_, bytes_.data() + done, bytes_.size() - done, off_t(done));
            if (n < 0) std::abort();
            done += static_cast<std::size_t>(n);
            if (n == 0 || done == size_) break;
        }
        bytes_.resize(done);
        return bytes_;
    }

  private:
    int fd_;
    std::size_t size_ = 0;
    std::vector<std::uint8_t> bytes_;
};

// What the tool prints goes nowhere: only its status and the file are checked.
class DiscardBuffer final : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Platform p;
    static TestFile stored(p.file);
    // One document per program, as each program keeps one for its life and loads file after
    // file into it; every run starts from a blank session. (A document keeps only its paths,
    // and the path of the last File > Open, which nothing here reads.)
    static vt::VtSession vtSession;
    static tn::TnSessionState tnState;
    static vt::VtDocument vtDocument(vtSession, p.reader, p.messages, p.dir);
    static tn::TnDocument tnDocument(tnState, p.reader, p.messages, p.dir);
    if (size < 3) return 0;
    const bool vtProgram = (data[0] & 1) == 0;
    const std::size_t textLength = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
    const std::string_view text(reinterpret_cast<const char*>(data + 3), textLength);
    const std::uint8_t* file = data + 3 + textLength;
    const std::size_t fileSize = size - 3 - textLength;
    stored.write(file, fileSize);

    // The program's own load: the first bytes of the file, however long or short it is.
    if (vtProgram) {
        vtSession = {};
        require(vtDocument.loadSettings(p.file));
    } else {
        // Each reads the file on its own: one of them per run.
        tnState = {};
        if ((data[0] & 4) == 0) {
            require(tnDocument.loadSettings(p.file));
        } else {
            (void)tnDocument.openDocument(p.file);
        }
    }

    const auto fields = vtProgram ? vt::vtSettingsFields() : tn::tnSessionFields();
    static DiscardBuffer discard;
    static std::ostream out(&discard);
    static std::ostream& err = out;
    // One tool for the fuzzer's life: its command line is made once. A dump takes no input but
    // the file, so it goes straight to the tool's dump; the assignments go through the command
    // line, where an argument may also read as an option.
    static tools::SettingsTool tool(p.dir);
    static const tools::DocumentKind kinds[2] = {*tools::documentKind("vt"),
                                                 *tools::documentKind("5250")};
    const tools::DocumentKind& kind = kinds[vtProgram ? 0 : 1];
    // A dump reads every field: one per run, of the file before or after the change.
    const bool dumpBefore = (data[0] & 2) != 0;
    if (dumpBefore) tools::dumpDocument(kind, p.file, out, err);

    // Assignments beyond the first three arguments go back to the spares after each run.
    static std::vector<std::string> args{"", "set", p.file};
    static std::vector<std::string> spare;
    for (; args.size() > 3; args.pop_back())
        spare.push_back(std::move(args.back()));
    args[0] = kind.name;
    for (std::size_t at = 0; at < text.size() && args.size() < 11;) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (spare.empty()) spare.emplace_back();
        args.push_back(std::move(spare.back()));
        spare.pop_back();
        std::string& arg = args.back();
        arg.clear();
        if (!line.empty() && static_cast<std::uint8_t>(line[0]) < 0x20) {
            arg = fields[static_cast<std::uint8_t>(line[0]) % fields.size()].name;
            line.remove_prefix(1);
        }
        arg += line;
    }
    const int status = tool.run(args, out, err);
    const std::vector<std::uint8_t>& after = stored.read();
    if (status != tools::kExitOk) {
        require(std::equal(after.begin(), after.end(), file, file + fileSize) &&
                after.size() == fileSize);
    } else {
        require(after.size() == fileSize);
        if (!dumpBefore) tools::dumpDocument(kind, p.file, out, err);
    }
    p.messages.clear();
    return 0;
}
