"""Baseline for the SMTP submission benchmark: Python's smtplib submits message files one after
another, a new connection each, to HOST:PORT.

    smtplib_submit.py HOST PORT FROM TO BLOCK [--starttls CAFILE USER PASSWORD] FILE...

With --starttls every connection says STARTTLS (trusting CAFILE) and logs in as USER before MAIL.

Loads every file first, then for each line "N" on stdin submits the files N*BLOCK to N*BLOCK+BLOCK-1
and prints the seconds that took; ends at the end of stdin.
"""

import smtplib
import ssl
import sys
import time


def main():
    host, port, sender, recipient = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    block = int(sys.argv[5])
    files = sys.argv[6:]
    tls = None
    if files and files[0] == "--starttls":
        tls = (ssl.create_default_context(cafile=files[1]), files[2], files[3])
        files = files[4:]
    messages = []
    for path in files:
        with open(path, "rb") as f:
            messages.append(f.read())
    print("loaded", flush=True)
    for line in sys.stdin:
        first = int(line) * block
        start = time.perf_counter()
        for message in messages[first:first + block]:
            client = smtplib.SMTP(host, port, local_hostname="bench.example.jp")
            if tls:
                client.starttls(context=tls[0])
                client.login(tls[1], tls[2])
            client.sendmail(sender, [recipient], message)
            client.quit()
        print("%.6f" % (time.perf_counter() - start), flush=True)


if __name__ == "__main__":
    main()
