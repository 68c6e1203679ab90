#include "vt/transport/auto_sign_on.h"

#include <algorithm>

#include "vt/transport/vt_transport.h"

namespace qn::vt {

namespace {

bool rowStartsWith(std::span<const std::uint8_t> row, std::string_view prompt) {
    return prompt.size() <= row.size() &&
           std::equal(prompt.begin(), prompt.end(), row.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

void sendLine(VtHost& out, std::string_view text) {
    if (!text.empty())
        out.sendBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    static constexpr std::uint8_t kCrLf[] = {'\r', '\n'};
    out.sendBytes(kCrLf, sizeof kCrLf);
}

}  // namespace

void AutoSignOn::check(const VtSettings& settings, const VtTerminal& terminal, VtHost& out) {
    if (settings.autoSignOn == 0) return;
    const auto row = terminal.rowText(terminal.cursorRow());
    const std::string_view loginName = reader::fixedText(settings.loginName);
    if (!loginSent_ && !loginName.empty() &&
        rowStartsWith(row, reader::fixedText(settings.loginPrompt))) {
        sendLine(out, loginName);
        loginSent_ = true;
    }
    if (!passwordSent_ && rowStartsWith(row, reader::fixedText(settings.passwordPrompt))) {
        sendLine(out, reader::fixedText(settings.loginPassword));
        passwordSent_ = true;
    }
}

}  // namespace qn::vt
