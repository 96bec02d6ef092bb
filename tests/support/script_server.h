#pragma once
// A scripted SMTP/POP3-like server for tests, on 127.0.0.1 with an ephemeral
// port.
//
// The server accepts one connection and plays a Script: send bytes, read (and
// record) the client's lines, pause, trickle bytes slowly, send huge or
// endless output, switch to TLS, close or reset the connection. Everything the
// client sent is recorded. When the script is done the server keeps reading
// (and recording) until the client closes. Every wait is bounded by the
// server's lifetime, after which it stops by itself; the destructor stops it
// at once. SIGPIPE is blocked in the server's thread only, so a client under
// test that writes to a closed connection still gets the signal if it does not
// guard against it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vlt::test {

// The default greetings. The SMTP one has several lines so that every case
// reads a multi-line reply.
inline constexpr std::string_view kSmtpGreeting =
    "220-mail.example.test ESMTP scripted server\r\n"
    "220-this greeting spans several lines\r\n"
    "220 mail.example.test ready\r\n";
inline constexpr std::string_view kPop3Greeting = "+OK scripted POP3 server ready\r\n";

class Script {
  public:
    enum class Kind { Send, ReadLine, ReadData, Pause, Trickle, Repeat, StartTls, Close, Reset };
    struct Step {
        Kind kind;
        std::string bytes;                      // Send, Trickle, Repeat; ReadLine: expected prefix
        bool check = false;                     // ReadLine: compare with the prefix
        std::size_t count = 0;                  // Repeat: how many times
        std::chrono::milliseconds interval{0};  // Pause, Trickle
    };

    // A script that starts with the default greeting.
    static Script smtp();
    static Script pop3();

    Script& send(std::string_view bytes);
    // Reads one line from the client and records it (without its line end).
    Script& read_line();
    // As read_line(); a line that does not begin with `prefix` is recorded as
    // a mismatch.
    Script& expect(std::string_view prefix);
    // Reads one line, then sends `bytes`: the usual command and reply.
    Script& reply(std::string_view bytes) { return read_line().send(bytes); }
    Script& expect_reply(std::string_view prefix, std::string_view bytes) {
        return expect(prefix).send(bytes);
    }
    // Reads message text up to and including CR LF "." CR LF and records it.
    Script& read_data();
    Script& pause(std::chrono::milliseconds time);
    // Sends `bytes` one byte at a time, `interval` apart.
    Script& trickle(std::string_view bytes, std::chrono::milliseconds interval);
    // Sends `bytes` `times` times over, without building the whole text.
    Script& repeat(std::string_view bytes, std::size_t times);
    // Sends `prefix`, `size` bytes of "x" and `end`.
    Script& huge_line(std::size_t size, std::string_view prefix = "",
                      std::string_view end = "\r\n");
    // Accepts a TLS handshake on the connection (after STARTTLS / STLS).
    Script& start_tls();
    // Closes the connection (FIN; under TLS after the closing alert); the
    // script ends. Read what the client sent first: unread input makes the
    // system reset the connection instead.
    Script& close();
    // Resets the connection (RST); the script ends.
    Script& reset();

    const std::vector<Step>& steps() const { return m_steps; }

  private:
    std::vector<Step> m_steps;
};

struct TlsFiles {
    std::string cert_file;  // PEM certificate chain
    std::string key_file;   // PEM private key
};

struct ServerOptions {
    std::chrono::milliseconds lifetime{10000};  // the server stops after this
    std::optional<TlsFiles> tls;                // needed by start_tls() and implicit TLS
    bool implicit_tls = false;                  // handshake right after accept
};

// Options with a lifetime other than the default.
inline ServerOptions lasting(std::chrono::milliseconds lifetime) {
    ServerOptions options;
    options.lifetime = lifetime;
    return options;
}

class ScriptServer {
  public:
    explicit ScriptServer(Script script, ServerOptions options = {});
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::uint16_t port_number() const;
    std::string port() const;  // as decimal text

    // Waits until the server has finished (script done and client gone, or
    // the lifetime over).
    void wait();

    // Every byte the client sent (decrypted under TLS).
    std::string received() const;
    // The lines read by read_line() / expect() steps, without line ends.
    std::vector<std::string> lines() const;
    // The message texts read by read_data() steps.
    std::vector<std::string> data() const;
    // One entry per expect() step whose line did not match.
    std::vector<std::string> mismatches() const;
    // What went wrong on the server side (a TLS handshake the client refused,
    // a client that went away early); empty when nothing did.
    std::vector<std::string> problems() const;
    bool accepted() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vlt::test
