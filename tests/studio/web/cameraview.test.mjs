// The camera view made bigger for placing: the side column's splitter widens it, the full-page
// toggle lays it over the page (Esc returns), and its guides (thirds, safe frames) sit where a
// camera operator expects them, on a scratch copy of the example.

import assert from 'node:assert/strict';
import { copyFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { HEIGHT, WIDTH, checkSetup, deadline, examples, launchBrowser, shots, startStudio, stopAll } from './harness.mjs';

const run = {};
let timer;

before(async () => {
  checkSetup();
  run.scratch = mkdtempSync(join(tmpdir(), 'camsys-cameraview-'));
  copyFileSync(join(examples, 'minimal.json'), join(run.scratch, 'minimal.json'));
  timer = deadline('cameraview.test.mjs', () => stopAll(run));
  const { child, url } = await startStudio(join(run.scratch, 'minimal.json'));
  run.server = child;
  run.browser = await launchBrowser(join(run.scratch, 'profile'));
  run.page = await run.browser.newPage();
  await run.page.goto(url);
  await run.page.waitForFunction(() => window.studio?.ready, { timeout: 30_000 });
});

after(async () => {
  clearTimeout(timer);
  await stopAll(run);
});

const box = async (selector) => (await run.page.$(selector)).boundingBox();

test('the splitter widens the camera view, which keeps its shape', async () => {
  const before = await box('#cameraView');
  const splitter = await box('#sideSplitter');
  await run.page.mouse.move(splitter.x + 3, splitter.y + 400);
  await run.page.mouse.down();
  await run.page.mouse.move(splitter.x - 297, splitter.y + 400, { steps: 6 });
  await run.page.mouse.up();
  const after = await box('#cameraView');
  assert.ok(Math.abs(after.width - (before.width + 300)) < 4, `${before.width} -> ${after.width}`);
  assert.ok(Math.abs(after.width / after.height - 16 / 9) < 0.01, `${after.width} x ${after.height}`);
  const aspect = await run.page.evaluate(() => window.studio.cameraView.camera.aspect);
  assert.ok(Math.abs(aspect - after.width / after.height) < 0.01, 'the camera follows the view\'s shape');
});

test('full page and back with Esc; the guides at thirds, 93% and 90%', async () => {
  await run.page.click('.camera-bar [data-act=full]');
  const full = await box('#cameraView');
  assert.deepEqual([full.x, full.width, full.y + full.height], [0, WIDTH, HEIGHT]);
  // The view is a hole onto the canvas beneath the page: no other pane may paint there.
  const painting = await run.page.$$eval('.layout .pane:not(#cameraView)',
    (panes) => panes.filter((p) => getComputedStyle(p).visibility !== 'hidden').map((p) => p.id || p.className));
  assert.deepEqual(painting, [], 'panes that paint over the full-page camera view');
  await run.page.click('.camera-bar [data-act=thirds]');
  await run.page.click('.camera-bar [data-act=safe]');
  const line = await box('.thirds i:nth-child(1)');
  const action = await box('.action-safe');
  const title = await box('.title-safe');
  assert.ok(Math.abs(line.x - full.width / 3) < 2, `a third at ${line.x}`);
  assert.ok(Math.abs(action.width - 0.93 * full.width) < 2 && Math.abs(title.width - 0.9 * full.width) < 2);
  await run.page.screenshot({ path: join(shots, 'camera-view-full-page.png') });
  await run.page.keyboard.press('Escape');
  const back = await box('#cameraView');
  assert.ok(back.width < WIDTH / 2 && back.x > WIDTH / 3, 'Esc puts the camera view back in its place');
  assert.equal(await run.page.$eval('.layout', (e) => e.classList.contains('camera-full')), false);
});
