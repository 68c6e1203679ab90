#pragma once
// Option negotiations that both programs answer alike: suppress-go-ahead and the window size.

#include <cstdint>

#include "common/telnet/telnet.h"

namespace qn::telnet {

// Suppress-go-ahead. The host's WILL agrees to it and is answered DO SGA, WILL SGA, DO ECHO
// (every time); its WONT withdraws an agreement with DONT SGA, WONT SGA; DO is answered DO SGA
// only while not agreed, DONT is answered DONT SGA only while agreed. What agreeing means for
// echo is each program's own rule, so the answer reports what the host's verb changed.
class SgaNegotiation {
  public:
    enum class Change { None, Agreed, Withdrawn };

    explicit SgaNegotiation(bool agreed) : agreed_(agreed) {}

    bool agreed() const { return agreed_; }
    void setAgreed(bool agreed) { agreed_ = agreed; }

    Change answer(ByteSender& out, std::uint8_t verb, std::uint8_t option);

  private:
    bool agreed_;
};

// NAWS: the host's WILL is answered DONT NAWS; its DO is answered WILL NAWS and then the
// window-size report, two sends. WONT and DONT get no answer.
void answerWindowSize(ByteSender& out, std::uint8_t verb, std::uint8_t option, std::uint8_t columns,
                      std::uint8_t rows);

}  // namespace qn::telnet
