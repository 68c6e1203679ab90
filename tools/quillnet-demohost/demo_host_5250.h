#pragma once
// The 5250 side of the demo host: one display station session on an accepted socket, from the
// option negotiation to the end of the session (F3, sign-off, or the client closing).

#include <cstdint>
#include <functional>
#include <vector>

namespace qn::tools {

using RecordObserver = std::function<void(const std::vector<std::uint8_t>&)>;

// observer, when set, sees every inbound record.
void serveTn5250Session(int fd, const RecordObserver& observer);

}  // namespace qn::tools
