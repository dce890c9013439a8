// The live page's script: keeps a WebSocket to the logger, takes the snapshot it sends first and then
// one message per reading, and draws the level, the charts and the tables. Nothing here sends
// anything to the logger. When the logger goes away (restarted, unplugged box) the page tries again
// every few seconds and starts over from the snapshot the logger sends when it is back.
"use strict";

const HourMs = 3600 * 1000;
const DayMs = 24 * HourMs;

const state = {
    seq: 0,
    highAlarm: 85,
    intervalMs: 1000,
    latest: null,
    hour: [], // [t, level]
    minutes: [], // [t, leq, weighting]
    day: null,
    assessment: null,
};

const $ = (id) => document.getElementById(id);

function decibels(value) {
    return value === null || value === undefined ? "–" : value.toFixed(1);
}

// "HH:MM" on the logger's own clock, whatever the browser's time zone.
function loggerClock(t, offsetSeconds) {
    const shifted = new Date(t + offsetSeconds * 1000);
    const two = (n) => String(n).padStart(2, "0");
    return `${two(shifted.getUTCHours())}:${two(shifted.getUTCMinutes())}`;
}

function offsetOfLogger() {
    return state.latest ? state.latest.offset : -new Date().getTimezoneOffset() * 60;
}

// ---------------------------------------------------------------------------------------------------
// The level

function showReading() {
    const r = state.latest;
    const panel = $("panel");
    if (!r) return;
    $("level").textContent = r.level.toFixed(1);
    $("unit").textContent = `dB(${r.weighting})`;
    $("response").textContent = r.response === "fast" ? "FAST" : "SLOW";
    $("maxhold").classList.toggle("off", !r.max_hold);
    $("under").classList.toggle("off", !r.under);
    $("over").classList.toggle("off", !r.over);
    $("range").textContent = r.range === "unknown" ? "range ?" : `${r.range.replace("-", "–")} dB`;
    panel.classList.toggle("alarm", r.alarm);
    const time = r.time.slice(11, 19);
    $("clock").textContent = r.alarm ? `${time} · above the high level of ${state.highAlarm.toFixed(1)} dB` : time;
    document.body.dataset.seq = String(state.seq);
}

function showDay() {
    const d = state.day;
    if (!d) return;
    const w = d.weighting;
    $("leq-name").textContent = `L${w}eq`;
    $("lmax-name").textContent = `L${w}max`;
    $("l90-name").textContent = `L${w}90`;
    $("day-leq").textContent = decibels(d.leq);
    $("day-lmax").textContent = decibels(d.lmax);
    $("day-l90").textContent = decibels(d.l90);
    $("today-date").textContent = d.date || "";
}

function cell(row, text) {
    const td = document.createElement("td");
    td.textContent = text;
    row.appendChild(td);
}

function showAssessment() {
    const a = state.assessment;
    if (!a) return;
    $("period-day").textContent = a.day ? `of ${a.day}` : "";
    $("period-now").textContent = a.period ? `Now: the ${a.period}.` : "";
    const periods = $("periods");
    periods.replaceChildren();
    for (const p of a.periods) {
        const row = document.createElement("tr");
        cell(row, p.name);
        cell(row, decibels(p.level));
        cell(row, `${Math.round(p.coverage * 100)} %`);
        periods.appendChild(row);
    }
    $("event-rule").textContent = `at or above ${a.threshold.toFixed(1)} dB`;
    $("event-lmax").textContent = `L${a.weighting}max`;
    $("event-leq").textContent = `L${a.weighting}eq`;
    $("minute-name").textContent = `L${a.weighting}eq of each minute`;
    const count = a.eventCount;
    $("event-count").textContent = count === 0 ? "None today." :
        count > a.events.length ? `${count} today; the latest ${a.events.length}:` : `${count} today.`;
    const events = $("events");
    events.replaceChildren();
    for (const e of a.events.slice().reverse()) {
        const row = document.createElement("tr");
        cell(row, e.start);
        cell(row, e.end);
        cell(row, String(e.seconds));
        cell(row, decibels(e.lmax));
        cell(row, decibels(e.leq));
        events.appendChild(row);
    }
}

// ---------------------------------------------------------------------------------------------------
// The charts: a line over a time window that ends with the latest reading, drawn on a canvas sized to
// the screen's pixels. Where there are more points than pixel columns, each column draws the lowest
// and highest level that falls into it, so that no peak disappears.

function levelScale(points, valueOf) {
    let low = Infinity;
    let high = -Infinity;
    for (const p of points) {
        const v = valueOf(p);
        if (v === null) continue;
        low = Math.min(low, v);
        high = Math.max(high, v);
    }
    if (low === Infinity) return { low: 30, high: 100 };
    low = Math.max(0, Math.floor((Math.min(low, state.highAlarm) - 5) / 10) * 10);
    high = Math.min(150, Math.ceil((Math.max(high, state.highAlarm) + 5) / 10) * 10);
    if (high - low < 30) high = low + 30;
    return { low, high };
}

function drawChart(canvas, points, spanMs, tickMs, valueOf, colour) {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
    const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
    }
    const g = canvas.getContext("2d");
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    const w = canvas.clientWidth;
    const h = canvas.clientHeight;
    g.clearRect(0, 0, w, h);
    canvas.dataset.points = String(points.length);
    const left = 34;
    const bottom = h - 18;
    const top = 6;
    const right = w - 6;
    const end = state.latest ? state.latest.t : Date.now();
    const start = end - spanMs;
    const { low, high } = levelScale(points, valueOf);
    const x = (t) => left + ((t - start) / spanMs) * (right - left);
    const y = (v) => bottom - ((Math.min(Math.max(v, low), high) - low) / (high - low)) * (bottom - top);

    const style = getComputedStyle(document.documentElement);
    g.font = "11px 'DejaVu Sans', sans-serif";
    g.lineWidth = 1;
    g.strokeStyle = style.getPropertyValue("--grid");
    g.fillStyle = style.getPropertyValue("--dim");
    g.textAlign = "right";
    g.textBaseline = "middle";
    for (let v = low; v <= high; v += 10) {
        g.beginPath();
        g.moveTo(left, Math.round(y(v)) + 0.5);
        g.lineTo(right, Math.round(y(v)) + 0.5);
        g.stroke();
        g.fillText(String(v), left - 4, y(v));
    }
    // Clock labels on round times of the logger's clock.
    const offsetMs = offsetOfLogger() * 1000;
    g.textAlign = "center";
    g.textBaseline = "top";
    const firstTick = Math.ceil((start + offsetMs) / tickMs) * tickMs - offsetMs;
    for (let t = firstTick; t <= end; t += tickMs) {
        g.beginPath();
        g.moveTo(Math.round(x(t)) + 0.5, top);
        g.lineTo(Math.round(x(t)) + 0.5, bottom);
        g.stroke();
        g.fillText(loggerClock(t, offsetMs / 1000), x(t), bottom + 3);
    }
    // The high level.
    g.strokeStyle = style.getPropertyValue("--alarm");
    g.setLineDash([4, 4]);
    g.beginPath();
    g.moveTo(left, y(state.highAlarm));
    g.lineTo(right, y(state.highAlarm));
    g.stroke();
    g.setLineDash([]);

    // Min and max per pixel column; a gap of more than a few steps breaks the line.
    g.strokeStyle = colour;
    g.lineWidth = 1.5;
    g.beginPath();
    let column = null;
    let lowInColumn = 0;
    let highInColumn = 0;
    let lastT = null;
    const gapMs = Math.max(spanMs / 200, 4 * (state.intervalMs || 1000));
    const flush = (moveFirst) => {
        if (column === null) return;
        if (moveFirst) g.moveTo(column, y(highInColumn));
        else g.lineTo(column, y(highInColumn));
        g.lineTo(column, y(lowInColumn));
    };
    let breakBefore = true;
    for (const p of points) {
        const t = p[0];
        const v = valueOf(p);
        if (t < start || v === null) continue;
        const px = Math.round(x(t));
        if (lastT !== null && t - lastT > gapMs) {
            flush(breakBefore);
            column = null;
            breakBefore = true;
        }
        if (px !== column) {
            if (column !== null) {
                flush(breakBefore);
                breakBefore = false;
            }
            column = px;
            lowInColumn = v;
            highInColumn = v;
        } else {
            lowInColumn = Math.min(lowInColumn, v);
            highInColumn = Math.max(highInColumn, v);
        }
        lastT = t;
    }
    flush(breakBefore);
    g.stroke();
}

let drawPending = false;
function drawCharts() {
    if (drawPending) return;
    drawPending = true;
    requestAnimationFrame(() => {
        drawPending = false;
        const line = getComputedStyle(document.documentElement).getPropertyValue("--line");
        drawChart($("hour-chart"), state.hour, HourMs, 10 * 60 * 1000, (p) => p[1], line);
        drawChart($("day-chart"), state.minutes, DayMs, 3 * HourMs, (p) => p[1], "#8fd0ff");
    });
}

// ---------------------------------------------------------------------------------------------------
// The messages

function takeHistory(m) {
    state.seq = m.seq;
    state.highAlarm = m.highAlarm;
    state.intervalMs = m.intervalMs;
    state.latest = m.latest;
    state.hour = m.hour;
    state.minutes = m.minutes;
    state.day = m.day;
    state.assessment = m.assessment;
    showReading();
    showDay();
    showAssessment();
    drawCharts();
}

function takeReading(m) {
    const r = m.reading;
    state.seq = m.seq;
    state.latest = r;
    state.hour.push([r.t, r.level]);
    let drop = 0;
    while (drop < state.hour.length && state.hour[drop][0] <= r.t - HourMs) drop++;
    if (drop > 0) state.hour.splice(0, drop);
    if (m.minute) {
        state.minutes.push(m.minute);
        let old = 0;
        while (old < state.minutes.length && state.minutes[old][0] <= r.t - DayMs) old++;
        if (old > 0) state.minutes.splice(0, old);
    }
    state.day = m.day;
    showReading();
    showDay();
    if (m.assessment) {
        state.assessment = m.assessment;
        showAssessment();
    }
    drawCharts();
}

let socket = null;
let retryMs = 1000;
let lastMessageAt = Date.now();
let waiting = false;
// The time from one reading to the next as the page sees it: the logger's interval at first, then
// what arrives (the same, unless the logger's clock is not the real one, as in a rehearsal).
let typicalGapMs = null;

function overdueAfterMs() {
    return 3 * (typicalGapMs ?? state.intervalMs) + 2000;
}

function noteArrival(now) {
    const gap = now - lastMessageAt;
    if (gap <= overdueAfterMs()) typicalGapMs = typicalGapMs === null ? gap : 0.8 * typicalGapMs + 0.2 * gap;
    lastMessageAt = now;
}

// The logger is there but no reading comes (the meter is unplugged, say): after three intervals the
// page says so, rather than show an old level as the current one.
setInterval(() => {
    const late = Date.now() - lastMessageAt;
    if (socket && socket.readyState === WebSocket.OPEN && late > overdueAfterMs()) {
        waiting = true;
        setStatus(`No reading for ${Math.round(late / 1000)} s`, "lost");
    }
}, 1000);

function setStatus(text, kind) {
    const status = $("status");
    status.textContent = text;
    status.className = `status ${kind}`;
    $("panel").classList.toggle("stale", kind !== "live");
}

function connect() {
    const scheme = location.protocol === "https:" ? "wss" : "ws";
    socket = new WebSocket(`${scheme}://${location.host}/live`);
    socket.onopen = () => {
        retryMs = 1000;
        lastMessageAt = Date.now();
        setStatus("Live", "live");
    };
    socket.onmessage = (event) => {
        const m = JSON.parse(event.data);
        if (m.type === "reading") noteArrival(Date.now());
        else lastMessageAt = Date.now();
        if (waiting) {
            waiting = false;
            setStatus("Live", "live");
        }
        if (m.type === "history") {
            takeHistory(m);
        } else if (m.type === "reading") {
            // A reading missed (the logger restarted and counts from 1 again, say): start over.
            if (m.seq !== state.seq + 1) {
                socket.close();
                return;
            }
            takeReading(m);
        }
    };
    socket.onclose = () => {
        socket = null;
        setStatus("Reconnecting…", "lost");
        setTimeout(connect, retryMs);
        retryMs = Math.min(retryMs * 2, 5000);
    };
}

window.addEventListener("resize", drawCharts);
connect();
