#!/usr/bin/env python3
"""The live view in a real browser: Debian's headless Chromium, driven over
its DevTools protocol on a pipe (standard library only), against
halyard-record recording three halyard-camsim cameras.

Checks: the page loads without a console error, every tile's picture
changes, a camera killed in the simulator shows as lost ("signal lost" or
"no pictures for N s") and then "retrying in N s" (with --expect-retrying), a recording link downloads a file
that decodes. Keeps a screenshot of the page.

usage: live_view_browser.py RECORDER CAMSIM CHROMIUM ARTEFACT_DIR [--expect-retrying]

The cameras live on HALYARD_TEST_CAMERA_ADDRESS (127.0.0.1 when unset), an
address of this test's own when ctest runs it.
"""
import base64
import hashlib
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

CAMERA_ADDRESS = os.environ.get("HALYARD_TEST_CAMERA_ADDRESS") or "127.0.0.1"


def free_port():
    with socket.socket() as s:
        s.bind((CAMERA_ADDRESS, 0))
        return s.getsockname()[1]


class Browser:
    """Chromium with --remote-debugging-pipe: it reads commands on fd 3 and
    writes answers and events on fd 4, each a JSON text ended by NUL."""

    def __init__(self, chromium, profile):
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()

        def fds():
            r, w = os.dup(to_child_r), os.dup(from_child_w)  # above 4, so neither dup2 hits the other
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen(
            [chromium, "--headless=new", "--remote-debugging-pipe", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--no-default-browser-check", "--disable-extensions",
             "--user-data-dir=" + profile, "--window-size=1200,900", "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4),  # kept after the dup2 above
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child_r)
        os.close(from_child_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        os.close(self.to_child)
        os.close(self.from_child)

    def _read(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.from_child, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium closed its pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, params=None, session=True, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.to_child, json.dumps(message).encode() + b"\0")
        end = time.time() + timeout
        while time.time() < end:
            reply = self._read()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
            if "method" in reply:
                self.events.append(reply)
        raise RuntimeError(method + ": no answer")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            raise RuntimeError("script failed: " + json.dumps(result["exceptionDetails"]))
        return result["result"].get("value")

    def errors(self):
        found = []
        for e in self.events:
            m, p = e["method"], e.get("params", {})
            if m == "Runtime.exceptionThrown":
                found.append(json.dumps(p.get("exceptionDetails", {}))[:300])
            elif m == "Runtime.consoleAPICalled" and p.get("type") in ("error", "assert"):
                found.append(json.dumps(p.get("args", []))[:300])
            elif m == "Log.entryAdded" and p.get("entry", {}).get("level") == "error":
                found.append(p["entry"].get("text", "")[:300])
        return found


# Each tile's picture as drawn now, hashed; same-origin pictures do not taint the canvas.
TILE_HASHES = """
(() => Array.from(document.querySelectorAll('.tile img')).map(img => {
  if (!img.complete || img.naturalWidth === 0) return '';
  const c = document.createElement('canvas');
  c.width = img.naturalWidth; c.height = img.naturalHeight;
  c.getContext('2d').drawImage(img, 0, 0);
  return c.toDataURL('image/png');
}))()
"""


def wait_for(what, check, timeout):
    end = time.time() + timeout
    while time.time() < end:
        value = check()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    expect_retrying = "--expect-retrying" in sys.argv
    recorder, camsim, chromium, artefacts = args
    os.makedirs(artefacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="halyard-live-view-")
    procs = []
    browser = None
    out = None
    failures = []
    try:
        ports = [free_port() for _ in range(3)]
        cams = [subprocess.Popen([camsim, "-b", CAMERA_ADDRESS, "-p", str(p), "-n", "1"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL) for p in ports]
        procs += cams
        for p in ports:
            wait_for("camera on port %d" % p, lambda: socket.socket().connect_ex((CAMERA_ADDRESS, p)) == 0, 20)
        out = open(os.path.join(work, "recorder.out"), "w+")
        cmd = [recorder, "--http", "127.0.0.1:0", "--fps", "10", "--segment", "5", "-o",
               os.path.join(work, "rec")]
        for p in ports:
            cmd += ["--camera", "%s:%d" % (CAMERA_ADDRESS, p)]
        rec = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT)
        procs.append(rec)

        def url():
            out.seek(0)
            m = re.search(r"live view: (http://127\.0\.0\.1:\d+/)", out.read())
            return m.group(1) if m else None

        base = wait_for("the live view's address", url, 30)

        browser = Browser(chromium, os.path.join(work, "profile"))
        target = browser.call("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        browser.session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                       session=False)["sessionId"]
        for domain in ("Runtime.enable", "Log.enable", "Page.enable"):
            browser.call(domain)
        browser.call("Page.navigate", {"url": base})

        wait_for("three tiles with pictures",
                 lambda: browser.evaluate(TILE_HASHES + ".filter(h => h !== '').length") == 3, 20)
        wait_for("three streaming tiles", lambda: browser.evaluate(
            "Array.from(document.querySelectorAll('.tile .state')).filter(s => s.textContent === 'streaming').length") == 3,
            20)
        first = browser.evaluate(TILE_HASHES)
        time.sleep(1.5)
        second = browser.evaluate(TILE_HASHES)
        for i, (a, b) in enumerate(zip(first, second)):
            if a == b:
                failures.append("camera%d: picture did not change within 1.5 s" % (i + 1))

        shot = browser.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(os.path.join(artefacts, "live-view.png"), "wb") as f:
            f.write(base64.b64decode(shot))

        # On a phone's screen the tiles stack without sideways scrolling.
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
        time.sleep(0.5)
        wide = browser.evaluate("document.documentElement.scrollWidth")
        if wide > 390:
            failures.append("on a 390 px wide screen the page is %d px wide" % wide)
        shot = browser.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(os.path.join(artefacts, "live-view-phone.png"), "wb") as f:
            f.write(base64.b64decode(shot))
        browser.call("Emulation.clearDeviceMetricsOverride")

        # A recording link: the page's own link, then the file it lists.
        link = browser.evaluate("document.querySelector('#camera1 a').href")
        def finished():
            files = json.loads(urllib.request.urlopen(link + ".json", timeout=10).read())
            return [f for f in files if not f["writing"]]

        try:
            listing = wait_for("a finished segment", finished, 30)
        except AssertionError:
            listing = []
        if not listing:
            failures.append("camera1 lists no finished recording")
        else:
            path = os.path.join(work, "download-" + listing[0]["name"])
            # One retry when the connection is dropped unanswered (seen once
            # under TSan load); a recorder that died fails the second too.
            for attempt in (1, 2):
                try:
                    body = urllib.request.urlopen(base.rstrip("/") + listing[0]["url"], timeout=30).read()
                    break
                except (ConnectionError, http.client.HTTPException) as e:
                    if attempt == 2:
                        raise
                    print("download of %s dropped, trying again: %s" % (listing[0]["name"], e))
            with open(path, "wb") as f:
                f.write(body)
            if os.path.getsize(path) != listing[0]["size"]:
                failures.append("downloaded %d bytes of %s, listed with %d" % (
                    os.path.getsize(path), listing[0]["name"], listing[0]["size"]))
            # Every picture decoded: ffprobe counts what it decodes.
            probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                    "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                                   capture_output=True, text=True, timeout=120) if shutil.which("ffprobe") else None
            if probe is not None and (probe.returncode != 0 or probe.stderr.strip() or
                                      not probe.stdout.strip().isdigit() or int(probe.stdout) == 0):
                failures.append("downloaded %s does not decode: %s %s" % (listing[0]["name"], probe.stdout[:50],
                                                                          probe.stderr[:300]))
            elif os.path.getsize(path) == 0:
                failures.append("downloaded recording is empty")

        # The second camera dies.
        cams[1].send_signal(signal.SIGKILL)
        cams[1].wait()
        state = "document.querySelector('#camera2 .state').textContent"
        try:
            # The driver calls it signal lost when it notices; until then the
            # recorder counts the silence.
            wait_for("signal lost", lambda: re.search("signal lost|no pictures for", browser.evaluate(state)), 30)
            if expect_retrying:
                wait_for("retrying", lambda: "retrying" in browser.evaluate(state), 90)
        except AssertionError as e:
            failures.append("camera2: %s (state now '%s')" % (e, browser.evaluate(state)))
        shot = browser.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(os.path.join(artefacts, "live-view-camera-lost.png"), "wb") as f:
            f.write(base64.b64decode(shot))

        browser.call("Runtime.evaluate", {"expression": "1"})  # collect what came meanwhile
        failures += ["console: " + e for e in browser.errors()]

        # Stopped with viewers still watching, the recorder ends cleanly.
        rec.send_signal(signal.SIGINT)
        try:
            code = rec.wait(60)
        except subprocess.TimeoutExpired:
            code = "still running after 60 s"
        if code != 0:
            out.seek(0)
            failures.append("recorder exit status %s:\n%s" % (code, out.read()[-3000:]))
    except Exception as e:
        # What the recorder said explains most escapes (a process that ended).
        failures.append("%s: %s" % (type(e).__name__, e))
        if out is not None:
            out.flush()
            out.seek(0)
            failures.append("recorder output:\n" + out.read()[-3000:])
    finally:
        if browser:
            browser.close()
        for p in reversed(procs):
            if p.poll() is None:
                p.send_signal(signal.SIGINT)
                try:
                    p.wait(30)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print("screenshots in", artefacts)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
