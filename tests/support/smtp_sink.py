"""A real SMTP server for tests: aiosmtpd, keeping every mail it accepts in a folder.

Run with Debian's /usr/bin/python3 (python3-aiosmtpd) inside a private network namespace:

    smtp_sink.py FOLDER [--host 0.0.0.0] [--port 25]

Prints "ready" on stdout once it listens. Each accepted mail N becomes two files:
mail-NNNNNN.eml, the message bytes exactly as received after DATA (dot-stuffing removed, line
ends as sent), and then mail-NNNNNN.env with the envelope, one "key value" line each:
"helo NAME", "from ADDRESS", and one "to ADDRESS" per recipient. The .env file appears last and
whole (written aside, then renamed), so its presence means the mail is complete.
SIGTERM ends the server.
"""

import argparse
import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


def write_whole(path, data):
    temp = path + ".part"
    with open(temp, "wb") as f:
        f.write(data)
    os.rename(temp, path)


def text_bytes(text):
    return (text or "").encode("utf-8", "surrogateescape")


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "mail-%06d" % self.count)
        content = envelope.original_content
        if content is None:
            content = envelope.content
        write_whole(base + ".eml", content)
        lines = [b"helo " + text_bytes(session.host_name), b"from " + text_bytes(envelope.mail_from)]
        lines += [b"to " + text_bytes(r) for r in envelope.rcpt_tos]
        write_whole(base + ".env", b"\n".join(lines) + b"\n")
        return "250 OK"


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--host", default="0.0.0.0")
    parser.add_argument("--port", type=int, default=25)
    args = parser.parse_args()

    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, lambda: stop.done() or stop.set_result(None))
    loop.add_signal_handler(signal.SIGINT, lambda: stop.done() or stop.set_result(None))

    sink = Sink(args.folder)
    # decode_data off: the message stays bytes, exactly as it came.
    server = await loop.create_server(
        lambda: SMTP(sink, hostname="sink.test", decode_data=False, data_size_limit=None),
        host=args.host, port=args.port, reuse_address=True)
    print("ready", flush=True)
    await stop
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main())
    sys.exit(0)
