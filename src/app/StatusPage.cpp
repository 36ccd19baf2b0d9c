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
dl{display:grid;grid-template-columns:max-content 1fr;gap:.2em .8em;margin:0;font-size:.9rem}
dt{color:#555}dd{margin:0;overflow-wrap:anywhere}
table{border-collapse:collapse;width:100%;font-size:.875rem}
th,td{text-align:left;vertical-align:top;padding:.3em .4em;border-bottom:1px solid #e3e3e3}
th{color:#555;font-weight:600}
td.nowrap{white-space:nowrap}td.num{text-align:right}td.text{min-width:8em}
.ok{color:#17692a}.bad{color:#b00020;font-weight:600}.off{color:#777}
pre{font:.875rem/1.4 ui-monospace,"DejaVu Sans Mono",monospace;white-space:pre-wrap;overflow-wrap:anywhere;margin:0;max-height:28em;overflow-y:auto}
#stale{display:none;background:#b00020;color:#fff;padding:.3em 1em;font-size:.85em}
@media (max-width:800px){
main{padding:.4em}section{padding:.5em .6em}
thead{display:none}
table,tbody,tr,td{display:block}
tr{display:grid;grid-template-columns:1fr 1fr;grid-auto-flow:dense;column-gap:.6em;border-bottom:2px solid #d0d4da;padding:.3em 0}
#ports td{grid-column:span 2;display:grid;align-items:baseline;grid-template-columns:5.8em 1fr;gap:.4em;min-width:0;border:0;padding:.1em 0;text-align:left;white-space:normal;overflow-wrap:anywhere}
#ports td.half{grid-column:auto}
#ports td::before{content:attr(data-label);color:#555;font-weight:600;font-size:.85em;overflow-wrap:normal}
}
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
<section><h2>Input ports</h2><table>
<thead><tr><th>Port</th><th>Description</th><th>Kind</th><th>Status</th><th>Rx bytes</th>
<th>Lines</th><th>Events</th><th>Rejected</th><th>Last line</th><th>Silence</th></tr></thead>
<tbody id="ports"></tbody></table></section>
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
// The column headings, which the cells repeat as labels where rows stack on a narrow screen;
// "half" cells take half a line in a stack.
const labels=Array.from(document.querySelectorAll("thead th"),th=>th.textContent);
function set(id,text){document.getElementById(id).textContent=text;}
function day(t,now){return t&&now&&t.slice(0,10)===now.slice(0,10)?t.slice(11):t;}
function cell(row,text,cls){const td=row.insertCell();td.textContent=text;td.dataset.label=labels[td.cellIndex];if(cls)td.className=cls;return td;}
function span(t){const h=Math.floor(t/3600),m=Math.floor(t%3600/60),s=t%60;return[h&&h+" h",m&&m+" min",s&&s+" s"].filter(Boolean).join(" ")||"0 s";}
function status(p,now){
  if(p.nextAttempt===null||p.nextAttempt===undefined)return p.status;
  return p.status+", next attempt at "+day(p.nextAttempt,now)+" (in "+span(p.nextAttemptInSeconds)+")";
}
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
    cell(r,String(p.port),"half nowrap");cell(r,p.description,"text");cell(r,kinds[p.kind]||p.kind,"half nowrap");
    cell(r,status(p,s.now),p.connected?"ok":"bad");
    for(const n of[p.bytesReceived,p.linesReceived,p.eventsForwarded,p.linesRejected])cell(r,String(n),"half nowrap num");
    cell(r,day(p.lastLine,s.now)||"-","half");
    const [text,cls]=silence(p,s.now);cell(r,text,cls+" half");
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
