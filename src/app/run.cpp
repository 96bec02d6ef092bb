#include "app/run.h"

#include <new>
#include <thread>

#include "app/platform.h"
#include "common/console.h"
#include "app/token.h"
#include "common/error_text.h"
#include "common/files.h"
#include "common/text.h"
#include "common/version.h"
#include "pop3/session.h"
#include "smtp/attachment.h"
#include "smtp/session.h"
#include "sysinfo/os_name.h"

namespace vlt::app {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

const char* const kMissingParams = "パラメータが不足しています。";
const char* const kSendFailed = "メール送信に失敗しました。";
const char* const kNotLoaded = "サーバ情報等の初期設定パラメータを取得できませんでした。";
const char* const kLoginFailed =
    "正しいユーザあるいはパスワードではありません。認証に失敗しました。";

// Runs one step of a path. An allocation failure inside it fails the step
// with the error report of run-time error 7, followed by `report`: the run
// flow's own report for a failure of that step (none when empty). A step
// inside another is reported with its own words, not the outer step's.
template <typename Step>
Status out_of_memory_reported(std::string_view report, Step&& step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        // What failed to fit has been released by now.
        Error error(ErrorKind::Internal, error_text_full(RuntimeError::OutOfMemory));
        if (!report.empty()) error.then(std::string(report));
        return error;
    }
}

smtp::AuthMechanism auth_mechanism(std::string_view setting) {
    if (setting == "XOAUTH2") return smtp::AuthMechanism::XOAuth2;
    if (setting == "OAUTHBEARER") return smtp::AuthMechanism::OAuthBearer;
    return smtp::AuthMechanism::Password;
}

net::TlsMode tls_mode(std::string_view setting) {
    if (setting == "SSL") return net::TlsMode::Implicit;
    if (setting == "STARTTLS") return net::TlsMode::StartTls;
    return net::TlsMode::None;
}

void pause_for(const RunContext& ctx, std::chrono::milliseconds ms) {
    if (ctx.env.sleep) {
        ctx.env.sleep(ms);
    } else {
        std::this_thread::sleep_for(ms);
    }
}

std::chrono::system_clock::time_point now_of(const RunContext& ctx) {
    return ctx.env.now ? ctx.env.now() : std::chrono::system_clock::now();
}

std::string os_name_of(const RunContext& ctx) {
    return ctx.env.os_name ? ctx.env.os_name() : sysinfo::local_os_name();
}

// ---- Storing the settings ------------------------------------------------

ServerSettings settings_of(const ServerValues& v, const CommandLine& line) {
    ServerSettings s;
    s.use_smtp_auth = line.mode == RunMode::Xcnf;
    s.smtp_server = v.smtp_server;
    s.smtp_port = v.smtp_port;
    s.from = v.from;
    s.pop_server = v.pop_server;
    s.pop_port = v.pop_port;
    s.user = v.user;
    s.password = v.password;
    s.tls = line.tls;
    s.auth_mech = line.auth_mech;
    return s;
}

// Whether the chosen style has everything it needs.
bool is_complete(const ServerSettings& s, RunMode mode) {
    const bool complete = !s.smtp_server.empty() && !s.smtp_port.empty() && !s.from.empty() &&
                          !s.user.empty() && !s.password.empty();
    return complete && (mode != RunMode::Conf || !s.pop_server.empty());
}

// The password item "-" stands for a password from outside the command line,
// where every user of the machine could read it. A failure to read it is
// reported, and the password stays empty.
std::string password_from_outside(RunContext& ctx) {
    auto read = ctx.env.read_password ? ctx.env.read_password() : app::password_from_outside();
    if (read.ok()) return std::move(read).value();
    ctx.report.report(read.error());
    return {};
}

// The settings of the command line, completed in the settings window when
// something is missing.
Result<ServerSettings> settings_to_store(RunContext& ctx) {
    ServerValues values = ctx.line.server;
    if (values.password == "-") values.password = password_from_outside(ctx);
    ServerSettings s = settings_of(values, ctx.line);
    if (is_complete(s, ctx.line.mode)) return s;
    if (ctx.env.windows->edit_settings(values) == ui::FormOutcome::Stored) {
        s = settings_of(values, ctx.line);
    }
    if (!is_complete(s, ctx.line.mode)) return Error(ErrorKind::Config, kMissingParams);
    return s;
}

Status settings_path(RunContext& ctx) {
    VLT_TRY_ASSIGN(settings, settings_to_store(ctx));
    VLT_TRY(check_storable(settings));
    // The ninth item arrives trimmed from the command line.
    VLT_TRY(check_tls_setting(settings.tls));
    settings.tls = normalize_tls(settings.tls);
    VLT_TRY_ASSIGN(mech, stored_auth_mech(settings.auth_mech, settings.use_smtp_auth));
    settings.auth_mech = std::move(mech);
    if (ctx.env.folders.making == FolderMaking::WhenMissing) {
        VLT_TRY(make_private_folder(ctx.env.folders.settings));
    }
    return save_settings(ctx.paths, std::move(settings), ctx.usage_line1);
}

// ---- Sending one message -------------------------------------------------

// The environment options; a cleared alias is reported and the run goes on.
void read_options(RunContext& ctx) {
    ctx.options = read_env_options(ctx.env.env);
    for (const std::string& complaint : ctx.options.complaints) ctx.report.report(complaint);
}

Status load_stored_settings(RunContext& ctx) {
    return out_of_memory_reported(kNotLoaded, [&ctx]() -> Status {
        auto loaded = load_settings(ctx.paths, ctx.usage_line1);
        if (!loaded.ok()) return std::move(loaded).error().then(kNotLoaded);
        ctx.settings = std::move(loaded).value();
        return {};
    });
}

void trim_fields(MessageValues& m) {
    for (std::string* field : {&m.to, &m.cc, &m.subject, &m.body, &m.attach}) {
        *field = trim(*field);
    }
}

bool lacks_fields(const MessageValues& m) {
    return m.to.empty() || m.subject.empty() || m.body.empty();
}

// The message values of the command line, completed in the parameter window
// when the recipients, the subject or the body are missing. Trimmed.
Result<MessageValues> message_to_send(RunContext& ctx) {
    MessageValues m = ctx.line.message;
    trim_fields(m);
    if (!lacks_fields(m)) return m;

    ui::ParamWindowOptions options;
    options.countdown = ctx.env.param_countdown;
    options.settings_text = [&ctx] { return settings_display_text(ctx.settings); };
    MessageValues asked = m;
    Error missing(ErrorKind::Config, std::vector<std::string>{});
    switch (ctx.env.windows->edit_params(asked, options)) {
        case ui::FormOutcome::Stored:
            m = std::move(asked);
            break;
        case ui::FormOutcome::TimedOut:
            missing.then(
                "再入力画面でパラメータを要求しましたが、応答がないため処理中断しました。");
            break;
        default:
            break;
    }
    trim_fields(m);
    if (!lacks_fields(m)) return m;
    return std::move(missing).then(kMissingParams);
}

// A parameter names a file only when an ordinary file of exactly that name
// exists, is not empty and can be read; otherwise the value is the text.
void take_file_behind(std::string& value, bool as_list) {
    if (value.empty() || regular_file_length(value) == 0) return;
    auto text = read_text_file(value);
    if (!text.ok() || !*text) return;
    value = as_list ? to_comma_list(**text) : std::move(**text);
}

// The attachment is prepared before any connection: a file that is there but
// cannot be read fails the run instead of going out without it.
Status attach_file(const RunContext& ctx, const std::string& path, smtp::SendRequest& request) {
    if (regular_file_length(path) == 0) return {};
    request.boundary = smtp::make_boundary(now_of(ctx));
    VLT_TRY_ASSIGN(prepared, smtp::prepare_attachment(path));
    request.attachment = std::move(prepared);
    return {};
}

// The server values of the stored settings, with the default ports of the
// encryption when a port is not set.
void address_servers(const ServerSettings& s, smtp::SendRequest& request) {
    const bool implicit = request.tls == net::TlsMode::Implicit;
    request.server = trim(s.smtp_server);
    request.port = trim(s.smtp_port);
    if (request.port.empty()) request.port = implicit ? "465" : "25";
    request.from = trim(s.from);
    request.use_smtp_auth = s.use_smtp_auth;
    request.user = s.user;
    request.password = s.password;
    request.auth_mechanism = auth_mechanism(s.auth_mech);
}

Result<smtp::SendRequest> make_request(RunContext& ctx, MessageValues m) {
    smtp::SendRequest request;
    request.tls = tls_mode(ctx.settings.tls);
    VLT_TRY(attach_file(ctx, m.attach, request));
    address_servers(ctx.settings, request);
    take_file_behind(m.to, true);
    take_file_behind(m.body, false);
    take_file_behind(m.cc, true);
    request.to = std::move(m.to);
    request.cc = std::move(m.cc);
    request.subject = std::move(m.subject);
    request.body = std::move(m.body);
    request.header = {ctx.options.from_name, ctx.options.to_alias, ctx.options.cc_alias,
                      ctx.options.reply_to};
    request.protocol_logging = ctx.options.protocol_logging();
    request.log_detail = ctx.options.log_detail;
    request.limits = ctx.env.limits;
    request.yield = [&ctx] { ctx.env.windows->pump(); };
    request.now = [&ctx] { return now_of(ctx); };
    return request;
}

// POP before SMTP: the login, then a pause before the SMTP conversation.
Status pop_login(RunContext& ctx, smtp::SendRequest& request) {
    const bool implicit = request.tls == net::TlsMode::Implicit;
    pop3::PopRequest pop;
    pop.server = trim(ctx.settings.pop_server);
    pop.port = trim(ctx.settings.pop_port);
    if (pop.port.empty()) pop.port = implicit ? "995" : "110";
    pop.user = request.user;
    pop.password = request.password;
    pop.tls = request.tls;
    pop.protocol_logging = request.protocol_logging;
    pop.limits = request.limits;
    pop.yield = request.yield;
    pop.sleep = ctx.env.sleep;
    pop.now = request.now;
    auto login = pop3::pop_session(pop, ctx.log);
    if (!login.ok()) return std::move(login).error().then(kLoginFailed);
    for (const std::string& warning : login->warnings) ctx.report.report(warning);
    request.pop_login_done = true;
    pause_for(ctx, std::chrono::milliseconds(2000));
    return {};
}

// With an OAuth mechanism the stored password is the token command: its
// output replaces it before any connection.
Status take_access_token(const RunContext& ctx, smtp::SendRequest& request) {
    if (request.auth_mechanism == smtp::AuthMechanism::Password) return {};
    auto token = fetch_access_token(request.password, ctx.env.token_limit);
    if (!token.ok()) return std::move(token).error().then(kSendFailed);
    request.password = std::move(token).value();
    return {};
}

Status send(RunContext& ctx, smtp::SendRequest& request) {
    request.mailer_text = smtp::make_mailer_text(os_name_of(ctx));
    auto sent = smtp::send_mail(request, ctx.log);
    if (!sent.ok()) return std::move(sent).error().then(kSendFailed);
    for (const std::string& warning : sent->warnings) ctx.report.report(warning);
    return {};
}

Status show_settings(RunContext& ctx) {
    read_options(ctx);
    VLT_TRY(load_stored_settings(ctx));
    ctx.env.windows->show_message(
        settings_display_text(ctx.settings) + "\r\n  設定ファイル ： " + ctx.paths.current, false);
    return {};
}

Status send_message(RunContext& ctx) {
    read_options(ctx);
    VLT_TRY(load_stored_settings(ctx));
    VLT_TRY_ASSIGN(message, message_to_send(ctx));
    VLT_TRY_ASSIGN(request, make_request(ctx, std::move(message)));
    // Addresses that cannot be sent are refused before any connection.
    if (Status checked = smtp::check_envelope(request); !checked.ok()) {
        return std::move(checked).error().then(kSendFailed);
    }
    if (!request.use_smtp_auth) {
        VLT_TRY(out_of_memory_reported(kLoginFailed, [&] { return pop_login(ctx, request); }));
    }
    VLT_TRY(take_access_token(ctx, request));
    return send(ctx, request);
}

// The path the command line chose. An allocation failure anywhere in a
// sending run is followed by the report that sending failed (or by the
// report of the step it was in, when that step has one); the settings and
// --info paths have no report of their own, and run() reports it for them.
Status chosen_path(RunContext& ctx) {
    if (ctx.line.stores_settings()) return settings_path(ctx);
    if (ctx.line.mode == RunMode::Info) return show_settings(ctx);
    return out_of_memory_reported(kSendFailed, [&ctx] { return send_message(ctx); });
}

void print(const RunContext& ctx, const std::string& text) {
    if (ctx.env.print) {
        ctx.env.print(text);
    } else {
        write_standard_output(text);
    }
}

// The log folder of an installed program is made before anything is logged.
// When it cannot be, standard error says why, as it does for a log entry that
// cannot be written.
void make_log_folder(const RunContext& ctx) {
    if (ctx.env.folders.making != FolderMaking::WhenMissing) return;
    Status made = make_private_folder(ctx.env.folders.logs);
    if (made.ok()) return;
    const auto why = static_cast<RuntimeError>(made.error().run_time_error);
    const std::string line = "vellumtide: log folder not made: " + made.error().path + ": " +
                             error_text_inline(why) + "\n";
    write_standard_error(line);
}

int exit_status(const RunContext& ctx, const Status& done) {
    if (done.ok()) return kExitOk;
    ctx.report.report(done.error());
    return kExitFailed;
}

int run_steps(RunContext& ctx) {
    make_log_folder(ctx);
    auto parsed = parse_command_line(ctx.env.argument_text);
    const std::string shown_usage = usage_text(ctx.env.exe_name) + "\r\n\r\n" + kCreditLine;
    if (!parsed.ok()) {
        ctx.report.report(parsed.error());
        ctx.env.windows->show_message(shown_usage, true);
        return kExitFailed;
    }
    ctx.line = std::move(parsed).value();
    if (ctx.line.first_item == "--help" || ctx.line.first_item == "-h") {
        ctx.env.windows->show_message(shown_usage, true);
        return kExitOk;
    }
    if (ctx.line.first_item == "--version") {
        print(ctx, std::string(kAppTitle) + " " + kVersionString + "\n");
        return kExitOk;
    }
    return exit_status(ctx, chosen_path(ctx));
}

}  // namespace

std::string usage_line1(std::string_view exe_name) {
    return std::string(exe_name) +
           "　フラグ, SMTPSRV, SMTPPORT, FROM, POPSRV, [POPPORT], USER, PASS";
}

std::string usage_text(std::string_view exe_name) {
    const std::string line2 = std::string(exe_name) + "　TO, [CC], SUB, MSG [,ATCH]";
    const std::string indent(35, ' ');
    const char* const lines[] = {
        nullptr,  // line 1 and 2 are built below
        nullptr,
        " 　　（パラメータはすべてカンマで記述,　省略時は\"\"）",
        "",
        "     ・フラグ　\t= 設定および 認証方式 ,情報表示を指示するフラグ　",
        nullptr,
        nullptr,
        "       SMTPSRV \t= SMTPサーバ (IPアドレス or ホスト名)",
        "       SMTPPORT\t= SMTPポート (通常 25 or 587)",
        "       FROM    \t= 送信元メールアドレス",
        "       POPSRV  \t= POP3サーバ (IPアドレス or ホスト名)",
        "       POPPORT \t= POP3ポート (通常 110、省略可)",
        "       USER    \t= ユーザ名(POP3サーバのアカウント or SMTPサーバのアカウント)",
        "       PASS    \t= パスワード(POP3サーバのパスワード or SMTPサーバのパスワード)",
        "",
        "     ・TO  \t\t= 宛先アドレス (メールアドレス or ファイル)",
        "       CC  \t\t= ＣＣアドレス (メールアドレス or ファイル)",
        "       SUB \t\t= タイトル",
        "       MSG \t= メッセージ (ファイル or 本文)",
        "       ATCH\t= 添付文書 (ファイル) ",
    };
    std::string text = "使用法：　" + usage_line1(exe_name) + "\r\n";
    text += "　　または　" + line2;
    for (std::size_t i = 2; i < std::size(lines); ++i) {
        text += "\r\n";
        if (i == 5) {
            text += indent + "--conf (POP before SMTP)  または  --xcnf (SMTP AUTH)";
        } else if (i == 6) {
            text += indent + "--info";
        } else {
            text += lines[i];
        }
    }
    return text;
}

RunContext::RunContext(RunEnvironment environment)
    : env(std::move(environment)),
      paths(SettingsPaths::in_folder(env.folders.settings)),
      usage_line1(app::usage_line1(env.exe_name)),
      log(env.folders.logs, env.exe_name, env.now),
      report(log) {}

std::string escaped_exception_report(const std::exception_ptr& escaped) {
    try {
        if (escaped) std::rethrow_exception(escaped);
    } catch (const std::bad_alloc&) {
        return error_text_full(RuntimeError::OutOfMemory);
    } catch (...) {
    }
    return error_text_full(RuntimeError::InvalidArgument);
}

int run(RunContext& ctx) {
    try {
        return run_steps(ctx);
    } catch (...) {
        // This is the last place an exception can be turned into a report.
        ctx.report.report(escaped_exception_report(std::current_exception()));
        return kExitFailed;
    }
}

}  // namespace vlt::app
