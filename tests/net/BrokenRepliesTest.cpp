// Replies that were cut or cannot be framed fail in every client; none is taken as an empty or
// shorter success.

#include "LoopbackHelpers.h"
#include "demo/HttpServer.h"
#include "net/DirectSessionClient.h"
#include "net/InternetSessionClient.h"
#include "net/RequestObjectClient.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vantorel;
using vantorel::testing::requestFor;

TEST(BrokenReplies, FailInEveryClient) {
    const std::vector<std::pair<const char*, std::string>> replies = {
        {"head never ends", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"},
        {"length beyond 64 bits",
         "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc"},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde"},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 3x\r\n\r\nabc"},
        {"body shorter than its length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
    };
    const std::vector<std::pair<const char*, std::function<bool(const net::FetchRequest&)>>>
        clients = {
            {"request object", [](auto& r) { return bool(net::RequestObjectClient().fetch(r)); }},
            {"direct session", [](auto& r) { return bool(net::DirectSessionClient().fetch(r)); }},
            {"internet session",
             [](auto& r) { return bool(net::InternetSessionClient().fetch(r)); }},
        };
    for (const auto& [what, raw] : replies) {
        demo::HttpServer server([&raw](const demo::HttpRequest&) {
            demo::HttpResponse response;
            response.raw = raw;
            return response;
        });
        for (const auto& [client, fetch] : clients) {
            SCOPED_TRACE(std::string(what) + ", " + client);
            EXPECT_FALSE(fetch(requestFor(server.base() + "/")));
        }
    }
}
