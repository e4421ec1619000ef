// The viewer: contents, keyword index, title search and full-text search
// beside the page. Everything comes from the server below this page's URL.
//
// Keyboard: the tabs take the arrow keys, Home and End; in a search box the
// down arrow goes into the results, the arrows move between them, Enter
// opens one and Escape goes back to the box.
"use strict";
(function () {
  // This help file's URL ("/<token>/<file>/"); the URLs of its pages are
  // relative to it, those of other help files begin with "../".
  const base = location.href.replace(/[#?].*$/, "");
  const frame = document.getElementById("page");
  const state = { file: null, pages: null };
  const $ = (id) => document.getElementById(id);
  const panes = ["contents", "index", "titles", "search"];

  // The panes are made here, so that a browser without scripts shows only
  // the page's <noscript> links, not empty controls.
  $("side").innerHTML = `
  <div id="tabs" role="tablist" aria-label="Ways to find a page">
    <button role="tab" id="tab-contents" aria-controls="contents" aria-selected="true">Contents</button>
    <button role="tab" id="tab-index" aria-controls="index" aria-selected="false" tabindex="-1">Index</button>
    <button role="tab" id="tab-titles" aria-controls="titles" aria-selected="false" tabindex="-1">Titles</button>
    <button role="tab" id="tab-search" aria-controls="search" aria-selected="false" tabindex="-1">Search</button>
  </div>
  <section id="contents" class="pane" role="tabpanel" aria-labelledby="tab-contents">
    <ul id="toc" class="tree"></ul><p class="note" role="status"></p>
  </section>
  <section id="index" class="pane" role="tabpanel" aria-labelledby="tab-index" hidden>
    <label for="index-query">Keywords beginning with</label>
    <input id="index-query" type="search" autocomplete="off">
    <ul id="keywords" class="list"></ul><p class="note" role="status"></p>
  </section>
  <section id="titles" class="pane" role="tabpanel" aria-labelledby="tab-titles" hidden>
    <label for="title-query">Titles holding the words</label>
    <input id="title-query" type="search" autocomplete="off">
    <ul id="title-list" class="list"></ul><p class="note" role="status"></p>
  </section>
  <section id="search" class="pane" role="tabpanel" aria-labelledby="tab-search" hidden>
    <label for="search-query">Pages holding every word</label>
    <input id="search-query" type="search" autocomplete="off">
    <div id="indexing" hidden><label for="indexing-bar"></label>
      <progress id="indexing-bar"></progress></div>
    <ol id="hits" class="list"></ol><p class="note" role="status"></p>
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
  // The links of the panes open their pages as entries of the history; a
  // search's results carry its words to mark them in the page.
  $("side").addEventListener("click", (event) => {
    const a = event.target.closest("a[data-url]");
    if (!a || event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey) return;
    event.preventDefault();
    open(a.dataset.url, a.closest("#hits") ? $("search-query").value.trim() : "");
  });

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

  // Shows a page (a URL relative to the base, with its anchor) in the frame
  // without an entry of the frame's own in the browser's history: the
  // viewer keeps one entry a page, with the page in its address ("#page").
  function show(url) {
    const target = base + url;
    try {
      if (frame.contentWindow.location.href !== "about:blank") {
        frame.contentWindow.location.replace(target);
        return;
      }
    } catch (e) { /* a page of another origin */ }
    frame.src = target;
  }

  // Opens a page beside the panes as a new entry of the history (what the
  // entry left showed is kept in it, a search with its words); a page of
  // another help file opens in that file's viewer.
  function open(url, highlight) {
    if (url.startsWith("../")) {
      const mark = url.indexOf("/", 3);
      location.assign(base + url.slice(0, mark + 1) + "#" + url.slice(mark + 1));
      return;
    }
    history.replaceState(Object.assign({}, history.state, here()), "");
    history.pushState({ page: url, highlight: highlight || "" }, "", "#" + url);
    show(url);
  }

  // What the viewer shows now, for its entry in the history.
  function here() {
    const pane = panes.find((p) => !$(p).hidden);
    const query = pane === "contents" ? "" : $(pane).querySelector("input").value;
    return { page: frameUrl() || location.hash.slice(1), pane, query };
  }

  // Back and forward: the entry's page, and its pane with its words.
  window.addEventListener("popstate", (event) => {
    const entry = event.state || { page: location.hash.slice(1) };
    if (entry.pane && entry.pane !== "contents") {
      showPane(entry.pane, false, true);
      const input = $(entry.pane).querySelector("input");
      if (input.value !== entry.query) {
        input.value = entry.query || "";
        input.dispatchEvent(new Event("input"));
      }
    }
    if (entry.page && entry.page !== frameUrl()) show(entry.page);
  });

  // Links between help files: ms-its:NAME.chm::/page.htm and the like.
  const other = /^(?:ms-its:|mk:@msitstore:|its:)(.*?)::\/?(.*)$/i;
  function otherFileUrl(href) {
    const m = other.exec(href);
    if (!m) return null;
    const name = m[1].split(/[\\/]/).pop();
    return "../" + encodeURIComponent(name) + "/" +
      m[2].split("/").map(encodeURIComponent).join("/").replace(/%23/, "#");
  }

  // The page being read, as a URL relative to the base; null for none.
  function frameUrl() {
    try {
      const here = frame.contentWindow.location.href;
      return here.startsWith(base) ? here.slice(base.length) : null;
    } catch (e) {
      return null;  // a page of another origin
    }
  }

  // A help file's page in the dark theme: inverted, its pictures and media
  // inverted back, so that its own layout and colours' contrasts stay.
  const darkPage = "@media screen { html { filter: invert(1) hue-rotate(180deg); background: #fff; }" +
    " img, picture, video, canvas, svg, object, embed, iframe, [style*='background-image']," +
    " mark.velkory-match { filter: invert(1) hue-rotate(180deg); } }";
  function darken(doc) {
    if (!doc || !doc.documentElement) return;
    let style = doc.getElementById("velkory-dark");
    const dark = document.documentElement.dataset.theme === "dark";
    if (dark && !style) {
      style = doc.createElement("style");
      style.id = "velkory-dark";
      style.textContent = darkPage;
      (doc.head || doc.documentElement).appendChild(style);
    } else if (!dark && style) {
      style.remove();
    }
  }
  document.addEventListener("velkory-theme", () => {
    try { darken(frame.contentDocument); } catch (e) { /* another origin */ }
  });

  // The words of the search a page was opened from, marked in its text, the
  // first one scrolled to (unless the page was opened at an anchor).
  function highlight(doc, words, anchored) {
    const terms = words.split(/\s+/).filter(Boolean)
      .map((w) => w.replace(/[\\^$.*+?()[\]{}|/]/g, "\\$&"));
    if (!terms.length || !doc.body) return;
    const pattern = new RegExp("(?<![\\p{L}\\p{N}])(?:" + terms.join("|") + ")", "giu");
    const walker = doc.createTreeWalker(doc.body, NodeFilter.SHOW_TEXT, (node) =>
      /^(SCRIPT|STYLE|TEXTAREA|NOSCRIPT)$/.test(node.parentNode.nodeName)
        ? NodeFilter.FILTER_REJECT : NodeFilter.FILTER_ACCEPT);
    const texts = [];
    while (walker.nextNode()) texts.push(walker.currentNode);
    let marks = 0;
    for (const text of texts) {
      const value = text.nodeValue;
      pattern.lastIndex = 0;
      let m, from = 0;
      const parts = doc.createDocumentFragment();
      while ((m = pattern.exec(value)) && marks < 1000) {
        parts.append(value.slice(from, m.index));
        const mark = doc.createElement("mark");
        mark.className = "velkory-match";
        mark.textContent = m[0];
        parts.append(mark);
        from = m.index + m[0].length;
        ++marks;
      }
      if (from === 0) continue;
      parts.append(value.slice(from));
      text.replaceWith(parts);
    }
    const first = doc.querySelector("mark.velkory-match");
    if (first && !anchored) first.scrollIntoView({ block: "center" });
  }

  frame.addEventListener("load", () => {
    let doc;
    try { doc = frame.contentDocument; } catch (e) { return; }
    if (!doc) return;
    darken(doc);
    frame.title = doc.title ? "Page: " + doc.title : "Page";
    const url = frameUrl();
    if (url !== null) {
      // A page the frame went to by itself (a script, a form) takes the entry.
      if (url !== location.hash.slice(1))
        history.replaceState(Object.assign({}, history.state, { page: url }), "", "#" + url);
      lists.markCurrent(url);
      const entry = history.state || {};
      if (entry.highlight && entry.page === url) highlight(doc, entry.highlight, url.includes("#"));
    }
    // Links of the page open as the viewer's own do, one entry each.
    doc.addEventListener("click", (event) => {
      const a = event.target.closest && event.target.closest("a[href]");
      if (!a || event.defaultPrevented || event.button !== 0 || event.ctrlKey || event.metaKey ||
        event.shiftKey || event.altKey || (a.target && a.target !== "_self")) return;
      const other = otherFileUrl(a.getAttribute("href"));
      const href = a.href.startsWith(base) ? a.href.slice(base.length) : null;
      if (other || href !== null) {
        event.preventDefault();
        open(other || href);
      }
    });
  });

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

  // The tabs: one pane shown; the selected tab alone is in the tab order.
  function showPane(name, focusTab, quiet) {
    for (const pane of panes) {
      const tab = $("tab-" + pane), on = pane === name;
      tab.setAttribute("aria-selected", on ? "true" : "false");
      tab.tabIndex = on ? 0 : -1;
      $(pane).hidden = !on;
    }
    if (focusTab) $("tab-" + name).focus();
    else if (!quiet) {
      const input = $(name).querySelector("input");
      if (input) input.focus();
    }
  }
  $("tabs").addEventListener("click", (event) => {
    const tab = event.target.closest("[role=tab]");
    if (tab) showPane(tab.getAttribute("aria-controls"));
  });
  $("tabs").addEventListener("keydown", (event) => {
    const at = panes.indexOf(document.activeElement.getAttribute("aria-controls"));
    const to = { ArrowRight: at + 1, ArrowLeft: at - 1, Home: 0, End: panes.length - 1 }[event.key];
    if (at < 0 || to === undefined) return;
    event.preventDefault();
    showPane(panes[(to + panes.length) % panes.length], true);
  });

  // From a search box into its results and among them.
  function listKeys(input, list) {
    input.addEventListener("keydown", (event) => {
      const first = list.querySelector("a");
      if (event.key === "ArrowDown" && first) {
        event.preventDefault();
        first.focus();
      }
    });
    list.addEventListener("keydown", (event) => {
      const links = [...list.querySelectorAll("a")];
      const at = links.indexOf(document.activeElement);
      if (at < 0) return;
      if (event.key === "ArrowDown" && at + 1 < links.length) links[at + 1].focus();
      else if (event.key === "ArrowUp") (at > 0 ? links[at - 1] : input).focus();
      else if (event.key === "Escape") input.focus();
      else if (event.key === "Home") links[0].focus();
      else if (event.key === "End") links[links.length - 1].focus();
      else return;
      event.preventDefault();
    });
  }

  // The contents, index and titles panes (lists.js).
  const lists = window.velkoryLists({ $, state, api, note, link, item, open, frameUrl });

  // A hit's snippet, its matches (byte ranges of its UTF-8) marked: text
  // nodes and <mark> elements, never markup from the answer.
  function snippetNode(snippet, marks) {
    const p = document.createElement("p");
    p.className = "snippet";
    const bytes = new TextEncoder().encode(snippet);
    const text = (from, to) => new TextDecoder().decode(bytes.subarray(from, to));
    let at = 0;
    for (const [start, end] of marks || []) {
      if (start < at || end > bytes.length) continue;
      p.appendChild(document.createTextNode(text(at, start)));
      const mark = document.createElement("mark");
      mark.textContent = text(start, end);
      p.appendChild(mark);
      at = end;
    }
    p.appendChild(document.createTextNode(text(at, bytes.length)));
    return p;
  }

  // While the help file's index is being built: a bar, and the search asked
  // again until it is ready, its results filling as the pages are read.
  function showIndexing(progress) {
    const building = progress && !progress.ready && !progress.failure;
    $("indexing").hidden = !building;
    if (!building) return;
    const bar = $("indexing-bar");
    if (progress.total) {
      bar.max = progress.total;
      bar.value = progress.done;
    } else {
      bar.removeAttribute("value");
    }
    const count = (n) => Number(n).toLocaleString("en-US");
    $("indexing").querySelector("label").textContent = progress.total
      ? "Indexing: " + count(progress.done) + " of " + count(progress.total) + " pages"
      : "Indexing\u2026";
  }

  let searchTimer = 0, searchSeq = 0, searchRetries = 0;
  function search(delay) {
    if (typeof delay !== "number") searchRetries = 0;
    clearTimeout(searchTimer);
    searchTimer = setTimeout(() => {
      const q = $("search-query").value.trim();
      const seq = ++searchSeq;
      if (!q) {
        $("hits").textContent = "";
        showIndexing(null);
        note("search", "");
        return;
      }
      api("search", { q }).then((answer) => {
        if (seq !== searchSeq) return;
        const progress = answer.progress || { ready: answer.ready };
        showIndexing(progress);
        const list = $("hits");
        list.textContent = "";
        for (const [title, url, snippet, marks] of answer.hits) {
          const li = item(title, url, readableUrl(url));
          if (snippet) li.appendChild(snippetNode(snippet, marks));
          list.appendChild(li);
        }
        const found = answer.hits.length + (answer.hits.length === 1 ? " page" : " pages");
        if (progress.failure) {
          note("search", "The search cannot be made: " + progress.failure);
        } else if (!progress.ready) {
          note("search", answer.hits.length ? found + " so far" : "");
          // Soon at first (an index kept in the cache opens in a moment),
          // then every half second while a build goes on.
          search(++searchRetries <= 5 ? 100 : 500);
        } else {
          note("search", answer.hits.length ? found : "No page holds every word.");
        }
      }).catch((e) => note("search", String(e)));
    }, typeof delay === "number" ? delay : 120);
  }

  // Printing a page or a chapter (print.js): its buttons in the tools.
  window.velkoryPrint({ $, base, frame, note, problem, readableUrl });

  function showFile(file) {
    state.file = file;
    $("title").textContent = file.title;
    document.title = file.title;
    problem(file.damage ? "Some pages cannot be shown: " + file.damage + "." : "");
    if (file.library) {
      const all = document.createElement("a");
      all.href = "../";
      all.textContent = "All help files";
      $("tools").appendChild(all);
    }
    const contents = lists.loadContents();
    lists.loadIndex();
    lists.loadPages();
    return contents;
  }

  // A search asked for with Enter is an entry of the history.
  $("search-query").addEventListener("keydown", (event) => {
    if (event.key === "Enter" && $("search-query").value.trim())
      history.pushState(here(), "", location.hash || "#");
  });
  $("search-query").addEventListener("input", () => search());
  listKeys($("index-query"), $("keywords"));
  listKeys($("title-query"), $("title-list"));
  listKeys($("search-query"), $("hits"));

  // A help file opens at its home page (the one it names), else at its
  // contents' first page.
  function openHome(first) {
    const page = state.file.home || first;
    if (!page) return;
    history.replaceState({ page }, "", "#" + page);
    show(page);
  }

  // The page in the address (a bookmark, a link from the library, browse),
  // else the help file's home page.
  api("info").then((info) => {
    const contents = showFile(info);
    const wanted = location.hash.slice(1);
    const highlight = new URLSearchParams(location.search).get("highlight") || "";
    if (wanted) {
      history.replaceState({ page: wanted, highlight }, "", base + "#" + wanted);
      show(wanted);
    } else {
      contents.then(openHome);
    }
  }).catch((e) => problem("The viewer cannot start (" + e.message + ")."));
})();
