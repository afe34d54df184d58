"""A loopback SMTP server for the mail tests.

Prints its port on the first line of stdout, then keeps every message it accepts in the folder
given: NNN.eml (as received), NNN.txt (what an independent MIME parser reads from it, one
"key: value" a line) and NNN-K.bin (each attachment, decoded). While the file "stall" exists in
the folder, DATA is held without an answer (and "stalled" is created once it is). While the
file "reject" exists, DATA is answered with its text (an SMTP reply line). Recipients starting
with "refuse" are refused. Stops on SIGTERM.
"""
import argparse
import asyncio
import email
import email.utils
import json
import os
import signal

from aiosmtpd.smtp import SMTP


class Handler:
    def __init__(self, folder):
        self.folder = folder

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refuse"):
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        stall = os.path.join(self.folder, "stall")
        if os.path.exists(stall):
            open(os.path.join(self.folder, "stalled"), "w").close()
            while os.path.exists(stall):
                await asyncio.sleep(0.02)
        reject = os.path.join(self.folder, "reject")
        if os.path.exists(reject):
            with open(reject) as f:
                return f.read().strip()
        self.save(envelope)
        return "250 OK"

    def save(self, envelope):
        count = 1 + len([n for n in os.listdir(self.folder) if n.endswith(".eml")])
        base = os.path.join(self.folder, "%03d" % count)
        raw = envelope.original_content
        msg = email.message_from_bytes(raw)
        lines = {
            "envelope-from": envelope.mail_from,
            "envelope-to": ",".join(envelope.rcpt_tos),
            "from": msg.get("From", ""),
            "to": msg.get("To", ""),
            "subject": json.dumps(msg.get("Subject", "")),
            "message-id": msg.get("Message-ID", ""),
            "date-parses": "1" if email.utils.parsedate_tz(msg.get("Date", "")) else "0",
            "defects": str(sum(len(p.defects) for p in msg.walk())),
        }
        body = []
        attachments = []
        for part in msg.walk():
            if part.is_multipart():
                continue
            if part.get_filename():
                name = "%s-%d.bin" % (base, len(attachments) + 1)
                with open(name, "wb") as f:
                    f.write(part.get_payload(decode=True))
                attachments.append(
                    "%s %s %s" % (os.path.basename(name), part.get_content_type(),
                                  part.get_filename()))
            else:
                text = part.get_payload(decode=True).decode("utf-8", "replace")
                body.append(text.replace("\r\n", "\n"))
        lines["body"] = json.dumps("".join(body))
        lines["attachments"] = str(len(attachments))
        for i, a in enumerate(attachments):
            lines["attachment-%d" % (i + 1)] = a
        with open(base + ".txt", "w") as f:
            f.writelines("%s: %s\n" % kv for kv in lines.items())
        with open(base + ".tmp", "wb") as f:
            f.write(raw)
        os.rename(base + ".tmp", base + ".eml")


async def main(args):
    loop = asyncio.get_running_loop()
    handler = Handler(args.folder)
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="vorlund-test"), "127.0.0.1", args.port)
    print(server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--port", type=int, default=0)
    asyncio.run(main(parser.parse_args()))
