// A rendered clip shows what the studio's camera view shows: the frame `camsys render` draws at a
// time, read back from its PNG, against a screenshot of the camera view at the same time, on a
// scratch copy of the example flying through its town.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { drawn, exe, pixels, studioFor } from './harness.mjs';

// The camera view is given this height and an even width (its own, or one pixel less) so that the
// clip's frames can be the same size.
const HEIGHT = 270;
let WIDTH = 0;
// The view's title ("Camera view · Cam · fov ...") lies over its top; left out of the comparison.
const TITLE = 28;

const ready = () => window.studio?.ready && window.studio.world.level;
const run = studioFor('clip', { copy: ['flythrough.json', 'town.glb'], ready }, async () => {
  run.scene = join(run.scratch, 'flythrough.json');
  // The clip leaves out what only the editor draws: the grid, the names, the path's lines and the
  // view's own buttons.
  WIDTH = await run.page.evaluate((h) => {
    const { studio } = window;
    const view = document.getElementById('cameraView');
    const w = 2 * Math.floor(view.getBoundingClientRect().width / 2);
    Object.assign(view.style, { width: `${w}px`, height: `${h}px`, flex: 'none' });
    studio.world.grid.visible = false;
    document.querySelector('#cameraView .camera-bar').style.display = 'none';
    studio.state.setOption('showDrawing', false);
    studio.state.setOption('showLabels', false);
    return w;
  }, HEIGHT);
});

/** The camera view at `ms` after the activation, as a PNG (base64). */
async function cameraView(ms) {
  await run.page.evaluate((t) => { window.studio.state.pause(); window.studio.state.seek(t); }, ms);
  // Two frames: the seek is drawn in the next one.
  await drawn(run.page);
  const box = await (await run.page.$('#cameraView')).boundingBox();
  assert.equal(Math.round(box.width), WIDTH, 'the camera view took the size asked for');
  return run.page.screenshot({ encoding: 'base64', clip: { x: box.x, y: box.y, width: WIDTH, height: HEIGHT } });
}

/** The frames `camsys render` writes for the times from `from` to `to` at `fps`, as PNGs (base64). */
function renderedFrames(from, to, fps) {
  const out = join(run.scratch, `frames-${from}-${to}/`);
  const result = spawnSync(exe, ['render', run.scene, '-o', out, '--size', `${WIDTH}x${HEIGHT}`, '--fps', String(fps),
    '--from', String(from), '--to', String(to), '--quiet'], { encoding: 'utf8', timeout: 120_000 });
  assert.equal(result.status, 0, `camsys render failed: ${result.stderr}`);
  return readdirSync(out).sort().map((name) => readFileSync(join(out, name)).toString('base64'));
}

/** Mean absolute difference per channel (0..255) of two images of the view's size, below its title. */
const meanDifference = (a, b) => pixels(run.browser, `
  const WIDTH = ${WIDTH}, HEIGHT = ${HEIGHT}, TITLE = ${TITLE};
  const [p, q] = data; let sum = 0, n = 0;
  for (let y = TITLE; y < HEIGHT; ++y)
    for (let x = 0; x < WIDTH; ++x) {
      const i = 4 * (y * WIDTH + x);
      for (let c = 0; c < 3; ++c) sum += Math.abs(p[i + c] - q[i + c]);
      n += 3;
    }
  return sum / n;`, a, b);

test('a frame of the clip is the camera view at its time, and not the view at the next frame', async () => {
  // 4000 ms is a tick of the studio's flight (16 ms apart) and frame 40 at 10 fps; 4100 is the next.
  const [at, next] = renderedFrames(4000, 4100, 10);
  const view = await cameraView(4000);
  const same = await meanDifference(view, at);
  const moved = await meanDifference(view, next);
  console.log(`clip: camera view against the frame at its time ${same.toFixed(2)}, against the next frame ${moved.toFixed(2)}`);
  // Both are drawn by the same software renderer from the same eye into a canvas of the same
  // size: measured 0.00 a channel. The frame 100 ms on differs by 0.84 (the eye moves slowly
  // there), so the bound tells the frame of one time from its neighbour.
  const TOLERANCE = 0.4;
  assert.ok(same < TOLERANCE, `the frame differs from the camera view by ${same.toFixed(2)} a channel`);
  assert.ok(moved > TOLERANCE, `the next frame (${moved.toFixed(2)}) should differ from the view more than ${TOLERANCE}`);
});
