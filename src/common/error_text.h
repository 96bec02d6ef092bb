#pragma once
// The standard error text and the run-time error numbers our failures map to.

#include <string>
#include <string_view>

namespace vlt {

// Run-time error numbers used in reports, with their descriptions.
enum class RuntimeError : int {
    InvalidArgument = 5,  // "プロシージャの呼び出し、または引数が不正です。"
    Overflow = 6,         // "オーバーフローしました。"
    OutOfMemory = 7,      // "メモリが不足しています。"
    TypeMismatch = 13,    // "型が一致しません。"
    BadFileName = 52,     // "ファイル名または番号が不正です。"
    FileNotFound = 53,    // "ファイルが見つかりません。"
    DeviceIo = 57,        // "デバイス I/O エラーです。"
    PermissionDenied = 70,  // "書き込みできません。"
    PathFileAccess = 75,    // "パス名が無効です。"
    PathNotFound = 76,      // "パスが見つかりません。"
};

inline constexpr std::string_view kErrorSource = "PrjVellumtide";

std::string_view runtime_error_description(RuntimeError e);

// errno to a run-time error: EACCES/EPERM/EROFS 70, ENOENT 53, ENOTDIR 76,
// EISDIR and other path faults 75, ENOMEM 7, EIO and anything else 57.
RuntimeError runtime_error_from_errno(int err);

// "エラー番号 :" + number + " -- " + source + " でエラーが発生しました。 "
std::string error_text_short(RuntimeError e, std::string_view source = kErrorSource);
// The short form, CR LF, the description.
std::string error_text_full(RuntimeError e, std::string_view source = kErrorSource);
// The short form directly followed by the description (no line break).
std::string error_text_inline(RuntimeError e, std::string_view source = kErrorSource);

}  // namespace vlt
