#pragma once
// Every network deadline of the program, in one table. Each caller names its row; nothing else
// holds a time limit of its own, so what bounds a request can be read here.
//
// A row has four limits (0 = no limit of its own):
//  - connect: name resolution and the connection together;
//  - send / receive: idle limits, the exchange fails when no byte moves for that long while the
//    request is sent or the reply is awaited or read (a trickling server resets them);
//  - total: the whole exchange, header block and body included, whatever the server does.
// The windows' requests all carry a total, so a server that trickles one byte every few seconds
// still ends with a message; downloads carry none, since a large file may take long, and rely on
// the downloader's speed floor instead (under 1 KiB/s for 30 s a connection is replaced; the
// whole download under it for 2 minutes fails; see Downloader.h). Running work is ended sooner by
// its cancel flag (Transport.h).
//
// | row              | connect | send | receive | total | used by                              |
// |------------------|---------|------|---------|-------|--------------------------------------|
// | kClientDefault   | 60 s    | 30 s | 30 s    | -     | the three clients when not told      |
// | kCatalogueSearch | 10 s    | 15 s | 15 s    | 30 s  | a search of the catalogue            |
// | kLogo            | 10 s    | 10 s | 10 s    | 20 s  | the logo of the shown entry          |
// | kVersionCheck    | 10 s    | 15 s | 15 s    | 30 s  | each of the version service's asks   |
// | kShareLinkStep   | 15 s    | 20 s | 20 s    | 60 s  | each step of a share-link resolution |
// | kGroupLink       | 10 s    | 15 s | 15 s    | 20 s  | the group-link redirect service      |
// | kDownload        | 20 s    | -    | -       | -     | the downloader's probe and requests  |

#include <chrono>

namespace vantorel::net {

struct Timeouts {
    std::chrono::milliseconds resolve{0};
    std::chrono::milliseconds connect{0};
    std::chrono::milliseconds send{0};
    std::chrono::milliseconds receive{0};
    std::chrono::milliseconds total{0};
};

namespace deadlines {

using std::chrono::seconds;

// The request object's usual defaults: no limit on resolving, a minute to connect, half a
// minute of silence either way.
inline constexpr Timeouts kClientDefault{.resolve = seconds(0),
                                         .connect = seconds(60),
                                         .send = seconds(30),
                                         .receive = seconds(30),
                                         .total = seconds(0)};
// A search the user waits for with the window open.
inline constexpr Timeouts kCatalogueSearch{.resolve = seconds(0),
                                           .connect = seconds(10),
                                           .send = seconds(15),
                                           .receive = seconds(15),
                                           .total = seconds(30)};
// A logo is a few kilobytes; a late one is worth less than a free worker.
inline constexpr Timeouts kLogo{.resolve = seconds(0),
                                .connect = seconds(10),
                                .send = seconds(10),
                                .receive = seconds(10),
                                .total = seconds(20)};
inline constexpr Timeouts kVersionCheck{.resolve = seconds(0),
                                        .connect = seconds(10),
                                        .send = seconds(15),
                                        .receive = seconds(15),
                                        .total = seconds(30)};
// Share pages are larger and their hosts slower; each of the up to four steps gets this.
inline constexpr Timeouts kShareLinkStep{.resolve = seconds(0),
                                         .connect = seconds(15),
                                         .send = seconds(20),
                                         .receive = seconds(20),
                                         .total = seconds(60)};
inline constexpr Timeouts kGroupLink{.resolve = seconds(0),
                                     .connect = seconds(10),
                                     .send = seconds(15),
                                     .receive = seconds(15),
                                     .total = seconds(20)};
// The downloader's connect limit; stalls and trickles are ended by its speed floor.
inline constexpr Timeouts kDownload{.resolve = seconds(0),
                                    .connect = seconds(20),
                                    .send = seconds(0),
                                    .receive = seconds(0),
                                    .total = seconds(0)};

} // namespace deadlines

} // namespace vantorel::net
