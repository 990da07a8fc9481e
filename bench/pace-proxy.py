#!/usr/bin/env python3
"""A TCP proxy that limits each connection's download rate, for bench/download.sh.

nginx's limit_rate counts per request and lets the first second's worth of a request through at
once, so a client that makes many short requests on one connection is hardly limited at all. A
share service or a CDN that limits connections limits them for their whole life, whatever is
asked over them. This proxy does that: every byte from the server to the client of one
connection passes one token bucket, refilled at that connection's rate and holding at most
BURST bytes, however many requests the connection carries.

    pace-proxy.py LISTEN_PORT SERVER_PORT RATE [SLOW_EVERY SLOW_RATE]

Connections are numbered from 1 in the order they are accepted; when SLOW_EVERY is above 0,
every SLOW_EVERY-th connection gets SLOW_RATE instead of RATE. Rates are bytes per second.
"""

import asyncio
import sys

BURST = 64 * 1024


async def forward(reader, writer, rate=None):
    """Copies what `reader` brings to `writer`; with `rate`, at most that many bytes a second."""
    loop = asyncio.get_running_loop()
    tokens, last = float(BURST), loop.time()
    try:
        while data := await reader.read(BURST):
            if rate:
                # The bucket may go into debt; the wait pays it back before the bytes go on.
                now = loop.time()
                tokens = min(BURST, tokens + (now - last) * rate) - len(data)
                last = now
                if tokens < 0:
                    await asyncio.sleep(-tokens / rate)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        writer.close()


async def main():
    listen_port, server_port, rate = (int(a) for a in sys.argv[1:4])
    slow_every = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    slow_rate = int(sys.argv[5]) if len(sys.argv) > 5 else rate
    accepted = 0

    async def serve(client_reader, client_writer):
        nonlocal accepted
        accepted += 1
        own_rate = slow_rate if slow_every > 0 and accepted % slow_every == 0 else rate
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", server_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(
            forward(client_reader, server_writer),
            forward(server_reader, client_writer, own_rate),
        )

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
