#!/usr/bin/env python3
"""A real SMTP server on loopback for the mail tests, and the parser that reads
messages back.

  smtp_server.py serve --dir DIR [options]   prints "PORT <n>" once it listens
  smtp_server.py parse FILE                  prints the summary of a message file

Every message the server accepts is parsed with Python's email package
(default policy) and written as DIR/msg-NNN.json (summary plus envelope) next
to the raw DIR/msg-NNN.eml, unless --discard (for benchmarks). Each accepted
connection appends a line to DIR/events.jsonl.
"""

import argparse
import asyncio
import base64
import binascii
import hashlib
import hmac
import json
import os
import quopri
import re
import ssl
import sys
import time
from email import policy
from email.parser import BytesParser

MECHANISMS = ("LOGIN", "PLAIN", "CRAM-MD5", "CRAM-SHA1")


ENCODED_WORD = re.compile(r"=\?([^?]+)\?([bBqQ])\?([^?]*)\?=")


def split_word_defects(raw: bytes) -> list:
    """Python joins adjacent encoded words before decoding them; RFC 2047 wants
    every word to decode on its own, as other mail readers expect."""
    head = raw.split(b"\r\n\r\n", 1)[0].decode("ascii", errors="replace")
    defects = []
    for charset, kind, text in ENCODED_WORD.findall(head):
        try:
            data = base64.b64decode(text, validate=True) if kind in "bB" \
                else quopri.decodestring(text.replace("_", " "), header=True)
            data.decode(charset)
        except (binascii.Error, UnicodeDecodeError, LookupError) as e:
            defects.append(f"encoded word =?{charset}?{kind}?{text}?= does not decode on its own: {e}")
    return defects


def summarize(raw: bytes) -> dict:
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    defects = split_word_defects(raw)
    parts = []
    for part in msg.walk():
        defects += [f"{type(d).__name__}: {d}" for d in part.defects]
        for name, value in part.items():
            for d in getattr(value, "defects", ()):
                defects.append(f"{name}: {type(d).__name__}: {d}")
        entry = {
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset(),
            "cte": part.get("Content-Transfer-Encoding"),
            "disposition": part.get_content_disposition(),
            "filename": part.get_filename(),
            "name": part.get_param("name"),
            "multipart": part.is_multipart(),
        }
        if not part.is_multipart():
            payload = part.get_payload(decode=True) or b""
            entry["size"] = len(payload)
            entry["sha256"] = hashlib.sha256(payload).hexdigest()
            if part.get_content_maintype() == "text":
                entry["text"] = part.get_content()
        parts.append(entry)
    addresses = {}
    for field in ("From", "To", "Cc", "Bcc", "Reply-To"):
        if msg[field] is not None:
            addresses[field.lower()] = [[a.display_name, a.addr_spec] for a in msg[field].addresses]
    lines = raw.split(b"\r\n")
    return {
        "defects": defects,
        "headers": [[k, str(v)] for k, v in msg.items()],
        "addresses": addresses,
        "parts": parts,
        "max_line": max((len(line) for line in lines), default=0),
        "bare_lf": raw.replace(b"\r\n", b"").count(b"\n"),
    }


def write_json(path: str, data) -> None:
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(data, f, ensure_ascii=False, indent=1)
    os.replace(tmp, path)


def append_event(directory: str, event: dict) -> None:
    with open(os.path.join(directory, "events.jsonl"), "a", encoding="utf-8") as f:
        f.write(json.dumps(event) + "\n")


def make_handler(args):
    from aiosmtpd.smtp import AuthResult, LoginPassword, auth_mechanism

    rejected = {a.lower() for a in args.reject}
    counter = {"n": 0}

    class Handler:
        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address.lower() in rejected:
                return f"550 5.1.1 <{address}>: Recipient address rejected: User unknown"
            envelope.rcpt_tos.append(address)
            envelope.rcpt_options.extend(rcpt_options)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            counter["n"] += 1
            if args.discard:
                return "250 2.0.0 OK: discarded"
            base = os.path.join(args.dir, "msg-%03d" % counter["n"])
            raw = envelope.original_content
            with open(base + ".eml", "wb") as f:
                f.write(raw)
            record = summarize(raw)
            sslobj = server.transport.get_extra_info("ssl_object")
            peer = None
            if sslobj is not None:
                cert = sslobj.getpeercert()
                if cert:
                    peer = dict(x[0] for x in cert["subject"]).get("commonName")
            login = getattr(session.auth_data, "login", None)
            record["envelope"] = {
                "mail_from": envelope.mail_from,
                "mail_options": envelope.mail_options,
                "rcpt_tos": envelope.rcpt_tos,
                "login": login.decode() if isinstance(login, bytes) else login,
                "tls": sslobj.version() if sslobj is not None else None,
                "peer_cert": peer,
                "size": len(raw),
            }
            write_json(base + ".json", record)
            return "250 2.0.0 OK: queued"

        async def _cram(self, server, digest):
            challenge = f"<{os.getpid()}.{time.time_ns()}@fixture.test>".encode()
            response = await server.challenge_auth(challenge)
            if not isinstance(response, bytes):
                return AuthResult(success=False, handled=True)
            user, _, answer = response.decode(errors="replace").rpartition(" ")
            expected = hmac.new(args.password.encode(), challenge, digest).hexdigest()
            ok = user == args.user and hmac.compare_digest(answer, expected)
            return AuthResult(success=ok, handled=False,
                              auth_data=LoginPassword(user.encode(), b"") if ok else None)

        @auth_mechanism("CRAM-MD5")
        async def auth_CRAM_MD5(self, server, args_):
            return await self._cram(server, hashlib.md5)

        @auth_mechanism("CRAM-SHA1")
        async def auth_CRAM_SHA1(self, server, args_):
            return await self._cram(server, hashlib.sha1)

    return Handler()


def authenticator(args):
    from aiosmtpd.smtp import AuthResult

    def check(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == args.user.encode() and auth_data.password == args.password.encode()
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    return check


def tls_context(args):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(args.cert, args.key)
    if args.client_ca:
        ctx.load_verify_locations(args.client_ca)
        ctx.verify_mode = ssl.CERT_OPTIONAL
    return ctx


async def misbehave(args, reader, writer):
    append_event(args.dir, {"event": "connect"})
    try:
        if args.misbehave == "mute":
            await asyncio.sleep(3600)
        writer.write(b"220 fixture.test ESMTP\r\n")
        await writer.drain()
        await reader.readline()
        if args.misbehave == "close-multiline":
            writer.write(b"250-fixture.test\r\n250-PIPELINING\r\n")
            await writer.drain()
            writer.close()
            return
        await asyncio.sleep(3600)
    except (ConnectionError, asyncio.CancelledError):
        pass


async def serve(args):
    loop = asyncio.get_running_loop()
    ctx = tls_context(args) if args.tls != "none" else None
    if args.misbehave != "none":
        server = await asyncio.start_server(lambda r, w: misbehave(args, r, w), "127.0.0.1", 0,
                                            ssl=ctx if args.tls == "implicit" else None)
    else:
        from aiosmtpd.smtp import SMTP

        class CountingSMTP(SMTP):
            def connection_made(self, transport):
                if self._original_transport is None:
                    append_event(args.dir, {"event": "connect"})
                super().connection_made(transport)

        wanted = {m.upper() for m in args.auth.split(",") if m}
        handler = make_handler(args)

        def factory():
            return CountingSMTP(
                handler, hostname="fixture.test", ident="Ardanto test fixture",
                tls_context=ctx if args.tls == "starttls" else None,
                authenticator=authenticator(args), auth_require_tls=False,
                auth_exclude_mechanism=[m for m in MECHANISMS if m not in wanted],
                data_size_limit=args.data_limit, loop=loop)

        server = await loop.create_server(factory, "127.0.0.1", 0,
                                          ssl=ctx if args.tls == "implicit" else None)
    print(f"PORT {server.sockets[0].getsockname()[1]}", flush=True)
    await server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--dir", required=True)
    s.add_argument("--tls", choices=("none", "starttls", "implicit"), default="none")
    s.add_argument("--cert")
    s.add_argument("--key")
    s.add_argument("--client-ca")
    s.add_argument("--auth", default="", help="offered mechanisms, comma separated")
    s.add_argument("--user", default="")
    s.add_argument("--password", default="")
    s.add_argument("--reject", action="append", default=[])
    s.add_argument("--misbehave", choices=("none", "close-multiline", "silent", "mute"), default="none")
    s.add_argument("--data-limit", type=int, default=64 * 1024 * 1024)
    s.add_argument("--discard", action="store_true", help="accept messages without storing them")
    p = sub.add_parser("parse")
    p.add_argument("file")
    args = parser.parse_args()
    if args.command == "parse":
        with open(args.file, "rb") as f:
            json.dump(summarize(f.read()), sys.stdout, ensure_ascii=False)
        return
    os.makedirs(args.dir, exist_ok=True)
    try:
        asyncio.run(serve(args))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
