#pragma once
// The automatic sign-on of one connection: after each received chunk the cursor's row is
// compared with the login and password prompts, each over the prompt's length; each answer is
// given once per connection. An empty prompt matches every row.

#include "vt/emulator/vt_host.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

class VtTerminal;

class AutoSignOn {
  public:
    // Call with the session lock held; the answers go to out (deferred while locked).
    void check(const VtSettings& settings, const VtTerminal& terminal, VtHost& out);

  private:
    bool loginSent_ = false;
    bool passwordSent_ = false;
};

}  // namespace qn::vt
