#pragma once
// RAII ownership of libcurl handles. curl_global_init runs once per process, before the first
// handle, whichever thread asks first.

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>

namespace vantorel::net {

void ensureCurlGlobal();

struct CurlEasyDeleter {
    void operator()(CURL* h) const noexcept { curl_easy_cleanup(h); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

// A fresh easy handle (never null: allocation failure throws std::bad_alloc).
CurlEasy makeCurlEasy();

struct CurlMultiDeleter {
    void operator()(CURLM* m) const noexcept { curl_multi_cleanup(m); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

// A fresh multi handle (never null: allocation failure throws std::bad_alloc).
CurlMulti makeCurlMulti();

// How long the handle's last reply kept it waiting: from sending the request to the reply's
// first byte, not counting the opening of the connection.
std::chrono::duration<double> replyWait(CURL* handle);

// Owns a curl_slist of header lines.
class CurlHeaderList {
  public:
    CurlHeaderList() = default;
    CurlHeaderList(const CurlHeaderList&) = delete;
    CurlHeaderList& operator=(const CurlHeaderList&) = delete;
    ~CurlHeaderList() { curl_slist_free_all(list_); }

    void append(const std::string& line);
    curl_slist* get() const { return list_; }

  private:
    curl_slist* list_ = nullptr;
};

} // namespace vantorel::net
