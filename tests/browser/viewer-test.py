#!/usr/bin/env python3
"""The viewer in a real browser: headless Chromium, driven over its DevTools
pipe, loads `velkory serve` of a corpus help file; the panes, search, images
and links work; a screenshot is kept.

usage: viewer-test.py VELKORY HELPFILE SCREENSHOT
"""
import base64, json, os, shutil, signal, subprocess, sys, tempfile, time

velkory, helpfile, screenshot = sys.argv[1:4]
if not os.path.exists(helpfile):
    print("skipped: no help file " + helpfile)
    sys.exit(0)
chromium = shutil.which("chromium") or shutil.which("chromium-browser")
if not chromium:
    sys.exit("chromium is not installed")

failures = []
def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what)
    if not ok:
        failures.append(what)

server = subprocess.Popen([velkory, "serve", "--no-open", helpfile], stdout=subprocess.PIPE)
base = server.stdout.readline().decode().strip()
assert base.startswith("http://127.0.0.1:") and base.endswith("/"), base

profile = tempfile.mkdtemp(prefix="velkory-chromium-")
to_browser_r, to_browser_w = os.pipe()
from_browser_r, from_browser_w = os.pipe()
def child_fds():
    os.dup2(to_browser_r, 3)
    os.dup2(from_browser_w, 4)
browser = subprocess.Popen(
    [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
     "--disable-background-networking", "--disable-component-update", "--disable-sync",
     "--user-data-dir=" + profile, "--remote-debugging-pipe", "--window-size=1200,800",
     "about:blank"],
    pass_fds=(3, 4), preexec_fn=child_fds, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(to_browser_r)
os.close(from_browser_w)

buffer = b""
next_id = 0
def call(method, params=None, session=None, timeout=20):
    global buffer, next_id
    next_id += 1
    message = {"id": next_id, "method": method, "params": params or {}}
    if session:
        message["sessionId"] = session
    os.write(to_browser_w, json.dumps(message).encode() + b"\0")
    deadline = time.time() + timeout
    while time.time() < deadline:
        while b"\0" in buffer:
            raw, buffer = buffer.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
        chunk = os.read(from_browser_r, 1 << 20)
        if not chunk:
            raise RuntimeError("the browser closed its pipe")
        buffer += chunk
    raise RuntimeError(method + ": no answer")

def run(session, expression):
    result = call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                       "awaitPromise": True}, session)
    return result.get("result", {}).get("value")

def wait_for(session, expression, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = run(session, expression)
        if value:
            return value
        time.sleep(0.1)
    return None

try:
    target = call("Target.createTarget", {"url": base})["targetId"]
    session = call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    call("Runtime.enable", session=session)
    doc = "document.getElementById('page').contentDocument"
    here = "document.getElementById('page').contentWindow.location.href"

    check(wait_for(session, doc + ".readyState === 'complete' && " + here +
                   ".endsWith('_RESOURCE/WhatIsWinRing0.html')"),
          "the viewer opens the help file's start page beside the panes")
    check(run(session, "document.getElementById('title').textContent") not in (None, "", "Velkory"),
          "the viewer shows the help file's title")

    # Contents and index: the trees, or the panes saying they wait.
    for pane, list_id in (("contents", "toc"), ("index", "keywords")):
        run(session, "document.querySelector('[data-pane=%s]').click()" % pane)
        shown = wait_for(session, "document.querySelectorAll('#%s a').length || "
                         "document.querySelector('#%s .note').textContent" % (list_id, pane))
        check(bool(shown), "the %s pane shows its entries or why not (%s)" % (pane, shown))
        if isinstance(shown, int):
            run(session, "document.querySelector('#%s a').click()" % list_id)
            check(wait_for(session, doc + ".readyState === 'complete'"), pane + " opens a page")

    # Title search as you type.
    run(session, "document.querySelector('[data-pane=titles]').click();"
                 "const t = document.getElementById('title-query'); t.value = 'cpuid';"
                 "t.dispatchEvent(new Event('input'))")
    titles = wait_for(session, "[...document.querySelectorAll('#title-list a')].map(a => a.textContent)")
    check(titles and len(titles) >= 3 and all("cpuid" in t.lower() for t in titles),
          "title search lists the matching titles: %s" % titles)

    # Full-text search, ranked; a hit opens its page.
    run(session, "document.querySelector('[data-pane=search]').click();"
                 "const q = document.getElementById('search-query'); q.value = 'driver version';"
                 "q.dispatchEvent(new Event('input'))")
    hits = wait_for(session, "[...document.querySelectorAll('#hits a')].map(a => a.dataset.url)")
    check(hits and hits[0].endswith("GetDriverVersion.html"), "full-text search ranks the page first: %s" % hits)
    if hits:
        run(session, "document.querySelector('#hits a').click()")
        check(wait_for(session, here + ".endsWith('GetDriverVersion.html') && " + doc +
                       ".readyState === 'complete'"), "a search hit opens its page")

    # A page with images shows them loaded.
    run(session, "document.getElementById('page').src = '%s_RESOURCE/WhatIsWinRing0.html'" % base)
    images = wait_for(session, "(() => { const d = %s; if (!d || d.readyState !== 'complete' || "
                      "!location.href) return null; const i = [...d.images];"
                      "return i.length && i.every(x => x.complete) ? i.map(x => x.naturalWidth) : null })()" % doc)
    check(images and all(w > 0 for w in images), "the page's images are loaded: widths %s" % images)

    # The contents mark the page being read, its chapters opened.
    run(session, "document.getElementById('page').src = '%s_RESOURCE/Rdmsr.html'" % base)
    current = wait_for(session, "(() => { const a = document.querySelector('#toc a.current');"
                       "return a && a.closest('details').open && a.dataset.url })()")
    check(current == "_RESOURCE/Rdmsr.html", "the contents mark the page being read: %s" % current)

    # A relative link navigates inside the viewer.
    run(session, "document.getElementById('page').src = '%s_RESOURCE/Cpuid.html'" % base)
    wait_for(session, here + ".endsWith('Cpuid.html') && " + doc + ".readyState === 'complete'")
    run(session, doc + ".querySelector('a[href=\"IsCpuid.html\"]').click()")
    check(wait_for(session, here + ".endsWith('_RESOURCE/IsCpuid.html')"),
          "a relative link navigates to its page")

    # The screenshot, of the viewer with a page and the contents opened.
    run(session, "document.querySelector('[data-pane=contents]').click();"
                 "[...document.querySelectorAll('#toc details')].slice(0, 3).forEach(d => d.open = true)")
    time.sleep(0.3)
    shot = call("Page.captureScreenshot", {"format": "png"}, session)
    with open(screenshot, "wb") as out:
        out.write(base64.b64decode(shot["data"]))
    check(os.path.getsize(screenshot) > 1000, "screenshot kept at " + screenshot)
    # A link into another help file of the same folder opens it there.
    run(session, "(() => { const d = %s; const a = d.createElement('a');"
                 "a.href = 'ms-its:MyProg.chm::/topic_myprog.htm'; a.textContent = 'x';"
                 "d.body.appendChild(a); a.click() })()" % doc)
    check(wait_for(session, here + ".endsWith('~chm/MyProg.chm/topic_myprog.htm') && " + doc +
                   ".readyState === 'complete' && " + doc + ".body.textContent.length > 0"),
          "an ms-its: link opens the other help file's page")

    try:
        call("Browser.close", timeout=5)
    except RuntimeError:
        pass
finally:
    try:
        browser.wait(timeout=10)
    except subprocess.TimeoutExpired:
        browser.kill()
    server.send_signal(signal.SIGTERM)
    try:
        status = server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        status = None
    shutil.rmtree(profile, ignore_errors=True)
check(status == 0, "the server ends cleanly on SIGTERM")
print("viewer: %s" % ("all checks passed" if not failures else "%d checks failed" % len(failures)))
sys.exit(1 if failures else 0)
