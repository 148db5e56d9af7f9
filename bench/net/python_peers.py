"""The peers of corvane_net_bench: Python's standard SMTP and POP3 clients doing the same work as
our mailer and parser against the same local servers. Each prints "seconds=<wall time>" and
"cpu=<its own processor time>" for the timed part only (interpreter start-up and reading the mail
files are left out), plus a count to check.

Run with Debian's /usr/bin/python3.
"""
import argparse
import os
import poplib
import smtplib
import ssl
import sys
import time


def send(args):
    # Prepared by the benchmark: NNNNN.eml holds a mail's raw text, envelope.txt one
    # "from<TAB>to" line per mail in the same order.
    with open(os.path.join(args.dir, "envelope.txt"), encoding="ascii") as f:
        envelopes = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    mails = []
    for i in range(len(envelopes)):
        with open(os.path.join(args.dir, "%05d.eml" % i), "rb") as f:
            mails.append(f.read())

    sent = 0
    start = time.perf_counter()
    cpu = time.process_time()
    client = None
    for (sender, recipient), raw in zip(envelopes, mails):
        if client is None:
            client = smtplib.SMTP("127.0.0.1", args.port, timeout=60)
            client.ehlo()
            if args.starttls:
                client.starttls(context=ssl.create_default_context(cafile=args.cafile))
                client.ehlo()
            if args.login:
                client.user, client.password = args.login, args.password
                # The same mechanism as our client, which only speaks AUTH LOGIN.
                client.auth("LOGIN", client.auth_login, initial_response_ok=False)
        refused = client.sendmail(sender, [recipient], raw)
        if refused:
            sys.exit("refused: %r" % refused)
        sent += 1
        if sent % args.reuse == 0:
            client.quit()
            client = None
    if client is not None:
        client.quit()
    elapsed = time.perf_counter() - start
    print("seconds=%.6f" % elapsed)
    print("cpu=%.6f" % (time.process_time() - cpu))
    print("count=%d" % sent)


def retrieve(args):
    start = time.perf_counter()
    cpu = time.process_time()
    if args.ssl:
        client = poplib.POP3_SSL("127.0.0.1", args.port, timeout=60,
                                 context=ssl.create_default_context(cafile=args.cafile))
    else:
        client = poplib.POP3("127.0.0.1", args.port, timeout=60)
    client.user(args.user)
    client.pass_(args.password)
    count, _ = client.stat()
    total = 0
    for n in range(1, count + 1):
        _, lines, octets = client.retr(n)
        total += octets
    # No DELE was sent, so QUIT keeps every mail on the server.
    client.quit()
    elapsed = time.perf_counter() - start
    print("seconds=%.6f" % elapsed)
    print("cpu=%.6f" % (time.process_time() - cpu))
    print("count=%d" % count)
    print("octets=%d" % total)


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    s = sub.add_parser("send")
    s.add_argument("--port", type=int, required=True)
    s.add_argument("--dir", required=True)
    s.add_argument("--reuse", type=int, default=100)
    s.add_argument("--login", default="")
    s.add_argument("--password", default="")
    s.add_argument("--starttls", action="store_true")
    s.add_argument("--cafile", default=None)
    r = sub.add_parser("retrieve")
    r.add_argument("--port", type=int, required=True)
    r.add_argument("--user", required=True)
    r.add_argument("--password", required=True)
    r.add_argument("--ssl", action="store_true")
    r.add_argument("--cafile", default=None)
    args = parser.parse_args()
    if args.command == "send":
        send(args)
    else:
        retrieve(args)


if __name__ == "__main__":
    main()
