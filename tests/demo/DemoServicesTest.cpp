#include "demo/DemoServices.h"
#include "catalogue/ReplyExtraction.h"
#include "demo/PngWriter.h"
#include "net/Curl.h"
#include "picture/Picture.h"

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

struct Reply {
    long status = 0;
    std::string headers;
    std::string body;
};

size_t append(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

Reply get(const std::string& url) {
    Reply r;
    auto h = net::makeCurlEasy();
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(h.get(), CURLOPT_HEADERFUNCTION, append);
    curl_easy_setopt(h.get(), CURLOPT_HEADERDATA, &r.headers);
    curl_easy_perform(h.get());
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &r.status);
    return r;
}

} // namespace

TEST(PngWriter, LogosDecodeToTheirPixels) {
    std::vector<std::uint8_t> px = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 1, 2, 3, 4, 5, 6};
    EXPECT_THROW(demo::encodePng(2, 2, px), std::invalid_argument);
    px.resize(16);
    std::string png = demo::encodePng(2, 2, px);
    auto image =
        picture::decode(std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()));
    ASSERT_TRUE(image.ok()) << image.error().message;
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->rgba, px);
    std::string logo = demo::drawLogo(0x409FFF, 3);
    auto decoded =
        picture::decode(std::span(reinterpret_cast<const std::uint8_t*>(logo.data()), logo.size()));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->width, 48);
    EXPECT_EQ(decoded->height, 48);
}

TEST(DemoServices, CatalogueAnswersInTheReplyFormatFilteredByKeyword) {
    demo::DemoServices services;
    Reply all = get(services.base() + "/tapi/web/"
                                      "searchcgi.php?type=search&callback=searchCallback&keyword=%"
                                      "E8%BE%93%E5%85%A5%E6%B3%95&page=1&pernum=30&more=0");
    EXPECT_EQ(all.status, 200);
    auto records = catalogue::extractRecords(all.body);
    ASSERT_TRUE(records.ok());
    ASSERT_EQ(records->size(), 2u); // the two input methods
    EXPECT_EQ(records->at(0).displayname, "拼音输入法");
    EXPECT_TRUE(records->at(0).url.starts_with(services.base() + "/files/"));

    Reply none = get(services.base() + "/tapi/web/searchcgi.php?keyword=zzzz");
    auto empty = catalogue::extractRecords(none.body);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());

    Reply logo = get(services.base() + "/softmgr/logo/48/" + records->at(0).logo48);
    EXPECT_EQ(logo.status, 200);
    EXPECT_TRUE(logo.body.starts_with("\x89PNG"));
    EXPECT_EQ(get(services.base() + "/softmgr/logo/48/none.png").status, 404);
}

TEST(DemoServices, GroupLinkServiceRedirects) {
    demo::DemoServices services;
    Reply r = get(services.base() + "/qun/api/?guin=20002&type=1");
    EXPECT_EQ(r.status, 302);
    EXPECT_NE(r.headers.find("Location: " + services.groupLink() + "?guin=20002\r\n"),
              std::string::npos);
}
