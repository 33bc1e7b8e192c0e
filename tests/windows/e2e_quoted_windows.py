#!/usr/bin/env python3
"""The Windows quote service under Wine: sample mode answers the quote
protocol and logs each request as it comes; provider mode fetches over WinHTTP
from a stand-in provider on 127.0.0.1 (with a made-up key) and reports a rate
limit as 503."""
import argparse
import http.server
import json
import os
import ssl
import subprocess
import sys
import threading
import urllib.error
import urllib.request

from winharness import check, eventually, free_port, run_scenario, wait_until

TOKEN = "tlwmqe"
MADE_UP_KEY = "madeupkey123"
QUOTE_PATH = "/delayedstockquote/delayedstockquote.asmx/GetQuote"


def get(port, query):
    url = f"http://127.0.0.1:{port}{QUOTE_PATH}?{query}"
    try:
        with urllib.request.urlopen(url, timeout=60) as reply:
            return reply.status, reply.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()


class Provider:
    """Answers Finnhub's quote request; the symbol RATE gets 429 with an HTTP date,
    BIG a reply over 1 MiB, and STALL no reply until the test ends."""

    def __init__(self, tls=None):
        self.requests = []
        self.release = threading.Event()
        provider = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 - the handler's name is fixed
                provider.requests.append(self.path)
                if "symbol=RATE" in self.path:
                    self.send_response(429)
                    self.send_header("Retry-After", "Wed, 21 Oct 2099 07:28:00 GMT")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if "symbol=STALL" in self.path:
                    provider.release.wait()
                    return
                if "symbol=BIG" in self.path:
                    self.send_response(200)
                    self.end_headers()
                    self.wfile.write(b" " * (1 << 20) + b"{}")
                    return
                body = json.dumps({"c": 189.5, "d": -1.25, "dp": -0.6553, "h": 191.2, "l": 188,
                                   "o": 190.755, "pc": 190.75, "t": 1765209600}).encode()
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        if tls:
            self.server.socket = tls.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()


def self_signed(folder):
    """A TLS context with a certificate for 127.0.0.1 that nobody vouches for."""
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1"],
                   check=True, capture_output=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


class Service:
    def __init__(self, session, program, *arguments, env=None):
        self.port = free_port()
        self.log = []
        if env:
            session.env.update(env)
        self.process = session.start(program, "--listen", f"127.0.0.1:{self.port}", *arguments,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     text=True, errors="replace")
        threading.Thread(target=self._read, daemon=True).start()
        wait_until(lambda: any("listening on" in line for line in self.log), 300,
                   "the service to listen")

    def _read(self):
        for line in self.process.stderr:
            self.log.append(line.rstrip("\n"))


def scenario(session, program):
    sample = Service(session, program)
    status, body = get(sample.port, f"StockSymbol=IBM&LicenseKey={TOKEN}")
    check(status == 200 and "<StockSymbol>IBM</StockSymbol>" in body
          and "<LastTradeAmount>" in body, "sample mode answers a quote")
    status, _ = get(sample.port, "StockSymbol=IBM&LicenseKey=wrong1")
    check(status == 403, "a wrong LicenseKey is refused")
    # Logged while the service runs, a whole line per request.
    check(eventually(lambda: any(line.endswith(" 403") and "StockSymbol=IBM" in line
                                 for line in sample.log), 30),
          "each request is logged at once, whole")

    provider = Provider()
    gateway = Service(session, program, "--source", "finnhub", "--source-url",
                      f"http://127.0.0.1:{provider.port}/api/v1",
                      env={"TALLOW_QUOTED_API_KEY": MADE_UP_KEY})
    status, body = get(gateway.port, f"StockSymbol=ibm&LicenseKey={TOKEN}")
    check(status == 200 and "<LastTradeAmount>189.50</LastTradeAmount>" in body,
          f"provider mode answers from the provider over WinHTTP ({status})")
    check(any(path.startswith("/api/v1/quote?symbol=IBM") for path in provider.requests),
          "the provider was asked for the symbol")
    status, body = get(gateway.port, f"StockSymbol=BIG&LicenseKey={TOKEN}")
    check(status == 503 and "over 1 MiB" in body, f"a reply over 1 MiB is refused ({body})")
    # WinHTTP bounds each step alone; the whole request must end at its timeout.
    status, body = get(gateway.port, f"StockSymbol=STALL&LicenseKey={TOKEN}")
    provider.release.set()
    check(status == 503 and "timed out" in body, f"a provider that stalls times out ({body})")
    # Last: the rate limit pauses every request to the provider after it.
    status, body = get(gateway.port, f"StockSymbol=RATE&LicenseKey={TOKEN}")
    check(status == 503 and "rate limited" in body, f"a rate limit answers 503 ({status})")
    check(all(MADE_UP_KEY not in line for line in gateway.log), "the key never reaches the log")

    # The key travels in the request: none may go to a server whose
    # certificate does not check out.
    untrusted = Provider(tls=self_signed(session.tmp))
    gateway = Service(session, program, "--source", "finnhub", "--source-url",
                      f"https://127.0.0.1:{untrusted.port}/api/v1")
    status, body = get(gateway.port, f"StockSymbol=IBM&LicenseKey={TOKEN}")
    check(status == 503 and "SSL" in body and not untrusted.requests,
          f"an unverified certificate is refused before any request ({body.strip()})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True, help="tallow-quoted.exe")
    args = parser.parse_args()
    return run_scenario(scenario, os.path.abspath(args.service), display=False)


if __name__ == "__main__":
    sys.exit(main())
