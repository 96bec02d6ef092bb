#include "net/error_codes_posix.h"

#include <netdb.h>

#include <cerrno>

namespace vlt::net {

int winsock_code_from_errno(int err) {
    switch (err) {
        case EINTR:
            return 10004;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
            return 10024;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
        case EPIPE:
            return 10054;
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ESHUTDOWN:
            return 10058;
        case ETIMEDOUT:
        case EAGAIN:
            return 10060;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
            return 10060;
#endif
        case ECONNREFUSED:
            return 10061;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        default:
            return err;
    }
}

int winsock_code_from_resolver(int eai) {
    switch (eai) {
        case 0:
            return 0;
        case EAI_NONAME:
            return 11001;
        case EAI_AGAIN:
            return 11002;
        case EAI_FAIL:
            return 11003;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return 11004;
#endif
        default:
            return 11003;
    }
}

}  // namespace vlt::net
