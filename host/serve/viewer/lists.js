// The viewer's contents, keyword index and title search: the panes that
// list what the help file holds. viewer.js makes them, and gives them what
// they share with it.
"use strict";
window.velkoryLists = function ({ $, state, api, note, link, item, open, frameUrl }) {
  // A chapter of the contents, opened or closed.
  function expand(li, open) {
    const toggle = li.querySelector(":scope > .toggle");
    if (!toggle) return;
    toggle.setAttribute("aria-expanded", open ? "true" : "false");
    li.querySelector(":scope > ul").hidden = !open;
  }

  // Marks the page being read in the contents (its entry, else the entry of
  // the same page with another anchor) and opens the chapters around it.
  function markCurrent(url) {
    const page = url.replace(/#.*$/, "");
    for (const a of document.querySelectorAll("#toc a.current")) {
      a.classList.remove("current");
      a.removeAttribute("aria-current");
    }
    const links = [...document.querySelectorAll("#toc a")];
    const entry = links.find((a) => a.dataset.url === url) ||
      links.find((a) => a.dataset.url.replace(/#.*$/, "") === page);
    if (!entry) return;
    entry.classList.add("current");
    entry.setAttribute("aria-current", "page");
    for (let li = entry.parentElement.parentElement.closest("li"); li;
      li = li.parentElement.closest("li")) expand(li, true);
    if (!$("contents").hidden) entry.scrollIntoView({ block: "nearest" });
  }

  // The contents: a tree of {n: name, u: url, c: [children]}, each chapter
  // with a button that opens or closes it beside its link.
  let chapters = 0;
  function buildTree(nodes, into) {
    for (const node of nodes) {
      const li = document.createElement("li");
      if (node.c && node.c.length) {
        const toggle = document.createElement("button");
        toggle.className = "toggle";
        toggle.setAttribute("aria-label", node.n);
        const ul = document.createElement("ul");
        ul.id = "chapter-" + ++chapters;
        toggle.setAttribute("aria-controls", ul.id);
        toggle.addEventListener("click", () =>
          expand(li, toggle.getAttribute("aria-expanded") !== "true"));
        li.appendChild(toggle);
        li.appendChild(node.u ? link(node.n, node.u) : label(node.n));
        buildTree(node.c, ul);
        li.appendChild(ul);
        expand(li, false);
      } else {
        li.appendChild(node.u ? link(node.n, node.u) : label(node.n));
      }
      into.appendChild(li);
    }
  }
  function label(text) {
    const span = document.createElement("span");
    span.textContent = text;
    return span;
  }

  // The first page the contents name, once they are shown ("" without one).
  function loadContents() {
    $("toc").textContent = "";
    note("contents", "Loading\u2026");
    return api("toc").then((toc) => {
      buildTree(toc.items, $("toc"));
      const here = frameUrl();
      if (here !== null) markCurrent(here);
      note("contents", toc.items.length ? "" : state.file.damage
        ? "The table of contents cannot be read." : "This help file has no table of contents.");
      const first = $("toc").querySelector("a");
      return first ? first.dataset.url : "";
    }).catch((e) => {
      note("contents", String(e));
      return "";
    });
  }

  // The index: every entry, or those that begin with the words typed. Which
  // begin with them the server says, comparing as help does (letter case
  // ignored as the help file's code page knows it); a stale answer is dropped.
  let keywords = [], asked = 0, askTimer = 0;
  function showKeywords() {
    const query = $("index-query").value.trim();
    const seq = ++asked;
    clearTimeout(askTimer);
    if (!query || !keywords.length) {
      showEntries(keywords);
      return;
    }
    askTimer = setTimeout(() => {
      api("index-matches", { k: query }).then((answer) => {
        if (seq === asked) showEntries(answer.positions.map((p) => keywords[p]).filter(Boolean));
      }).catch((e) => {
        if (seq === asked) note("index", String(e));
      });
    }, 60);
  }
  function showEntries(entries) {
    const list = $("keywords");
    list.textContent = "";
    let shown = 0;
    for (const k of entries) {
      if (++shown > 300) break;
      const urls = k.u || [];
      const li = urls.length ? item(k.n, urls[0]) : document.createElement("li");
      if (!urls.length) li.textContent = k.n;
      if (k.c && k.c.length) {
        const subs = document.createElement("ul");
        for (const sub of k.c) {
          const s = item(sub.n, (sub.u || [])[0] || urls[0] || "");
          s.className = "sub";
          subs.appendChild(s);
        }
        li.appendChild(subs);
      }
      list.appendChild(li);
    }
    if (keywords.length) note("index", shown ? "" : "No keyword begins with that.");
  }
  function loadIndex() {
    keywords = [];
    ++asked;
    $("keywords").textContent = "";
    api("index").then((index) => {
      keywords = index.items;
      note("index", keywords.length ? "" : state.file.damage
        ? "The keyword index cannot be read." : "This help file has no keyword index.");
      showKeywords();
    }).catch((e) => note("index", String(e)));
  }

  function loadPages() {
    state.pages = null;
    api("pages").then((answer) => {
      const failure = answer.progress && answer.progress.failure;
      if (failure) {
        note("titles", "The pages cannot be listed: " + failure);
        return;
      }
      if (!answer.ready) {
        note("titles", "Reading the pages\u2026");
        setTimeout(loadPages, 300);
        return;
      }
      state.pages = answer.pages;
      showTitles();
    }).catch((e) => note("titles", String(e)));
  }
  function showTitles() {
    if (!state.pages) return;
    const words = $("title-query").value.toLowerCase().split(/\s+/).filter(Boolean);
    const list = $("title-list");
    list.textContent = "";
    let shown = 0;
    for (const [title, url] of state.pages) {
      const t = title.toLowerCase();
      if (!words.every((w) => t.includes(w))) continue;
      if (++shown > 300) break;
      list.appendChild(item(title, url));
    }
    note("titles", shown ? "" : "No title holds those words.");
  }

  $("index-query").addEventListener("input", showKeywords);
  $("index-query").addEventListener("keydown", (event) => {
    const first = $("keywords").querySelector("a");
    if (event.key === "Enter" && first) open(first.dataset.url);
  });
  $("title-query").addEventListener("input", showTitles);

  return { markCurrent, loadContents, loadIndex, loadPages };
};
