// The live page in a real browser: Debian's chromium, headless, driven by puppeteer-core. It opens the
// page of a running "decimora-cli live --simulate-meter --serve", sees the level change with the
// readings and the chart grow, takes a phone-sized and a desktop-sized screenshot, sees the page say
// that no reading comes while the meter is unplugged, then ends the tool, sees the page say that it
// lost it, starts the tool again on the same port and sees the page come back by itself with the new
// run's readings.
//
// node browser_test.mjs DECIMORA_CLI SCREENSHOT_FOLDER
// Exits 0 when all is seen, 1 when not, 77 (skipped) where chromium or puppeteer-core is not installed.

import { spawn } from "node:child_process";
import { existsSync, mkdirSync } from "node:fs";
import net from "node:net";
import path from "node:path";

const [cli, shots] = process.argv.slice(2);
const chromium = "/usr/bin/chromium";

function skip(reason) {
    console.log(`SKIPPED: ${reason}`);
    process.exit(77);
}

if (!existsSync(chromium)) skip(`${chromium} is not installed (scripts/setup installs Debian's chromium)`);
let puppeteer;
try {
    puppeteer = (await import("puppeteer-core")).default;
} catch {
    skip("puppeteer-core is not installed in tests/liveweb/node_modules (scripts/setup runs npm ci there)");
}

function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.once("error", reject);
        server.listen(0, "127.0.0.1", () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// The tool on a clock 600 times as fast as the real one, a reading every 10 s of it: an hour of
// readings in six seconds, so that both charts have something to show. The high level is low enough
// that the simulated meter's noise crosses it now and then.
function startTool(port) {
    const tool = spawn(cli, ["live", "--simulate-meter", "--serve", String(port), "--interval", "10",
        "--pretend-rate", "600", "--pretend-start", "2026-12-10T16:00:00", "--high-alarm", "57"], {
        stdio: ["ignore", "ignore", "pipe"],
        env: { ...process.env, DISPLAY: "", WAYLAND_DISPLAY: "" },
    });
    tool.stderrText = "";
    tool.stderr.on("data", (chunk) => { tool.stderrText += chunk; });
    tool.ended = new Promise((resolve) => tool.on("exit", (code, signal) => resolve({ code, signal })));
    return tool;
}

async function waitForPage(url, tool) {
    for (let i = 0; i < 300; i++) {
        try {
            const response = await fetch(url);
            if (response.ok) return;
        } catch {
            // Not serving yet.
        }
        if (tool.exitCode !== null) throw new Error(`the tool ended: ${tool.stderrText}`);
        await new Promise((r) => setTimeout(r, 100));
    }
    throw new Error(`${url} never answered: ${tool.stderrText}`);
}

const failures = [];
function check(condition, what) {
    console.log(`${condition ? "ok  " : "FAIL"} ${what}`);
    if (!condition) failures.push(what);
}

const port = await freePort();
const url = `http://127.0.0.1:${port}/`;
let tool = startTool(port);
const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
});
const text = (page, selector) => page.$eval(selector, (e) => e.textContent);
const points = (page, selector) => page.$eval(selector, (e) => Number(e.dataset.points));
const seq = (page) => page.evaluate(() => Number(document.body.dataset.seq || 0));

try {
    await waitForPage(url, tool);
    const page = await browser.newPage();
    const errors = [];
    page.on("pageerror", (error) => errors.push(String(error)));
    // A refused connection while the tool is away is the browser's own note, not the page's error.
    page.on("console", (message) => {
        if (message.type() === "error" && !/WebSocket connection|ERR_CONNECTION_REFUSED/.test(message.text()))
            errors.push(message.text());
    });
    await page.setViewport({ width: 1280, height: 800 });
    await page.goto(url, { waitUntil: "load" });

    await page.waitForFunction(() => document.getElementById("status").textContent === "Live", { timeout: 20000 });
    check(true, "the page connects and says Live");
    await page.waitForFunction(() => /^\d+\.\d$/.test(document.getElementById("level").textContent), { timeout: 20000 });
    const firstLevel = await text(page, "#level");
    const firstSeq = await seq(page);
    const firstPoints = await points(page, "#hour-chart");
    await page.waitForFunction((s) => Number(document.body.dataset.seq) >= s + 20, { timeout: 20000 }, firstSeq);
    const levels = new Set([firstLevel]);
    for (let i = 0; i < 20 && levels.size < 3; i++) {
        levels.add(await text(page, "#level"));
        await new Promise((r) => setTimeout(r, 50));
    }
    check(levels.size >= 2, `the level changes with the readings (${[...levels].join(", ")} dB)`);
    const laterPoints = await points(page, "#hour-chart");
    check(laterPoints > firstPoints, `the last hour's chart grows (${firstPoints} -> ${laterPoints} points)`);
    check(/\d+\.\d/.test(await text(page, "#day-leq")), "today's LAeq is shown");

    // Enough of the pretend hour for both charts and an event or two, then the pictures.
    await page.waitForFunction(() => Number(document.getElementById("day-chart").dataset.points) >= 30,
        { timeout: 30000 });
    check(true, "the last day's chart has its minutes");
    if (shots) {
        mkdirSync(shots, { recursive: true });
        await page.screenshot({ path: path.join(shots, "desktop-1280x800.png") });
        await page.setViewport({ width: 390, height: 844, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
        await new Promise((r) => setTimeout(r, 300));
        await page.screenshot({ path: path.join(shots, "phone-390x844.png") });
        await page.screenshot({ path: path.join(shots, "phone-390x844-whole.png"), fullPage: true });
        console.log(`screenshots in ${shots}`);
    }

    // The meter unplugged (SIGUSR1 pulls the simulated cable): the page says that no reading comes
    // rather than show the last level as the current one, and goes live again once it is back.
    tool.kill("SIGUSR1");
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("No reading for"),
        { timeout: 20000 });
    check(true, `the page says so when the meter is unplugged (${await text(page, "#status")})`);
    tool.kill("SIGUSR2");
    await page.waitForFunction(() => document.getElementById("status").textContent === "Live", { timeout: 20000 });
    check(true, "the page is live again once the meter is plugged back in");

    // The tool ends (as systemctl restart ends it): the page notices, and keeps trying.
    tool.kill("SIGTERM");
    const ended = await tool.ended;
    check(ended.code === 0, `the tool ends on SIGTERM with exit code 0 (${JSON.stringify(ended)})`);
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Reconnecting"),
        { timeout: 10000 });
    check(true, "the page says it is reconnecting once the tool has gone");

    tool = startTool(port);
    await page.waitForFunction(() => document.getElementById("status").textContent === "Live", { timeout: 30000 });
    // The new run counts its readings from 1 again: the page took its snapshot and goes on from there.
    const before = await seq(page);
    await page.waitForFunction((s) => Number(document.body.dataset.seq) > s + 5, { timeout: 20000 }, before);
    check(true, "after the restart the page is live again and takes the new run's readings");
    check(errors.length === 0, `no script errors (${errors.join("; ")})`);
} catch (error) {
    failures.push(String(error));
    console.log(`FAIL ${error}`);
} finally {
    await browser.close();
    if (tool.exitCode === null) {
        tool.kill("SIGTERM");
        await tool.ended;
    }
}
if (failures.length > 0) {
    console.log(`${failures.length} failed`);
    process.exit(1);
}
console.log("all seen");
