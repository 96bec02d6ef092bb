// The socket session over Windows Sockets, end to end on loopback: a small
// server of the test's own (the scripted test server is POSIX-only) plays one
// connection while the session talks to it through its public interface.

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/error_texts.h"
#include "net/session.h"
#include "net/tls.h"

namespace vlt::net {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kGreeting =
    "220-mail.example.test ESMTP loopback server\r\n"
    "220 mail.example.test ready\r\n";

// What the server does with each line the client sends.
enum class Answer { Reply, Silence, Close };

// One connection on 127.0.0.1: sends the greeting, then answers every line as
// told, and records everything the client sent. It stops by itself after
// 10 seconds; the destructor stops it at once.
class LoopbackServer {
  public:
    LoopbackServer(std::string greeting, Answer answer, std::string reply)
        : m_greeting(std::move(greeting)), m_answer(answer), m_reply(std::move(reply)) {
        WSADATA data{};
        EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(m_listener, 1), 0);
        EXPECT_EQ(::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~LoopbackServer() {
        m_stop = true;
        m_thread.join();
        ::closesocket(m_listener);
        WSACleanup();
    }

    std::string port() const { return std::to_string(m_port); }

    std::string received() {
        const std::lock_guard lock(m_mutex);
        return m_received;
    }

  private:
    // Waits until `socket` is readable; false once the server should stop.
    bool readable(SOCKET socket, std::chrono::steady_clock::time_point end) const {
        while (!m_stop && std::chrono::steady_clock::now() < end) {
            fd_set set{};
            set.fd_count = 1;
            set.fd_array[0] = socket;
            timeval tv{0, 50000};
            if (::select(0, &set, nullptr, nullptr, &tv) != 0) return true;
        }
        return false;
    }

    void serve() {
        const auto end = std::chrono::steady_clock::now() + 10s;
        if (!readable(m_listener, end)) return;
        const SOCKET client = ::accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        ::send(client, m_greeting.data(), static_cast<int>(m_greeting.size()), 0);
        std::string pending;
        char buffer[4096];
        while (readable(client, end)) {
            const int n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(n));
            {
                const std::lock_guard lock(m_mutex);
                m_received.append(buffer, static_cast<std::size_t>(n));
            }
            bool closed = false;
            for (auto end_of_line = pending.find("\r\n"); end_of_line != std::string::npos;
                 end_of_line = pending.find("\r\n")) {
                pending.erase(0, end_of_line + 2);
                if (m_answer == Answer::Close) closed = true;
                if (m_answer == Answer::Reply) {
                    ::send(client, m_reply.data(), static_cast<int>(m_reply.size()), 0);
                }
            }
            if (closed) break;
        }
        ::closesocket(client);
    }

    std::string m_greeting;
    Answer m_answer;
    std::string m_reply;
    SOCKET m_listener = INVALID_SOCKET;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

enum class Step { Command, Upgrade };

struct DialogueCase {
    const char* name;
    std::string greeting;
    Answer answer;
    std::string reply;
    TlsMode tls;
    Step step;
    std::optional<ErrorKind> failure;  // nullopt: every step succeeds
    std::string report;                // a part of the reports, in order, on failure
    std::string received;              // everything the server got
};

OpenOptions options_for(TlsMode tls) {
    OpenOptions options;
    options.tls = tls;
    options.limits.reply_wait = 1s;
    options.limits.socket_timeout = 2s;
    return options;
}

std::string joined(const std::vector<std::string>& reports) {
    std::string text;
    for (const auto& r : reports) text += r + "\n";
    return text;
}

class WinsockDialogue : public ::testing::TestWithParam<DialogueCase> {};

TEST_P(WinsockDialogue, TalksToTheServer) {
    const auto& c = GetParam();
    LoopbackServer server(c.greeting, c.answer, c.reply);
    const auto started = std::chrono::steady_clock::now();
    Status outcome;
    auto session = SocketSession::open("127.0.0.1", server.port(), options_for(c.tls));
    if (!session.ok()) {
        outcome = std::move(session).error();
    } else {
        EXPECT_EQ(session->greeting().code, 220);
        EXPECT_EQ(session->greeting().lines.size(), 2u);
        outcome = c.step == Step::Upgrade
                      ? session->upgrade(CommandId::StartTls, "STARTTLS")
                      : status_of(session->command(CommandId::Ehlo, "EHLO client.test"));
        session->close();
    }
    // Every wait is bounded by the limits: no case takes much longer.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    if (c.failure) {
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().kind, *c.failure);
        EXPECT_NE(joined(outcome.error().reports).find(c.report), std::string::npos)
            << joined(outcome.error().reports);
    } else {
        EXPECT_TRUE(outcome.ok()) << joined(outcome.error().reports);
    }
    // The server has seen all there is once the connection is closed.
    for (int i = 0; i < 50 && server.received().size() < c.received.size(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    const std::string received = server.received();
    if (c.tls == TlsMode::None) {
        EXPECT_EQ(received, c.received);
    } else {
        // After the plain text, only TLS handshake records go out.
        ASSERT_TRUE(received.starts_with(c.received)) << received;
        const std::string rest = received.substr(c.received.size());
        EXPECT_TRUE(rest.starts_with("\x16\x03")) << rest.size();
    }
}

// A plain server answers the handshake with text, or not at all.
const std::string kTlsRefusal = std::string(kTlsFailurePrefix);

INSTANTIATE_TEST_SUITE_P(
    Dialogues, WinsockDialogue,
    ::testing::Values(DialogueCase{"GreetingThenCommand", std::string(kGreeting), Answer::Reply,
                                   "250-mail.example.test\r\n250 SIZE 1000\r\n", TlsMode::None,
                                   Step::Command, std::nullopt, "", "EHLO client.test\r\n"},
                      DialogueCase{"RefusedCommand", std::string(kGreeting), Answer::Reply,
                                   "554 no\r\n", TlsMode::None, Step::Command, ErrorKind::Rejected,
                                   "554 no", "EHLO client.test\r\n"},
                      DialogueCase{"SilentServerTimesOut", std::string(kGreeting), Answer::Silence,
                                   "", TlsMode::None, Step::Command, ErrorKind::Protocol,
                                   "タイムアウトしました。1(秒)", "EHLO client.test\r\n"},
                      DialogueCase{"ServerClosesBeforeTheReply", std::string(kGreeting),
                                   Answer::Close, "", TlsMode::None, Step::Command,
                                   ErrorKind::Protocol, "(recv) error: 0", "EHLO client.test\r\n"},
                      // A server that does not speak TLS gets nothing but the handshake.
                      DialogueCase{"ImplicitTlsToAPlainServerFails", std::string(kGreeting),
                                   Answer::Reply, "", TlsMode::Implicit, Step::Command,
                                   ErrorKind::Tls, kTlsRefusal, ""},
                      DialogueCase{"StartTlsToAPlainServerFails", std::string(kGreeting),
                                   Answer::Reply, "220 go ahead\r\n", TlsMode::StartTls,
                                   Step::Upgrade, ErrorKind::Tls, kTlsRefusal, "STARTTLS\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(WinsockOpen, ARefusedConnectionCarriesItsWinsockText) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    // A bound socket that does not listen refuses connections.
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const auto started = std::chrono::steady_clock::now();
    auto session = SocketSession::open("127.0.0.1", std::to_string(ntohs(address.sin_port)),
                                       options_for(TlsMode::None));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    ::closesocket(s);
    WSACleanup();
    ASSERT_FALSE(session.ok());
    EXPECT_EQ(session.error().kind, ErrorKind::Connect);
    EXPECT_EQ(session.error().reports,
              std::vector<std::string>{"WinSockManager: " + winsock_error_text(10061)});
}

}  // namespace
}  // namespace vlt::net
