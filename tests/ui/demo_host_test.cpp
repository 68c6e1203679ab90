// The demo host as a plain client sees it: telnet negotiation, sign-on, the picking dialogue with
// the trigger switched around the scan prompt, bounded input lines and the end of a session.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tools/quillnet-demohost/demo_host.h"

namespace qn::tools {
namespace {

using namespace std::chrono_literals;

class Client {
  public:
    explicit Client(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        timeval timeout{0, 200000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // Everything until text has arrived (or five seconds passed).
    std::string until(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (received_.find(text) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            char buffer[512];
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0) break;
            if (n > 0) received_.append(buffer, static_cast<std::size_t>(n));
        }
        std::string all;
        all.swap(received_);
        return all;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    std::string received_;
};

struct RunningHost {
    RunningHost() : host({0, true}), thread([this] { host.run(); }) {}
    ~RunningHost() {
        host.stop();
        thread.join();
    }
    DemoHost host;
    std::thread thread;
};

TEST(DemoHost, NegotiatesSignsOnAndServesThePickingDialogue) {
    RunningHost running;
    ASSERT_TRUE(running.host.listening());
    Client client(running.host.port());
    ASSERT_TRUE(client.connected());

    std::string got = client.until("login: ");
    const std::string offers = "\xff\xfd\x18\xff\xfd\x1f\xff\xfb\x01\xff\xfb\x03\xff\xfd\x03";
    EXPECT_EQ(got.substr(0, offers.size()), offers) << "TTYPE, NAWS, ECHO, SGA";
    // Agreeing to tell the terminal type brings the request for it.
    client.send("\xff\xfb\x18");
    got = client.until("\xff\xf0");
    EXPECT_NE(got.find("\xff\xfa\x18\x01\xff\xf0"), std::string::npos);
    client.send(std::string("\xff\xfa\x18\x00vt100\xff\xf0", 11));

    // Telnet commands in the middle of a line are not part of it.
    client.send(
        "gu\xff\xfb\x1f"
        "est\r\n");
    got = client.until("Password: ");
    EXPECT_NE(got.find("guest"), std::string::npos) << "the name is echoed";
    client.send("secret\r");
    got = client.until("\033[99h");
    EXPECT_EQ(got.find("secret"), std::string::npos) << "the password is not echoed";
    EXPECT_NE(got.find("\033[7m QUILLNET WAREHOUSE"), std::string::npos);
    EXPECT_NE(got.find("User: guest"), std::string::npos);
    EXPECT_NE(got.find("Scan item: "), std::string::npos);

    // A scan line: the trigger goes off, the item is answered, the quantity asked for.
    client.send("4711\r\n");
    got = client.until("Quantity: ");
    EXPECT_EQ(got.find("\033[99l"), 4u) << "trigger off right after the echoed scan";
    EXPECT_NE(got.find("Item 4711 OK"), std::string::npos);
    client.send("12\r");
    got = client.until("\033[99h");
    EXPECT_NE(got.find("Picked 12 x 4711"), std::string::npos);
    EXPECT_NE(got.find("Picked 1 line(s)"), std::string::npos);

    // An overlong line is cut at 40 characters; "exit" ends the session.
    client.send(std::string(100, '9') + "\r");
    got = client.until("Quantity: ");
    EXPECT_NE(got.find("Item " + std::string(40, '9') + " OK"), std::string::npos);
    EXPECT_EQ(got.find(std::string(41, '9')), std::string::npos);
    client.send("1\rexit\r");
    got = client.until("Bye.");
    EXPECT_NE(got.find("Bye."), std::string::npos);
}

}  // namespace
}  // namespace qn::tools
