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

void CurlHeaderList::append(const std::string& line) {
    curl_slist* next = curl_slist_append(list_, line.c_str());
    if (!next)
        throw std::bad_alloc();
    list_ = next;
}

} // namespace vantorel::net
