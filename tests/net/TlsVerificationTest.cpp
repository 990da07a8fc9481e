// Certificates are checked unless a caller turns the check off. The TLS server is the openssl
// tool's own test server on loopback, with a self-signed certificate made for the test.

#include "net/DirectSessionClient.h"
#include "net/RequestObjectClient.h"

#include "LoopbackHelpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
    SelfSignedServer() {
        dir_ =
            std::filesystem::temp_directory_path() / ("vantorel-tls-" + std::to_string(::getpid()));
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
        pid_ = ::fork();
        if (pid_ == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execlp("openssl", "openssl", "s_server", "-accept", accept.c_str(), "-cert",
                     cert.c_str(), "-key", key.c_str(), "-www", "-quiet", nullptr);
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
