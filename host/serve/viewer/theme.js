// Light or dark: as the system prefers, unless the switch in the bar was
// used, which this browser remembers. Loaded before the page is drawn; the
// viewer follows the "velkory-theme" event to darken the help file's pages.
"use strict";
(function () {
  const key = "velkory-theme";
  const media = matchMedia("(prefers-color-scheme: dark)");

  function chosen() {
    try {
      return localStorage.getItem(key);
    } catch (e) {
      return null;  // storage refused: the system's preference alone
    }
  }

  function apply() {
    const theme = chosen() || (media.matches ? "dark" : "light");
    document.documentElement.dataset.theme = theme;
    const button = document.getElementById("theme");
    if (button) button.setAttribute("aria-pressed", theme === "dark" ? "true" : "false");
    document.dispatchEvent(new CustomEvent("velkory-theme", { detail: theme }));
  }

  apply();
  media.addEventListener("change", apply);
  document.addEventListener("DOMContentLoaded", () => {
    const bar = document.getElementById("tools");
    if (!bar) return;
    const button = document.createElement("button");
    button.id = "theme";
    button.type = "button";
    button.textContent = "Dark mode";
    button.addEventListener("click", () => {
      const dark = document.documentElement.dataset.theme !== "dark";
      try {
        localStorage.setItem(key, dark ? "dark" : "light");
      } catch (e) { /* kept for this page only */ }
      apply();
    });
    bar.appendChild(button);
    apply();
  });
})();
