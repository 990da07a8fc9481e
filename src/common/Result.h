#pragma once
// Errors travel as values: a Result holds either the value or an Error whose message is
// ready to be shown to the user. The caller decides how to show it: a window shows the message
// alone; a terminal may add the technical detail after it.

#include <string>
#include <utility>
#include <variant>

namespace vantorel {

// What kind of failure an error is: what the caller decides by (retry, refresh the address,
// drop a source, keep the part, which words to show). One set for every subsystem.
enum class FailureKind {
    Other,          // nothing a caller decides by
    Network,        // the connection failed or was cut; trying again may help
    ServerBusy,     // 408, 429, 5xx: the server may answer later
    Gone,           // 404, 410: the address no longer serves the file
    Expired,        // 401, 403, or a redirect to a web page: the address's permission ran out
    VersionChanged, // the file on the server is another version than the bytes held
    WebPage,        // a web page came where a file was expected
    DiskFull,
    NoPermission, // the file system refused
    Proxy,
    Tls,
    Cancelled,
    NotSameFile,      // an address serves other bytes than the download's file
    ForeignTarget,    // a file stands at the target that this download did not save
    BadAddress,       // the address cannot be used at all (or a share link did not resolve)
    PartChanged,      // another program changed or cut the download's part file
    ChecksumMismatch, // the file's digest is not the one it is held to
    Metalink,         // the address serves a metalink document, which describes files, not the file
};

struct Error {
    int code = 0;        // subsystem-specific code (e.g. 701 for the session client); 0 if none
    std::string message; // user-facing text, UTF-8
    std::string detail;  // technical cause (a library's own words), for the terminal; may be empty
    FailureKind kind = FailureKind::Other;
    bool partKept = false; // a download failed but left its part for a later run to go on from
};

template <class T> class [[nodiscard]] Result {
  public:
    Result(T value) : data_(std::move(value)) {}
    Result(Error error) : data_(std::move(error)) {}

    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(data_); }
    const T& value() const& { return std::get<0>(data_); }
    T&& value() && { return std::get<0>(std::move(data_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<1>(data_); }

  private:
    std::variant<T, Error> data_;
};

template <> class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_; }

  private:
    Error error_;
    bool failed_ = false;
};

using Status = Result<void>;

inline Error makeError(std::string message, int code = 0) {
    return Error{code, std::move(message), {}};
}

inline Error makeError(std::string message, FailureKind kind, int code = 0) {
    return Error{code, std::move(message), {}, kind};
}

// The same failure told in other words: the detail travels on.
inline Error withMessage(Error error, std::string message) {
    error.message = std::move(message);
    return error;
}

// The message, then the detail in brackets when there is one: for the terminal.
inline std::string messageWithDetail(const Error& error) {
    return error.detail.empty() ? error.message : error.message + " (" + error.detail + ")";
}

} // namespace vantorel
