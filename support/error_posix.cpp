// errno and getaddrinfo codes sorted into the kinds callers decide by.
#include <netdb.h>

#include <cerrno>

#include "support/error.h"

namespace tarncore {

// A lapsed SO_RCVTIMEO shows as EAGAIN (or EWOULDBLOCK) on a blocking socket.
// A reset is a drop, as Winsock's WSAECONNRESET is.
ErrorKind system_error_kind(int code) {
    switch (code) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case ETIMEDOUT: return ErrorKind::kTimedOut;
        case ECONNRESET: return ErrorKind::kClosed;
        case ECONNREFUSED: return ErrorKind::kRefused;
        case ENOENT: return ErrorKind::kNotFound;
        case EACCES:
        case EPERM: return ErrorKind::kDenied;
        default: return ErrorKind::kUnspecified;
    }
}

ErrorKind lookup_error_kind(int status) {
    return status == EAI_NONAME || status == EAI_NODATA ? ErrorKind::kNotFound
                                                        : ErrorKind::kUnspecified;
}

}  // namespace tarncore
