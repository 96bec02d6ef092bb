#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "net/error_texts.h"
#include "net/session.h"
#include "net/tls_reasons.h"
#include "support/script_server.h"
#include "support/test_pki.h"

namespace vlt::net {
namespace {

using namespace std::chrono_literals;
using test::Script;
using test::ScriptServer;
using test::ServerOptions;
using test::TlsFiles;
using Reports = std::vector<std::string>;

const std::string kTlsFailed = "TLS 接続を確立できませんでした: ";

class Tls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string why;
        s_pki = test::make_test_pki(&why);
        s_why = why;
        // The session trusts the test CA through the standard variable.
        if (s_pki) ::setenv("SSL_CERT_FILE", s_pki->ca_file.c_str(), 1);
    }
    static void TearDownTestSuite() {
        if (s_pki) test::remove_test_pki(*s_pki);
        s_pki.reset();
    }
    void SetUp() override {
        if (!s_pki) GTEST_SKIP() << "no test certificates: " << s_why;
    }

    static ServerOptions server_options(const TlsFiles& files, bool implicit) {
        ServerOptions options;
        options.tls = files;
        options.implicit_tls = implicit;
        return options;
    }
    static OpenOptions client(LineProtocol protocol, TlsMode mode,
                              std::chrono::milliseconds reply_wait = 5s) {
        OpenOptions options;
        options.protocol = protocol;
        options.tls = mode;
        options.limits.reply_wait = reply_wait;
        options.limits.socket_timeout = 5s;
        return options;
    }

    static inline std::optional<test::TestPki> s_pki;
    static inline std::string s_why;
};

struct ImplicitCase {
    const char* name;
    std::string host;
};

class TlsImplicit : public Tls, public ::testing::WithParamInterface<ImplicitCase> {};

TEST_P(TlsImplicit, HandshakeBeforeTheGreetingThenPlainCommands) {
    ScriptServer server(Script::smtp().expect_reply("EHLO", "250-x\r\n250 SIZE\r\n"),
                        server_options(s_pki->server, true));
    auto session = SocketSession::open(GetParam().host, server.port(),
                                       client(LineProtocol::Smtp, TlsMode::Implicit));
    ASSERT_TRUE(session.ok()) << session.error().reports.back();
    EXPECT_EQ(session->greeting().text(), test::kSmtpGreeting);
    auto reply = session->command(CommandId::Ehlo, "EHLO x");
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->text(), "250-x\r\n250 SIZE\r\n");
    session->close();
    server.wait();
    EXPECT_EQ(server.received(), "EHLO x\r\n");
    EXPECT_TRUE(server.problems().empty());
}

INSTANTIATE_TEST_SUITE_P(Hosts, TlsImplicit,
                         ::testing::Values(ImplicitCase{"ByName", "localhost"},
                                           ImplicitCase{"ByAddress", "127.0.0.1"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Tls, StartTlsUpgradesAnSmtpConversation) {
    ScriptServer server(Script::smtp()
                            .expect_reply("EHLO", "250-x\r\n250 STARTTLS\r\n")
                            .expect_reply("STARTTLS", "220 go ahead\r\n")
                            .start_tls()
                            .expect_reply("EHLO", "250-x\r\n250 AUTH PLAIN\r\n"),
                        server_options(s_pki->server, false));
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Smtp, TlsMode::StartTls));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::Ehlo, "EHLO x").ok());
    ASSERT_TRUE(session->command(CommandId::StartTls, "STARTTLS").ok());
    const Status upgraded = session->start_tls();
    ASSERT_TRUE(upgraded.ok()) << upgraded.error().reports.front();
    auto reply = session->command(CommandId::Ehlo, "EHLO x");
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->text(), "250-x\r\n250 AUTH PLAIN\r\n");
    session->close();
    server.wait();
    EXPECT_EQ(server.received(), "EHLO x\r\nSTARTTLS\r\nEHLO x\r\n");
    EXPECT_TRUE(server.mismatches().empty());
}

TEST_F(Tls, StlsUpgradesAPop3Conversation) {
    ScriptServer server(Script::pop3()
                            .expect_reply("STLS", "+OK begin TLS\r\n")
                            .start_tls()
                            .expect_reply("USER alice", "+OK\r\n"),
                        server_options(s_pki->server, false));
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Pop3, TlsMode::StartTls));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::PopStls, "STLS").ok());
    ASSERT_TRUE(session->start_tls().ok());
    ASSERT_TRUE(session->command(CommandId::PopUser, "USER alice").ok());
}

TEST_F(Tls, DataSentBeforeTheHandshakeIsRefused) {
    // Text sent right behind the 220 would otherwise pass as if it had come
    // over the encrypted channel.
    ScriptServer server(Script::smtp().expect_reply("STARTTLS", "220 go ahead\r\n250 injected\r\n"),
                        server_options(s_pki->server, false));
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Smtp, TlsMode::StartTls));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::StartTls, "STARTTLS").ok());
    // Let the injected line arrive (it came in the same packet in practice).
    std::this_thread::sleep_for(100ms);
    const Status upgraded = session->start_tls();
    ASSERT_FALSE(upgraded.ok());
    EXPECT_EQ(upgraded.error().kind, ErrorKind::Tls);
    EXPECT_EQ(upgraded.error().reports,
              Reports{kTlsFailed + "unexpected data before the handshake"});
}

struct RefusedCase {
    const char* name;
    std::string host;
    bool untrusted;  // self-signed certificate instead of one for another host
    long verify_error;
};

class TlsRefused : public Tls, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(TlsRefused, FailsWithTheVerificationReason) {
    const RefusedCase& c = GetParam();
    const TlsFiles& files = c.untrusted ? s_pki->untrusted : s_pki->other_host;
    for (TlsMode mode : {TlsMode::Implicit, TlsMode::StartTls}) {
        SCOPED_TRACE(mode == TlsMode::Implicit ? "implicit" : "starttls");
        Script script = mode == TlsMode::Implicit
                            ? Script::smtp()
                            : Script::smtp().expect_reply("STARTTLS", "220 go\r\n").start_tls();
        ScriptServer server(script, server_options(files, mode == TlsMode::Implicit));
        auto session = SocketSession::open(c.host, server.port(), client(LineProtocol::Smtp, mode));
        Reports reports;
        ErrorKind kind = ErrorKind::Internal;
        if (mode == TlsMode::Implicit) {
            ASSERT_FALSE(session.ok());
            reports = session.error().reports;
            kind = session.error().kind;
        } else {
            ASSERT_TRUE(session.ok());
            ASSERT_TRUE(session->command(CommandId::StartTls, "STARTTLS").ok());
            const Status upgraded = session->start_tls();
            ASSERT_FALSE(upgraded.ok());
            reports = upgraded.error().reports;
            kind = upgraded.error().kind;
        }
        EXPECT_EQ(kind, ErrorKind::Tls);
        EXPECT_EQ(reports, Reports{kTlsFailed + X509_verify_cert_error_string(c.verify_error)});
    }
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsRefused,
                         ::testing::Values(RefusedCase{"WrongHostName", "localhost", false,
                                                       X509_V_ERR_HOSTNAME_MISMATCH},
                                           RefusedCase{"WrongAddress", "127.0.0.1", false,
                                                       X509_V_ERR_IP_ADDRESS_MISMATCH},
                                           RefusedCase{"Untrusted", "localhost", true,
                                                       X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT}),
                         [](const auto& row) { return std::string(row.param.name); });

// The shared reason table holds OpenSSL's own texts, which the Windows build
// gives for the same faults: they must not drift from the library's.
TEST(TlsReasonTable, HoldsOpenSslsTexts) {
    for (long code :
         {X509_V_ERR_CERT_HAS_EXPIRED, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT,
          X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
          X509_V_ERR_CERT_REVOKED, X509_V_ERR_INVALID_PURPOSE, X509_V_ERR_HOSTNAME_MISMATCH}) {
        const TlsCause cause = tls_cause_of_x509_error(code);
        ASSERT_NE(cause, TlsCause::Other) << code;
        EXPECT_EQ(std::string(tls_cause_text(cause)), X509_verify_cert_error_string(code));
    }
}

TEST_F(Tls, APlainServerFailsTheImplicitHandshake) {
    ScriptServer server(Script::smtp());
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Smtp, TlsMode::Implicit));
    ASSERT_FALSE(session.ok());
    EXPECT_EQ(session.error().kind, ErrorKind::Tls);
    ASSERT_EQ(session.error().reports.size(), 1u);
    EXPECT_EQ(session.error().reports[0].rfind(kTlsFailed, 0), 0u);
    EXPECT_GT(session.error().reports[0].size(), kTlsFailed.size());
}

TEST_F(Tls, TheReplyWaitIsBoundedOverTls) {
    ScriptServer server(Script::smtp().expect("HELO").trickle("250 hello\r\n", 200ms),
                        server_options(s_pki->server, true));
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Smtp, TlsMode::Implicit, 600ms));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::Helo, "HELO x");
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().reports.front(),
              "WinSockCmdSend: HELO コマンド：応答待ちでタイムアウトしました。1(秒)");
}

TEST_F(Tls, AConnectionClosedMidReplyIsReportedAsAPlainClose) {
    ScriptServer server(Script::smtp().expect("EHLO").send("250-first\r\n").close(),
                        server_options(s_pki->server, true));
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Smtp, TlsMode::Implicit));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::Ehlo, "EHLO x");
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(
        reply.error().reports,
        (Reports{"WinSockCmdSend: EHLO コマンドの応答メッセージを受信できません。(recv) error: 0",
                 "WinSockCmdSend: その他のエラー: 0"}));
}

TEST_F(Tls, WritingToAClosedTlsConnectionIsAnErrorNotASignal) {
    ScriptServer server(Script::smtp().close(), server_options(s_pki->server, true));
    auto session = SocketSession::open("localhost", server.port(),
                                       client(LineProtocol::Smtp, TlsMode::Implicit));
    ASSERT_TRUE(session.ok());
    server.wait();
    const std::string piece(64 * 1024, 'a');
    Status sent;
    for (int i = 0; i < 100 && sent.ok(); ++i) {
        sent = session->send_data(piece);
        if (sent.ok()) std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports.front(), "WinSockCmdSend: データ を送信できません。(send)");
}

}  // namespace
}  // namespace vlt::net
