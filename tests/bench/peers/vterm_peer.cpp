// libvterm with its screen layer, 80 × 24, fed the stream as 8-bit bytes.

#include <vterm.h>

#include "tests/bench/peers/peer_driver.h"

int main(int argc, char** argv) {
    VTerm* vt = vterm_new(24, 80);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    const int rc = qn::vt::bench::runPeer(
        argc, argv, "qn-peer-vterm",
        [vt](const char* data, std::size_t length) { vterm_input_write(vt, data, length); });
    vterm_free(vt);
    return rc;
}
