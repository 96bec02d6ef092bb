#include "net/commands.h"

#include <algorithm>

namespace vlt::net {
namespace {

// POP3 rows accept 1, the code a "+OK" line gets.
constexpr std::array<CommandRow, 15> kCommandTable{{
    {CommandId::Helo, "HELO コマンド", {250, 0, 0}},
    {CommandId::MailFrom, "MAIL FROM コマンド", {250, 0, 0}},
    {CommandId::RcptTo, "RCPT TO コマンド", {250, 251, 0}},
    {CommandId::Data, "DATA コマンド", {354, 0, 0}},
    {CommandId::DataContent, "データ", {250, 0, 0}},
    {CommandId::Quit, "QUIT コマンド", {221, 0, 0}},
    {CommandId::Ehlo, "EHLO コマンド", {250, 0, 0}},
    {CommandId::Auth, "AUTH コマンド", {334, 235, 502}},
    {CommandId::AuthData, "AUTH コマンド", {334, 235, 502}},
    {CommandId::StartTls, "STARTTLS コマンド", {220, 0, 0}},
    {CommandId::PopUser, "USER コマンド", {1, 0, 0}},
    {CommandId::PopPass, "PASS コマンド", {1, 0, 0}},
    {CommandId::PopStat, "STAT コマンド", {1, 0, 0}},
    {CommandId::PopStls, "STLS コマンド", {1, 0, 0}},
    {CommandId::PopQuit, "QUIT コマンド", {1, 0, 0}},
}};

// An id outside the table (a cast from a stray number) accepts nothing.
constexpr CommandRow kUnknownRow{CommandId::Helo, "コマンド", {0, 0, 0}};

}  // namespace

const CommandRow& command_row(CommandId id) {
    const auto* row = std::find_if(kCommandTable.begin(), kCommandTable.end(),
                                   [id](const CommandRow& r) { return r.id == id; });
    return row == kCommandTable.end() ? kUnknownRow : *row;
}

bool accepts(const CommandRow& row, int code) {
    if (code == 0) return false;
    return std::find(row.accepted.begin(), row.accepted.end(), code) != row.accepted.end();
}

}  // namespace vlt::net
