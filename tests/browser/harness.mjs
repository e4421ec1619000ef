// What the browser tests share: velkory serve run as a child, Debian's
// Chromium driven by puppeteer-core (which never downloads a browser), and
// checks that are counted and reported.
//
// A test whose inputs are missing (the shared corpus) exits with Skipped (77),
// which ctest reports as a skip; any other problem is a failure.
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";

export const Skipped = 77;

export function skip(why) {
  console.log("skipped: " + why);
  process.exit(Skipped);
}

export function fail(why) {
  console.error("FAIL: " + why);
  process.exit(1);
}

// The modules installed beside the build (install-modules.sh).
export function requireModule(name) {
  const dir = process.env.VELKORY_BROWSER_MODULES;
  if (!dir || !fs.existsSync(path.join(dir, "node_modules", name)))
    fail(`the module ${name} is not installed in ${dir} (the Browser.modules test installs it)`);
  return createRequire(path.resolve(dir, "package.json"))(name);
}

const failures = [];
export function check(ok, what) {
  console.log((ok ? "ok:   " : "FAIL: ") + what);
  if (!ok) failures.push(what);
  return ok;
}

export function finish(name) {
  console.log(`${name}: ` + (failures.length ? `${failures.length} checks failed` : "all checks passed"));
  process.exit(failures.length ? 1 : 0);
}

// The servers of a test keep their address (and any settings) in a folder of
// the test's own, removed when it ends.
export const settings = fs.mkdtempSync(path.join(os.tmpdir(), "velkory-browser-"));
process.on("exit", () => fs.rmSync(settings, { recursive: true, force: true }));

// velkory serve ARGS...: its first line of output (the URL) once it prints it.
export class Server {
  constructor(velkory, args, env = {}) {
    this.child = spawn(velkory, args, {
      stdio: ["ignore", "pipe", "inherit"],
      env: { ...process.env, VELKORY_REGISTRY: path.join(settings, "registry.reg"),
        XDG_CACHE_HOME: path.join(settings, "cache"), ...env },
    });
    this.lines = readline.createInterface({ input: this.child.stdout });
    this.exited = new Promise((resolve) => this.child.on("exit", (code, signal) => resolve(signal ? -1 : code)));
  }
  line(seconds = 10) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error("velkory serve printed nothing")), seconds * 1000);
      this.lines.once("line", (text) => { clearTimeout(timer); resolve(text); });
      this.child.once("exit", () => { clearTimeout(timer); reject(new Error("velkory serve ended")); });
    });
  }
  // SIGTERM; its exit status, or null unless it ends within 10 s.
  async stop() {
    if (this.child.exitCode !== null) return this.child.exitCode;
    this.child.kill("SIGTERM");
    const timeout = new Promise((resolve) => setTimeout(() => resolve(null), 10000));
    const status = await Promise.race([this.exited, timeout]);
    if (status === null) this.child.kill("SIGKILL");
    return status;
  }
}

// Headless Chromium with a profile of its own, removed on close.
export async function launchBrowser() {
  const puppeteer = requireModule("puppeteer-core");
  const chromium = ["/usr/bin/chromium", "/usr/bin/chromium-browser"].find((p) => fs.existsSync(p));
  if (!chromium) fail("Debian's chromium is not installed (cmake/install-deps.sh installs it)");
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "velkory-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: chromium, headless: true, pipe: true, userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--window-size=1200,800"],
    defaultViewport: { width: 1200, height: 800 },
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Waits until fn (run in the page) gives a true value, and gives it; null
// after seconds.
export async function waitFor(page, fn, arg, seconds = 10) {
  try {
    const handle = await page.waitForFunction(fn, { timeout: seconds * 1000, polling: 100 }, arg);
    return await handle.jsonValue();
  } catch (e) {
    return null;
  }
}

// The viewer's frame as puppeteer sees it, once it has loaded a page whose
// URL ends with ending; null when it does not within seconds.
export async function framePage(page, ending, seconds = 10) {
  const deadline = Date.now() + seconds * 1000;
  while (Date.now() < deadline) {
    const loaded = await page.evaluate((end) => {
      const frame = document.getElementById("page");
      const doc = frame && frame.contentDocument;
      return !!doc && doc.readyState === "complete" && frame.contentWindow.location.href.endsWith(end);
    }, ending).catch(() => false);
    const element = loaded && await page.$("#page");
    const frame = element && await element.contentFrame();
    if (frame && frame.url().endsWith(ending)) return frame;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return null;
}
