// The viewer: contents, keyword index, title search and full-text search
// beside the page. Everything comes from the server below this page's URL.
"use strict";
(function () {
  // This help file's URL ("/<token>/<file>/"); the URLs of its pages are
  // relative to it, those of other help files begin with "../".
  const base = location.href.replace(/[#?].*$/, "");
  const frame = document.getElementById("page");
  const state = { file: null, pages: null };
  const $ = (id) => document.getElementById(id);

  // The panes are made here, so that a browser without scripts shows only
  // the page's <noscript> links, not empty controls.
  $("side").innerHTML = `
  <div id="tabs" role="tablist">
    <button role="tab" data-pane="contents" aria-selected="true">Contents</button>
    <button role="tab" data-pane="index">Index</button>
    <button role="tab" data-pane="titles">Titles</button>
    <button role="tab" data-pane="search">Search</button>
  </div>
  <section id="contents" class="pane"><ul id="toc" class="tree"></ul><p class="note"></p></section>
  <section id="index" class="pane" hidden>
    <input id="index-query" type="search" placeholder="Type a keyword" autocomplete="off">
    <ul id="keywords" class="list"></ul><p class="note"></p>
  </section>
  <section id="titles" class="pane" hidden>
    <input id="title-query" type="search" placeholder="Words of a title" autocomplete="off">
    <ul id="title-list" class="list"></ul><p class="note"></p>
  </section>
  <section id="search" class="pane" hidden>
    <input id="search-query" type="search" placeholder="Search every page" autocomplete="off">
    <ol id="hits" class="list"></ol><p class="note"></p>
  </section>`;

  function api(name, params) {
    const query = new URLSearchParams(params || {});
    return fetch(base + "~velkory/api/" + name + "?" + query).then((r) => {
      if (!r.ok) throw new Error(name + ": " + r.status);
      return r.json();
    });
  }

  function note(pane, text) {
    $(pane).querySelector(".note").textContent = text || "";
  }

  function link(text, url) {
    const a = document.createElement("a");
    a.textContent = text;
    a.href = base + url;
    a.dataset.url = url;
    a.target = "page";
    return a;
  }

  function item(text, url, where) {
    const li = document.createElement("li");
    li.appendChild(link(text, url));
    if (where) {
      const span = document.createElement("span");
      span.className = "where";
      span.textContent = where;
      li.appendChild(span);
    }
    return li;
  }

  // Opens a page (a URL relative to the base, with its anchor) beside the
  // panes; a page of another help file opens in that file's viewer.
  function open(url) {
    if (url.startsWith("../")) {
      const mark = url.indexOf("/", 3);
      location.assign(base + url.slice(0, mark + 1) + "#" + url.slice(mark + 1));
      return;
    }
    frame.src = base + url;
  }

  // Links between help files: ms-its:NAME.chm::/page.htm and the like.
  const other = /^(?:ms-its:|mk:@msitstore:|its:)(.*?)::\/?(.*)$/i;
  function otherFileUrl(href) {
    const m = other.exec(href);
    if (!m) return null;
    const name = m[1].split(/[\\/]/).pop();
    return "../" + encodeURIComponent(name) + "/" + m[2].split("/").map(encodeURIComponent).join("/").replace(/%23/, "#");
  }

  frame.addEventListener("load", () => {
    let doc;
    try { doc = frame.contentDocument; } catch (e) { return; }
    if (!doc) return;
    const here = frame.contentWindow.location.href;
    if (here.startsWith(base)) {
      history.replaceState(null, "", "#" + here.slice(base.length));
      markCurrent(here.slice(base.length));
    }
    doc.addEventListener("click", (event) => {
      const a = event.target.closest && event.target.closest("a[href]");
      if (!a) return;
      const url = otherFileUrl(a.getAttribute("href"));
      if (url) {
        event.preventDefault();
        open(url);
      }
    });
  });

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
    for (let d = entry.closest("details"); d; d = d.parentElement.closest("details")) d.open = true;
    if (!$("contents").hidden) entry.scrollIntoView({ block: "nearest" });
  }

  // A URL as people read it: its escapes decoded where they are UTF-8, the
  // others left as written (a page named in another encoding).
  function readableUrl(url) {
    return url.replace(/(?:%[0-9A-Fa-f]{2})+/g, (run) => {
      try {
        return decodeURIComponent(run);
      } catch (e) {
        return run;
      }
    });
  }

  // A problem of the whole viewer or help file, above the panes.
  function problem(text) {
    $("problem").textContent = text;
    $("problem").hidden = !text;
  }

  function showPane(name) {
    for (const button of document.querySelectorAll("#tabs button")) {
      const on = button.dataset.pane === name;
      button.setAttribute("aria-selected", on ? "true" : "false");
      $(button.dataset.pane).hidden = !on;
    }
    const input = $(name).querySelector("input");
    if (input) input.focus();
  }

  // A tree of {n: name, u: url, c: [children]}.
  function buildTree(nodes, into) {
    for (const node of nodes) {
      const li = document.createElement("li");
      const label = node.u ? link(node.n, node.u) : document.createTextNode(node.n);
      if (node.c && node.c.length) {
        const details = document.createElement("details");
        const summary = document.createElement("summary");
        summary.appendChild(label);
        details.appendChild(summary);
        const ul = document.createElement("ul");
        buildTree(node.c, ul);
        details.appendChild(ul);
        li.appendChild(details);
      } else {
        li.appendChild(label);
      }
      into.appendChild(li);
    }
  }

  // The first page the contents name, once they are shown ("" without one).
  function loadContents() {
    $("toc").textContent = "";
    note("contents", "Loading\u2026");
    return api("toc").then((toc) => {
      buildTree(toc.items, $("toc"));
      try {
        const here = frame.contentWindow.location.href;
        if (here.startsWith(base)) markCurrent(here.slice(base.length));
      } catch (e) { /* a page of another origin */ }
      note("contents", toc.items.length ? "" : state.file.damage
        ? "The table of contents cannot be read." : "This help file has no table of contents.");
      const first = $("toc").querySelector("a");
      return first ? first.dataset.url : "";
    }).catch((e) => {
      note("contents", String(e));
      return "";
    });
  }

  let keywords = [];
  function showKeywords() {
    const query = $("index-query").value.trim().toLowerCase();
    const list = $("keywords");
    list.textContent = "";
    let shown = 0;
    for (const k of keywords) {
      if (query && !k.n.toLowerCase().startsWith(query)) continue;
      if (++shown > 300) break;
      const urls = k.u || [];
      const li = urls.length ? item(k.n, urls[0]) : document.createElement("li");
      if (!urls.length) li.textContent = k.n;
      for (const sub of k.c || []) {
        const s = item(sub.n, (sub.u || [])[0] || urls[0] || "");
        s.className = "sub";
        li.appendChild(s);
      }
      list.appendChild(li);
    }
    if (keywords.length) note("index", shown ? "" : "No keyword begins with that.");
  }
  function loadIndex() {
    keywords = [];
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

  let searchTimer = 0, searchSeq = 0;
  function search() {
    clearTimeout(searchTimer);
    searchTimer = setTimeout(() => {
      const q = $("search-query").value.trim();
      const seq = ++searchSeq;
      if (!q) {
        $("hits").textContent = "";
        note("search", "");
        return;
      }
      api("search", { q }).then((answer) => {
        if (seq !== searchSeq) return;
        if (!answer.ready) {
          note("search", "Reading the pages\u2026");
          setTimeout(search, 300);
          return;
        }
        const list = $("hits");
        list.textContent = "";
        for (const [title, url] of answer.hits) list.appendChild(item(title, url, readableUrl(url)));
        note("search", answer.hits.length ? "" : "No page holds every word.");
      }).catch((e) => note("search", String(e)));
    }, 120);
  }

  function showFile(file) {
    state.file = file;
    $("title").textContent = file.title;
    $("library").hidden = !file.library;
    problem(file.damage ? "Some pages cannot be shown: " + file.damage + "." : "");
    document.title = file.title;
    const contents = loadContents();
    loadIndex();
    loadPages();
    $("hits").textContent = "";
    $("search-query").value = "";
    return contents;
  }

  for (const button of document.querySelectorAll("#tabs button"))
    button.addEventListener("click", () => showPane(button.dataset.pane));
  $("index-query").addEventListener("input", showKeywords);
  $("index-query").addEventListener("keydown", (event) => {
    const first = $("keywords").querySelector("a");
    if (event.key === "Enter" && first) open(first.dataset.url);
  });
  $("title-query").addEventListener("input", showTitles);
  $("search-query").addEventListener("input", search);
  // A help file opens at its home page (the one it names), else at its
  // contents' first page.
  function openHome(first) {
    const page = state.file.home || first;
    if (page) open(page);
  }

  api("info").then((info) => {
    const contents = showFile(info);
    const wanted = location.hash.slice(1);
    if (wanted) open(wanted);
    else contents.then(openHome);
  }).catch((e) => problem("The viewer cannot start (" + e.message + ")."));
})();
