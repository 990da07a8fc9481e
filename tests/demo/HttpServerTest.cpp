#include "demo/HttpServer.h"
#include "net/Curl.h"

#include <gtest/gtest.h>

using namespace vantorel;
using demo::HttpRequest;
using demo::HttpResponse;

namespace {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

size_t collect(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

Reply get(CURL* h, const std::string& url, const char* post = nullptr, bool head = false) {
    Reply r;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(h, CURLOPT_NOBODY, head ? 1L : 0L);
    if (post)
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, post);
    else if (!head)
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    r.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    return r;
}

} // namespace

TEST(HttpServer, ServesRequestsOnOneKeptAliveConnectionAndLogsThem) {
    demo::HttpServer server([](const HttpRequest& req) {
        return HttpResponse::text(req.method + " " + req.path + " " + req.queryValue("k") + " " +
                                  req.body);
    });
    auto curl = net::makeCurlEasy();
    Reply a = get(curl.get(), server.base() + "/a?k=%E4%B8%AD+x");
    EXPECT_EQ(a.code, CURLE_OK);
    EXPECT_EQ(a.body, "GET /a 中 x ");
    Reply b = get(curl.get(), server.base() + "/b", "x=1&y=2");
    EXPECT_EQ(b.body, "POST /b  x=1&y=2");
    Reply h = get(curl.get(), server.base() + "/h", nullptr, true);
    EXPECT_EQ(h.code, CURLE_OK);
    EXPECT_TRUE(h.body.empty());
    EXPECT_EQ(server.connectionCount(), 1u);
    auto log = server.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(log[2].method, "HEAD");
}

TEST(HttpServer, MisbehavesOnRequest) {
    demo::HttpServer server([](const HttpRequest& req) {
        HttpResponse r = HttpResponse::text(std::string(1000, 'x'));
        if (req.path == "/cut")
            r.cutAfter = 100;
        else if (req.path == "/nolength")
            r.sendContentLength = false;
        else if (req.path == "/drop")
            r.dropWithoutReply = true;
        else if (req.path == "/raw")
            r.raw = "HTTP/1.1 302 Found\r\nLocation: http://x/\r\nContent-Length: 0\r\n\r\n";
        return r;
    });
    auto curl = net::makeCurlEasy();
    Reply cut = get(curl.get(), server.base() + "/cut");
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(cut.body.size(), 100u);
    Reply whole = get(curl.get(), server.base() + "/nolength");
    EXPECT_EQ(whole.code, CURLE_OK);
    EXPECT_EQ(whole.body.size(), 1000u);
    Reply dropped = get(curl.get(), server.base() + "/drop");
    EXPECT_EQ(dropped.code, CURLE_GOT_NOTHING);
    Reply raw = get(curl.get(), server.base() + "/raw");
    EXPECT_EQ(raw.status, 302);
}

TEST(HttpServer, HandlerExceptionBecomesServerErrorAndStopIsPrompt) {
    demo::HttpServer server(
        [](const HttpRequest&) -> HttpResponse { throw std::runtime_error("boom"); });
    auto curl = net::makeCurlEasy();
    Reply r = get(curl.get(), server.base() + "/");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "boom");
    server.stop();
    Reply after = get(curl.get(), server.base() + "/");
    EXPECT_EQ(after.code, CURLE_COULDNT_CONNECT);
}
