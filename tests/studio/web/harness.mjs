// What the browser tests of the studio share: where the program, the examples, the screenshots
// and the browser are, starting and stopping `camsys studio`, launching headless Chromium, the
// deadline that stops a hung run, and comparing screenshots pixel by pixel.
//
//   CAMSYS_EXE          the camsys program (default: build/cli/camsys)
//   CAMSYS_EXAMPLES     the examples folder (default: examples)
//   CAMSYS_SCREENSHOTS  where the PNG screenshots go (default: build/studio-screenshots)
//   CAMSYS_CHROMIUM     the browser (default: /usr/bin/chromium)

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';

export const repo = resolve(fileURLToPath(new URL('../../..', import.meta.url)));
// puppeteer-core is installed with the page's own packages, not next to the tests.
const require = createRequire(join(repo, 'studio/web/package.json'));
const puppeteer = require('puppeteer-core');

export const exe = resolve(process.env.CAMSYS_EXE || join(repo, 'build/cli/camsys'));
export const examples = resolve(process.env.CAMSYS_EXAMPLES || join(repo, 'examples'));
export const shots = resolve(process.env.CAMSYS_SCREENSHOTS || join(repo, 'build/studio-screenshots'));
export const chromium = process.env.CAMSYS_CHROMIUM || '/usr/bin/chromium';
export const WIDTH = 1600, HEIGHT = 1000;

/** Fails at once, saying what to set, if the program or the browser is missing; makes the screenshot folder. */
export function checkSetup() {
  assert.ok(existsSync(exe), `no camsys program at ${exe} (set CAMSYS_EXE)`);
  assert.ok(existsSync(chromium), `no browser at ${chromium} (install Debian's chromium or set CAMSYS_CHROMIUM)`);
  mkdirSync(shots, { recursive: true });
}

/** Starts the studio on `scene` (with `options`) and resolves with the process, the URL it prints and its output so far. */
export function startStudio(scene, options = []) {
  return new Promise((started, reject) => {
    const child = spawn(exe, ['studio', scene, '--port', '0', ...options], { stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    const fail = (why) => reject(new Error(`camsys studio ${why}; its output:\n${output || '(none)'}`));
    const timer = setTimeout(() => fail('printed no URL within 10 s'), 10_000);
    child.on('error', (e) => { clearTimeout(timer); fail(`could not start (${e.message})`); });
    child.on('exit', (code, signal) => { clearTimeout(timer); fail(`exited early (${signal || code})`); });
    child.stderr.on('data', (d) => { output += d; });
    child.stdout.on('data', (d) => {
      output += d;
      const m = /camsys studio: (http:\/\/\S+)/.exec(output);
      if (m) { clearTimeout(timer); child.removeAllListeners('exit'); started({ child, url: m[1], output: () => output }); }
    });
  });
}

/** Asks the studio to stop, and kills it if it has not after 2 s (unless it has ended already). */
export async function stopStudio(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  child.kill('SIGTERM');
  const killer = setTimeout(() => child.kill('SIGKILL'), 2000);
  await new Promise((r) => child.once('exit', r));
  clearTimeout(killer);
}

/** Headless Chromium with its profile in `userData`, drawing WebGL in software (SwiftShader), so it needs no GPU. */
export function launchBrowser(userData) {
  return puppeteer.launch({ executablePath: chromium, headless: true, defaultViewport: { width: WIDTH, height: HEIGHT },
    args: ['--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--disable-gpu-sandbox', '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', `--user-data-dir=${userData}`, `--window-size=${WIDTH},${HEIGHT}`],
  });
}

/**
 * Collects into `problems` what `page` reports going wrong: page errors, failed requests, HTTP
 * answers from `status` up and, if `consoleErrors`, console errors.
 */
export function watchProblems(page, problems, { status = 400, consoleErrors = true } = {}) {
  if (consoleErrors) page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('requestfailed', (r) => problems.push(`request failed: ${r.url()} (${r.failure()?.errorText})`));
  page.on('response', (r) => { if (r.status() >= status) problems.push(`HTTP ${r.status()} for ${r.url()}`); });
}

/** Closes the browser, stops the studio and removes the scratch folder; any of them may not be there yet. */
export async function stopAll({ browser, server, scratch }) {
  if (browser) await browser.close().catch(() => {});
  await stopStudio(server);
  if (scratch) rmSync(scratch, { recursive: true, force: true });
}

/**
 * A test file stops by itself after 100 s: a hung browser or server must not hold CI. `stop` ends
 * what the file started; the timer is returned so the file clears it when it ends in time.
 */
export function deadline(name, stop) {
  const timer = setTimeout(() => {
    console.error(`${name}: still running after 100 s; stopping the server and the browser`);
    stop().finally(() => process.exit(1));
  }, 100_000);
  timer.unref();
  return timer;
}

/**
 * A test file's studio, opened before its tests and closed after them: the examples' `copy` copied
 * to a scratch folder (or files `prepare(scratch)` writes there), `camsys studio` on `scene`
 * (default: the first copied), and a page of a browser of its own, ready (`ready`, run in the page),
 * then `setUp(run)` (the file's own hooks may run beside this one). Returns the `run` it fills with
 * scratch, server, url, browser and page; `watch(page)` runs before the page loads. What the page
 * reports going wrong (watchProblems with the options `problems`; null: nothing) is collected in
 * `run.problems` and fails the file once its tests have run, unless `problems.provoked` says the
 * file's tests made it happen. A deadline stops a hung file.
 */
export function studioFor(name, { copy = [], prepare = null, scene = copy[0], watch = null, problems = {},
  ready = () => window.studio?.ready } = {}, setUp = async () => {}) {
  const run = { problems: [] };
  before(async () => {
    checkSetup();
    run.scratch = mkdtempSync(join(tmpdir(), `camsys-${name}-`));
    for (const file of copy) copyFileSync(join(examples, file), join(run.scratch, file));
    if (prepare) prepare(run.scratch);
    run.timer = deadline(`${name}.test.mjs`, () => stopAll(run));
    ({ child: run.server, url: run.url } = await startStudio(join(run.scratch, scene)));
    run.browser = await launchBrowser(join(run.scratch, 'profile'));
    run.page = await run.browser.newPage();
    if (problems) watchProblems(run.page, run.problems, problems);
    if (watch) watch(run.page);
    await run.page.goto(run.url);
    await run.page.waitForFunction(ready, { timeout: 30_000 });
    await setUp(run);
  });
  after(async () => {
    clearTimeout(run.timer);
    const seen = run.problems.filter((p) => !problems?.provoked?.(p));
    await stopAll(run);
    assert.deepEqual(seen, [], `the page reported:\n${seen.join('\n')}`);
  });
  return run;
}

/**
 * Another `camsys studio` on `scene` (with `options`) in a page of its own of `browser`, once
 * `ready` holds in it: runs `check(page, output)`, then fails on any page error, failed request,
 * server fault (and console error if `consoleErrors`).
 */
export async function ownStudio(browser, scene, { options = [], ready = () => window.studio?.ready, timeout = 20_000,
  consoleErrors = false } = {}, check = async () => {}) {
  const { child, url, output } = await startStudio(scene, options);
  const page = await browser.newPage();
  const seen = [];
  watchProblems(page, seen, { status: 500, consoleErrors });
  try {
    await page.goto(url, { waitUntil: 'domcontentloaded' });
    await page.waitForFunction(ready, { timeout });
    await check(page, output);
    assert.deepEqual(seen, [], `the page reported:\n${seen.join('\n')}`);
  } finally {
    await page.close();
    await stopStudio(child);
  }
}

/** Presses `key` (or does `key()`, a click say) with the modifier `keys` held. */
export async function chord(page, keys, key) {
  for (const k of keys) await page.keyboard.down(k);
  await (typeof key === 'function' ? key() : page.keyboard.press(key));
  for (const k of [...keys].reverse()) await page.keyboard.up(k);
}

/** Clicks the field `selector` and types `text` over what it holds (nothing: clears it). */
export async function retype(page, selector, text) {
  await page.click(selector);
  await chord(page, ['Control'], 'a');
  if (text) await page.keyboard.type(text);
  else await page.keyboard.press('Backspace');
}

/** Types `text` (nothing: clears it) over the inspector field `key` of the object shown, presses Enter and waits for the answer. */
export async function typeInto(page, key, text) {
  await retype(page, `.inspector [data-key="${key}"]`, text);
  await page.keyboard.press('Enter');
  await settled(page);
}

/** Waits until every change, drag and refetch the page started is answered and shown. */
export const settled = (page) => page.evaluate(() => window.studio.editor.settled());

/** Saves a screenshot of `target` (a page or an element) as `name`.png with the others. */
export const screenshot = (target, name, options = {}) => target.screenshot({ path: join(shots, `${name}.png`), ...options });

/** Waits two frames: what changed is drawn in the next. */
export const drawn = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

/** A screenshot (PNG, base64) of what `selector` covers, once drawn. */
export async function shotOf(page, selector) {
  await drawn(page);
  return page.screenshot({ clip: await (await page.$(selector)).boundingBox(), encoding: 'base64' });
}

/** Drags with the left button from `from` to `to` (page pixels) in `steps` moves, the key `hold` held. */
export async function drag(page, from, to, { steps = 8, hold = null } = {}) {
  if (hold) await page.keyboard.down(hold);
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(to.x, to.y, { steps });
  await page.mouse.up();
  if (hold) await page.keyboard.up(hold);
}

/** A request of the studio's API at `url` (with its token) as a script makes it: the parsed answer, once its status is `status`. */
export async function api(url, path, { method = 'GET', body, status = 200 } = {}) {
  const headers = { Authorization: `Bearer ${new URL(url).searchParams.get('token')}` };
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const answer = await fetch(new URL(path, url), { method, headers, body: body === undefined ? undefined : JSON.stringify(body) });
  const text = await answer.text();
  assert.equal(answer.status, status, `${method} ${path}: ${text}`);
  return JSON.parse(text);
}

/** The object `name` in a scene file's `objects`, searched through their children. */
export const findObject = (objects, name) =>
  objects.reduce((hit, o) => hit || (o.name === name ? o : findObject(o.children || [], name)), null);

/**
 * Pixel statistics of PNG screenshots, computed by the browser on a blank page of its own: `script`
 * is the body of a function of `data`, the RGBA bytes of each screenshot in turn.
 */
export async function pixels(browser, script, ...pngs) {
  const blank = await browser.newPage();
  try {
    return await blank.evaluate(async (source, images) => {
      const data = [];
      for (const png of images) {
        const image = new Image();
        image.src = `data:image/png;base64,${png}`;
        await image.decode();
        const g = new OffscreenCanvas(image.width, image.height).getContext('2d');
        g.drawImage(image, 0, 0);
        data.push(g.getImageData(0, 0, image.width, image.height).data);
      }
      return new Function('data', source)(data);
    }, script, pngs);
  } finally {
    await blank.close();
  }
}

/** The share of pixels that differ clearly between two PNG screenshots of the same size. */
export const changedShare = (browser, a, b) => pixels(browser, `
  const [p, q] = data; let n = 0;
  for (let i = 0; i < p.length; i += 4)
    if (Math.abs(p[i] - q[i]) + Math.abs(p[i + 1] - q[i + 1]) + Math.abs(p[i + 2] - q[i + 2]) > 24) ++n;
  return n / (p.length / 4);`, a, b);
