// The session tool's own readers of untrusted text: the long-lived mode's request lines (any
// bytes, any JSON), the device-name pattern that becomes a format, and the masking walk over a
// send against a field table the host chose.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tools/quillnet-session/field_view.h"
#include "tools/quillnet-session/session_extras.h"
#include "tools/quillnet-session/session_tool.h"

namespace {

constexpr qn::tools::StepSet kAll{
    qn::tools::StepKind::Key,    qn::tools::StepKind::Char,   qn::tools::StepKind::Wait,
    qn::tools::StepKind::Expect, qn::tools::StepKind::Field,  qn::tools::StepKind::Dump,
    qn::tools::StepKind::Sleep,  qn::tools::StepKind::Cursor, qn::tools::StepKind::Disconnect};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (selector % 3) {
        case 0: {
            // Requests; a dump answers with the rest of the request as its "printed" text.
            std::istringstream in(text);
            std::ostringstream out;
            qn::tools::StepFailure failure{"failed " + text.substr(0, 16), text.substr(0, 80), 4};
            const qn::tools::ServeHooks hooks{
                [&](const qn::tools::Step& step, std::string_view source, std::string& printed) {
                    printed = std::string(source);
                    return step.kind == qn::tools::StepKind::Expect ? 4 : 0;
                },
                [&]() -> const qn::tools::StepFailure& { return failure; }, [] { return true; }};
            qn::tools::serveSteps(in, out, kAll, hooks);
            break;
        }
        case 1: {
            const auto name = qn::tools::deviceNameOf(text, selector);
            if (name && name->size() > 20) __builtin_trap();
            break;
        }
        default: {
            // A field table from the first bytes, then the send.
            std::vector<qn::tn::FieldEntry> fields;
            std::size_t at = 0;
            const std::size_t count = text.empty() ? 0 : static_cast<std::uint8_t>(text[0]) % 8;
            at = 1;
            for (std::size_t i = 0; i < count && at + 4 <= text.size(); ++i, at += 4) {
                qn::tn::FieldEntry f;
                f.number = static_cast<std::uint8_t>(i + 1);
                f.row = static_cast<std::uint8_t>(text[at]) % 27;
                f.column = static_cast<std::uint8_t>(text[at + 1]) % 80;
                f.length = static_cast<std::int8_t>(text[at + 2]) * 16;
                f.attribute = static_cast<std::uint8_t>(text[at + 3]) & 0x07;
                fields.push_back(f);
            }
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
            const auto masked =
                qn::tools::maskSend(std::span(bytes + std::min(at, text.size()),
                                              text.size() - std::min(at, text.size())),
                                    fields);
            (void)masked;
            break;
        }
    }
    return 0;
}
