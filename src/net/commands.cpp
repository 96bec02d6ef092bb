#include "net/commands.h"

#include <algorithm>
#include <cstddef>

#include "net/line_reader.h"

namespace vlt::net {
namespace {

// POP3 rows accept 1, the code a "+OK" line gets.
constexpr std::array<CommandRow, 19> kCommandTable{{
    {CommandId::Helo, "HELO コマンド", {250, 0}},
    {CommandId::MailFrom, "MAIL FROM コマンド", {250, 0}},
    {CommandId::RcptTo, "RCPT TO コマンド", {250, 251}},
    {CommandId::Data, "DATA コマンド", {354, 0}},
    {CommandId::DataContent, "データ", {250, 0}},
    {CommandId::Quit, "QUIT コマンド", {221, 0}},
    {CommandId::Ehlo, "EHLO コマンド", {250, 0}},
    {CommandId::Auth, "AUTH コマンド", {334, 235}, 502},
    {CommandId::AuthData, "AUTH コマンド", {334, 235}, 502},
    {CommandId::AuthInitial, "AUTH コマンド", {334, 235}, 502},
    {CommandId::StartTls, "STARTTLS コマンド", {220, 0}},
    {CommandId::PopUser, "USER コマンド", {1, 0}},
    {CommandId::PopPass, "PASS コマンド", {1, 0}},
    {CommandId::PopStat, "STAT コマンド", {1, 0}},
    {CommandId::PopStls, "STLS コマンド", {1, 0}},
    {CommandId::PopQuit, "QUIT コマンド", {1, 0}},
    {CommandId::SmtpGreeting, "", {220, 0}, 0, true},
    {CommandId::PopGreeting, "", {1, 0}, 0, true},
    {CommandId::Unknown, "コマンド", {0, 0}},
}};

constexpr bool in_table_order() {
    for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
        if (static_cast<std::size_t>(kCommandTable[i].id) != i) return false;
    }
    return true;
}
static_assert(in_table_order(), "rows follow the order of CommandId");

}  // namespace

const CommandRow& command_row(CommandId id) {
    const auto index = static_cast<std::size_t>(id);
    return index < kCommandTable.size() ? kCommandTable[index] : kCommandTable.back();
}

Verdict judge(const CommandRow& row, LineProtocol protocol, const Reply& reply) {
    const int code = reply.code;
    if (code == 0) return Verdict::Refused;
    if (row.greeting && !has_text_after_code(protocol, reply.last_line())) return Verdict::Refused;
    if (code == row.stop) return Verdict::Stop;
    const bool listed =
        std::find(row.accepted.begin(), row.accepted.end(), code) != row.accepted.end();
    return listed ? Verdict::Accepted : Verdict::Refused;
}

}  // namespace vlt::net
