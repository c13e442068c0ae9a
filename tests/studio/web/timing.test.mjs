// Timing from the studio's timeline, on a straight path of uneven spacing (gaps 30, 10, 80, 15,
// 60 and 10 units, 1000 ms each, W1 pausing 500 ms): a waypoint's mark dragged retimes the
// segments around it as the server reports them, Shift moves the later marks instead, Esc
// cancels, one undo restores; "Even speed" and "Set speed" on a run of selected waypoints even
// out the eye's speed in the analysis the plots show.

import assert from 'node:assert/strict';
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { api, screenshot, settled as pageSettled, studioFor } from './harness.mjs';

const NAMES = ['W0', 'W1', 'W2', 'W3', 'W4', 'W5', 'W6'];
const XS = [0, 30, 40, 120, 135, 195, 205];

const run = studioFor('timing', { scene: 'uneven.json', prepare: (scratch) => {
  const waypoints = NAMES.map((name, i) => ({ name, class: 'SCOCameraSystemWaypoint', position: [XS[i], 0, 5],
    attributes: { Time2Next: 1000, ...(name === 'W1' ? { PauseTime: 500 } : {}) } }));
  writeFileSync(join(scratch, 'uneven.json'), JSON.stringify({ objects: [
    { name: 'P', class: 'SCOCameraSystemPath', children: waypoints },
    { name: 'Cam', class: 'SCOCameraSystemIterator', attributes: { Path: 'P' } }] }));
} });

const settled = () => pageSettled(run.page);
/** Every waypoint's Time2Next as the server reports it. */
const times = async () => (await api(run.url, '/api/scene')).objects.filter((o) => NAMES.includes(o.name))
  .map((o) => o.attributes.find((a) => a.name === 'Time2Next').value);
/** Where the flight shown reaches each waypoint (ms since the first tick). */
const arrivals = () => run.page.evaluate(() => window.studio.timeline.marks.filter((m) => m.kind === 'waypoint').map((m) => m.at));

/** Drags waypoint `name`'s mark to `elapsed` ms, with Shift held, or Esc pressed before letting go; `grab`: the cursor over the mark. */
async function dragMark(name, elapsed, { shift = false, cancel = false } = {}) {
  const { from, to, y } = await run.page.evaluate((name, elapsed) => {
    const t = window.studio.timeline;
    const r = t.track.getBoundingClientRect();
    const mark = t.marks.find((m) => m.kind === 'waypoint' && m.label === name);
    return { from: r.left + t.x(mark.at), to: r.left + t.x(elapsed), y: r.top + r.height / 2 };
  }, name, elapsed);
  await run.page.mouse.move(from, y);
  const grab = await run.page.$eval('.track', (e) => getComputedStyle(e).cursor);
  await run.page.mouse.down();
  if (shift) await run.page.keyboard.down('Shift');
  await run.page.mouse.move(to, y, { steps: 6 });
  if (cancel) await run.page.keyboard.press('Escape');
  await run.page.mouse.up();
  if (shift) await run.page.keyboard.up('Shift');
  await settled();
  return grab;
}

async function undo() {
  await run.page.click('#undoButton');
  await settled();
}

test('a mark dragged retimes the segments around it, Shift moves the later marks, Esc cancels, one undo restores', async () => {
  const start = await arrivals();
  assert.deepEqual(start, [0, 1000, 2500, 3500, 4500, 5500, 6500]);
  // W2 to 2.8 s: W1's segment begins after its pause (1.5 s), W2's gives the 300 ms back.
  assert.equal(await dragMark('W2', 2803), 'grab', 'the cursor shows the mark can be dragged');
  assert.deepEqual(await times(), [1000, 1300, 700, 1000, 1000, 1000, 1000]);
  assert.deepEqual(await arrivals(), [0, 1000, 2800, 3500, 4500, 5500, 6500], 'on a tick, later marks where they were');
  // (Where a drag past the next mark stops: flight.test.mjs.)
  await undo();
  assert.deepEqual(await times(), [1000, 1000, 1000, 1000, 1000, 1000, 1000], 'one undo a drag');

  await dragMark('W4', 4208, { shift: true });
  assert.deepEqual(await times(), [1000, 1000, 1000, 708, 1000, 1000, 1000]);
  assert.deepEqual(await arrivals(), [0, 1000, 2500, 3500, 4208, 5208, 6208]);
  await screenshot(run.page, 'timing-shift-drag');
  await undo();
  assert.deepEqual(await arrivals(), start);

  const revision = await run.page.evaluate(() => window.studio.editor.revision);
  await dragMark('W3', 3000, { cancel: true });
  assert.equal(await run.page.evaluate(() => window.studio.editor.revision), revision, 'Esc sent nothing');
  assert.deepEqual(await arrivals(), start);
});

test('even speed on the run selected and a set speed on the path: the eye\'s speed evens out in the plots\' analysis', async () => {
  /** The eye's speed from waypoint `first` to `last` (a tick's margin off each end, pauses left out): its spread (sd / mean) and mean. */
  const speed = (first, last) => run.page.evaluate((first, last) => {
    const { state, timeline } = window.studio;
    const at = timeline.marks.filter((m) => m.kind === 'waypoint').map((m) => m.at);
    const pauses = timeline.marks.filter((m) => m.kind === 'pause');
    const { time, speed } = state.analysis.data;
    const values = [];
    for (let i = 0; i < time.length; ++i) {
      const t = state.elapsedOf(time[i]);
      const flying = t > at[first] + 32 && t < at[last] - 32 && !pauses.some((p) => t >= p.at && t <= p.end + 32);
      if (flying && speed[i] !== null) values.push(speed[i]);
    }
    const mean = values.reduce((s, v) => s + v, 0) / values.length;
    const sd = Math.sqrt(values.reduce((s, v) => s + (v - mean) ** 2, 0) / values.length);
    return { spread: sd / mean, mean };
  }, first, last);
  const before = await speed(2, 6);
  await run.page.evaluate(() => window.studio.state.selectMany(['W6', 'W2']));
  assert.equal(await run.page.$eval('.speed-actions [data-role=scope]', (e) => e.textContent), 'W2 – W6');
  await run.page.click('.speed-actions [data-act=even]');
  await settled();
  const even = await speed(2, 6);
  const t = await times();
  assert.deepEqual(t.slice(0, 2).concat(t[6]), [1000, 1000, 1000], 'outside the run nothing changes');
  assert.equal(t.slice(2, 6).reduce((s, v) => s + v, 0), 4000, 'the run keeps its time');
  // The path's fit runs through every knot, so the uneven segments before W2 still bend it a little.
  assert.ok(before.spread > 0.5 && even.spread < before.spread / 4, `speed spread ${before.spread} before, ${even.spread} after`);

  // Nothing selected: the whole path. The distance measure adds 0.1 a segment to the 205 units
  // travelled, so the eye flies 20 * 205 / 205.6.
  await run.page.evaluate(() => window.studio.state.select(null));
  await run.page.type('.speed-actions input', '20');
  await run.page.keyboard.press('Enter');
  await settled();
  const set = await speed(0, 6);
  assert.ok(Math.abs(set.mean - 20 * 205 / 205.6) < 0.02 && set.spread < 0.01, `mean ${set.mean}, spread ${set.spread}`);
  await screenshot(run.page, 'timing-set-speed');
  await undo();
  assert.deepEqual(await times(), t, 'one undo takes the speed back');
});
