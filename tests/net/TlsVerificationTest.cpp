// Certificates are checked unless a caller turns the check off. The TLS server is the openssl
// tool's own test server on loopback, with a self-signed certificate made for the test.

#include "demo/HttpServer.h"
#include "net/DirectSessionClient.h"
#include "net/RequestObjectClient.h"

#include "LoopbackHelpers.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <string>
#include <vector>

using namespace vantorel;
using namespace std::chrono_literals;

namespace {

bool accepts(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

class SelfSignedServer {
  public:
    // `options`: more of the test server's options (the protocols and ciphers it accepts).
    explicit SelfSignedServer(std::vector<std::string> options = {}) {
        static int made = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("vantorel-tls-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
        std::filesystem::create_directories(dir_);
        std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                           " -keyout '" +
                           (dir_ / "key.pem").string() + "' -out '" + (dir_ / "cert.pem").string() +
                           "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0)
            return;
        port_ = vantorel::testing::closedPort();
        // Everything the child needs is made before fork: between fork and exec it only calls
        // async-signal-safe functions.
        std::string accept = "127.0.0.1:" + std::to_string(port_);
        std::string cert = (dir_ / "cert.pem").string();
        std::string key = (dir_ / "key.pem").string();
        std::vector<std::string> words = {"openssl", "s_server", "-accept", accept, "-cert",
                                          cert,      "-key",     key,       "-www", "-quiet"};
        words.insert(words.end(), options.begin(), options.end());
        std::string folder = dir_.string();
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            // -HTTP serves the files of its working folder.
            if (::chdir(folder.c_str()) == 0)
                ::execvp("openssl", argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 100 && !accepts(port_); ++i)
            std::this_thread::sleep_for(50ms);
        ready_ = accepts(port_);
    }
    ~SelfSignedServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }
    bool ready() const { return ready_; }
    const std::filesystem::path& dir() const { return dir_; }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    std::filesystem::path dir_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace

TEST(TlsVerification, AnUntrustedCertificateFailsUnlessTheCallerTurnsTheCheckOff) {
    SelfSignedServer server;
    if (!server.ready())
        GTEST_SKIP() << "the openssl tool is not available";
    net::FetchRequest request;
    request.url = server.url();

    auto checked = net::RequestObjectClient().fetch(request);
    ASSERT_FALSE(checked);
    EXPECT_EQ(checked.error().code, int(net::TransportStep::Send));
    EXPECT_NE(checked.error().message.find("证书"), std::string::npos) << checked.error().message;

    auto numbered = net::DirectSessionClient().fetch(request);
    ASSERT_FALSE(numbered);
    EXPECT_EQ(numbered.error().message, "711 发送请求失败!");

    request.verifyTls = false;
    auto unchecked = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(unchecked) << unchecked.error().message;
    EXPECT_EQ(unchecked->status, 200);
    // The test server's page names the suite agreed: the one asked for first.
    EXPECT_NE(unchecked->body.find("Cipher is TLS_AES_128_GCM_SHA256"), std::string::npos)
        << unchecked->body;
}

TEST(TlsVerification, NoProtocolOrCipherInCommonIsToldInOurWords) {
    // TLS 1.0 alone, as an old server offers it.
    SelfSignedServer old({"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"});
    if (!old.ready())
        GTEST_SKIP() << "the openssl tool is not available";
    net::FetchRequest request;
    request.url = old.url();
    request.verifyTls = false; // the handshake fails before any certificate matters
    auto outdated = net::RequestObjectClient().fetch(request);
    ASSERT_FALSE(outdated);
    EXPECT_TRUE(outdated.error().message.starts_with(
        "无法与服务器建立安全连接：服务器只支持过时的加密协议"))
        << outdated.error().message;
    EXPECT_FALSE(outdated.error().detail.empty());

    // A cipher no client offers.
    SelfSignedServer odd({"-no_tls1_3", "-cipher", "NULL-SHA256@SECLEVEL=0"});
    ASSERT_TRUE(odd.ready());
    request.url = odd.url();
    auto cipher = net::RequestObjectClient().fetch(request);
    ASSERT_FALSE(cipher);
    EXPECT_TRUE(
        cipher.error().message.starts_with("无法与服务器建立安全连接：双方没有共同支持的加密算法"))
        << cipher.error().message;
}

TEST(TlsVerification, AnHttpsDownloadRedirectedToPlainHttpIsRefused) {
    SelfSignedServer server({"-HTTP"});
    if (!server.ready())
        GTEST_SKIP() << "the openssl tool is not available";
    demo::HttpServer plain([](const demo::HttpRequest&) { return demo::HttpResponse::text("x"); });
    // -HTTP sends the file as the whole reply.
    std::ofstream(server.dir() / "moved", std::ios::binary)
        << "HTTP/1.0 302 Found\r\nLocation: " << plain.base() << "/setup.exe\r\n"
        << "Content-Length: 0\r\n\r\n";
    const auto out = server.dir() / "setup.exe";
    // The CLI trusts the test's certificate; a process of its own reads SSL_CERT_FILE afresh.
    auto r = vantorel::testing::runCommand(
        {"/usr/bin/env", "SSL_CERT_FILE=" + (server.dir() / "cert.pem").string(), VANTOREL_CLI_PATH,
         "download", server.url() + "moved", "-o", out.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("服务器把下载从 https 转到了不加密的 http，已拒绝"), std::string::npos)
        << r.err;
    EXPECT_TRUE(plain.requests().empty());
    EXPECT_FALSE(std::filesystem::exists(out));
}
