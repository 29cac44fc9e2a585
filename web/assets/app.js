// The dashboard, kept live: it draws the ports, the queue counts and the
// latest status lines from /api/status, then from each event of /events.
// Every value goes in as text (textContent), never as markup.
"use strict";

function cellRow(values, className) {
  const tr = document.createElement("tr");
  if (className) tr.className = className;
  for (const v of values) {
    const td = document.createElement("td");
    td.textContent = v === undefined || v === null ? "" : String(v);
    tr.appendChild(td);
  }
  return tr;
}

function lastResult(r) {
  if (!r || typeof r !== "object") return "";
  let t = [r.at, r.id ? "ID " + r.id : "", r.status].filter(Boolean).join(" ");
  if (r.cause) t += ": " + r.cause;
  return t;
}

function isFailure(line) {
  return /failed|Cause of|unusable|cannot|error/i.test(line);
}

function drawLine(list, line) {
  const li = document.createElement("li");
  li.textContent = line;
  if (isFailure(line)) li.className = "fail";
  list.appendChild(li);
  while (list.children.length > 50) list.removeChild(list.firstChild);
}

function draw(s) {
  const ports = document.getElementById("ports");
  const queue = document.getElementById("queue");
  const lines = document.getElementById("lines");
  const conn = document.getElementById("conn");
  if (!ports) return;
  conn.textContent = s.connected ? "" : "The server does not answer on its control socket.";
  conn.className = s.connected ? "" : "notice error";
  ports.replaceChildren();
  for (const p of s.ports || []) {
    let state = String(p.state || "");
    if (p.passedOver) state += ", passed over by its routes";
    if (p.cause) state += " (" + p.cause + ")";
    const row = cellRow([p.port, "COM" + p.com, p.kind, p.target, state, p.batch || "", lastResult(p.lastResult)]);
    row.children[4].className = "state-" + String(p.state || "");
    row.dataset.port = String(p.port);
    ports.appendChild(row);
  }
  queue.replaceChildren();
  const q = s.queue || {};
  for (const [label, key] of [["Queue folder", "queue"], ["PENDING", "PENDING"], ["SENT", "SENT"], ["FAILED", "FAILED"]]) {
    const dt = document.createElement("dt");
    dt.textContent = label;
    const dd = document.createElement("dd");
    dd.textContent = q[key] === undefined ? "?" : String(q[key]);
    dd.id = "count-" + key;
    queue.append(dt, dd);
  }
  if (s.journal !== undefined) {
    const dt = document.createElement("dt");
    dt.textContent = "Journal";
    const dd = document.createElement("dd");
    dd.textContent = String(s.journal);
    queue.append(dt, dd);
  }
  if (lines && lines.children.length === 0) {
    for (const l of s.lines || []) drawLine(lines, l);
  }
}

document.addEventListener("DOMContentLoaded", () => {
  if (!document.getElementById("ports")) return;
  fetch("/api/status", { credentials: "same-origin" })
    .then((r) => r.json())
    .then(draw)
    .catch(() => {});
  const events = new EventSource("/events");
  events.addEventListener("status", (e) => draw(JSON.parse(e.data)));
  events.addEventListener("line", (e) => {
    const lines = document.getElementById("lines");
    if (lines) drawLine(lines, JSON.parse(e.data).line || "");
  });
});
