#include "net/Curl.h"

#include <mutex>
#include <new>

namespace vantorel::net {

void ensureCurlGlobal() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

CurlEasy makeCurlEasy() {
    ensureCurlGlobal();
    CURL* h = curl_easy_init();
    if (!h)
        throw std::bad_alloc();
    return CurlEasy(h);
}

CurlMulti makeCurlMulti() {
    ensureCurlGlobal();
    CURLM* m = curl_multi_init();
    if (!m)
        throw std::bad_alloc();
    return CurlMulti(m);
}

std::chrono::duration<double> replyWait(CURL* handle) {
    curl_off_t requested = 0, replied = 0;
    if (curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &requested) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &replied) != CURLE_OK ||
        replied < requested)
        return {};
    return std::chrono::microseconds(replied - requested);
}

void CurlHeaderList::append(const std::string& line) {
    curl_slist* next = curl_slist_append(list_, line.c_str());
    if (!next)
        throw std::bad_alloc();
    list_ = next;
}

} // namespace vantorel::net
