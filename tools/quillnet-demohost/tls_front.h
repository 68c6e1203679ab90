#pragma once
// TLS in front of a demo session: the session keeps speaking plain telnet on one end of a
// socket pair while a relay thread carries the bytes to and from the client over TLS.

#include <memory>
#include <string>
#include <thread>

namespace qn::tools {

class TlsFront {
  public:
    // nullptr with the reason in error when the certificate or key cannot be used.
    static std::unique_ptr<TlsFront> create(const std::string& certFile, const std::string& keyFile,
                                            std::string& error);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    // Takes the client's socket and returns the session's end, or -1 (the client is closed).
    // The previous session's relay is joined first.
    int wrap(int clientFd);
    // The same for one of several sessions at a time: the relay runs on `relayThread`, which the
    // caller joins once it has closed the session's end.
    int wrap(int clientFd, std::thread& relayThread);
    // Waits for the relay of the last session to end.
    void join();

  private:
    struct Context;
    explicit TlsFront(std::unique_ptr<Context> context);
    std::unique_ptr<Context> context_;
    std::thread relay_;
};

}  // namespace qn::tools
