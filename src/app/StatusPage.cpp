// The status page served at "/": one document with its style and script, no external
// resources. The script fills it from /status.json once a second; every text goes in through
// textContent, so nothing the equipment sends is ever read as markup.

#include "app/StatusRendering.h"

namespace tarvel {

std::string_view StatusPageHtml() {
  static constexpr std::string_view Page = R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>TARVEL80 Import status</title>
<style>
body{font-family:system-ui,sans-serif;margin:0;background:#f4f5f7;color:#222}
header{background:#1f3b57;color:#fff;padding:.6em 1em}
header h1{font-size:1.1em;margin:0}
header div{font-size:.8em;opacity:.85}
main{padding:.6em;max-width:80em;margin:auto}
section{background:#fff;border-radius:6px;box-shadow:0 1px 2px #0002;margin:.6em 0;padding:.6em .8em}
h2{font-size:1em;margin:.2em 0 .5em}
dl{display:grid;grid-template-columns:max-content 1fr;gap:.2em .8em;margin:0;font-size:.9em}
dt{color:#555}dd{margin:0}
.wrap{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:.85em}
th,td{text-align:left;padding:.3em .4em;border-bottom:1px solid #e3e3e3;white-space:nowrap}
th{color:#555;font-weight:600}
td.num{text-align:right}td.wrap{white-space:normal;min-width:10em}
.ok{color:#17692a}.bad{color:#b00020;font-weight:600}.off{color:#777}
pre{font-size:.75em;white-space:pre-wrap;word-break:break-all;margin:0;max-height:24em;overflow-y:auto}
#stale{display:none;background:#b00020;color:#fff;padding:.3em 1em;font-size:.85em}
@media (max-width:600px){th.wide,td.wide{display:none}}
</style></head>
<body>
<header><h1>TARVEL80 Import for Ostrel Alarm Server</h1>
<div>Version <span id="version"></span> &middot; started <span id="started"></span> &middot; <span id="now"></span></div></header>
<div id="stale">No answer from the gateway</div>
<main>
<section><h2>Alarm server</h2><dl>
<dt>State</dt><dd id="o-state"></dd>
<dt>Peer</dt><dd id="o-peer"></dd>
<dt>Connected since</dt><dd id="o-since"></dd>
<dt>Lines sent</dt><dd id="o-sent"></dd>
<dt>Lines kept</dt><dd id="o-kept"></dd>
<dt>Dropped at the limit</dt><dd id="o-dropped"></dd>
</dl></section>
<section><h2>Input ports</h2><div class="wrap"><table>
<thead><tr><th>Port</th><th>Description</th><th class="wide">Kind</th><th>Status</th>
<th class="wide">Peer</th><th>Rx bytes</th><th>Lines</th><th>Events</th><th>Rejected</th>
<th>Last line</th><th>Silence</th></tr></thead>
<tbody id="ports"></tbody></table></div></section>
<section><h2>Watchdog</h2><dl>
<dt>Tag</dt><dd id="w-tag"></dd>
<dt>Interval</dt><dd id="w-interval"></dd>
<dt>Since last</dt><dd id="w-since"></dd>
</dl></section>
<section><h2>Log</h2><pre id="log"></pre></section>
</main>
<script>
"use strict";
const kinds={tcp_server:"TCP server",tcp_client:"TCP client",serial:"Serial"};
function set(id,text){document.getElementById(id).textContent=text;}
function day(t,now){return t&&now&&t.slice(0,10)===now.slice(0,10)?t.slice(11):t;}
function cell(row,text,cls){const td=row.insertCell();td.textContent=text;if(cls)td.className=cls;return td;}
function silence(p,now){
  if(p.silence==="off")return["not supervised","off"];
  if(p.silence==="failed")return["failed since "+(day(p.failedSince,now)||"?"),"bad"];
  return[p.restoredAt?"ok, restored "+day(p.restoredAt,now):"ok","ok"];
}
function show(s){
  set("version",s.version);set("started",s.started);set("now",s.now);
  const o=s.ostrel;
  const st=document.getElementById("o-state");st.textContent=o.state;
  st.className=!o.listening?"bad":o.connected?"ok":"";
  set("o-peer",o.peer||"-");set("o-since",o.connectedSince||"-");
  set("o-sent",o.linesSent+" lines, "+o.bytesSent+" bytes");
  set("o-kept",o.keeping?o.keptLines+" lines, "+o.keptBytes+" of "+o.keptLimitBytes+" bytes":"keeping off");
  set("o-dropped",String(o.linesDroppedAtLimit));
  const body=document.getElementById("ports");
  const rows=document.createDocumentFragment();
  for(const p of s.ports){
    const r=document.createElement("tr");
    cell(r,String(p.port));cell(r,p.description);cell(r,kinds[p.kind]||p.kind,"wide");
    cell(r,p.status,(p.connected?"ok":"bad")+" wrap");cell(r,p.peer,"wide");
    cell(r,String(p.bytesReceived),"num");cell(r,String(p.linesReceived),"num");
    cell(r,String(p.eventsForwarded),"num");cell(r,String(p.linesRejected),"num");
    cell(r,day(p.lastLine,s.now)||"-");
    const [text,cls]=silence(p,s.now);cell(r,text,cls+" wrap");
    rows.appendChild(r);
  }
  body.replaceChildren(rows);
  const w=s.watchdog;
  set("w-tag",w.tag||"(none: no watchdog line)");
  set("w-interval",w.intervalSeconds>0?w.intervalSeconds+" s":"off");
  set("w-since",w.secondsSinceLast+" s");
  set("log",s.log.join("\n"));
}
async function poll(){
  try{
    const r=await fetch("status.json",{cache:"no-store"});
    if(!r.ok)throw new Error(r.status);
    show(await r.json());
    document.getElementById("stale").style.display="none";
  }catch(e){document.getElementById("stale").style.display="block";}
  setTimeout(poll,1000);
}
poll();
</script></body></html>
)html";
  return Page;
}

}  // namespace tarvel
