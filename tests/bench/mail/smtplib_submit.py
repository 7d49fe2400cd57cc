"""Baseline for the SMTP submission benchmark: Python's smtplib submits message files one after
another, a new connection each, to HOST:PORT.

    smtplib_submit.py HOST PORT FROM TO BLOCK FILE...

Loads every file first, then for each line "N" on stdin submits the files N*BLOCK to N*BLOCK+BLOCK-1
and prints the seconds that took; ends at the end of stdin.
"""

import smtplib
import sys
import time


def main():
    host, port, sender, recipient = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    block = int(sys.argv[5])
    messages = []
    for path in sys.argv[6:]:
        with open(path, "rb") as f:
            messages.append(f.read())
    print("loaded", flush=True)
    for line in sys.stdin:
        first = int(line) * block
        start = time.perf_counter()
        for message in messages[first:first + block]:
            client = smtplib.SMTP(host, port, local_hostname="bench.example.jp")
            client.sendmail(sender, [recipient], message)
            client.quit()
        print("%.6f" % (time.perf_counter() - start), flush=True)


if __name__ == "__main__":
    main()
