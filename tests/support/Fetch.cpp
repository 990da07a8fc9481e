#include "support/Fetch.h"

namespace vantorel::testing {
namespace {

std::size_t collect(char* data, std::size_t size, std::size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

} // namespace

Fetched fetch(const std::string& url, const std::string& range) {
    Fetched f;
    auto h = net::makeCurlEasy();
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &f.body);
    if (!range.empty())
        curl_easy_setopt(h.get(), CURLOPT_RANGE, range.c_str());
    f.code = curl_easy_perform(h.get());
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &f.status);
    const char* type = nullptr;
    curl_easy_getinfo(h.get(), CURLINFO_CONTENT_TYPE, &type);
    if (type)
        f.contentType = type;
    return f;
}

} // namespace vantorel::testing
