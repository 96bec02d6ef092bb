// The POP-before-SMTP login over Windows Sockets, end to end on loopback: a
// small server of the test's own (the scripted test server is POSIX-only)
// answers each command with the next reply of its list, and the login runs
// through its public interface, transcript included.

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"
#include "pop3/session.h"
#include "support/files.h"

namespace vlt::pop3 {
namespace {

using namespace std::chrono_literals;
using Reports = std::vector<std::string>;

// One connection on 127.0.0.1: the greeting, then one reply per line received
// while replies last; records what the client sent. It stops by itself after
// 10 seconds, and at once when it goes.
class PopServer {
  public:
    explicit PopServer(std::vector<std::string> replies) : m_replies(std::move(replies)) {
        WSADATA data{};
        EXPECT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
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
    ~PopServer() {
        m_stop = true;
        m_thread.join();
        ::closesocket(m_listener);
        ::WSACleanup();
    }
    PopServer(const PopServer&) = delete;
    PopServer& operator=(const PopServer&) = delete;

    std::string port() const { return std::to_string(m_port); }
    std::string received() {
        const std::lock_guard lock(m_mutex);
        return m_received;
    }

  private:
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

    void send_text(SOCKET client, const std::string& text) const {
        ::send(client, text.data(), static_cast<int>(text.size()), 0);
    }

    void serve() {
        const auto end = std::chrono::steady_clock::now() + 10s;
        if (!readable(m_listener, end)) return;
        const SOCKET client = ::accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        send_text(client, "+OK POP3 loopback server ready\r\n");
        std::size_t next = 0;
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
            for (auto eol = pending.find("\r\n"); eol != std::string::npos;
                 eol = pending.find("\r\n")) {
                pending.erase(0, eol + 2);
                if (next < m_replies.size()) send_text(client, m_replies[next++]);
            }
        }
        ::closesocket(client);
    }

    std::vector<std::string> m_replies;
    SOCKET m_listener = INVALID_SOCKET;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

Reports refused(const std::string& name, const std::string& quoted) {
    return {"WinSockCmdSend: " + name + "：サーバにコマンドを拒否されました。",
            "WinSockCmdSend:  (" + quoted + ")"};
}

struct LoginCase {
    const char* name;
    std::vector<std::string> replies;  // after the greeting, one per command
    bool ok;
    std::string received;
    Reports reports;     // the error's, or the warnings on success
    std::size_t waits;   // 5-second waits before a second PASS
    std::string in_log;  // a part of the protocol log, if one is written
};

class WinsockLogin : public ::testing::TestWithParam<LoginCase> {};

TEST_P(WinsockLogin, Dialogue) {
    const auto& c = GetParam();
    test::TempDir dir;
    const LogWriter log(test::utf8_string(dir.path()), "vellumtide");
    PopServer server(c.replies);
    PopRequest r;
    r.server = "127.0.0.1";
    r.port = server.port();
    r.user = "user";
    r.password = "pa55-secret";
    r.protocol_logging = true;
    r.limits.reply_wait = 2s;
    r.limits.socket_timeout = 2s;
    std::vector<std::chrono::milliseconds> slept;
    r.sleep = [&slept](std::chrono::milliseconds ms) { slept.push_back(ms); };
    const auto login = pop_session(r, log);
    EXPECT_EQ(login.ok(), c.ok);
    EXPECT_EQ(login.ok() ? login->warnings : login.error().reports, c.reports);
    EXPECT_EQ(slept, std::vector<std::chrono::milliseconds>(c.waits, 5000ms));
    for (int i = 0; i < 50 && server.received().size() < c.received.size(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(server.received(), c.received);
    const std::string text = test::read_file(log.path_of("DovekiteProtocol", 1));
    EXPECT_NE(text.find(c.in_log), std::string::npos) << text;
    EXPECT_EQ(text.find("pa55-secret"), std::string::npos);
}

const std::string kWhole = "USER user\r\nPASS pa55-secret\r\nSTAT\r\nQUIT\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, WinsockLogin,
    ::testing::Values(LoginCase{"WholeLogin",
                                {"+OK\r\n", "+OK logged in\r\n", "+OK 2 320\r\n", "+OK bye\r\n"},
                                true,
                                kWhole,
                                {},
                                0,
                                ""},
                      LoginCase{"WrongPasswordIsNotRetried",
                                {"+OK\r\n", "-ERR [AUTH] Authentication failed.\r\n"},
                                false,
                                "USER user\r\nPASS pa55-secret\r\n",
                                refused("PASS コマンド", "-ERR [AUTH] Authentication failed.\r\n"),
                                0,
                                ">> PASS ***\r\n-ERR [AUTH] Authentication failed.\r\n"},
                      LoginCase{
                          "LockBusyRetriedOnce",
                          {"+OK\r\n", "-ERR [IN-USE] lock busy\r\n", "+OK in\r\n", "+OK 1 10\r\n",
                           "+OK bye\r\n"},
                          true,
                          "USER user\r\nPASS pa55-secret\r\nPASS pa55-secret\r\nSTAT\r\nQUIT\r\n",
                          refused("PASS コマンド", "-ERR [IN-USE] lock busy\r\n"),
                          1,
                          ">> USER user\r\n+OK\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::pop3
