// Views that make placing easy, on a scratch copy of the minimal example: the camera view made
// bigger (the side column's splitter, the full-page toggle that Esc undoes) with its guides
// (thirds, safe frames) where a camera operator expects them; the gizmo's move handles along the
// line of sight hidden; the pilot.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { HEIGHT, WIDTH, drag, screenshot, studioFor } from './harness.mjs';

const run = studioFor('placing', { copy: ['minimal.json'] });

const box = async (selector) => (await run.page.$(selector)).boundingBox();

test('the splitter widens the camera view, which keeps its shape', async () => {
  const before = await box('#cameraView');
  const splitter = await box('#sideSplitter');
  await drag(run.page, { x: splitter.x + 3, y: splitter.y + 400 }, { x: splitter.x - 297, y: splitter.y + 400 }, { steps: 6 });
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
  await screenshot(run.page, 'camera-view-full-page');
  await run.page.keyboard.press('Escape');
  const back = await box('#cameraView');
  assert.ok(back.width < WIDTH / 2 && back.x > WIDTH / 3, 'Esc puts the camera view back in its place');
  assert.equal(await run.page.$eval('.layout', (e) => e.classList.contains('camera-full')), false);
});

test('a move handle along the line of sight is hidden', async () => {
  const shown = () => run.page.evaluate(() => ['showX', 'showY', 'showZ'].map((k) => window.studio.gizmo.controls[k]));
  /** Puts the 3D view's eye at `offset` from the selection, looking at it. */
  const lookFrom = (offset) => run.page.evaluate((o) => {
    const { view3d, gizmo } = window.studio;
    const p = gizmo.proxy.position;
    view3d.controls.target.copy(p);
    view3d.camera.position.set(p.x + o[0], p.y + o[1], p.z + o[2]);
    view3d.controls.update();
  }, offset);
  await run.page.evaluate(() => window.studio.state.select('A'));
  // From above (5° off the vertical) z goes along the line of sight, from the side along x x does; oblique: all three shown.
  const views = [[[0.1, -5, 60], [true, true, false]], [[60, 0.2, 1], [false, true, true]], [[40, -40, 30], [true, true, true]]];
  for (const [offset, handles] of views) {
    await lookFrom(offset);
    assert.deepEqual(await shown(), handles, `seen from ${offset}`);
  }
  // (The snap step typed: views.test.mjs.)
});

test('pilot: fly the view, a waypoint here shows in the camera what the view showed; look through and move it', async () => {
  const camera = () => run.page.evaluate(() => {
    const c = window.studio.view3d.camera;
    const e = c.matrixWorld.elements;  // columns: right, up, back
    return { p: c.position.toArray(), right: [e[0], e[1], e[2]], up: [e[4], e[5], e[6]], forward: [-e[8], -e[9], -e[10]], fov: c.fov };
  });
  const close = (a, b, tolerance, what) =>
    assert.ok(a.every((v, i) => Math.abs(v - b[i]) < tolerance), `${what}: ${a.map((v) => v.toFixed(4))} against ${b.map((v) => v.toFixed(4))}`);
  await run.page.evaluate(() => window.studio.state.select('A'));
  await run.page.click('.pilot-bar [data-act=pilot]');
  assert.equal(await run.page.evaluate(() => window.studio.pilot.on), true, 'the Pilot button');
  const start = await camera();
  // Held until the view has gone some way: a busy machine draws few frames in a fixed time.
  await run.page.keyboard.down('w');
  await run.page.waitForFunction((p) => window.studio.view3d.camera.position.distanceTo({ x: p[0], y: p[1], z: p[2] }) > 0.6,
    { timeout: 10_000 }, start.p);
  await run.page.keyboard.up('w');
  const flown = await camera();
  const moved = flown.p.map((v, i) => v - start.p[i]);
  const along = moved.reduce((s, v, i) => s + v * start.forward[i], 0);
  assert.ok(along > 0.5 && along > 0.99 * Math.hypot(...moved), `W moved the eye ${moved} (forward ${start.forward})`);
  // A roll of 20° about the line of sight, which the new waypoint must keep as its Roll.
  await run.page.evaluate(() => window.studio.view3d.camera.rotateZ(Math.PI / 9).updateMatrixWorld());
  const view = await camera();
  await run.page.click('.pilot-bar [data-act=here]');
  await run.page.waitForFunction(() => window.studio.state.objects.size === 5, { timeout: 5000 });
  const made = await run.page.evaluate(() => window.studio.state.objects.get(window.studio.state.selection));
  assert.equal(made.parent, 'Path');
  close(made.position, view.p, 1e-3, 'the new waypoint stands at the view\'s eye');
  // The camera reaches it after A's Time2Next: the frame there is the view, position, axes and angle.
  const frame = await run.page.evaluate(() => window.studio.api.frame(window.studio.state.flightParams, 1000));
  close([frame.x, frame.y, frame.z], view.p, 1e-3, 'eye');
  close([frame.m01, frame.m11, frame.m21], view.forward, 1e-4, 'forward');
  close([frame.m02, frame.m12, frame.m22], view.up, 1e-4, 'up (the roll kept)');
  const vertical = 2 * Math.atan(Math.tan(Math.PI / 6) / frame.fov) * 180 / Math.PI;
  assert.ok(Math.abs(vertical - view.fov) < 1e-3, `the camera view's angle ${vertical} against the view's ${view.fov}`);

  await run.page.evaluate(() => window.studio.state.select('B'));
  await run.page.click('.pilot-bar [data-act=look]');
  const through = await camera();
  const b = await run.page.evaluate(() => window.studio.state.objects.get('B').position);
  close(through.p, b, 1e-6, 'the view looks through B');
  assert.equal(await run.page.$eval('.pilot-bar [data-act=here]', (e) => e.textContent), 'Move B here');
  await run.page.keyboard.down('e');
  await run.page.waitForFunction((z) => window.studio.view3d.camera.position.z > z, { timeout: 10_000 }, b[2] + 0.4);
  await run.page.keyboard.up('e');
  const raised = await camera();
  await run.page.click('.pilot-bar [data-act=here]');
  await run.page.waitForFunction((z) => window.studio.state.objects.get('B').position[2] > z, { timeout: 5000 }, b[2] + 0.3);
  close(await run.page.evaluate(() => window.studio.state.objects.get('B').position), raised.p, 1e-3, 'B moved to the view');
  await run.page.keyboard.press('Escape');
  assert.equal(await run.page.evaluate(() => window.studio.pilot.on), false, 'Esc leaves the pilot');
});
