// End to end in headless Chromium: the example's scene and flight as a person uses them (views
// drawn, playback, keys, selection and the inspector, findings, iterators), levels, new and empty
// files, and no error on the console (large scenes: large.test.mjs). Where things are: see harness.mjs.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { copyFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { api, changedShare, chord, drag, examples, exe, ownStudio, pixels, screenshot, settled, shotOf, studioFor }
  from './harness.mjs';
import { boxesGlb } from './glb.mjs';

let url, browser, page, scratch;
let sceneAnswer;

/** A copy of the example in the scratch folder: edits must not leave a journal beside the example. */
function copiedExample(name) {
  const scene = join(scratch, name);
  copyFileSync(join(examples, 'flythrough.json'), scene);
  return scene;
}

/** Spread of brightness and number of distinct colours: a blank view has neither. */
const spread = (png) => pixels(browser, `
  const d = data[0]; let sum = 0, sq = 0; const colours = new Set();
  for (let i = 0; i < d.length; i += 4) {
    const v = 0.3 * d[i] + 0.59 * d[i + 1] + 0.11 * d[i + 2]; sum += v; sq += v * v;
    colours.add((d[i] >> 3) << 10 | (d[i + 1] >> 3) << 5 | d[i + 2] >> 3);
  }
  const n = d.length / 4; return { deviation: Math.sqrt(sq / n - (sum / n) ** 2), colours: colours.size };`, png);

const studio = (fn, ...args) => page.evaluate(fn, ...args);
const text = (selector) => page.$eval(selector, (e) => e.textContent.trim());

const run = studioFor('studio', { copy: ['flythrough.json', 'town.glb'] }, (r) => ({ url, browser, page, scratch } = r));

test('the page becomes interactive with the scene, its drawing and the flight', async () => {
  const own = await studio(() => window.studio.timings);
  console.log(`studio: interactive after ${own.ready} ms (the page's own clock from navigation: ${JSON.stringify(own)} ms)`);
  assert.ok(own.ready < 15_000, `the page got ready after ${own.ready} ms; problems: ${run.problems.join('; ') || 'none seen'}`);
  assert.equal(await page.$eval('#error', (e) => e.hidden), true, `the page shows an error: ${await text('#error')}`);

  // The page lists what the server reports, in its order.
  sceneAnswer = await api(url, '/api/scene');
  const listed = await page.$$eval('.tree [data-name]', (rows) => rows.map((r) => r.dataset.name));
  assert.deepEqual(listed, sceneAnswer.objects.map((o) => o.name));
  const flight = await studio(() => ({ rows: window.studio.state.flight.rows, iterator: window.studio.state.flight.iterator }));
  assert.ok(flight.rows > 100, `the flight has ${flight.rows} ticks`);
  assert.equal(flight.iterator, sceneAnswer.iterator);
});

test('the 3D view and the camera view are drawn', { timeout: 10_000 }, async () => {
  for (const selector of ['#view3d', '#cameraView']) {
    const { deviation, colours } = await spread(await shotOf(page, selector));
    assert.ok(deviation > 6 && colours > 40, `${selector} looks blank: brightness deviation ${deviation.toFixed(1)}, ${colours} colours`);
  }
  // Both views share one canvas over the page: outside them it must stay transparent, or it
  // hides the header, the timeline and the panels.
  const covered = await studio(() => {
    const { surface } = window.studio;
    surface.frame();
    const gl = surface.renderer.getContext(), scale = gl.drawingBufferHeight / innerHeight, pixel = new Uint8Array(4);
    return ['header', '.bottom', '#inspector'].filter((selector) => {
      const r = document.querySelector(selector).getBoundingClientRect();
      const x = Math.round((r.left + r.width / 2) * scale), y = Math.round((innerHeight - (r.top + r.height / 2)) * scale);
      gl.readPixels(x, y, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
      return pixel[3] !== 0;
    });
  });
  assert.deepEqual(covered, [], 'the 3D canvas covers parts of the page outside the views');
  const labels = await page.$$eval('#view3d .label', (ls) => ls.filter((l) => l.style.display !== 'none').map((l) => l.textContent));
  for (const name of ['W0', 'W1', 'Tower']) assert.ok(labels.includes(name), `the 3D view does not name ${name} (shows ${labels.join(', ')})`);
  await screenshot(page, 'studio-start');
});

test('playing a second moves the time, the playhead and the camera view', { timeout: 10_000 }, async () => {
  const before = { time: await text('[data-role=time]'), head: Number(await page.$eval('.track', (t) => t.dataset.playhead)) };
  const camera = await shotOf(page, '#cameraView');
  const pressed = await studio(() => performance.now());
  await page.keyboard.press('Space');
  // A second of the page's clock, ending with a frame drawn.
  const frames = await studio(async () => {
    let n = 0;
    for (const t0 = performance.now(); performance.now() - t0 < 1000; ++n) await new Promise(requestAnimationFrame);
    return n;
  });
  await page.keyboard.press('Space');
  const now = await studio(() => ({ playing: window.studio.state.playing, elapsed: window.studio.state.elapsed }));
  // Playback follows the page's clock: at least the second counted, at most the time between
  // the presses (a busy machine stretches the round trips around them).
  const between = (await studio(() => performance.now())) - pressed;
  assert.equal(now.playing, false, 'Space does not pause');
  console.log(`studio: played ${now.elapsed.toFixed(0)} ms of the flight in one second at ${frames} frames/s`);
  assert.ok(now.elapsed > 900 && now.elapsed <= between + 20,
    `a second of playback moved ${now.elapsed} ms, the presses ${between.toFixed(0)} ms apart`);
  assert.notEqual(await text('[data-role=time]'), before.time, 'the time shown did not move');
  const head = Number(await page.$eval('.track', (t) => t.dataset.playhead));
  assert.ok(head > before.head + 20, `the playhead went from x ${before.head} to ${head}`);
  const share = await changedShare(browser, camera, await shotOf(page, '#cameraView'));
  assert.ok(share > 0.02, `only ${(share * 100).toFixed(2)} % of the camera view changed`);
});

test('keys step ticks and jump to waypoints and the ends', { timeout: 10_000 }, async () => {
  for (const [key, tick] of [['Home', 0], ['ArrowRight', 1], ['ArrowRight', 2], ['ArrowLeft', 1]]) {
    await page.keyboard.press(key);
    assert.equal(await studio(() => window.studio.state.tick), tick, `after ${key}`);
  }
  const waypoint = await text('[data-role=waypoint]');
  await chord(page, ['Shift'], 'ArrowRight');
  assert.notEqual(await text('[data-role=waypoint]'), waypoint, 'the next waypoint did not change the waypoint shown');
  await page.keyboard.press('End');
  const rows = await studio(() => window.studio.state.flight.rows);
  assert.equal(await text('[data-role=tick]'), `${rows} / ${rows}`);
});

test('every pause the timeline shades is where the flown eye stands still', { timeout: 15_000 }, async () => {
  // As a person reads it: the tooltip of each shaded span, under the mouse.
  const spans = await studio(() => window.studio.timeline.marks.filter((m) => m.kind === 'pause')
    .map((m) => ({ label: m.label, x: (window.studio.timeline.x(m.at) + window.studio.timeline.x(m.end)) / 2 })));
  assert.ok(spans.length >= 3, `${spans.length} pauses shaded`);
  const track = await (await page.$('.track')).boundingBox();
  for (const span of spans) {
    await page.mouse.move(track.x + span.x, track.y + track.height / 2);
    const tip = await page.$eval('.track .tooltip', (t) => t.textContent);
    const m = new RegExp(`pause at ${span.label}: ([\\d.]+) s – ([\\d.]+) s`).exec(tip);
    assert.ok(m, `the tooltip over the pause at ${span.label} says: ${tip}`);
    const [from, to] = [Number(m[1]) * 1000, Number(m[2]) * 1000];
    const moved = await studio((from, to) => {
      const f = window.studio.state.flight;
      let most = 0;
      for (let i = 1; i < f.rows; ++i)
        if (f.time[i - 1] >= from && f.time[i] <= to)
          most = Math.max(most, Math.hypot(f.x[i] - f.x[i - 1], f.y[i] - f.y[i - 1], f.z[i] - f.z[i - 1]));
      return most;
    }, from, to);
    assert.equal(moved, 0, `the eye moves during the pause at ${span.label} (${from}–${to} ms)`);
    await page.mouse.click(track.x + span.x, track.y + track.height / 2);
    assert.match(await text('[data-role=waypoint]'), new RegExp(`pausing at ${span.label}$`));
  }
  await page.mouse.move(0, 0);
});

test('a waypoint placed by a click on the example town lands on the spot clicked; one undo takes it away', { timeout: 30_000 }, async () => {
  await page.waitForFunction(() => window.studio.world.level?.userData.indexed, { timeout: 25_000 });
  assert.match(await text('#levelTriangles'), /^[\d,]+ triangles$/);
  await studio(() => window.studio.state.select('W6'));
  await page.click('.gizmo-bar [data-act=place]');
  // The square's paving (0.02 above the ground), in the open between the gate and the statue.
  const spot = await studio(() => window.studio.view3d.screenPoint(window.studio.view3d.centre().clone().set(50, 40, 0.02)));
  await page.mouse.click(spot.x, spot.y);
  await page.waitForFunction(() => window.studio.state.objects.size === 19 && window.studio.state.selection !== 'W6', { timeout: 10_000 });
  const placed = await studio(() => window.studio.state.objects.get(window.studio.state.selection));
  assert.equal(placed.parent, 'Flight');
  // Half a unit above the surface clicked.
  const p = placed.position;
  assert.ok(Math.hypot(p[0] - 50, p[1] - 40) < 1 && Math.abs(p[2] - 0.52) < 1e-3, `placed at ${p}`);
  await screenshot(page, 'studio-town');
  await chord(page, ['Control'], 'z');
  await settled(page);
  assert.equal(await studio(() => window.studio.state.objects.size), 18, 'the undo left the waypoint placed');
  await page.keyboard.press('Escape');
});

test('a new file opens as the starter scene, unsaved; an empty scene says what is missing and is built up', { timeout: 40_000 }, async () => {
  const empty = join(scratch, 'empty.json');
  writeFileSync(empty, '{"objects": []}');
  for (const [file, check] of [[join(scratch, 'new.json'), checkStarter], [empty, buildUp]])
    await ownStudio(browser, file, {}, check);
});

test('a level is drawn upright in both views, counted and switched off by its toggle; on-level moves and aims', { timeout: 30_000 }, async () => {
  // A slab under the flight and a tall block beside the tower, in glTF's axes (+y up): the world
  // sees file (x, y, z) at (x, -z, y).
  const file = join(scratch, 'blocks.glb');
  writeFileSync(file, boxesGlb([{ name: 'Ground', min: [-60, -1, -180], max: [120, 0, 20], colour: [0.35, 0.5, 0.3] },
    { name: 'Block', min: [20, 0, -140], max: [30, 30, -130], colour: [0.8, 0.4, 0.3] }]));
  await ownStudio(browser, copiedExample('level-flythrough.json'), { options: ['--level', file], ready: () => window.studio?.ready && window.studio.world.level },
    async (other) => {
      assert.equal(await other.$eval('#levelTriangles', (e) => e.textContent), '24 triangles');
      const box = await other.evaluate(() => {
        const { bounds, level } = window.studio.world;
        const b = new bounds.constructor().setFromObject(level);
        return { min: b.min.toArray(), max: b.max.toArray() };
      });
      const near = (a, b) => a.every((v, k) => Math.abs(v - b[k]) < 1e-4);
      assert.ok(near(box.min, [-60, -20, -1]) && near(box.max, [120, 180, 30]), `the level stands at ${JSON.stringify(box)}`);
      const withLevel = await shotOf(other, '#cameraView');
      await screenshot(other, 'studio-level');
      await other.click('#showLevel');
      let share = 0;
      for (let tries = 0; tries < 20 && share <= 0.05; ++tries)
        share = await changedShare(browser, withLevel, await shotOf(other, '#cameraView'));
      assert.ok(share > 0.05, `switching the level off changed ${(100 * share).toFixed(1)}% of the camera view`);
      await other.click('#showLevel');

      // Moving with "on level": W6 follows the surface under the pointer, half a unit above it.
      await other.waitForFunction(() => window.studio.world.level.userData.indexed, { timeout: 20_000 });
      const screen = (p) => other.evaluate((p) => window.studio.view3d.screenPoint(window.studio.view3d.centre().clone().set(...p)), p);
      await other.evaluate(() => window.studio.state.select('W6'));
      await other.click('.gizmo-bar [data-act=surface]');
      await drag(other, await other.evaluate(() => window.studio.gizmo.handle('X')), await screen([-20, 100, 0]));
      // (Every step of the drag lands on the surface: wait for the last.)
      await other.waitForFunction(() => {
        const p = window.studio.state.objects.get('W6').position;
        return Math.hypot(p[0] + 20, p[1] - 100) < 2;
      }, { timeout: 10_000 }).catch(() => {});
      const moved = await other.evaluate(() => window.studio.state.objects.get('W6').position);
      assert.ok(Math.hypot(moved[0] + 20, moved[1] - 100) < 2 && Math.abs(moved[2] - 0.5) < 1e-3, `moved onto the level at ${moved}`);
      await other.click('.gizmo-bar [data-act=surface]');

      // Aiming at the level: W1 looks at a new target on the block's face that was clicked.
      await other.evaluate(() => window.studio.state.select('W1'));
      await other.click('.gizmo-bar [data-act=aim]');
      const face = await screen([25, 130, 15]);
      await other.mouse.click(face.x, face.y);
      await other.waitForFunction(() => window.studio.state.attribute('W1', 'PointsTo'), { timeout: 10_000 });
      const target = await other.evaluate(() => window.studio.state.objects.get(window.studio.state.attribute('W1', 'PointsTo')).position);
      assert.ok(target[0] >= 19.99 && target[0] <= 30.01 && target[1] >= 129.99 && target[1] <= 140.01 && target[2] >= 0 && target[2] <= 30,
        `the target is at ${target}, not on the block`);
    });
});

async function checkStarter(other, output) {
  assert.match(output(), /does not exist yet: a starter scene opens, unsaved/);
  const shown = await other.evaluate(() => ({ rows: window.studio.state.flight?.rows, objects: [...window.studio.state.objects.keys()],
    unsaved: !document.getElementById('dirty').hidden }));
  assert.ok(shown.rows > 10, `the starter flight has ${shown.rows} ticks`);
  assert.deepEqual(shown.objects.sort(), ['Cam', 'Path', 'W1', 'W2']);
  assert.ok(shown.unsaved, 'a file not yet written is not shown as saved');
  await screenshot(other, 'studio-new');
}

async function buildUp(other) {
  const missing = () => other.$eval('#cameraView [data-role=empty]', (e) => (e.hidden ? '' : e.textContent));
  assert.match(await missing(), /no path: \+ Path adds one/);
  const act = async (name, expected) => {
    await other.click(`button[data-act=${name}]`);
    await other.waitForFunction((expected) => window.studio.state.objects.size === expected, { timeout: 5000 }, expected);
  };
  await act('path', 1);
  assert.match(await missing(), /no iterator: select a path and press \+ Iterator/);
  for (const [name, objects] of [['add', 2], ['add', 3], ['iterator', 4]]) await act(name, objects);
  await other.waitForFunction(() => window.studio.state.flight?.rows > 10, { timeout: 10_000 });
  // The note goes with the next frame drawn, which a busy machine may delay.
  await other.waitForFunction(() => document.querySelector('#cameraView [data-role=empty]').hidden, { timeout: 5000 })
    .catch(() => {});
  assert.equal(await missing(), '', 'the camera view still says something is missing');
  await screenshot(other, 'studio-built-up');
}

/** The attribute rows the inspector shows: {name: [type, value]}; an editor's value as its fields hold it. */
const inspected = () => page.$$eval('.inspector tbody tr', (rows) => Object.fromEntries(rows.map((r) => {
  const cell = r.children[2];
  const fields = [...cell.querySelectorAll('input, select')];
  const value = fields.length
    ? fields.map((f) => (f.type === 'checkbox' ? String(f.checked) : f.value)).join(' ')
    : cell.textContent;
  return [r.dataset.attribute, [r.children[1].textContent, value]];
})));

test('a waypoint clicked in the object list or the 3D view is selected and shows its attributes in the inspector', { timeout: 15_000 }, async () => {
  await page.click('.tree [data-name="W1"]');
  assert.equal(await text('.inspector-head .title'), 'W1');
  const rows = await inspected();
  assert.deepEqual(Object.keys(rows), sceneAnswer.objects.find((o) => o.name === 'W1').attributes.map((a) => a.name),
    'the inspector lists the attribute table in its order');
  // Each type's editor holds the value.
  assert.deepEqual([rows.Time2Next, rows.IsOn, rows.FOVFac], [['unsigned', '1500'], ['bool', 'true'], ['float', '1.5']]);
  // A reference links to its target.
  await page.click('.tree [data-name="W0"]');
  assert.equal((await inspected()).PointsTo[1], 'Tower');
  await page.click('.inspector a.ref');
  assert.equal(await text('.inspector-head .title'), 'Tower');

  // A click in the 3D view selects too.
  await page.keyboard.press('Escape');
  const at = await studio(() => window.studio.view3d.screenPosition('W3'));
  await page.mouse.click(at.x, at.y);
  assert.equal(await studio(() => window.studio.state.selection), 'W3', `a click at ${at.x.toFixed(0)},${at.y.toFixed(0)} did not pick W3`);
  assert.equal(await page.$eval('.tree .selected', (r) => r.dataset.name), 'W3', 'the list does not show the selection');
  await page.keyboard.press('f');
  await page.keyboard.press('Home');
  await new Promise((r) => setTimeout(r, 150));
  await screenshot(page, 'studio');
  await screenshot(page, 'camera-view', { clip: await (await page.$('#cameraView')).boundingBox() });
});

test('the linter\'s findings are listed as camsys lint finds them; a click goes to one', { timeout: 10_000 }, async () => {
  await page.waitForFunction(() => Array.isArray(window.studio.state.lint), { timeout: 5_000 });
  const iterator = await studio(() => window.studio.state.flightParams.iterator);
  // Exit status 1: the example's findings are warnings.
  const lint = spawnSync(exe, ['lint', join(examples, 'flythrough.json'), '--iterator', iterator, '--json'], { encoding: 'utf8' });
  assert.ok(lint.status === 0 || lint.status === 1, lint.stderr);
  const tool = JSON.parse(lint.stdout);
  // The studio's findings are the tool's (with the labels of their fixes: lintfix.test.mjs), a row each with its hint.
  const shown = await studio(() => window.studio.state.lint);
  assert.deepEqual(shown.map(({ fix, ...f }) => f), tool, 'the page shows other findings than the tool');
  assert.deepEqual(await page.$$eval('#findings .entry.finding .hint', (spans) => spans.map((s) => s.textContent)),
    tool.map((f) => f.hint), 'each finding shows its hint');
  const timed = tool.findIndex((f) => f.time !== null && f.object);
  await page.click('#findings .panel-head');
  await page.click(`#findings .entry.finding[data-index="${timed}"]`);
  assert.equal(await studio(() => window.studio.state.selection), tool[timed].object);
  assert.equal(await studio(() => window.studio.state.clock()), tool[timed].time);
  const framed = await studio(() => {
    const { flight, tick } = window.studio.state;
    return window.studio.view3d.controls.target.distanceTo(window.studio.view3d.centre().set(flight.x[tick], flight.y[tick], flight.z[tick]));
  });
  assert.ok(framed < 1e-3, `the 3D view looks ${framed} units away from the eye at the finding`);
});

test('the iterator selector flies the other iterator', { timeout: 10_000 }, async () => {
  const others = sceneAnswer.iterators.filter((n) => n !== sceneAnswer.iterator);
  await page.select('#iterator', others[0]);
  await page.waitForFunction((name) => window.studio.state.flight.iterator === name, { timeout: 5000 }, others[0]);
  // The camera view names its iterator when it next draws.
  await page.waitForFunction((name) => document.querySelector('#cameraView .view-title').textContent.includes(name),
    { timeout: 5000 }, others[0]);
  await page.keyboard.press('End');
  await screenshot(page, 'studio-chase');
});
