// The operator's page: plain HTML, CSS and script, nothing fetched from
// elsewhere. It polls the JSON pages and shows them; the flood defence
// form posts to the flood defence page.
#include "routes.h"

namespace axwebd {

namespace {

constexpr std::string_view kPage = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Switch</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 0; background: #f4f5f7; color: #222; }
header { background: #23395d; color: #fff; padding: 10px 16px; display: flex; justify-content: space-between; }
main { display: grid; grid-template-columns: repeat(auto-fit, minmax(420px, 1fr)); gap: 12px; padding: 12px; }
section { background: #fff; border-radius: 6px; padding: 10px 14px; box-shadow: 0 1px 2px #0002; }
h2 { font-size: 15px; margin: 4px 0 8px; }
table { border-collapse: collapse; width: 100%; font-size: 12px; }
th, td { text-align: left; padding: 2px 6px; border-bottom: 1px solid #e4e6ea; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.up { color: #11803a; font-weight: bold; } .down { color: #999; }
pre { max-height: 260px; overflow: auto; background: #f7f7f9; padding: 6px; font-size: 12px; }
form { margin-top: 8px; } input { width: 70px; } #error { color: #b00020; }
#ports { grid-column: 1 / -1; }
</style>
</head>
<body>
<header><b>Switch management</b><span id="status">connecting...</span></header>
<main>
<section id="ports"><h2>Ports</h2>
<table><thead><tr><th>Port</th><th>Link</th><th>Speed</th><th>VLAN</th><th>Frames in</th><th>Frames out</th><th>Bytes in</th><th>Bytes out</th></tr></thead>
<tbody id="port-rows"></tbody></table></section>
<section id="device"><h2>Device</h2><table><tbody id="device-rows"></tbody></table></section>
<section id="cpu"><h2>CPU traffic</h2><table><tbody id="cpu-counters"></tbody></table>
<h2>Registrations</h2><table><thead><tr><th>Table</th><th>Name</th><th>MID</th><th>PID</th><th>Enabled</th><th>Hits</th></tr></thead><tbody id="cpu-regs"></tbody></table>
<h2>Traffic-control entries</h2><table><thead><tr><th>Name</th><th>Type</th><th>Rate</th><th>Enabled</th></tr></thead><tbody id="cpu-entries"></tbody></table></section>
<section id="flood"><h2>TCP/UDP flood defence</h2>
<table><thead><tr><th>#</th><th>Start port</th><th>End port</th><th></th></tr></thead><tbody id="flood-rows"></tbody></table>
<form id="flood-add">Ports <input id="flood-start" type="number" min="0" max="65535" required> to
<input id="flood-end" type="number" min="0" max="65535" required> <button>Add</button> <span id="error"></span></form></section>
<section id="config"><h2>Running configuration</h2><pre id="config-text"></pre></section>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
function cell(row, text, cls) { const td = row.insertCell(); td.textContent = String(text); if (cls) td.className = cls; return td; }
function fill(id, items, render) {
  const body = $(id); const rows = document.createElement("tbody"); rows.id = id;
  for (const item of items) render(rows.insertRow(), item);
  body.replaceWith(rows);
}
async function get(path, asText) {
  const r = await fetch(path, { cache: "no-store" });
  if (!r.ok) throw new Error(path + ": " + r.status);
  return asText ? r.text() : r.json();
}
function showPorts(d) {
  fill("port-rows", d.ports, (row, p) => {
    row.dataset.port = p.name;
    cell(row, p.name); cell(row, p.link, p.link);
    cell(row, p.link === "up" ? p.speedMbps + " Mb/s" : "-"); cell(row, p.pvid, "num");
    cell(row, p.inFrames, "num"); cell(row, p.outFrames, "num"); cell(row, p.inBytes, "num"); cell(row, p.outBytes, "num");
  });
}
function showDevice(d) {
  const items = [["Product", d.identity.productId], ["Hardware", d.identity.hardwareId],
    ["Firmware", d.identity.firmwareVersion + " " + d.identity.firmwareId], ["MAC", d.identity.mac],
    ["Start image", d.images.START_IMAGE], ["Backup image", d.images.BACKUP_IMAGE], ["Uptime", d.uptimeSeconds + " s"],
    ["Memory (now / peak)", d.memory.allocNow + " / " + d.memory.allocPeak + " bytes"], ["Threads", d.memory.threads],
    ["CPU monitor", d.monitors.cpuUsagePercent === null ? "off" : d.monitors.cpuUsagePercent + " %"]];
  fill("device-rows", items, (row, [k, v]) => { cell(row, k); cell(row, v === undefined ? "" : v); });
}
function showCpu(d) {
  const c = d.counters;
  fill("cpu-counters", [["Received", c.rx, c.rxPps], ["Sent", c.tx, c.txPps], ["To kernel", c.toKernel, c.toKernelPps],
    ["From kernel", c.fromKernel, c.fromKernelPps], ["Per queue", c.queues.join(" "), ""]],
    (row, [k, n, pps]) => { cell(row, k); cell(row, n, "num"); cell(row, pps === "" ? "" : pps + " pps", "num"); });
  fill("cpu-regs", d.registrations, (row, r) => { cell(row, r.table); cell(row, r.name); cell(row, r.mid, "num");
    cell(row, r.pid, "num"); cell(row, r.enabled ? "yes" : "no"); cell(row, r.hits, "num"); });
  fill("cpu-entries", d.controlEntries, (row, e) => { cell(row, e.name); cell(row, e.type);
    cell(row, e.speed, "num"); cell(row, e.enabled ? "yes" : "no"); });
}
function showFlood(d) {
  fill("flood-rows", d.ranges, (row, r) => {
    row.dataset.range = r.start + "-" + r.end;
    cell(row, r.index, "num"); cell(row, r.start, "num"); cell(row, r.end, "num");
    const b = document.createElement("button"); b.textContent = "Delete";
    b.onclick = () => floodPost("submit=Delete&delNum=1&n1=" + r.index);
    row.insertCell().appendChild(b);
  });
}
async function floodPost(body) {
  const r = await fetch("/floodDefend.htm", { method: "POST", body,
    headers: { "Content-Type": "application/x-www-form-urlencoded" } });
  const text = await r.text();
  const m = /var errorText = "([^"]*)"/.exec(text);
  $("error").textContent = !r.ok ? "failed (" + r.status + ")" : (m ? m[1] : "");
  poll();
}
$("flood-add").onsubmit = (e) => {
  e.preventDefault();
  floodPost("submit=AddNew&startDport=" + encodeURIComponent($("flood-start").value) +
            "&endDport=" + encodeURIComponent($("flood-end").value));
};
let polls = 0;
async function poll() {
  try {
    const [ports, cpu, flood, device, config] = await Promise.all([get("/api/ports"), get("/api/cpu"),
      get("/api/flood"), get("/api/device"), get("/api/config", true)]);
    showPorts(ports); showCpu(cpu); showFlood(flood); showDevice(device);
    $("config-text").textContent = config;
    polls += 1;
    $("status").textContent = "live, updated " + new Date().toLocaleTimeString();
    document.body.dataset.polls = String(polls);
  } catch (e) {
    $("status").textContent = "no answer: " + e.message;
  }
}
poll();
setInterval(poll, 2000);
</script>
</body>
</html>
)html";

}  // namespace

std::string_view ui_page() { return kPage; }

}  // namespace axwebd
