#pragma once
// Errors as values.
//
// Every operation that can fail returns Result<T>: either the value or an Error.
// An Error carries the report texts that explain the failure, in the order they
// are to be written to the error log, and the server's reply lines when a server
// refused something. Only the application's report function writes the texts;
// lower layers just collect them. No exception crosses a module boundary.

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vlt {

enum class ErrorKind {
    Config,    // settings or parameters missing or malformed
    Input,     // bad local input (a file, an argument)
    Io,        // a file could not be read or written
    Resolve,   // a host name could not be resolved
    Connect,   // a connection could not be opened or greeted
    Protocol,  // a reply could not be received or understood
    Rejected,  // the server refused a command
    Auth,      // a login failed
    Tls,       // the encrypted channel could not be set up
    Internal,  // a run-time error of our own
};

struct Error {
    ErrorKind kind = ErrorKind::Internal;
    std::vector<std::string> reports;      // error-log entries, first to last
    std::vector<std::string> reply_lines;  // the server's reply, when it refused
    std::string path;                      // the file a file failure concerns
    int run_time_error = 0;                // its run-time error number, 0 when none

    Error() = default;
    Error(ErrorKind k, std::string report) : kind(k) {
        if (!report.empty()) reports.push_back(std::move(report));
    }
    Error(ErrorKind k, std::vector<std::string> texts) : kind(k), reports(std::move(texts)) {}

    // A file failure: its run-time error number, its report and the file it concerns.
    static Error on_file(int number, std::string report, std::string file) {
        Error e(ErrorKind::Io, std::move(report));
        e.run_time_error = number;
        e.path = std::move(file);
        return e;
    }

    // Adds a report after the ones already carried (callers add their own words last).
    Error& then(std::string report) & {
        reports.push_back(std::move(report));
        return *this;
    }
    Error&& then(std::string report) && {
        reports.push_back(std::move(report));
        return std::move(*this);
    }
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : m_data(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_data(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_data); }
    const T& value() const& { return std::get<0>(m_data); }
    T&& value() && { return std::get<0>(std::move(m_data)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    Error& error() & { return std::get<1>(m_data); }
    const Error& error() const& { return std::get<1>(m_data); }
    Error&& error() && { return std::get<1>(std::move(m_data)); }

  private:
    std::variant<T, Error> m_data;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }

    Error& error() & { return m_error; }
    const Error& error() const& { return m_error; }
    Error&& error() && { return std::move(m_error); }

  private:
    Error m_error;
    bool m_failed = false;
};

using Status = Result<void>;

}  // namespace vlt

// Propagates a failed Result to the caller; evaluates to nothing on success.
#define VLT_TRY(expr)                                                         \
    do {                                                                      \
        auto vlt_try_result_ = (expr);                                        \
        if (!vlt_try_result_.ok()) return std::move(vlt_try_result_).error(); \
    } while (false)

// Binds the value of a successful Result to `var`, or returns its error.
#define VLT_TRY_ASSIGN(var, expr)                                     \
    auto var##_result_ = (expr);                                      \
    if (!var##_result_.ok()) return std::move(var##_result_).error(); \
    auto var = std::move(var##_result_).value()
