#include "common/error_text.h"

#include <cerrno>

namespace vlt {

std::string_view runtime_error_description(RuntimeError e) {
    switch (e) {
        case RuntimeError::InvalidArgument:
            return "プロシージャの呼び出し、または引数が不正です。";
        case RuntimeError::Overflow:
            return "オーバーフローしました。";
        case RuntimeError::OutOfMemory:
            return "メモリが不足しています。";
        case RuntimeError::TypeMismatch:
            return "型が一致しません。";
        case RuntimeError::BadFileName:
            return "ファイル名または番号が不正です。";
        case RuntimeError::FileNotFound:
            return "ファイルが見つかりません。";
        case RuntimeError::DeviceIo:
            return "デバイス I/O エラーです。";
        case RuntimeError::PermissionDenied:
            return "書き込みできません。";
        case RuntimeError::PathFileAccess:
            return "パス名が無効です。";
        case RuntimeError::PathNotFound:
            return "パスが見つかりません。";
    }
    return "";
}

RuntimeError runtime_error_from_errno(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EROFS:
            return RuntimeError::PermissionDenied;
        case ENOENT:
            return RuntimeError::FileNotFound;
        case ENOTDIR:
            return RuntimeError::PathNotFound;
        case EISDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case EINVAL:
            return RuntimeError::PathFileAccess;
        case ENOMEM:
            return RuntimeError::OutOfMemory;
        default:
            return RuntimeError::DeviceIo;
    }
}

std::string error_text_short(RuntimeError e, std::string_view source) {
    std::string s = "エラー番号 :";
    s += std::to_string(static_cast<int>(e));
    s += " -- ";
    s += source;
    s += " でエラーが発生しました。 ";
    return s;
}

std::string error_text_full(RuntimeError e, std::string_view source) {
    return error_text_short(e, source) + "\r\n" + std::string(runtime_error_description(e));
}

std::string error_text_inline(RuntimeError e, std::string_view source) {
    return error_text_short(e, source) + std::string(runtime_error_description(e));
}

}  // namespace vlt
