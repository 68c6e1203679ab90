#pragma once
// Telnet byte values and the answers both programs send. Each answer is one 3-byte send.

#include <cstdint>
#include <span>

namespace qn::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kEor = 239;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptEcho = 1;
inline constexpr std::uint8_t kOptSga = 3;
inline constexpr std::uint8_t kOptTerminalType = 24;
inline constexpr std::uint8_t kOptEndOfRecord = 25;
inline constexpr std::uint8_t kOptNaws = 31;
inline constexpr std::uint8_t kOptNewEnviron = 39;

// Code of the last option-table entry, which matches every option.
inline constexpr std::uint32_t kAnyOption = 256;

// Where answers go: one call is one send on the session socket.
class ByteSender {
  public:
    virtual ~ByteSender() = default;
    virtual void sendBytes(std::span<const std::uint8_t> bytes) = 0;
};

// IAC, the answer (DO→WILL, DONT→WONT, WILL→DO, WONT→DONT), the option.
void agree(ByteSender& out, std::uint8_t verb, std::uint8_t option);
// IAC, then DO→WONT or WILL→DONT, the option. Only for DO and WILL.
void refuse(ByteSender& out, std::uint8_t verb, std::uint8_t option);
// IAC, verb, option unchanged.
void sendCommand(ByteSender& out, std::uint8_t verb, std::uint8_t option);

// The window-size report: IAC SB NAWS 0 columns 0 rows IAC SE.
void sendWindowSize(ByteSender& out, std::uint8_t columns, std::uint8_t rows);

// An ordered option table: the first entry whose code equals the option wins, the last entry
// (code kAnyOption) matches every option.
template <class Entry, std::size_t N>
constexpr const Entry& findOption(const Entry (&table)[N], std::uint8_t option) {
    for (const Entry& entry : table) {
        if (entry.code == option || entry.code == kAnyOption) return entry;
    }
    return table[N - 1];
}

}  // namespace qn::telnet
