"""--html in headless Chromium: the page renders the snapshot's figures and
asks the network for nothing."""

import os
import shutil
import socket
import subprocess
import sys
import threading

import pytest

TOP = os.path.join(os.path.dirname(__file__), "..")
sys.path.insert(0, os.path.join(TOP, "tools"))
from view import cli  # noqa: E402

CHROMIUM = shutil.which("chromium")


# The browser's own background traffic off, so that what reaches the proxy
# is the page's.
QUIET = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--no-default-browser-check", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--disable-extensions",
         "--disable-default-apps", "--disable-client-side-phishing-detection",
         "--disable-domain-reliability", "--no-pings", "--metrics-recording-only",
         "--disable-features=NetworkTimeServiceQuerying,OptimizationHints,Translate,"
         "MediaRouter,AutofillServerCommunication,CertificateTransparencyComponentUpdater"]


# Without the sanitizer runtime that make check preloads into the tests:
# the browser is not ours to check, and hangs under it.
BROWSER_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


class Proxy:
    """A listener given to the browser as its proxy for every address, the
    loopback's too: any request the page makes arrives here."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen()
        self.requests = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            conn.settimeout(2)
            try:
                self.requests.append(conn.recv(200).split(b"\r\n")[0])
            except OSError:
                self.requests.append(b"?")
            conn.close()


def host_of(request):
    """The host a proxy request is for: CONNECT host:port, GET http://host/."""
    target = request.split(b" ")[1] if b" " in request else b""
    return target.split(b"://")[-1].split(b"/")[0].rsplit(b":", 1)[0]


def render(path, tmp_path):
    """The page's DOM once Chromium has loaded it, and the hosts that
    requests went to."""
    proxy = Proxy()
    try:
        run = subprocess.run(
            [CHROMIUM, *QUIET,
             f"--user-data-dir={tmp_path / 'profile'}",
             f"--proxy-server=http://127.0.0.1:{proxy.sock.getsockname()[1]}",
             "--proxy-bypass-list=<-loopback>", "--dump-dom", f"file://{path}"],
            capture_output=True, text=True, timeout=120, env=BROWSER_ENV)
    finally:
        proxy.sock.close()
    assert run.returncode == 0, run.stderr[-2000:]
    return run.stdout, {host_of(r) for r in proxy.requests}


@pytest.fixture(scope="module")
def browser_own(tmp_path_factory):
    """The hosts the browser asks by itself (updates, accounts), learned
    from an empty page; no page is held to those."""
    if CHROMIUM is None:
        pytest.skip("chromium is not installed (tools/deps.sh test installs it)")
    tmp = tmp_path_factory.mktemp("blank")
    (tmp / "blank.html").write_text("<html><body></body></html>")
    return render(tmp / "blank.html", tmp)[1]


@pytest.mark.parametrize("page", ["snapshot", "a page that fetches"])
def test_page_renders_and_stays_local(browser_own, tmp_path, page):
    path = tmp_path / "page.html"
    if page == "snapshot":
        assert cli.main(["--interval", "0.05", "--html", str(path)], out=open(os.devnull, "w")) in (0, 2)
    else:
        # The check's own control: a request does reach the listener.
        path.write_text('<html><body><img src="http://192.0.2.1/x.png">fetching</body></html>')
    dom, hosts = render(path, tmp_path)
    asked = hosts - browser_own
    if page != "snapshot":
        assert asked == {b"192.0.2.1"} and "fetching" in dom
        return
    assert asked == set()
    html = path.read_text()
    assert "<script" not in html and "http://" not in html.replace(
        "http-equiv", "") and "https://" not in html
    for heading in ("CPU", "Memory", "Disks", "Network", "Connections", "Users", "Processes"):
        assert f"<h2>{heading}</h2>" in dom
    assert f"<h1>{os.uname().nodename}</h1>" in dom
    assert dom.count("<svg") >= os.cpu_count() + 1 + 1
