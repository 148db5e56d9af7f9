"""SMTP test server: accepts mail over AUTH LOGIN without TLS, after STARTTLS, or over TLS from the
start, and delivers it into one Maildir per recipient's local part, the Maildirs the POP3 test
server serves.

Run with Debian's /usr/bin/python3, which sees python3-aiosmtpd.
"""
import argparse
import asyncio
import mailbox
import os
import signal
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class LoginSMTP(SMTP):
    # The default prompts carry a NUL byte that some clients do not answer.
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


class MaildirHandler:
    def __init__(self, root, users):
        self.root = root
        self.users = users

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        local = address.split("@", 1)[0].lower()
        if local not in self.users:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        for rcpt in envelope.rcpt_tos:
            local = rcpt.split("@", 1)[0].lower()
            box = mailbox.Maildir(os.path.join(self.root, local), create=False)
            head = "Return-Path: <{}>\r\nDelivered-To: {}\r\n".format(envelope.mail_from, rcpt)
            box.add(head.encode("ascii", "replace") + envelope.original_content)
        return "250 OK delivered"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--auth-port", type=int, required=True)
    parser.add_argument("--open-port", type=int, required=True)
    parser.add_argument("--maildirs", required=True)
    parser.add_argument("--users", required=True, help="comma-separated mailbox names")
    parser.add_argument("--login", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--tls-dir", required=True, help="holds server, wrongname and untrusted .pem/.key")
    parser.add_argument("--starttls-port", type=int, required=True)
    parser.add_argument("--smtps-port", type=int, required=True)
    parser.add_argument("--wrongname-port", type=int, required=True)
    parser.add_argument("--untrusted-port", type=int, required=True)
    args = parser.parse_args()

    def tls_context(name):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(os.path.join(args.tls_dir, name + ".pem"),
                                os.path.join(args.tls_dir, name + ".key"))
        return context

    handler = MaildirHandler(args.maildirs, set(args.users.split(",")))

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.login.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory(required):
        return lambda: LoginSMTP(handler, hostname="corvane-test", auth_require_tls=False,
                                 auth_required=required, authenticator=authenticator)

    loop.run_until_complete(loop.create_server(factory(True), "127.0.0.1", args.auth_port))
    loop.run_until_complete(loop.create_server(factory(False), "127.0.0.1", args.open_port))

    server_context = tls_context("server")

    def starttls():
        return LoginSMTP(handler, hostname="corvane-test", tls_context=server_context, require_starttls=True,
                         auth_require_tls=True, auth_required=True, authenticator=authenticator)

    def implicit():
        # The connection is encrypted before the dialogue begins.
        return LoginSMTP(handler, hostname="corvane-test", auth_require_tls=False, auth_required=True,
                         authenticator=authenticator)

    loop.run_until_complete(loop.create_server(starttls, "127.0.0.1", args.starttls_port))
    loop.run_until_complete(loop.create_server(implicit, "127.0.0.1", args.smtps_port, ssl=server_context))
    loop.run_until_complete(loop.create_server(implicit, "127.0.0.1", args.wrongname_port,
                                               ssl=tls_context("wrongname")))
    loop.run_until_complete(loop.create_server(implicit, "127.0.0.1", args.untrusted_port,
                                               ssl=tls_context("untrusted")))
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    loop.run_forever()


if __name__ == "__main__":
    main()
