// The viewer in a real browser: velkory serve of a corpus help file in
// headless Chromium; the panes, search, images and links work, and what
// goes wrong (a server that fails, a page named in another encoding) is
// said rather than leaving the viewer empty. A screenshot is kept.
//
// usage: node viewer-test.mjs VELKORY HELPFILE SCREENSHOT
import fs from "node:fs";
import { Server, check, finish, framePage, launchBrowser, skip, waitFor } from "./harness.mjs";

const [velkory, helpfile, screenshot] = process.argv.slice(2);
if (!fs.existsSync(helpfile)) skip("no help file " + helpfile + " (the shared corpus is absent)");

let server = new Server(velkory, ["serve", "--no-open", helpfile]);
const base = await server.line();
if (!/^http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\/WinRing0.chm\/$/.test(base))
  check(false, "the server prints the viewer's URL: " + base);
const browser = await launchBrowser();
try {
  const page = await browser.newPage();
  page.on("pageerror", (e) => console.log("page error: " + e.message));
  await page.goto(base);
  check(await framePage(page, "_RESOURCE/WhatIsWinRing0.html"),
    "the viewer opens the help file's start page beside the panes");
  check(!["", "Velkory"].includes(await page.$eval("#title", (e) => e.textContent)),
    "the viewer shows the help file's title");

  // Contents and index: their entries, each opening a page.
  for (const [pane, list] of [["contents", "toc"], ["index", "keywords"]]) {
    await page.click(`#tab-${pane}`);
    const count = await waitFor(page, (id) => document.querySelectorAll(`#${id} a`).length, list);
    check(count > 10, `the ${pane} pane lists its entries (${count})`);
    const target = await page.$eval(`#${list} a`, (a) => a.dataset.url);
    await page.$eval(`#${list} a`, (a) => a.click());
    check(await framePage(page, target), `the first entry of the ${pane} opens ${target}`);
  }

  // Title search as you type.
  await page.click("#tab-titles");
  await page.type("#title-query", "cpuid");
  const titles = await waitFor(page, () => {
    const t = [...document.querySelectorAll("#title-list a")].map((a) => a.textContent);
    return t.length ? t : null;
  });
  check(titles && titles.length >= 3 && titles.every((t) => t.toLowerCase().includes("cpuid")),
    "title search lists the matching titles: " + titles);

  // Full-text search, ranked; a hit opens its page.
  await page.click("#tab-search");
  await page.type("#search-query", "driver version");
  const hits = await waitFor(page, () => {
    const h = [...document.querySelectorAll("#hits a")].map((a) => a.dataset.url);
    return h.length ? h : null;
  });
  check(hits && hits[0].endsWith("GetDriverVersion.html"), "full-text search ranks the page first: " + hits);
  const snippetMarks = await page.$$eval("#hits li:first-child .snippet mark",
    (marks) => marks.map((m) => m.textContent.toLowerCase()));
  check(snippetMarks.includes("version"), "a hit's snippet marks the words: " + snippetMarks);
  if (hits) {
    await page.$eval("#hits a", (a) => a.click());
    const opened = await framePage(page, "GetDriverVersion.html");
    check(opened, "a search hit opens its page");
    // The search's words are marked in it, and nothing else.
    const marked = opened && await waitFor(page, () => {
      const doc = document.getElementById("page").contentDocument;
      const marks = [...doc.querySelectorAll("mark.velkory-match")].map((m) => m.textContent.toLowerCase());
      return marks.length ? marks : null;
    });
    check(marked && marked.every((m) => m === "driver" || m === "version") && marked.includes("version"),
      "the search's words are marked in the page: " + marked);
  }

  // Printing a chapter gathers its pages: here the chapter CPU that holds
  // the page being read.
  const chapter = await page.evaluate(() => {
    const li = [...document.querySelectorAll("#toc li")].find((e) => e.firstElementChild.nextSibling?.textContent === "CPU");
    return li && new Set([...li.querySelectorAll("a[data-url]")].map((e) => e.dataset.url.replace(/#.*$/, ""))).size;
  });
  await page.$eval("#page", (f, url) => { f.src = url; }, base + "_RESOURCE/Rdmsr.html");
  await framePage(page, "_RESOURCE/Rdmsr.html");
  await waitFor(page, () => document.querySelector("#toc a.current"));
  await page.click("#print-chapter");
  const printed = await waitFor(page, (want) => {
    const doc = document.getElementById("print")?.contentDocument;
    const articles = doc ? [...doc.querySelectorAll("article")] : [];
    return articles.length === want && articles.every((a) => a.textContent.trim()) &&
      articles.some((a) => a.dataset.url === "_RESOURCE/Rdmsr.html");
  }, chapter, 15);
  check(chapter > 10 && printed, `printing the chapter gathers its ${chapter} pages, each with its text`);

  // A page's images are loaded.
  await page.$eval("#page", (f, url) => { f.src = url; }, base + "_RESOURCE/WhatIsWinRing0.html");
  const frame = await framePage(page, "_RESOURCE/WhatIsWinRing0.html");
  const widths = frame && await frame.evaluate(async () => {
    await Promise.all([...document.images].map((i) => i.decode().catch(() => {})));
    return [...document.images].map((i) => i.naturalWidth);
  });
  check(widths && widths.length && widths.every((w) => w > 0), "the page's images are loaded: widths " + widths);

  // The contents mark the page being read, its chapters opened.
  await page.$eval("#page", (f, url) => { f.src = url; }, base + "_RESOURCE/Rdmsr.html");
  const current = await waitFor(page, () => {
    const a = document.querySelector("#toc a.current");
    return a && a.dataset.url === "_RESOURCE/Rdmsr.html" && !a.closest("ul[hidden]");
  });
  check(current, "the contents mark the page being read, its chapter opened");

  // A relative link navigates inside the viewer.
  await page.$eval("#page", (f, url) => { f.src = url; }, base + "_RESOURCE/Cpuid.html");
  const cpuid = await framePage(page, "_RESOURCE/Cpuid.html");
  if (cpuid) await cpuid.$eval('a[href="IsCpuid.html"]', (a) => a.click());
  check(await framePage(page, "_RESOURCE/IsCpuid.html"), "a relative link navigates to its page");

  // A link into another help file of the same folder opens it there.
  const here = await framePage(page, "_RESOURCE/IsCpuid.html");
  await here.evaluate(() => {
    const a = document.createElement("a");
    a.href = "ms-its:MyProg.chm::/topic_myprog.htm";
    a.textContent = "x";
    document.body.appendChild(a);
    a.click();
  });
  const other = await framePage(page, "/MyProg.chm/topic_myprog.htm");
  check(other && (await other.evaluate(() => document.body.textContent.length)) > 0 &&
    page.url().endsWith("/MyProg.chm/#topic_myprog.htm"),
    "an ms-its: link opens the other help file's page in its viewer: " + page.url());
  await page.goto(base);

  // The screenshot, of the viewer with a page and the contents opened.
  await framePage(page, "_RESOURCE/WhatIsWinRing0.html");
  await page.click("#tab-contents");
  await page.$$eval("#toc .toggle", (all) => all.slice(0, 2).forEach((t) => t.click()));
  await page.screenshot({ path: screenshot });
  check(fs.statSync(screenshot).size > 1000, "screenshot kept at " + screenshot);

  // The address shows the page; back and forward go through the pages and
  // the searches.
  await page.click("#tab-contents");
  for (const name of ["_RESOURCE/License.html", "_RESOURCE/HowToUse.html"]) {
    await page.$eval(`#toc a[data-url="${name}"]`, (a) => a.click());
    await framePage(page, name);
  }
  check(page.url() === base + "#_RESOURCE/HowToUse.html", "the address shows the page: " + page.url());
  await page.goBack();
  check(await framePage(page, "_RESOURCE/License.html") && page.url().endsWith("#_RESOURCE/License.html"),
    "back shows the page before");
  await page.goForward();
  check(await framePage(page, "_RESOURCE/HowToUse.html"), "forward shows the page after");
  await page.click("#tab-search");
  await page.$eval("#search-query", (q) => { q.value = ""; });
  await page.type("#search-query", "msr");
  await waitFor(page, () => document.querySelectorAll("#hits a").length > 1);
  await page.$$eval("#hits a", (all) => all[1].click());
  const second = await page.$$eval("#hits a", (all) => all[1].dataset.url);
  await framePage(page, second);
  await page.click("#tab-contents");
  await page.goBack();
  const restored = await waitFor(page, () => !document.getElementById("search").hidden &&
    document.getElementById("search-query").value === "msr" &&
    document.querySelectorAll("#hits a").length > 1);
  check(restored && await framePage(page, "_RESOURCE/HowToUse.html"),
    "back returns to the search, its words and results, beside the page before");

  // A bookmark of a page still opens it after the server is started again.
  const bookmark = base + "#_RESOURCE/Rdpmc.html";
  check(await server.stop() === 0, "the server ends for a new start");
  const again = new Server(velkory, ["serve", "--no-open", helpfile]);
  check(await again.line() === base, "the new run's URL is the same");
  await page.goto("about:blank");
  await page.goto(bookmark);
  check(await framePage(page, "_RESOURCE/Rdpmc.html"), "the bookmark opens its page");
  server = again;

  // Dark mode: as the system prefers, else as the switch says, remembered;
  // the help file's page darkened with it. Screenshots of both are kept.
  // The theme becomes want (the viewer's, with "+page" when the page is dark
  // too) within a few seconds.
  const theme = (want) => waitFor(page, (w) => {
    const doc = document.getElementById("page").contentDocument;
    return document.documentElement.dataset.theme + (doc.getElementById("velkory-dark") ? "+page" : "") === w;
  }, want, 5);
  await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "dark" }]);
  await framePage(page, "_RESOURCE/Rdpmc.html");
  check(await theme("dark+page"), "the system's dark preference darkens the viewer and the page");
  await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "light" }]);
  check(await theme("light"), "and its light one lightens them");
  await page.click("#theme");
  check(await theme("dark+page") && await page.$eval("#theme", (b) => b.getAttribute("aria-pressed")) === "true",
    "the switch turns dark mode on");
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-dark.png") });
  await page.reload();
  await framePage(page, "_RESOURCE/Rdpmc.html");
  check(await theme("dark+page"), "the switch is remembered");
  await page.click("#theme");
  check(await theme("light"), "and turns it off");

  // While the index is being built the search shows a bar and the hits so
  // far, each snippet's match marked and its text never read as markup, and
  // asks again until the index is ready. A search hit whose page is named in
  // another encoding than UTF-8 is listed with the others, its name as written.
  await page.setRequestInterception(true);
  page.indexing = true;
  page.on("request", (request) => {
    const progress = (ready) => ({ done: ready ? 4000 : 1234, total: 4000, ready, failure: "" });
    const cafe = ["Caf\u00e9", "caf%E9.htm", "<b>un caf\u00e9</b> noir", [[6, 11]]];
    if (request.url().includes("/~velkory/api/search?"))
      return request.respond({ status: 200, contentType: "application/json",
        body: JSON.stringify(page.indexing
          ? { ready: false, progress: progress(false), hits: [cafe] }
          : { ready: true, progress: progress(true), hits: [cafe, ["Tea", "t%C3%A9.htm"]] }) });
    if (request.url().includes("/~velkory/api/info") && page.failInfo)
      return request.respond({ status: 500, contentType: "text/plain", body: "broken" });
    request.continue();
  });
  await page.click("#tab-search");
  await page.$eval("#search-query", (q) => { q.value = ""; });
  await page.type("#search-query", "drink");
  const building = await waitFor(page, () => {
    const bar = document.getElementById("indexing");
    const snippet = document.querySelector("#hits .snippet");
    return !bar.hidden && snippet && [bar.textContent.trim(), snippet.textContent,
      [...snippet.querySelectorAll("mark")].map((m) => m.textContent).join("|"),
      snippet.querySelectorAll("b").length];
  });
  check(JSON.stringify(building) ===
    JSON.stringify(["Indexing: 1,234 of 4,000 pages", "<b>un caf\u00e9</b> noir", "caf\u00e9", 0]),
    "while indexing, a bar and the hits so far, their snippets marked: " + JSON.stringify(building));
  page.indexing = false;
  const listed = await waitFor(page, () => {
    const w = [...document.querySelectorAll("#hits .where")].map((s) => s.textContent);
    return w.length === 2 ? w : null;
  });
  check(JSON.stringify(listed) === JSON.stringify(["caf%E9.htm", "t\u00e9.htm"]),
    "hits named in another encoding are listed as written: " + JSON.stringify(listed));
  check(await page.$eval("#indexing", (bar) => bar.hidden), "the bar goes once the index is ready");

  // A server that fails the first call: the viewer says so.
  page.failInfo = true;
  await page.reload();
  const said = await waitFor(page, () => !document.getElementById("problem").hidden &&
    document.getElementById("problem").textContent);
  check(said && said.includes("info: 500"), "a failed start is said above the panes: " + said);
} catch (e) {
  check(false, "the test ran to its end: " + e.stack);
} finally {
  await browser.close();
  check(await server.stop() === 0, "the server ends cleanly on SIGTERM");
}
finish("viewer");
