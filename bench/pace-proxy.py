#!/usr/bin/env python3
"""A TCP proxy that limits each connection's download rate, for bench/download.sh.

nginx's limit_rate counts per request and lets the first second's worth of a request through at
once, so a client that makes many short requests on one connection is hardly limited at all. A
share service or a CDN that limits connections limits them for their whole life, whatever is
asked over them. This proxy does that: every byte from the server to the client of one
connection passes one token bucket, refilled at that connection's rate and holding at most
BURST bytes, however many requests the connection carries.

    pace-proxy.py LISTEN_PORT SERVER_PORT RATE [SLOW_EVERY SLOW_RATE [ROUND_TRIP_MS [HANDSHAKE_MS]]]

Connections are numbered from 1 in the order they are accepted; when SLOW_EVERY is above 0,
every SLOW_EVERY-th connection gets SLOW_RATE instead of RATE. Rates are bytes per second.

ROUND_TRIP_MS puts a far server behind the proxy: what the client sends reaches the server half
a round trip later, and the server's replies reach the client half a round trip after that. The
proxy accepts a connection at once, as a corporate proxy or a CDN edge does, so the client's
TCP handshake tells it nothing of the distance; the proxy's own connection to the far server
costs HANDSHAKE_MS (default: one round trip) before the connection's first request can go on.
"""

import asyncio
import sys

BURST = 64 * 1024
# Chunks (of at most BURST bytes) a delayed direction without a rate holds on the way.
IN_FLIGHT_CHUNKS = 256


class Pace:
    """A token bucket of `rate` bytes a second; without a rate it lets everything through."""

    def __init__(self, rate, loop):
        self.rate, self.loop = rate, loop
        self.tokens, self.last = float(BURST), loop.time()

    async def take(self, size):
        if not self.rate:
            return
        # The bucket may go into debt; the wait pays it back before the bytes go on.
        now = self.loop.time()
        self.tokens = min(BURST, self.tokens + (now - self.last) * self.rate) - size
        self.last = now
        if self.tokens < 0:
            await asyncio.sleep(-self.tokens / self.rate)


async def forward(reader, writer, rate=None, delay=0.0):
    """Copies what `reader` brings to `writer`: each chunk `delay` seconds after it was read,
    then with `rate`, at most that many bytes a second."""
    loop = asyncio.get_running_loop()
    pace = Pace(rate, loop)

    async def send(data):
        await pace.take(len(data))
        writer.write(data)
        await writer.drain()

    # Chunks on the way, each with the time it is due at the other end; None ends the stream.
    # With a rate, a few times the bytes the rate brings in `delay`: the server's sends wait as
    # they would behind a real link, and a reply the client cuts short was not sent far ahead.
    on_the_way = asyncio.Queue(8 + 4 * int(rate * delay / BURST) if rate else IN_FLIGHT_CHUNKS)
    reading = asyncio.current_task()

    async def deliver():
        try:
            while True:
                due, data = await on_the_way.get()
                if due > loop.time():
                    await asyncio.sleep(due - loop.time())
                if data is None:
                    return
                await send(data)
        except ConnectionError:
            reading.cancel()  # nobody takes what is still read

    delivering = asyncio.create_task(deliver()) if delay else None
    try:
        while data := await reader.read(BURST):
            if delivering:
                await on_the_way.put((loop.time() + delay, data))
            else:
                await send(data)
        if delivering:
            await on_the_way.put((loop.time() + delay, None))
            await delivering
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        if delivering:
            delivering.cancel()
        writer.close()


async def main():
    listen_port, server_port, rate = (int(a) for a in sys.argv[1:4])
    slow_every = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    slow_rate = int(sys.argv[5]) if len(sys.argv) > 5 else rate
    round_trip = int(sys.argv[6]) / 1000 if len(sys.argv) > 6 else 0.0
    handshake = int(sys.argv[7]) / 1000 if len(sys.argv) > 7 else round_trip
    accepted = 0

    async def serve(client_reader, client_writer):
        nonlocal accepted
        accepted += 1
        own_rate = slow_rate if slow_every > 0 and accepted % slow_every == 0 else rate
        try:
            await asyncio.sleep(handshake)
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", server_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(
            forward(client_reader, server_writer, delay=round_trip / 2),
            forward(server_reader, client_writer, own_rate, round_trip / 2),
        )

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
