#include "demo/HttpServer.h"

#include "common/Text.h"
#include "net/UrlEncoding.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace vantorel::demo {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 64u << 20;
// Bodies go out in pieces of at most this size, so the per-connection log follows them closely.
constexpr std::size_t kSendPiece = 1u << 20;
constexpr std::chrono::milliseconds kPauseSlice{50};

bool sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads more bytes into `buffer`; false when the peer closed or the socket failed.
bool readMore(int fd, std::string& buffer) {
    char chunk[16384];
    for (;;) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
}

bool parseHead(std::string_view head, HttpRequest& request) {
    std::size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    std::size_t sp1 = requestLine.find(' ');
    std::size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1)
        return false;
    request.method = std::string(requestLine.substr(0, sp1));
    request.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    std::size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query =
        question == std::string::npos ? std::string() : request.target.substr(question + 1);

    std::size_t pos = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos)
            end = head.size();
        std::string_view line = head.substr(pos, end - pos);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.headers.emplace_back(std::string(trimWhitespace(line.substr(0, colon))),
                                         std::string(trimWhitespace(line.substr(colon + 1))));
        pos = end + 2;
    }
    return true;
}

// A request counted as being answered for as long as this lives.
class Answering {
  public:
    Answering(std::mutex& mutex, std::condition_variable& answered, std::size_t& count)
        : mutex_(mutex), answered_(answered), count_(count) {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    ~Answering() {
        std::lock_guard lock(mutex_);
        if (--count_ == 0)
            answered_.notify_all();
    }
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;

  private:
    std::mutex& mutex_;
    std::condition_variable& answered_;
    std::size_t& count_;
};

bool hasHeaderIn(const HeaderList& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return equalsIgnoreCase(h.first, name); });
}

} // namespace

std::string HttpRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoreCase(key, name))
            return value;
    return {};
}

bool HttpRequest::hasHeader(std::string_view name) const {
    return hasHeaderIn(headers, name);
}

std::string HttpRequest::queryValue(std::string_view key) const {
    std::string_view rest = query;
    while (!rest.empty()) {
        std::size_t amp = rest.find('&');
        std::string_view pair = rest.substr(0, amp);
        std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == key)
            return eq == std::string_view::npos ? std::string()
                                                : percentDecode(pair.substr(eq + 1));
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    return {};
}

HttpResponse HttpResponse::text(std::string body, std::string contentType, int status) {
    HttpResponse r;
    r.status = status;
    r.headers.emplace_back("Content-Type", std::move(contentType));
    r.body = std::move(body);
    return r;
}

std::string percentDecode(std::string_view text) {
    return net::percentDecode(text, true);
}

std::string_view reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 410:
        return "Gone";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

void BodyMeter::setRate(double bytesPerSecond) {
    std::lock_guard lock(mutex_);
    rate_ = bytesPerSecond;
    next_ = Clock::now();
}

void BodyMeter::setLimit(std::optional<std::uint64_t> bytes) {
    std::lock_guard lock(mutex_);
    limit_ = bytes ? std::optional(granted_ + *bytes) : std::nullopt;
}

// Bytes are granted in the order asked, each grant starting where the one before ended at the
// rate, so that all replies together keep to it.
BodyMeter::Grant BodyMeter::ask(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    if (limit_)
        bytes = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, *limit_ - granted_));
    granted_ += bytes;
    const Clock::time_point now = Clock::now();
    if (rate_ <= 0)
        return {bytes, now};
    const Clock::time_point when = std::max(now, next_);
    next_ = when + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(static_cast<double>(bytes) / rate_));
    return {bytes, when};
}

void BodyMeter::written(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    written_ += bytes;
}

double BodyMeter::rate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

std::uint64_t BodyMeter::total() const {
    std::lock_guard lock(mutex_);
    return written_;
}

bool BodyMeter::exhausted() const {
    std::lock_guard lock(mutex_);
    return limit_ && granted_ >= *limit_;
}

HttpServer::HttpServer(Handler handler, std::uint16_t port) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        throw std::runtime_error("cannot create a socket");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 128) != 0) {
        const int error = errno;
        ::close(listenFd_);
        const std::string where = "127.0.0.1:" + std::to_string(port);
        if (error == EADDRINUSE)
            throw std::runtime_error("端口 " + std::to_string(port) + " 已被占用");
        if (error == EACCES)
            throw std::runtime_error("没有权限使用端口 " + std::to_string(port));
        throw std::runtime_error("无法在 " + where + " 上监听（" + std::strerror(error) + "）");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("cannot create a pipe");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

HttpServer::~HttpServer() {
    stop();
}

std::string HttpServer::base() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::uint64_t> HttpServer::bodyBytesSent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

bool HttpServer::idle(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return answered_.wait_for(lock, limit, [this] { return answering_ == 0; });
}

// Sends the body in pieces, counting each piece on the connection's log; paced by the
// response's throttle and rate, with sleeps cut short when the server stops.
bool HttpServer::sendBody(const Connection& connection, std::string_view body,
                          const HttpResponse& response) {
    using Clock = std::chrono::steady_clock;
    const double rate = response.bytesPerSecond;
    std::size_t step = kSendPiece;
    if (response.throttleBytes > 0)
        step = response.throttleBytes;
    for (const double pace : {rate, response.meter ? response.meter->rate() : 0.0})
        if (pace > 0)
            step = std::min(step, std::max<std::size_t>(1, static_cast<std::size_t>(pace / 50)));
    const auto started = Clock::now();
    std::uint64_t done = 0;
    auto pauseUntil = [this](Clock::time_point until) {
        for (auto now = Clock::now(); now < until && !stopping_.load(); now = Clock::now())
            std::this_thread::sleep_for(std::min<Clock::duration>(until - now, kPauseSlice));
    };
    while (!body.empty() && !stopping_.load()) {
        std::size_t n = std::min(step, body.size());
        if (response.meter) {
            const BodyMeter::Grant grant = response.meter->ask(n);
            if (grant.bytes == 0)
                return false;
            n = grant.bytes;
            pauseUntil(grant.when);
            if (stopping_.load())
                return false;
        }
        if (!sendAll(connection.fd, body.substr(0, n)))
            return false;
        if (response.meter)
            response.meter->written(n);
        body.remove_prefix(n);
        done += n;
        {
            std::lock_guard lock(mutex_);
            sent_[connection.ordinal - 1] += n;
        }
        if (body.empty())
            break;
        if (response.throttleDelay.count() > 0)
            pauseUntil(Clock::now() + response.throttleDelay);
        if (rate > 0)
            pauseUntil(started + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(done / rate)));
    }
    return true;
}

void HttpServer::stop() {
    if (stopping_.exchange(true))
        return;
    char wake = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_[1], &wake, 1);
    if (acceptThread_.joinable())
        acceptThread_.join();
    ::close(listenFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    std::list<std::unique_ptr<Connection>> open;
    {
        std::lock_guard lock(mutex_);
        open.swap(open_);
        for (auto& c : open)
            ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : open) {
        c->thread.join();
        ::close(c->fd);
    }
}

void HttpServer::reapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = open_.begin(); it != open_.end();) {
            if ((*it)->done.load()) {
                finished.push_back(std::move(*it));
                it = open_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) {
        c->thread.join();
        ::close(c->fd);
    }
}

void HttpServer::acceptLoop() {
    while (!stopping_.load()) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        int ready = ::poll(p, 2, -1);
        reapFinished();
        if (ready <= 0 || !(p[0].revents & POLLIN))
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection& ref = *connection;
        std::lock_guard lock(mutex_);
        if (stopping_.load()) {
            ::close(fd);
            continue;
        }
        connection->ordinal = ++connections_;
        sent_.push_back(0);
        open_.push_back(std::move(connection));
        ref.thread = std::thread([this, &ref] {
            serve(ref);
            ::shutdown(ref.fd, SHUT_RDWR);
            ref.done.store(true);
        });
    }
}

void HttpServer::serve(Connection& connection) {
    const int fd = connection.fd;
    std::string buffer;
    while (!stopping_.load()) {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHead || !readMore(fd, buffer))
                return;
        }
        const Answering answering(mutex_, answered_, answering_);
        HttpRequest request;
        request.connection = connection.ordinal;
        if (!parseHead(std::string_view(buffer).substr(0, headEnd), request)) {
            sendAll(fd,
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        buffer.erase(0, headEnd + 4);

        std::size_t length = 0;
        std::string lengthText = request.header("Content-Length");
        if (!lengthText.empty()) {
            auto [ptr, ec] =
                std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
            if (ec != std::errc() || length > kMaxBody)
                return;
        }
        if (length > 0 && equalsIgnoreCase(request.header("Expect"), "100-continue"))
            sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
        while (buffer.size() < length)
            if (!readMore(fd, buffer))
                return;
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);

        {
            std::lock_guard lock(mutex_);
            log_.push_back(request);
        }
        HttpResponse response;
        try {
            response = handler_(request);
        } catch (const std::exception& e) {
            response = HttpResponse::text(e.what(), "text/plain; charset=utf-8", 500);
        }

        if (response.delayBeforeHead.count() > 0)
            std::this_thread::sleep_for(response.delayBeforeHead);
        if (response.dropWithoutReply)
            return;
        if (response.raw) {
            sendBody(connection, *response.raw, response);
            return;
        }

        bool keepAlive = response.sendContentLength && !response.cutAfter &&
                         !equalsIgnoreCase(request.header("Connection"), "close");
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                           (response.reason.empty() ? std::string(reasonPhrase(response.status))
                                                    : response.reason) +
                           "\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        if (response.sendContentLength && !hasHeaderIn(response.headers, "Content-Length"))
            head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        if (!keepAlive)
            head += "Connection: close\r\n";
        head += "\r\n";
        if (!sendAll(fd, head))
            return;

        if (request.method != "HEAD") {
            std::string_view body = response.body;
            if (response.cutAfter)
                body = body.substr(0, std::min(*response.cutAfter, body.size()));
            if (!sendBody(connection, body, response))
                return;
        }
        if (!keepAlive) {
            ::shutdown(fd, SHUT_WR);
            return;
        }
    }
}

} // namespace vantorel::demo
