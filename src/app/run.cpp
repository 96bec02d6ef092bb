#include "app/run.h"

#include <cstdio>
#include <thread>

#include "common/text.h"
#include "common/version.h"
#include "pop3/session.h"
#include "smtp/attachment.h"
#include "smtp/files.h"
#include "smtp/session.h"
#include "sysinfo/os_name.h"

namespace vlt::app {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

const char* const kMissingParams = "パラメータが不足しています。";

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

ui::SettingsFields settings_fields(const MailParams& p) {
    return {p[kArgSmtpServer], p[kArgSmtpPort], p[kArgFrom],    p[kArgPopServer],
            p[kArgPopPort],    p[kArgUser],     p[kArgPassword]};
}

void store_settings_fields(const ui::SettingsFields& f, MailParams& p) {
    p[kArgSmtpServer] = f.smtp_server;
    p[kArgSmtpPort] = f.smtp_port;
    p[kArgFrom] = f.from;
    p[kArgPopServer] = f.pop_server;
    p[kArgPopPort] = f.pop_port;
    p[kArgUser] = f.user;
    p[kArgPassword] = f.password;
}

// Copies the command-line values into the stored view and tells whether the
// chosen style has everything it needs.
bool take_settings_from_params(RunContext& ctx) {
    MailParams& p = ctx.params;
    ServerSettings& s = ctx.settings;
    p[kSmtpServer] = p[kArgSmtpServer];
    p[kSmtpPort] = p[kArgSmtpPort];
    p[kPopServer] = p[kArgPopServer];
    p[kPopPort] = p[kArgPopPort];
    p[kUser] = p[kArgUser];
    p[kPassword] = p[kArgPassword];
    s.use_smtp_auth = ctx.flags.use_smtp_auth;
    s.smtp_server = p[kSmtpServer];
    s.smtp_port = p[kSmtpPort];
    s.from = p[kArgFrom];
    s.pop_server = p[kPopServer];
    s.pop_port = p[kPopPort];
    s.user = p[kUser];
    s.password = p[kPassword];
    bool complete = !s.smtp_server.empty() && !s.smtp_port.empty() && !s.from.empty() &&
                    !s.user.empty() && !s.password.empty();
    if (ctx.flags.conf_mode) complete = complete && !s.pop_server.empty();
    return complete;
}

int settings_path(RunContext& ctx, const CommandLine& line) {
    ctx.settings.tls = line.tls;
    bool complete = take_settings_from_params(ctx);
    if (!complete) {
        ui::SettingsFields fields = settings_fields(ctx.params);
        if (ctx.env.windows->edit_settings(fields) == ui::FormOutcome::Stored) {
            store_settings_fields(fields, ctx.params);
        }
        complete = take_settings_from_params(ctx);
        if (!complete) {
            ctx.report.report(kMissingParams);
            return kExitFailed;
        }
    }
    if (const std::string fault = unstorable_value_report(ctx.settings); !fault.empty()) {
        ctx.report.report(fault);
        return kExitFailed;
    }
    // The ninth item arrives trimmed from the command line.
    if (const std::string fault = tls_setting_report(ctx.settings.tls); !fault.empty()) {
        ctx.report.report(fault);
        return kExitFailed;
    }
    ctx.settings.tls = normalize_tls(ctx.settings.tls);
    return save_settings(ctx.paths, ctx.settings, ctx.usage_line1, ctx.report) ? kExitOk
                                                                               : kExitFailed;
}

void copy_settings_to_slots(RunContext& ctx) {
    MailParams& p = ctx.params;
    const ServerSettings& s = ctx.settings;
    p[kSmtpServer] = s.smtp_server;
    p[kSmtpPort] = s.smtp_port;
    p[kPopServer] = s.pop_server;
    p[kPopPort] = s.pop_port;
    p[kUser] = s.user;
    p[kPassword] = s.password;
    ctx.flags.use_smtp_auth = s.use_smtp_auth;
}

// A parameter names a file only when an ordinary file of exactly that name
// exists, is not empty and can be read.
std::optional<std::string> file_behind(const std::string& value) {
    if (value.empty() || smtp::regular_file_length(value) == 0) return std::nullopt;
    return smtp::read_text_file(value);
}

bool ask_for_missing_fields(RunContext& ctx) {
    MailParams& p = ctx.params;
    auto trim_fields = [&p] {
        for (int slot = kTo; slot <= kAttach; ++slot) p[slot] = trim(p[slot]);
    };
    auto missing = [&p] { return p[kTo].empty() || p[kSubject].empty() || p[kBody].empty(); };
    trim_fields();
    if (!missing()) return true;

    ui::ParamFields fields{p[kTo], p[kCc], p[kSubject], p[kBody], p[kAttach]};
    ui::ParamWindowOptions options;
    options.countdown = ctx.env.param_countdown;
    options.settings_text = [&ctx] { return settings_display_text(ctx.settings); };
    const ui::FormOutcome outcome = ctx.env.windows->edit_params(fields, options);
    if (outcome == ui::FormOutcome::Stored) {
        p[kTo] = fields.to;
        p[kCc] = fields.cc;
        p[kSubject] = fields.subject;
        p[kBody] = fields.body;
        p[kAttach] = fields.attach;
    } else if (outcome == ui::FormOutcome::TimedOut) {
        ctx.report.report(
            "再入力画面でパラメータを要求しましたが、応答がないため処理中断しました。");
    }
    trim_fields();
    if (!missing()) return true;
    ctx.report.report(kMissingParams);
    return false;
}

int message_path(RunContext& ctx) {
    ctx.options = read_env_options(ctx.env.env, ctx.report);
    if (!load_settings(ctx.paths, ctx.settings, ctx.usage_line1, ctx.report)) {
        ctx.report.report("サーバ情報等の初期設定パラメータを取得できませんでした。");
        return kExitFailed;
    }
    copy_settings_to_slots(ctx);
    if (ctx.flags.info_mode) {
        ctx.env.windows->show_message(settings_display_text(ctx.settings), false);
        return kExitOk;
    }
    if (!ask_for_missing_fields(ctx)) return kExitFailed;

    MailParams& p = ctx.params;
    const net::TlsMode tls = tls_mode(ctx.settings.tls);
    const auto now = std::chrono::system_clock::now();

    // The attachment is checked before any connection: a file that is there
    // but cannot be read fails the run instead of going out without it.
    std::optional<smtp::AttachmentPart> attachment;
    if (smtp::regular_file_length(p[kAttach]) > 0) {
        ctx.boundary = smtp::make_boundary(now);
        auto prepared = smtp::prepare_attachment(p[kAttach], ctx.boundary);
        if (!prepared.ok()) {
            ctx.report.report(prepared.error());
            return kExitFailed;
        }
        attachment = std::move(prepared.value());
    }

    p[kArgSmtpServer] = trim(p[kSmtpServer]);
    p[kArgSmtpPort] = trim(p[kSmtpPort]);
    if (p[kArgSmtpPort].empty()) p[kArgSmtpPort] = tls == net::TlsMode::Implicit ? "465" : "25";
    p[kArgFrom] = trim(ctx.settings.from);
    p[kArgPopServer] = trim(p[kPopServer]);
    p[kArgPopPort] = trim(p[kPopPort]);
    if (p[kArgPopPort].empty()) p[kArgPopPort] = tls == net::TlsMode::Implicit ? "995" : "110";

    // The message fields were trimmed when they were checked for presence.
    if (auto text = file_behind(p[kTo])) p[kTo] = to_comma_list(*text);
    if (auto text = file_behind(p[kBody])) p[kBody] = *text;
    if (auto text = file_behind(p[kCc])) p[kCc] = to_comma_list(*text);

    smtp::SendRequest request;
    request.server = p[kArgSmtpServer];
    request.port = p[kArgSmtpPort];
    request.from = p[kArgFrom];
    request.to = p[kTo];
    request.cc = p[kCc];
    request.subject = p[kSubject];
    request.body = p[kBody];
    request.attachment = std::move(attachment);
    request.use_smtp_auth = ctx.flags.use_smtp_auth;
    request.user = p[kUser];
    request.password = p[kPassword];
    request.tls = tls;
    request.header = {ctx.options.from_name, ctx.options.to_alias, ctx.options.cc_alias,
                      ctx.options.reply_to};
    request.boundary = ctx.boundary;
    request.protocol_logging = ctx.options.protocol_logging();
    request.log_detail = ctx.options.log_detail;
    request.limits = ctx.env.limits;
    request.yield = [&ctx] { ctx.env.windows->pump(); };

    // Addresses that cannot be sent are refused before any connection.
    if (Status checked = smtp::check_envelope(request); !checked.ok()) {
        ctx.report.report(checked.error());
        ctx.report.report("メール送信に失敗しました。");
        return kExitFailed;
    }

    if (!ctx.flags.use_smtp_auth) {
        pop3::PopRequest pop;
        pop.server = p[kArgPopServer];
        pop.port = p[kArgPopPort];
        pop.user = p[kUser];
        pop.password = p[kPassword];
        pop.tls = tls;
        pop.protocol_logging = ctx.options.protocol_logging();
        pop.limits = ctx.env.limits;
        pop.yield = request.yield;
        pop.sleep = ctx.env.sleep;
        auto login = pop3::pop_session(pop, ctx.log);
        if (!login.ok()) {
            ctx.report.report(login.error());
            ctx.report.report("正しいユーザあるいはパスワードではありません。認証に失敗しました。");
            return kExitFailed;
        }
        for (const std::string& warning : login->warnings) ctx.report.report(warning);
        ctx.flags.pop_login_done = true;
        pause_for(ctx, std::chrono::milliseconds(2000));
    }

    ctx.mailer_text = smtp::make_mailer_text(sysinfo::local_os_name());
    request.mailer_text = ctx.mailer_text;
    request.pop_login_done = ctx.flags.pop_login_done;
    auto sent = smtp::send_mail(request, ctx.log);
    if (!sent.ok()) {
        ctx.report.report(sent.error());
        ctx.report.report("メール送信に失敗しました。");
        return kExitFailed;
    }
    for (const std::string& warning : sent->warnings) ctx.report.report(warning);
    return kExitOk;
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
      paths(SettingsPaths::in_folder(env.program_folder)),
      usage_line1(app::usage_line1(env.exe_name)),
      usage_line2(env.exe_name + "　TO, [CC], SUB, MSG [,ATCH]"),
      usage_text(app::usage_text(env.exe_name)),
      log(env.program_folder, env.exe_name),
      report(log) {}

int run(RunContext& ctx) {
    const CommandLine line =
        parse_command_line(ctx.env.argument_text, ctx.params, ctx.flags, ctx.report);
    const std::string shown_usage = ctx.usage_text + "\r\n\r\n" + kCreditLine;
    if (line.items == 0) {
        ctx.env.windows->show_message(shown_usage, true);
        return kExitFailed;
    }
    if (line.first_item == "--help" || line.first_item == "-h") {
        ctx.env.windows->show_message(shown_usage, true);
        return kExitOk;
    }
    if (line.first_item == "--version") {
        const std::string text = std::string(kAppTitle) + " " + kVersionString + "\n";
        if (ctx.env.print) {
            ctx.env.print(text);
        } else {
            std::fputs(text.c_str(), stdout);
        }
        return kExitOk;
    }
    if (ctx.flags.conf_mode || ctx.flags.xcnf_mode) return settings_path(ctx, line);
    return message_path(ctx);
}

}  // namespace vlt::app
