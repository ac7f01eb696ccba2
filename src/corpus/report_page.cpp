// The report page's own markup, style and script. Everything it needs is in
// the one file: the security policy allows no fetch at all, pictures come
// as data addresses, and the script writes the families' text only through
// textContent, so no name in the data is ever read as markup.
//
// A page for a hundred thousand records holds many thousand families; the
// script builds the first batch at once and the next as the end of the list
// comes into view, and a family's members past the first five only when the
// family is opened. `#search=TEXT` in the address starts with that search.
#include "corpus/report.h"

namespace pictrove::corpus {

const char* const kReportPageHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src data:; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<title>Pictrove: icon families</title>
<style>
:root { color-scheme: light; --line: #d5dbe3; --muted: #5d6773; --accent: #1f5fbf; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.4 system-ui, "DejaVu Sans", sans-serif; color: #1d232b; background: #f4f6f9; }
header { position: sticky; top: 0; z-index: 1; padding: 12px 20px; background: #fff; border-bottom: 1px solid var(--line); }
h1 { margin: 0 0 4px; font-size: 20px; }
#summary, #status { margin: 4px 0; color: var(--muted); }
#search { width: min(640px, 100%); padding: 7px 10px; font: inherit; border: 1px solid #9aa5b1; border-radius: 6px; }
#search:focus { outline: 2px solid var(--accent); outline-offset: 1px; }
main { padding: 12px 20px; }
.family { margin: 0 0 12px; padding: 12px 14px; background: #fff; border: 1px solid var(--line); border-radius: 8px; }
.head { display: flex; align-items: center; gap: 14px; }
.head img { image-rendering: auto; background: repeating-conic-gradient(#e9edf2 0 25%, #fff 0 50%) 0 0 / 12px 12px; border: 1px solid var(--line); border-radius: 4px; }
.head h2 { margin: 0; font-size: 16px; }
.head p { margin: 2px 0 0; color: var(--muted); }
.shown { overflow-wrap: anywhere; }
table { width: 100%; margin-top: 10px; border-collapse: collapse; table-layout: fixed; }
th, td { padding: 3px 8px; text-align: left; vertical-align: top; border-top: 1px solid #eef1f4; }
th { font-weight: 600; color: var(--muted); border-top: none; }
th.file { width: auto; } th.num { width: 80px; } th.hash { width: 150px; } th.sha { width: 440px; } th.near { width: 96px; }
td.file { overflow-wrap: anywhere; }
td.hash, td.sha { font-family: "DejaVu Sans Mono", ui-monospace, monospace; font-size: 11px; overflow-wrap: anywhere; }
td.num, td.near { font-variant-numeric: tabular-nums; }
tr.representative td { background: #eef4ff; }
button { margin-top: 8px; padding: 5px 12px; font: inherit; color: var(--accent); background: #fff; border: 1px solid #9aa5b1; border-radius: 6px; cursor: pointer; }
button:hover { background: #eef4ff; }
#more { padding: 0 20px 24px; }
.empty { color: var(--muted); font-style: italic; }
</style>
</head>
<body>
<header>
<h1>Icon families</h1>
<p id="summary"></p>
<input id="search" type="search" placeholder="Search a file name, a file's SHA-256 or a 16-digit hash" aria-label="Search" autocomplete="off" spellcheck="false">
<p id="status" role="status"></p>
</header>
<main id="families"><noscript>This page needs JavaScript to show the families.</noscript></main>
<div id="more" hidden><button id="next" type="button">Show more families</button></div>
<script type="application/json" id="data">)html";

const char* const kReportPageTail = R"html(</script>
<script>
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("data").textContent);
  const families = data.families;
  // A family: [files, representative, small picture, large picture, members];
  // a member: [file, index, hash, file's SHA-256, distance to the representative].
  const FILES = 0, REPRESENTATIVE = 1, SMALL = 2, LARGE = 3, MEMBERS = 4;
  const FILE = 0, INDEX = 1, HASH = 2, SHA = 3, DISTANCE = 4;
  const FIRST_MEMBERS = 5, BATCH = 25;
  const placeholder = "data:image/svg+xml," + encodeURIComponent(
    '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32">' +
    '<rect x="1.5" y="1.5" width="29" height="29" rx="4" fill="#eef1f5" stroke="#9aa5b1" stroke-dasharray="3 2"/>' +
    '<path d="M7 24l6-8 4 5 3-3 5 6z" fill="#9aa5b1"/><circle cx="22" cy="10" r="2.5" fill="#9aa5b1"/></svg>');

  const list = document.getElementById("families");
  const more = document.getElementById("more");
  const next = document.getElementById("next");
  const search = document.getElementById("search");
  const status = document.getElementById("status");

  function element(tag, className, text) {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  }

  function picture(number, side) {
    const image = element("img");
    image.width = side;
    image.height = side;
    image.alt = number < 0 ? "no picture" : "";
    image.src = number < 0 ? placeholder : "data:image/png;base64," + data.pictures[number];
    return image;
  }

  function plural(count, one, many) {
    return count + " " + (count === 1 ? one : many);
  }

  // What is shown: per family its number, the members to show (null for
  // all) and, for a search by hash, their distances to it.
  let view = [];
  let built = 0;
  let searchedHash = false;

  function memberRow(family, member, near) {
    const row = element("tr");
    const members = family[MEMBERS];
    if (members[family[REPRESENTATIVE]] === member) row.className = "representative";
    row.append(element("td", "file", member[FILE]), element("td", "num", String(member[INDEX])),
               element("td", "num", String(member[DISTANCE])), element("td", "hash", member[HASH]),
               element("td", "sha", member[SHA] || "\u2014"));
    if (near !== undefined) row.append(element("td", "near", String(near)));
    return row;
  }

  function card(entry) {
    const family = families[entry.family];
    const members = family[MEMBERS];
    const shown = members[family[REPRESENTATIVE]];
    const rows = entry.rows || members.map((_, i) => i);
    const section = element("section", "family");
    section.dataset.family = String(entry.family + 1);
    const head = element("div", "head");
    const title = element("div");
    title.append(element("h2", null, "Family " + (entry.family + 1)),
                 element("p", "size", plural(members.length, "icon", "icons") + " in " +
                         plural(family[FILES], "file", "files")),
                 element("p", "shown", "Shown: " + shown[FILE] + ", icon " + shown[INDEX] + ", " + shown[HASH]));
    head.append(picture(family[SMALL], 32), picture(family[LARGE], 64), title);
    const table = element("table");
    const header = element("tr");
    const columns = [["file", "File"], ["num", "Index"], ["num", "Distance"], ["hash", "Hash"], ["sha", "SHA-256"]];
    if (searchedHash) columns.push(["near", "To search"]);
    for (const [kind, name] of columns) header.append(element("th", kind, name));
    const heading = element("thead");
    heading.append(header);
    const body = element("tbody");
    const add = (from, to) => {
      for (let i = from; i < to; ++i)
        body.append(memberRow(family, members[rows[i]], entry.near ? entry.near[i] : undefined));
    };
    const first = Math.min(rows.length, FIRST_MEMBERS);
    add(0, first);
    table.append(heading, body);
    section.append(head, table);
    if (rows.length > first) {
      const expand = element("button", "expand", "Show all " + rows.length + " members");
      expand.type = "button";
      expand.addEventListener("click", () => {
        add(first, rows.length);
        expand.remove();
      });
      section.append(expand);
    }
    return section;
  }

  function buildMore() {
    const end = Math.min(view.length, built + BATCH);
    const batch = document.createDocumentFragment();
    for (; built < end; ++built) batch.append(card(view[built]));
    list.append(batch);
    more.hidden = built >= view.length;
    next.textContent = "Show more families (" + (view.length - built) + " more)";
  }

  // Batches are built while the end of the list is in view or near it, and
  // again whenever it comes near as the page is scrolled.
  const NEAR = 800;
  function fillView() {
    while (built < view.length && more.getBoundingClientRect().top < innerHeight + NEAR) buildMore();
  }
  const watcher = new IntersectionObserver((seen) => {
    if (seen.some((entry) => entry.isIntersecting)) fillView();
  }, { rootMargin: NEAR + "px" });
  next.addEventListener("click", buildMore);

  function halves(hex) {
    return [parseInt(hex.slice(0, 8), 16), parseInt(hex.slice(8, 16), 16)];
  }

  function bits(word) {
    word -= (word >>> 1) & 0x55555555;
    word = (word & 0x33333333) + ((word >>> 2) & 0x33333333);
    return (((word + (word >>> 4)) & 0x0f0f0f0f) * 0x01010101) >>> 24;
  }

  function distance(a, b) {
    return bits((a[0] ^ b[0]) >>> 0) + bits((a[1] ^ b[1]) >>> 0);
  }

  // Members match by a part of their file name (any case), by the start of
  // their file's SHA-256 (four hex digits at least), or, for 16 hex digits,
  // by a hash within the report's radius of that one.
  function show(query) {
    const text = query.trim().toLowerCase();
    const hex = /^[0-9a-f]+$/.test(text);
    const hash = hex && text.length === 16 ? halves(text) : null;
    searchedHash = hash !== null;
    view = [];
    let icons = 0;
    families.forEach((family, number) => {
      if (!text) {
        view.push({ family: number, rows: null, near: null });
        return;
      }
      const rows = [];
      const near = [];
      family[MEMBERS].forEach((member, i) => {
        const away = hash ? distance(halves(member[HASH]), hash) : -1;
        if (member[FILE].toLowerCase().includes(text) || (hex && text.length >= 4 && member[SHA].startsWith(text)) ||
            (hash && away <= data.radius)) {
          rows.push(i);
          near.push(away);
        }
      });
      if (rows.length) {
        view.push({ family: number, rows: rows, near: hash ? near : null });
        icons += rows.length;
      }
    });
    list.textContent = "";
    built = 0;
    buildMore();
    fillView();
    if (!text) {
      status.textContent = "";
      if (!families.length) list.append(element("p", "empty", "These records hold no family of " + data.minSize + " or more icons."));
    } else if (view.length) {
      status.textContent = plural(icons, "icon", "icons") + " in " + plural(view.length, "family", "families") +
                           " match.";
    } else {
      status.textContent = "Nothing matches.";
      list.append(element("p", "empty", "No member of any family matches \u201c" + query.trim() + "\u201d."));
    }
  }

  const icons = families.reduce((sum, family) => sum + family[MEMBERS].length, 0);
  document.getElementById("summary").textContent =
    plural(families.length, "family", "families") + " of " + plural(icons, "icon", "icons") + ", from " +
    plural(data.records, "record", "records") +
    (data.allIcons ? " (every icon of a file)" : " (the main icon of each file)") + "; a family links icons within " +
    "distance " + data.radius + " and has " + data.minSize + " or more.";
  // A search named in the address goes through the box, as one typed there.
  function searchFromAddress() {
    const asked = /^#search=(.*)$/.exec(location.hash);
    if (asked) {
      // An address the page cannot decode ("100%") searches for the text as it stands.
      try { search.value = decodeURIComponent(asked[1]); } catch (e) { search.value = asked[1]; }
    }
    search.dispatchEvent(new Event("input"));
  }
  search.addEventListener("input", () => show(search.value));
  window.addEventListener("hashchange", searchFromAddress);
  searchFromAddress();
  watcher.observe(more);
  document.body.dataset.readyMs = String(Math.round(performance.now()));
})();
</script>
</body>
</html>
)html";

}  // namespace pictrove::corpus
