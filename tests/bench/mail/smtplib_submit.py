"""Baseline for the SMTP submission benchmark: Python's smtplib submits the given message files one
after another, a new connection each, to HOST:PORT, and prints the seconds taken.

    smtplib_submit.py HOST PORT FROM TO FILE...
"""

import smtplib
import sys
import time


def main():
    host, port, sender, recipient = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    messages = []
    for path in sys.argv[5:]:
        with open(path, "rb") as f:
            messages.append(f.read())
    start = time.perf_counter()
    for message in messages:
        client = smtplib.SMTP(host, port, local_hostname="bench.example.jp")
        client.sendmail(sender, [recipient], message)
        client.quit()
    print("%.6f" % (time.perf_counter() - start), flush=True)


if __name__ == "__main__":
    main()
