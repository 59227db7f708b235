#pragma once
// Failures travel as exceptions whose message is the UTF-8 text shown to the user.

#include <stdexcept>
#include <string>

namespace nolvi2 {

class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A picture file that cannot be decoded (corrupt, truncated, unsupported variant).
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// A picture that the bitmap model refuses to hold (too large, negative sizes).
class EPictureSize : public Exception {
public:
    using Exception::Exception;
};

// The silent abort: stops what is running without a message (a progress handler's way of
// cancelling a decode).
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

// The system's reason for err, for a message's parenthesised detail: the common reasons (no
// such file, permission denied, a folder, no space left, a read-only file system) in
// Japanese, the others as the system words them. Every message that carries a system error
// gets its text here.
std::string ErrnoText(int err);

}  // namespace nolvi2
