// Win32 and Winsock codes sorted into the kinds callers decide by.
#include "support/win32.h"

#include <winsock2.h>

#include "support/error.h"

namespace tarncore {

// Windows words a reset "forcibly closed": the stream ends as at a close.
ErrorKind system_error_kind(int code) {
    switch (code) {
        case WSAETIMEDOUT:
        case ERROR_TIMEOUT: return ErrorKind::kTimedOut;
        case WSAECONNRESET:
        case WSAEDISCON: return ErrorKind::kClosed;
        case WSAECONNREFUSED: return ErrorKind::kRefused;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ErrorKind::kNotFound;
        case ERROR_ACCESS_DENIED:
        case WSAEACCES: return ErrorKind::kDenied;
        default: return ErrorKind::kUnspecified;
    }
}

ErrorKind lookup_error_kind(int status) {
    return status == WSAHOST_NOT_FOUND || status == WSANO_DATA ? ErrorKind::kNotFound
                                                               : ErrorKind::kUnspecified;
}

}  // namespace tarncore
