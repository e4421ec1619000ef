// Printing from the viewer: the page being read, or its chapter (the page
// and every page under its entry in the contents; for a page without any,
// the chapter it is in) gathered into one document. viewer.js gives it what
// it shares; the buttons go into the viewer's tools.
"use strict";
window.velkoryPrint = function ({ $, base, frame, note, problem, readableUrl }) {
  function chapterPages() {
    const entry = document.querySelector("#toc a.current");
    if (!entry) return [];
    let chapter = entry.parentElement;
    if (!chapter.querySelector(":scope > ul")) chapter = chapter.parentElement.closest("li") || chapter;
    const urls = [...chapter.querySelectorAll("a[data-url]")]
      .map((a) => a.dataset.url.replace(/#.*$/, ""));
    return [...new Set(urls)];
  }
  async function pageBody(url) {
    const reply = await fetch(base + url);
    if (!reply.ok) throw new Error(readableUrl(url) + ": " + reply.status);
    const charset = /charset=([\w-]+)/i.exec(reply.headers.get("Content-Type") || "");
    let text;
    try {
      text = new TextDecoder(charset ? charset[1] : "utf-8").decode(await reply.arrayBuffer());
    } catch (e) {
      text = new TextDecoder().decode(await reply.arrayBuffer());
    }
    const doc = new DOMParser().parseFromString(text, "text/html");
    for (const e of doc.querySelectorAll("script, iframe, object, embed")) e.remove();
    // Addresses made whole: the chapter's pages lie in different folders.
    for (const [attr, sel] of [["src", "img[src]"], ["href", "a[href], link[href]"]])
      for (const e of doc.querySelectorAll(sel)) e.setAttribute(attr, new URL(e.getAttribute(attr), base + url).href);
    return doc;
  }
  async function printChapter() {
    const urls = chapterPages();
    if (!urls.length) return print(false);
    note("contents", "Gathering " + urls.length + (urls.length === 1 ? " page" : " pages") + " to print\u2026");
    const target = document.getElementById("print") || document.createElement("iframe");
    target.id = "print";
    target.title = "Chapter to print";
    target.hidden = true;
    document.body.appendChild(target);
    const out = target.contentDocument;
    out.open();
    out.write("<!DOCTYPE html><html><head><meta charset=utf-8><title></title>" +
      "<style>article + article { break-before: page; }</style></head><body></body></html>");
    out.close();
    out.title = $("title").textContent;
    try {
      for (const url of urls) {
        const doc = await pageBody(url);
        for (const style of doc.querySelectorAll("style, link[rel~=stylesheet]"))
          out.head.appendChild(out.importNode(style, true));
        const article = out.createElement("article");
        article.dataset.url = url;
        for (const child of [...doc.body.childNodes]) article.appendChild(out.importNode(child, true));
        out.body.appendChild(article);
      }
    } catch (e) {
      note("contents", "The chapter cannot be printed: " + e.message);
      return;
    }
    note("contents", "");
    await Promise.all([...out.images].map((i) => i.decode().catch(() => {})));
    target.contentWindow.print();
  }
  function print(chapter) {
    if (chapter) return printChapter();
    try {
      frame.contentWindow.print();
    } catch (e) {
      problem("This page cannot be printed from here (" + e.message + ").");
    }
  }
  for (const [label, chapter] of [["Print page", false], ["Print chapter", true]]) {
    const button = document.createElement("button");
    button.type = "button";
    button.id = chapter ? "print-chapter" : "print-page";
    button.textContent = label;
    button.addEventListener("click", () => print(chapter));
    $("tools").appendChild(button);
  }
};
