// The viewer and the library with the keyboard alone and under an automated
// accessibility audit (axe-core): the tabs, the index and the search used
// from the keyboard with the focus always visible, and no violation on the
// viewer, the viewer with a search open, or the library page.
//
// usage: node a11y-test.mjs VELKORY CORPUS_DIR
import fs from "node:fs";
import path from "node:path";
import { Server, check, finish, framePage, launchBrowser, requireModule, skip, waitFor } from "./harness.mjs";

const [velkory, corpus] = process.argv.slice(2);
if (!fs.existsSync(path.join(corpus, "WinRing0.chm"))) skip("no corpus at " + corpus);
const axeSource = requireModule("axe-core").source;

// The audit of what the viewer draws (the help file's own page aside): the
// violations, as "rule: the elements" lines.
async function audit(page) {
  if (!(await page.evaluate(() => typeof window.axe === "object"))) await page.evaluate(axeSource);
  const result = await page.evaluate(() =>
    window.axe.run({ exclude: [["iframe"]] }, { iframes: false, resultTypes: ["violations"] }));
  return result.violations.map((v) => v.id + ": " + v.nodes.map((n) => n.target.join(" ")).join(", "));
}

// The element that has the focus: its id (or text), and whether the focus
// shows (an outline of some width).
function focused(page) {
  return page.evaluate(() => {
    const e = document.activeElement;
    const style = getComputedStyle(e);
    return { id: e.id || e.textContent.trim().slice(0, 40), visible: style.outlineStyle !== "none" &&
      parseFloat(style.outlineWidth) > 0 };
  });
}

async function press(page, key, times = 1) {
  for (let i = 0; i < times; ++i) await page.keyboard.press(key);
}

const browser = await launchBrowser();
const single = new Server(velkory, ["serve", "--no-open", path.join(corpus, "WinRing0.chm")]);
try {
  const base = await single.line();
  const page = await browser.newPage();
  await page.goto(base);
  await framePage(page, "_RESOURCE/WhatIsWinRing0.html");
  await waitFor(page, () => document.querySelectorAll("#toc a").length > 10);
  let violations = await audit(page);
  check(violations.length === 0, "the viewer: no violation " + JSON.stringify(violations));

  // The tabs: reached by Tab after the skip link, moved with the arrows.
  await page.focus("body");
  await press(page, "Tab");
  check((await focused(page)).id === "Skip to the page", "Tab reaches the skip link first");
  let at;
  for (const id of ["print-page", "print-chapter", "theme"]) {
    await press(page, "Tab");
    at = await focused(page);
    check(at.id === id && at.visible, `then the bar's ${id} button, its focus shown: ` + JSON.stringify(at));
  }
  await press(page, "Tab");
  at = await focused(page);
  check(at.id === "tab-contents" && at.visible, "then the selected tab, its focus shown: " + JSON.stringify(at));
  await press(page, "ArrowRight");
  at = await focused(page);
  check(at.id === "tab-index" && await page.$eval("#index", (p) => !p.hidden) &&
    await page.$eval("#contents", (p) => p.hidden), "the right arrow selects and shows the index");

  // The index: typed into, its entries reached with the arrows, Enter opens one.
  await press(page, "Tab");
  check((await focused(page)).id === "index-query", "Tab goes from the tab into its pane's box");
  await page.keyboard.type("Rdms");
  await waitFor(page, () => document.querySelectorAll("#keywords a").length === 1);
  await press(page, "ArrowDown");
  at = await focused(page);
  check(at.id === "Rdmsr" && at.visible, "the down arrow goes to the first entry, its focus shown");
  await press(page, "Enter");
  check(await framePage(page, "_RESOURCE/Rdmsr.html"), "Enter opens the entry's page");

  // The search: End selects its tab; results from the keyboard.
  await page.focus("#tab-index");
  await press(page, "End");
  check((await focused(page)).id === "tab-search", "End selects the last tab");
  await press(page, "Tab");
  await page.keyboard.type("driver version");
  await waitFor(page, () => document.querySelectorAll("#hits a").length > 0);
  await press(page, "ArrowDown");
  const first = await focused(page);
  await press(page, "ArrowUp");
  check((await focused(page)).id === "search-query", "the up arrow from the first result goes back to the box");
  await press(page, "ArrowDown");
  await press(page, "Enter");
  check(await framePage(page, "GetDriverVersion.html"), "Enter on a result opens it: " + first.id);
  violations = await audit(page);
  check(violations.length === 0, "the viewer with a search open: no violation " + JSON.stringify(violations));

  // Every control can be reached: Tab through the whole viewer finds each
  // button, box and link of the panes shown.
  await page.focus("#tab-contents");
  await page.click("#tab-contents");
  const toggles = await page.$$eval("#toc .toggle", (all) => all.length);
  check(toggles > 0 && await page.$eval("#toc .toggle", (t) => t.tabIndex === 0 && !t.closest("a, button:not(.toggle), summary")),
    "each chapter's button is in the tab order beside its link, inside no other control");
} catch (e) {
  check(false, "the test ran to its end: " + e.stack);
}
check(await single.stop() === 0, "the server ends cleanly");

const library = new Server(velkory, ["serve", "--no-open", corpus]);
try {
  const root = await library.line();
  const page = await browser.newPage();
  await page.goto(root + "?q=preprocessor");
  const violations = await audit(page);
  check(violations.length === 0, "the library with a search: no violation " + JSON.stringify(violations));
  const rows = await page.$$eval("#library tbody tr", (all) => all.length);
  check(rows === fs.readdirSync(corpus).filter((f) => f.endsWith(".chm")).length, "the library lists every help file: " + rows);
} catch (e) {
  check(false, "the library test ran to its end: " + e.stack);
}
check(await library.stop() === 0, "the library's server ends cleanly");
await browser.close();
finish("a11y");
