// libtsm screen and VTE state machine, 80 × 24; replies are dropped.

#include <libtsm.h>

#include "tests/bench/peers/peer_driver.h"

namespace {
void dropReply(struct tsm_vte*, const char*, size_t, void*) {}
}  // namespace

int main(int argc, char** argv) {
    tsm_screen* screen = nullptr;
    tsm_vte* vte = nullptr;
    if (tsm_screen_new(&screen, nullptr, nullptr) != 0 ||
        tsm_vte_new(&vte, screen, dropReply, nullptr, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "qn-peer-tsm: cannot create the terminal\n");
        return 1;
    }
    tsm_screen_resize(screen, 80, 24);
    const int rc = qn::vt::bench::runPeer(
        argc, argv, "qn-peer-tsm",
        [vte](const char* data, std::size_t length) { tsm_vte_input(vte, data, length); });
    tsm_vte_unref(vte);
    tsm_screen_unref(screen);
    return rc;
}
