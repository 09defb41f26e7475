#include "service/assets.h"

// Team colours as in the game; readable on a phone (one column) and a laptop
// (two columns), light or dark.
const char* const kRoomStylesheet = R"(:root{--bg:#f6f7f9;--fg:#15181d;--muted:#5b6470;--card:#fff;--ct:#2f6fd6;--t:#d08a12;--none:#7a808a}
@media (prefers-color-scheme:dark){:root{--bg:#111318;--fg:#e9ecf1;--muted:#9aa3af;--card:#1b1f27}}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--fg);font:16px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif}
main{max-width:60rem;margin:0 auto;padding:1.25rem}
h1{margin:0 0 .25rem;font-size:1.9rem}
.made{margin:0;color:var(--muted)}
.count{display:inline-block;margin:.75rem 0 1rem;padding:.3rem .8rem;border-radius:999px;background:var(--card);font-weight:600}
.teams{display:grid;gap:1rem;grid-template-columns:1fr}
@media (min-width:44rem){.teams{grid-template-columns:1fr 1fr}}
.team{background:var(--card);border-radius:.75rem;padding:.75rem 1rem;border-top:.35rem solid var(--none)}
.team.ct{border-top-color:var(--ct)}
.team.t{border-top-color:var(--t)}
.team h2{margin:.1rem 0 .5rem;font-size:1.05rem}
.team.ct h2{color:var(--ct)}
.team.t h2{color:var(--t)}
ul{list-style:none;margin:0;padding:0}
.player{display:flex;justify-content:space-between;gap:.75rem;padding:.45rem 0;border-bottom:1px solid rgba(127,127,127,.2)}
.player:last-child{border-bottom:0}
.player a{color:inherit;text-decoration:none;overflow-wrap:anywhere;min-width:0}
.player a:hover{text-decoration:underline}
.state{flex:none;color:var(--muted);font-size:.9rem}
.player.here .state{color:#1f9d55;font-weight:600}
footer{margin-top:1.5rem;color:var(--muted);font-size:.85rem}
)";

// Polls the room's JSON and changes only text and classes: no markup is
// ever built from a name.
const char* const kRoomScript = R"((function () {
  "use strict";
  var key = document.body.getAttribute("data-key");
  if (!key) return;
  function show(room) {
    var count = document.getElementById("count");
    if (count) count.textContent = room.here + " of " + room.size + " here";
    var arrived = {};
    room.arrived.forEach(function (id) { arrived[id] = true; });
    document.querySelectorAll("li[data-steamid]").forEach(function (item) {
      var here = arrived[item.getAttribute("data-steamid")] === true;
      item.classList.toggle("here", here);
      var state = item.querySelector(".state");
      if (state) state.textContent = here ? "here" : "not yet";
    });
  }
  function poll() {
    fetch("../v1/rooms/" + key, { cache: "no-store" })
      .then(function (answer) { return answer.ok ? answer.json() : null; })
      .then(function (room) { if (room) show(room); })
      .catch(function () {})
      .then(function () { setTimeout(poll, 2000); });
  }
  setTimeout(poll, 2000);
})();
)";

// Two team-coloured halves: the tab of a room among many.
const char* const kRoomIcon =
    R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16"><rect width="8" height="16" fill="#2f6fd6"/>)"
    R"(<rect x="8" width="8" height="16" fill="#d08a12"/></svg>)";
