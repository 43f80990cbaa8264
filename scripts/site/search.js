// Search without a server: the index is a script (search-index.js) the page loads. Typing searches;
// index.html?q=NAME searches at load. A name that matches exactly ranks first, methods and classes before
// the rest.
(function () {
  "use strict";
  var root = document.body.getAttribute("data-root") || "";
  var box = document.getElementById("q");
  var list = document.getElementById("results");
  var index = window.SEARCH_INDEX || [];

  function rank(e, q) {
    var n = e.n.toLowerCase();
    if (n === q) return e.k === "method" || e.k === "class" ? 0 : 1;
    if (n.indexOf(q) === 0) return 2;
    if (e.t.toLowerCase().indexOf(q) >= 0) return 3;
    return e.d.toLowerCase().indexOf(q) >= 0 ? 4 : -1;
  }

  function search(text) {
    var q = text.trim().toLowerCase();
    var hits = [];
    list.textContent = "";
    list.hidden = q === "";
    if (q === "") return;
    index.forEach(function (e, i) {
      var r = rank(e, q);
      if (r >= 0) hits.push([r, e.t.length, i]);
    });
    hits.sort(function (a, b) { return a[0] - b[0] || a[1] - b[1] || a[2] - b[2]; });
    hits.slice(0, 30).forEach(function (h) {
      var e = index[h[2]];
      var li = document.createElement("li");
      var a = document.createElement("a");
      var kind = document.createElement("span");
      a.href = root + e.u;
      a.textContent = e.t;
      kind.className = "kind";
      kind.textContent = e.k;
      a.appendChild(kind);
      li.appendChild(a);
      list.appendChild(li);
    });
    if (hits.length === 0) {
      var none = document.createElement("li");
      none.textContent = "Nothing matches.";
      list.appendChild(none);
    }
  }

  box.addEventListener("input", function () { search(box.value); });
  var q = new URLSearchParams(window.location.search).get("q");
  if (q) {
    box.value = q;
    search(q);
  }
})();
