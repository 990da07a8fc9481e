#include "demo/RangeServer.h"
#include "net/Curl.h"

#include <gtest/gtest.h>

#include <thread>

#include <zlib.h>

#include <chrono>

using namespace vantorel;
using demo::RangeFaults;

namespace {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string head;
    std::string body;

    bool hasHeader(const std::string& line) const {
        return head.find(line + "\r\n") != std::string::npos;
    }
};

std::size_t collect(char* data, std::size_t size, std::size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

// One exchange on `h`, which keeps its connection open for the next one.
Reply get(CURL* h, const std::string& url, const std::string& range = {}, bool head = false) {
    Reply r;
    net::CurlHeaderList headers;
    if (!range.empty())
        headers.append("Range:" + range);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_NOBODY, head ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &r.head);
    r.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    return r;
}

Reply get(const std::string& url, const std::string& range = {}, bool head = false) {
    auto curl = net::makeCurlEasy();
    return get(curl.get(), url, range, head);
}

std::string inflateAll(const std::string& coded, int windowBits) {
    z_stream stream{};
    inflateInit2(&stream, windowBits);
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
    stream.avail_in = static_cast<uInt>(coded.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : "(not a complete stream)";
}

class RangeServerTest : public ::testing::Test {
  protected:
    void SetUp() override { server_.add("/f.bin", "0123456789"); }
    demo::RangeServer server_;
};

TEST_F(RangeServerTest, ServesTheRangeFormsOfHttp) {
    Reply whole = get(server_.url("/f.bin"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, "0123456789");
    EXPECT_TRUE(whole.hasHeader("Accept-Ranges: bytes"));

    struct Case {
        const char* range;
        long status;
        const char* contentRange;
        const char* body;
    };
    const Case cases[] = {
        {"bytes=2-5", 206, "bytes 2-5/10", "2345"},    {"bytes=7-", 206, "bytes 7-9/10", "789"},
        {"bytes=-3", 206, "bytes 7-9/10", "789"},      {"bytes=8-100", 206, "bytes 8-9/10", "89"},
        {"bytes=9-9", 206, "bytes 9-9/10", "9"},       {"bytes=10-", 416, "bytes */10", ""},
        {"bytes=0-1,4-5", 200, nullptr, "0123456789"}, {"bytes=5-2", 200, nullptr, "0123456789"},
        {"items=0-1", 200, nullptr, "0123456789"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        Reply r = get(server_.url("/f.bin"), c.range);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.body);
        if (c.contentRange) {
            EXPECT_TRUE(r.hasHeader(std::string("Content-Range: ") + c.contentRange)) << r.head;
        }
    }

    Reply head = get(server_.url("/f.bin"), {}, true);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.hasHeader("Content-Length: 10"));
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(get(server_.url("/other")).status, 404);
}

TEST_F(RangeServerTest, MisbehavesAsConfigured) {
    RangeFaults faults;
    faults.ignoreRanges = true;
    server_.setFaults(faults);
    Reply ignored = get(server_.url("/f.bin"), "bytes=2-5");
    EXPECT_EQ(ignored.status, 200);
    EXPECT_EQ(ignored.body, "0123456789");
    EXPECT_FALSE(ignored.hasHeader("Accept-Ranges: bytes"));

    faults = {};
    faults.wrongContentRange = true;
    server_.setFaults(faults);
    Reply wrong = get(server_.url("/f.bin"), "bytes=4-6");
    EXPECT_EQ(wrong.status, 206);
    EXPECT_TRUE(wrong.hasHeader("Content-Range: bytes 0-2/10"));
    EXPECT_EQ(wrong.body, "012");

    faults = {};
    faults.cutAfter = 4;
    faults.cutReplies = 1;
    server_.setFaults(faults);
    Reply cut = get(server_.url("/f.bin"));
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(cut.body, "0123");
    EXPECT_EQ(get(server_.url("/f.bin")).body, "0123456789");

    faults = {};
    faults.noContentLength = true;
    server_.setFaults(faults);
    Reply unsized = get(server_.url("/f.bin"));
    EXPECT_EQ(unsized.code, CURLE_OK);
    EXPECT_EQ(unsized.head.find("Content-Length"), std::string::npos);
    EXPECT_EQ(unsized.body, "0123456789");

    faults = {};
    faults.notFound = true;
    server_.setFaults(faults);
    EXPECT_EQ(get(server_.url("/f.bin")).status, 404);
}

TEST_F(RangeServerTest, CodedBodiesDecodeToTheFile) {
    for (auto [coding, windowBits] : {std::pair{"gzip", 15 + 16}, std::pair{"deflate", 15}}) {
        SCOPED_TRACE(coding);
        RangeFaults faults;
        faults.contentCoding = coding;
        server_.setFaults(faults);
        Reply r = get(server_.url("/f.bin"), "bytes=2-5");
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(r.hasHeader(std::string("Content-Encoding: ") + coding));
        EXPECT_NE(r.body, "0123456789");
        EXPECT_EQ(inflateAll(r.body, windowBits), "0123456789");
    }
    EXPECT_THROW(demo::encodeContent("x", "br"), std::runtime_error);
}

TEST_F(RangeServerTest, LimitsEachConnectionByItsOrdinalAndLogsItsBytes) {
    const std::string file(64 * 1024, 'x');
    server_.add("/big.bin", file);
    RangeFaults faults;
    faults.connectionRate = demo::connectionRates(0, 2, 256 * 1024); // the second is slow
    server_.setFaults(faults);

    auto first = net::makeCurlEasy();
    EXPECT_EQ(get(first.get(), server_.url("/big.bin"), "bytes=0-1023").body.size(), 1024u);
    EXPECT_EQ(get(first.get(), server_.url("/big.bin"), "bytes=1024-3071").body.size(), 2048u);
    EXPECT_EQ(server_.connectionCount(), 1u); // kept alive across both ranges

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(get(server_.url("/big.bin")).body, file);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    EXPECT_EQ(server_.connectionCount(), 2u);
    ASSERT_TRUE(server_.http().idle());
    EXPECT_EQ(server_.bytesSentPerConnection(), (std::vector<std::uint64_t>{3072, file.size()}));
}

TEST_F(RangeServerTest, TotalRateHoldsAllConnectionsTogether) {
    const std::string file(256 * 1024, 'x');
    server_.add("/big.bin", file);
    RangeFaults faults;
    faults.totalRate = 1024 * 1024;
    server_.setFaults(faults);

    // Two clients at once: 512 KiB at 1 MiB/s takes half a second, less the first piece.
    const auto started = std::chrono::steady_clock::now();
    std::string other;
    std::thread second([&] { other = get(server_.url("/big.bin")).body; });
    EXPECT_EQ(get(server_.url("/big.bin")).body, file);
    second.join();
    EXPECT_EQ(other, file);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    ASSERT_TRUE(server_.http().idle());
    EXPECT_EQ(server_.files().bodyBytesSent(), 2 * file.size());
}

TEST_F(RangeServerTest, DiesAfterSomeBytesInTotal) {
    RangeFaults faults;
    faults.goneAfterBytes = 14;
    server_.setFaults(faults);
    EXPECT_EQ(get(server_.url("/f.bin")).body, "0123456789");
    const Reply cut = get(server_.url("/f.bin")); // under way when the server dies
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(cut.body, "0123");
    EXPECT_EQ(get(server_.url("/f.bin"), "bytes=0-1").status, 410);

    faults.goneAfterBytes = 0;
    faults.goneStatus = 0;
    server_.setFaults(faults);
    EXPECT_EQ(get(server_.url("/f.bin")).code, CURLE_GOT_NOTHING);
    ASSERT_TRUE(server_.http().idle());
    EXPECT_EQ(server_.files().bodyBytesSent(), 14u);
}

} // namespace
