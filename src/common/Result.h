#pragma once
// Errors travel as values: a Result holds either the value or an Error whose message is
// ready to be shown to the user. The caller decides how to show it: a window shows the message
// alone; a terminal may add the technical detail after it.

#include <string>
#include <utility>
#include <variant>

namespace vantorel {

struct Error {
    int code = 0;        // subsystem-specific code (e.g. 701 for the session client); 0 if none
    std::string message; // user-facing text, UTF-8
    std::string detail;  // technical cause (a library's own words), for the terminal; may be empty
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
