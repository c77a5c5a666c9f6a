#!/usr/bin/python3
# A real SMTP server for the report tests: aiosmtpd on a free loopback port. Every
# accepted message is stored in the directory given as mail-NNNN.eml (the content as
# received, dot-stuffing removed) and mail-NNNN.env (HELO, MAIL FROM, RCPT TO lines,
# and the Date header as Python's mail parser reads it: "DATE <epoch>" per header).
# Recipients whose local part starts with "refused" get a 550. Prints "PORT n" once
# listening; ends on SIGTERM or when its standard input closes.
# Options: --starttls CERT KEY (STARTTLS offered and required), --tls CERT KEY (TLS from
# the first byte), --auth USER PASSWORD (AUTH required, only this pair accepted),
# --defer N (the first N messages get "421" at the end of DATA, as a busy server says).
import argparse
import asyncio
import email
import email.policy
import email.utils
import os
import signal
import ssl
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, out_dir, defer=0):
        self.out_dir = out_dir
        self.count = 0
        self.defer = defer

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.split("@")[0].startswith("refused"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 Ok"

    async def handle_DATA(self, server, session, envelope):
        if self.defer > 0:
            self.defer -= 1
            return "421 4.3.2 Service not available, try again later"
        self.count += 1
        base = os.path.join(self.out_dir, "mail-%04d" % self.count)
        with open(base + ".env.tmp", "w") as env:
            env.write("HELO %s\nFROM %s\n" % (session.host_name, envelope.mail_from))
            for rcpt in envelope.rcpt_tos:
                env.write("TO %s\n" % rcpt)
            message = email.message_from_bytes(envelope.original_content,
                                               policy=email.policy.compat32)
            for date in message.get_all("Date") or []:
                try:
                    when = int(email.utils.parsedate_to_datetime(date).timestamp())
                    env.write("DATE %d\n" % when)
                except (TypeError, ValueError):
                    env.write("DATE unparsable %s\n" % date)
        with open(base + ".eml.tmp", "wb") as eml:
            eml.write(envelope.original_content)
        # The .eml appears last, whole: a test that sees it may read both files.
        os.rename(base + ".env.tmp", base + ".env")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 2.0.0 Ok: queued as %d" % self.count


def context_of(pair):
    if not pair:
        return None
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pair[0], pair[1])
    return context


def authenticator_for(pair):
    def check(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and
              auth_data.login.decode() == pair[0] and auth_data.password.decode() == pair[1])
        return AuthResult(success=ok, handled=False)
    return check


async def main(args):
    loop = asyncio.get_running_loop()
    store = Store(args.out_dir, args.defer)
    options = {"hostname": "zelvik-test-sink"}
    implicit = context_of(args.tls)
    if args.starttls:
        options.update(tls_context=context_of(args.starttls), require_starttls=True)
    if args.auth:
        options.update(auth_required=True, authenticator=authenticator_for(args.auth),
                       auth_require_tls=implicit is None)
    server = await loop.create_server(
        lambda: SMTP(store, **options), "127.0.0.1", 0, ssl=implicit)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)

    def watch_stdin():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(stop.set)

    threading.Thread(target=watch_stdin, daemon=True).start()
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("out_dir")
    parser.add_argument("--starttls", nargs=2)
    parser.add_argument("--tls", nargs=2)
    parser.add_argument("--auth", nargs=2)
    parser.add_argument("--defer", type=int, default=0)
    asyncio.run(main(parser.parse_args()))
