"""aiosmtpd with TLS and AUTH for the send tests, keeping mail like tests/support/smtp_sink.py.

Run with Debian's /usr/bin/python3 inside a private network namespace, exactly like smtp_sink.py
(FOLDER [--host H] [--port P]); FOLDER/server.json says how to talk:

    {"mode": "starttls" | "implicit" | "plain",
     "cert": PEM file, "key": PEM file,            (for starttls and implicit)
     "user": "...", "password": "...",             (AUTH PLAIN and LOGIN accept exactly these)
     "clear_auth": false,                          (AUTH offered without TLS)
     "exclude": ["PLAIN"]}                         (AUTH mechanisms not offered)

Every byte the server receives before TLS protects the connection is appended to FOLDER/clear.bin
(nothing for implicit TLS, where no byte is in clear), so the test can check that no password
crossed the wire in clear.
"""

import asyncio
import json
import os
import signal
import ssl
import sys
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword  # noqa: E402
from smtp_sink import Sink  # noqa: E402

# aiosmtpd 1.4 warns on every successful AUTH about a session field it still fills itself.
warnings.filterwarnings("ignore", category=DeprecationWarning)


class RecordingSMTP(SMTP):
    def __init__(self, *args, clear_log, **kwargs):
        super().__init__(*args, **kwargs)
        self._clear_log = clear_log

    def data_received(self, data):
        # Before STARTTLS the socket's bytes come here as they are; after it, this is what the TLS
        # layer decrypted.
        if self._clear_log and self._tls_protocol is None:
            with open(self._clear_log, "ab") as f:
                f.write(data)
        super().data_received(data)


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        # handled=False: aiosmtpd itself answers a refusal with its 535 line.
        return AuthResult(success=ok, handled=False)
    return check


async def main():
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--host", default="0.0.0.0")
    parser.add_argument("--port", type=int, default=25)
    args = parser.parse_args()
    with open(os.path.join(args.folder, "server.json")) as f:
        config = json.load(f)
    mode = config.get("mode", "plain")

    context = None
    if mode in ("starttls", "implicit"):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(config["cert"], config["key"])

    sink = Sink(args.folder)
    clear_log = None if mode == "implicit" else os.path.join(args.folder, "clear.bin")
    options = dict(hostname="sink.test", decode_data=False, data_size_limit=None, clear_log=clear_log)
    if "user" in config:
        options["authenticator"] = authenticator(config["user"], config["password"])
        # Implicit TLS is TLS from the first byte, which aiosmtpd's own check does not see.
        options["auth_require_tls"] = not config.get("clear_auth", False) and mode != "implicit"
    if config.get("exclude"):
        options["auth_exclude_mechanism"] = config["exclude"]
    if mode == "starttls":
        options["tls_context"] = context

    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, lambda: stop.done() or stop.set_result(None))
    server = await loop.create_server(lambda: RecordingSMTP(sink, **options), host=args.host, port=args.port,
                                      reuse_address=True, ssl=context if mode == "implicit" else None)
    print("ready", flush=True)
    await stop
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main())
    sys.exit(0)
