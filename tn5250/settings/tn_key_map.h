#pragma once
// The 5250 session's key map: the 47 key functions a key can be given, the key slots with
// their virtual keys and built-in functions, and the default map a session without a settings
// file gets when the settings sheet first opens.

#include <array>
#include <cstdint>
#include <string_view>

#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

// Key function codes with a meaning of their own beside the AID keys.
namespace fn {
inline constexpr int kUndefined = 0;
inline constexpr int kPf1 = 1;
inline constexpr int kPf24 = 24;
inline constexpr int kAttn = 25;
inline constexpr int kBegin = 26;
inline constexpr int kDelete = 27;
inline constexpr int kEnd = 28;
inline constexpr int kErase = 29;
inline constexpr int kFieldPlus = 30;
inline constexpr int kFieldMinus = 31;
inline constexpr int kFieldExit = 32;
inline constexpr int kLast = 33;
inline constexpr int kNext = 34;
inline constexpr int kPageDown = 35;
inline constexpr int kPageUp = 36;
inline constexpr int kPrevious = 37;
inline constexpr int kRecord = 38;
inline constexpr int kSysReq = 39;
inline constexpr int kClear = 43;
inline constexpr int kReset = 44;
inline constexpr int kEnter = 45;
inline constexpr int kLeft = 46;
inline constexpr int kBackspace = 47;  // no name: only the Backspace key's built-in function
}  // namespace fn

inline constexpr int kNamedFunctionCount = 47;

// The names of functions 0-46: the items of "Select Object Key" and the texts of the mapping
// page.
extern const std::array<std::string_view, kNamedFunctionCount> kTnFunctionNames;

struct TnKeySlot {
    int slot;
    std::string_view pageLabel;    // empty: no control on the mapping page
    std::string_view selectLabel;  // in "Select Object Key"
    int virtualKey;
    int builtinFunction;  // 0: the key's own action (cursor movement, insert mode) or none
};

inline constexpr int kTnKeySlotCount = 35;
extern const std::array<TnKeySlot, kTnKeySlotCount> kTnKeySlotTable;

// The slot entry of a virtual key, nullptr for a key without a slot.
const TnKeySlot* findKeySlot(int virtualKey);

// Slot k's function byte (offset 830 + 3k of the record); k from 0 to 51.
std::uint8_t& slotFunction(TnSession& session, int slot);
std::uint8_t slotFunction(const TnSession& session, int slot);

// The default key map: the entries of slots 0-50 cleared, slots 1-20 given PF1-PF20.
void installDefaultKeyMap(TnSession& session);

}  // namespace qn::tn
