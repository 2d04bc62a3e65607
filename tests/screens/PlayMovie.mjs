// Plays a movie in the Ruffle player inside headless Chromium and saves a screenshot of the
// player for each progress value given as the flash variable "VexalLoaderProgress".
//
// node PlayMovie.mjs PLAYER_DIR MOVIE WIDTH HEIGHT OUT_PREFIX PROGRESS...
//   PLAYER_DIR  folder holding node_modules with @ruffle-rs/ruffle and playwright-core
//   writes OUT_PREFIX-<index>.png, one per progress value, and exits 0; any failure exits 1 with
//   the reason on standard error.
import http from "node:http";
import fs from "node:fs";
import path from "node:path";
import { createRequire } from "node:module";

const [playerDir, moviePath, width, height, outPrefix, ...progressValues] = process.argv.slice(2);
if (!outPrefix || progressValues.length === 0) {
  console.error("usage: node PlayMovie.mjs PLAYER_DIR MOVIE WIDTH HEIGHT OUT_PREFIX PROGRESS...");
  process.exit(2);
}
const require = createRequire(path.join(playerDir, "package.json"));
const { chromium } = require("playwright-core");
const ruffleDir = path.dirname(require.resolve("@ruffle-rs/ruffle/package.json"));

const page = (progress) => `<!doctype html><html><head><meta charset="utf-8">
<style>html,body{margin:0;padding:0;background:#000;overflow:hidden}</style>
<script>window.RufflePlayer = window.RufflePlayer || {};
window.RufflePlayer.config = {autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
  letterbox: "off", contextMenu: "off", warnOnUnsupportedContent: false, logLevel: "warn"};</script>
<script src="/ruffle/ruffle.js"></script></head><body>
<div id="stage" style="width:${width}px;height:${height}px"></div>
<script>
  const player = window.RufflePlayer.newest().createPlayer();
  player.style.width = "${width}px"; player.style.height = "${height}px";
  document.getElementById("stage").appendChild(player);
  player.addEventListener("loadedmetadata", () => { window.movieLoaded = true; });
  player.load({url: "/movie.swf", parameters: {VexalLoaderProgress: "${progress}"}});
</script></body></html>`;

const types = { ".js": "text/javascript", ".wasm": "application/wasm", ".swf": "application/x-shockwave-flash" };
const server = http.createServer((request, response) => {
  const url = new URL(request.url, "http://localhost");
  let file = null;
  if (url.pathname === "/page.html") {
    response.writeHead(200, { "Content-Type": "text/html" });
    response.end(page(url.searchParams.get("p") ?? "0"));
    return;
  }
  if (url.pathname === "/movie.swf") file = moviePath;
  else if (url.pathname.startsWith("/ruffle/")) {
    const name = path.basename(url.pathname);
    file = path.join(ruffleDir, name);
  }
  if (!file || !fs.existsSync(file)) {
    response.writeHead(404);
    response.end();
    return;
  }
  response.writeHead(200, { "Content-Type": types[path.extname(file)] ?? "application/octet-stream" });
  fs.createReadStream(file).pipe(response);
});

async function main() {
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  const port = server.address().port;
  const userData = fs.mkdtempSync(path.join(path.dirname(outPrefix), "chromium-profile-"));
  const browser = await chromium.launchPersistentContext(userData, {
    executablePath: process.env.VEXAL_CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    viewport: { width: Number(width), height: Number(height) },
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  try {
    const tab = browser.pages()[0] ?? (await browser.newPage());
    tab.on("pageerror", (error) => console.error("page error:", error.message));
    for (let i = 0; i < progressValues.length; ++i) {
      await tab.goto(`http://127.0.0.1:${port}/page.html?p=${encodeURIComponent(progressValues[i])}`);
      await tab.waitForFunction(() => window.movieLoaded === true, null, { timeout: 60000 });
      // A few frames at 24 per second: the movie lays itself out on every frame.
      await tab.waitForTimeout(1500);
      await tab.locator("#stage").screenshot({ path: `${outPrefix}-${i}.png` });
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(userData, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(String(error && error.stack || error));
  server.close();
  process.exit(1);
});
