// The page's data helpers without a browser: decoding flights, the tick at a time, the field of view,
// the transport, typed values, where new waypoints go, coalesced drags, and timeline retiming.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decodeFlight, FLIGHT_COLUMNS, joinFlights, tickAt, verticalFov } from '../../../studio/web/src/flight.js';
import { niceStep } from '../../../studio/web/src/format.js';
import { base64Bytes } from '../../../studio/web/src/wire.js';
import { StudioState } from '../../../studio/web/src/state.js';
import { parseField, placeAfter, placeNew, shifted, TYPE } from '../../../studio/web/src/edits.js';
import { Editor } from '../../../studio/web/src/editor.js';
import { applyDrawChanges } from '../../../studio/web/src/drawing.js';
import { dragBatch, draggedMarks, markSegments, retimeByDrag, retimeRun } from '../../../studio/web/src/retiming.js';

/** A flight answer as the server sends it, in either encoding, from rows of the 15 columns. */
function answer(rows, f32) {
  const data = Object.fromEntries(FLIGHT_COLUMNS.map((name, c) => {
    const values = rows.map((r) => r[c]);
    const Type = name === 'time' || name === 'waypoint' ? Uint32Array : Float32Array;   // little-endian, as the server writes
    return [name, f32 ? Buffer.from(Type.from(values, Number).buffer).toString('base64') : values];
  }));
  return { iterator: 'Cam', columns: FLIGHT_COLUMNS, rows: rows.length, data, events: [], hitLimit: false };
}
const row = (time, waypoint, x, fov = 1) => [time, waypoint, x, 2, 3, 1, 0, 0, 0, 1, 0, 0, 0, 1, fov];

test('base64 decodes every length and padding, and refuses bad text', () => {
  for (let n = 0; n < 12; ++n) {
    const bytes = Buffer.from(Array.from({ length: n }, (_, i) => (i * 89 + 7) & 255));
    assert.deepEqual(Buffer.from(base64Bytes(bytes.toString('base64'))), bytes, `length ${n}`);
    assert.deepEqual(Buffer.from(base64Bytes(bytes.toString('base64').replace(/=+$/, ''))), bytes, `unpadded ${n}`);
  }
  assert.throws(() => base64Bytes('AB$D'), /bad character/);
  assert.throws(() => base64Bytes('ABCDE'), /bad length/);
});

test('a flight decodes to the same columns from JSON and from f32, words for floats included', () => {
  const rows = [row(0, 0, 0.1), row(16, 0, -2.5, 'Infinity'), row(32, 1, 'NaN', 2), row(4294967295, 7, 1e-7)];
  const json = decodeFlight(answer(rows, false));
  const f32 = decodeFlight(answer(rows, true));
  for (const name of FLIGHT_COLUMNS) assert.deepEqual([...f32[name]], [...json[name]], name);
  assert.ok(json.time instanceof Uint32Array && json.x instanceof Float32Array);
  assert.deepEqual([json.time[3], json.fov[1], json.x[2], json.x[0]], [4294967295, Infinity, NaN, Math.fround(0.1)]);

  const short = answer(rows, true);
  short.data.fov = Buffer.alloc(8).toString('base64');
  assert.throws(() => decodeFlight(short), /"fov" has 2 rows, not 4/);
  const missing = answer(rows, false);
  delete missing.data.m21;
  assert.throws(() => decodeFlight(missing), /no column "m21"/);
});

test('a flight joined from its parts is the whole flight, elapsed time going on across the clock wrapping', () => {
  const rows = [row(4294967280, 0, 1), row(4294967296 - 1, 0, 2), row(15, 1, 3), row(31, 1, 4), row(47, 2, 5)];
  const whole = decodeFlight(answer(rows, true));
  const part = (from, to) => decodeFlight(answer(rows.slice(from, to), true));
  for (const cut of [1, 2, 3]) {
    const joined = joinFlights(part(0, cut), part(cut, 5));
    for (const name of [...FLIGHT_COLUMNS, 'elapsed']) assert.deepEqual([...joined[name]], [...whole[name]], `${name}, cut at ${cut}`);
    assert.equal(joined.rows, 5);
  }
  assert.deepEqual([...whole.elapsed], [0, 15, 31, 47, 63]);
});

test('the tick shown is the last one at or before the time, also across the clock wrapping', () => {
  // Elapsed: 0, 15, 30, 46.
  const flight = decodeFlight(answer([row(4294967280, 0, 0), row(4294967295, 0, 1), row(14, 1, 2), row(30, 1, 3)], false));
  const cases = [[-5, 0], [0, 0], [14.9, 0], [15, 1], [29.999, 1], [30, 2], [45, 2], [46, 3], [1e9, 3], [NaN, 0]];
  for (const [t, i] of cases) assert.equal(tickAt(flight.elapsed, t), i, `at ${t} ms`);
  assert.equal(tickAt(new Float64Array(0), 5), -1);
  const many = Float64Array.from({ length: 100001 }, (_, i) => i * 16);
  for (const t of [0, 7, 16, 799999, 1600000, 1600015]) assert.equal(tickAt(many, t), Math.min(100000, Math.floor(t / 16)));
});

test('field of view: fov divides the tangent of half the base angle, within 0.1 to 179 degrees', () => {
  const tanHalf = (degrees) => Math.tan((degrees * Math.PI) / 360);
  for (const [fov, base] of [[1, 60], [2, 60], [0.5, 60], [1, 90], [3, 45]])
    assert.ok(Math.abs(tanHalf(verticalFov(fov, base)) - tanHalf(base) / fov) < 1e-12, `fov ${fov} of ${base} degrees`);
  for (const bad of [0, -1, NaN, Infinity]) assert.ok(Math.abs(verticalFov(bad) - 60) < 1e-9, `fov ${bad}`);
  assert.equal(verticalFov(1e-9), 179);
  assert.equal(verticalFov(1e12), 0.1);
});

test('grid spacing is 1, 2 or 5 times a power of ten', () => {
  const cases = [[100, 10, 10], [150, 10, 20], [40, 10, 5], [0.3, 10, 0.02], [7e4, 10, 5000], [0, 10, 1], [NaN, 10, 1]];
  for (const [extent, lines, step] of cases) assert.ok(Math.abs(niceStep(extent, lines) - step) < step * 1e-9, `${extent}`);
});

test('the transport: seeking clamps, stepping moves one tick, jumps land on waypoints reached', () => {
  const state = new StudioState();
  const events = [];
  state.on('time', (elapsed, tick) => events.push([elapsed, tick]));
  const flight = decodeFlight(answer([0, 16, 32, 48, 64, 80].map((t, i) => row(100 + t, i < 3 ? 0 : 1, i)), false));
  const marks = [{ kind: 'waypoint', time: 100, end: 100, waypoint: 0, name: 'W0' },
    { kind: 'pause', time: 100, end: 120, waypoint: 0, name: 'W0' },
    { kind: 'waypoint', time: 148, end: 148, waypoint: 1, name: 'W1' }];
  state.setFlight(flight, { rows: 6, data: {}, units: {}, marks });
  assert.equal(state.duration(), 80);
  state.seek(40);
  assert.deepEqual(events.at(-1), [40, 2]);
  // Each move and where it leaves the time and the tick; jumps skip pauses, and past the last waypoint go to the end.
  for (const [move, elapsed, tick] of [[() => state.seek(1000), 80, 5], [() => state.seek(-3), 0, 0], [() => state.step(1), 16, 1],
    [() => state.step(-5), 0, 0], [() => state.jumpWaypoint(1), 48, 3], [() => state.jumpWaypoint(1), 80, 5],
    [() => state.jumpWaypoint(-1), 48, 3], [() => state.jumpWaypoint(-1), 0, 0]]) {
    move();
    assert.deepEqual([state.elapsed, state.tick], [elapsed, tick], move.toString());
  }
  assert.equal(state.waypointName(flight.waypoint[3]), 'W1');
  const count = events.length;
  state.seek(0);
  assert.equal(events.length, count, 'no event when nothing changed');
});

test('typed values: numbers and the float words go as values, anything else as text for the server to judge', () => {
  const value = (type, text) => parseField(type, text).value;
  const cases = [[' 1.5 ', 1.5], ['-2e3', -2000], ['.5', 0.5], ['NaN', 'NaN'], ['nan', 'NaN'], ['Infinity', 'Infinity'],
    ['inf', 'Infinity'], ['∞', 'Infinity'], ['-Infinity', '-Infinity'], ['-inf', '-Infinity'], ['12abc', '12abc']];
  for (const [text, sent] of cases) assert.equal(value(TYPE.float, text), sent, text);
  // Numbers beyond a double are no infinity typed on purpose: sent as a value the server refuses as beyond a float.
  for (const text of ['1e999', '-1e309', `1${'0'.repeat(400)}`])
    assert.ok(Math.abs(value(TYPE.float, text)) > 3.5e38 && Number.isFinite(value(TYPE.float, text)), text);
  assert.deepEqual(parseField(TYPE.float, '   '), { empty: true });
  // Out of range is sent too, so that the server says why not.
  for (const [text, sent] of [['4294967295', 4294967295], ['-5', -5], ['NaN', 'NaN'], ['1e999', '1e999']])
    assert.equal(value(TYPE.unsigned, text), sent, text);
});

test('new waypoints go halfway to the next waypoint, or a segment on past the last; reordering stops at the ends', () => {
  const identity = [1, 0, 0, 0, 1, 0, 0, 0, 1];
  const turned = [0, -1, 0, 1, 0, 0, 0, 0, 1];   // forward (second column) along -x
  const path = (name, children) => ({ name, class: 'SCOCameraSystemPath', parent: null, children, position: [0, 0, 0] });
  const waypoint = (name, parent, position, orientation) => ({ name, class: 'SCOCameraSystemWaypoint', parent, position, orientation });
  // Path P: A, the plain object Gate, B and C; path Q: D alone; path E: empty.
  const list = [path('P', ['A', 'Gate', 'B', 'C']), waypoint('A', 'P', [0, 0, 10], identity),
    { name: 'Gate', class: null, parent: 'P', position: [5, 5, 0] }, waypoint('B', 'P', [10, 20, 10], turned),
    waypoint('C', 'P', [30, 20, 14], identity), path('Q', ['D']), waypoint('D', 'Q', [1, 2, 3], turned), path('E', [])];
  const objects = new Map(list.map((o) => [o.name, o]));
  assert.deepEqual(placeAfter(objects, 'A'), { parent: 'P', index: 1, position: [5, 10, 10], orientation: identity },
    'halfway to B, past the plain object between them');
  assert.deepEqual(placeAfter(objects, 'B'), { parent: 'P', index: 3, position: [20, 20, 12], orientation: turned });
  assert.deepEqual(placeAfter(objects, 'C').position, [50, 20, 18], 'the last segment once more');
  assert.deepEqual(placeAfter(objects, 'D').position, [-9, 2, 3], 'a lone waypoint: along its forward axis');
  assert.equal(placeAfter(objects, 'Gate'), null);
  assert.deepEqual(placeNew(objects, 'P'), { parent: 'P', index: 4, position: [50, 20, 18], orientation: identity }, 'a path: at its end');
  assert.deepEqual(placeNew(objects, 'E', [7, 8, 9]), { parent: 'E', index: 0, position: [7, 8, 9] });
  assert.equal(placeNew(objects, 'Gate'), null);
  // Moved up and down in the path; the ends stay, and the top level keeps no order.
  for (const [name, by, to] of [['B', -1, { parent: 'P', index: 1 }], ['B', 1, { parent: 'P', index: 3 }], ['A', -1, null], ['C', 1, null],
    ['Q', -1, null]]) assert.deepEqual(shifted(objects, name, by), to, `${name} by ${by}`);
});

/** A promise with its resolve at hand. */
function deferred() {
  const d = {};
  d.promise = new Promise((r) => { d.resolve = r; });
  return d;
}
const flushed = () => new Promise((r) => setTimeout(r, 0));

test('a drag sends one gesture, coalesced to the latest position, one step at a time with the revision of each answer; the page catches up when it ends', async () => {
  const calls = [];
  const patches = [];
  const scene = { file: 'f.json', iterators: ['Cam'], iterator: 'Cam',
    objects: [{ name: 'W', class: 'SCOCameraSystemWaypoint', parent: null, children: [], position: [0, 0, 0], attributes: [] },
      { name: 'Cam', class: 'SCOCameraSystemIterator', parent: null, children: [], attributes: [] }] };
  const flight = decodeFlight(answer([row(0, 0, 1), row(16, 0, 2)], false));
  let revision = 3;
  const api = {
    patch: (name, body) => { calls.push('patch'); const d = deferred(); patches.push({ name, body, d }); return d.promise; },
    frame: () => { calls.push('frame'); return Promise.resolve({ x: 9, y: 8, z: 7, fov: 1, m00: 1, m01: 0, m02: 0, m10: 0, m11: 1, m12: 0, m20: 0, m21: 0, m22: 1 }); },
    draw: () => { calls.push('draw'); return Promise.resolve({ groups: [] }); },
    scene: () => { calls.push('scene'); return Promise.resolve(scene); },
    status: () => Promise.resolve({ file: 'f.json', revision, unsaved: true }),
    history: () => Promise.resolve({ undo: ['move W'], redo: [] }),
    flightPart: () => { calls.push('flight'); return Promise.resolve({ ...flight, fromTick: 0, complete: true, revision }); },
    analysis: () => Promise.resolve({ rows: 2, data: {}, units: {}, marks: [] }),
    lint: () => Promise.resolve([]),
  };
  const state = new StudioState();
  state.setScene(scene);
  state.setFlight(flight, { rows: 2, data: {}, units: {}, marks: [] });
  const editor = new Editor(state, api);
  await editor.start({ file: 'f.json', revision: 3, unsaved: false }, { undo: [], redo: [] });
  const answerNext = async () => {
    while (!patches.some((p) => !p.answered)) await flushed();
    const p = patches.find((q) => !q.answered);
    p.answered = true;
    p.d.resolve({ revision: ++revision, draw: { groups: [{ object: 'Flight' }] }, messages: [{ text: `step ${revision}` }] });
    return p;
  };
  editor.beginDrag('W');
  for (let x = 1; x <= 4; ++x) editor.drag({ position: [x, 0, 0] });
  const first = await answerNext();
  // Pushed while the newest of 1 to 4 is out: they wait, and only 7 goes after it.
  while (patches.length < 2) await flushed();
  for (let x = 5; x <= 7; ++x) editor.drag({ position: [x, 0, 0] });
  const second = await answerNext();
  const ended = editor.endDrag();
  const third = await answerNext();
  await ended;
  await editor.settled();
  assert.deepEqual([first, second, third].map((p) => p.body.position[0]), [1, 4, 7], 'the first, then the latest each time');
  assert.equal(new Set(patches.map((p) => p.body.gesture)).size, 1, 'one gesture id for the whole drag');
  assert.deepEqual(patches.map((p) => p.body.revision), [3, 4, 5], 'each step carries the revision the last answer gave');
  assert.equal(editor.revision, 6);
  assert.ok(calls.indexOf('frame') === calls.indexOf('patch') + 1, 'the eye is asked for right after the first answer');
  assert.ok(calls.filter((c) => c === 'scene').length <= 2, `the scene is refetched a few times, not per step: ${calls.join(' ')}`);
  assert.equal(calls.at(-1), 'flight', 'the drag ends with the scene and the flight caught up');
  assert.equal(state.messages.length, 3, 'every answer\'s messages are shown');
  assert.equal(editor.dragging, null);
  assert.deepEqual(editor.history.undo, ['move W']);
});

test('a drag step\'s drawing changes patch the drawing held: changed groups replaced, removed ones gone, new ones added', () => {
  const f32 = (values, Type = Float32Array) => Buffer.from(new Type(values).buffer).toString('base64');
  const group = (object, x) => ({ object, lines: { from: [x, 0, 0], to: [x, 1, 0], width: [0, 1], colour: [1, 1, 1, 1], flag: [1] }, arrows: [] });
  const held = { groups: [group('Path', 1), group('W1', 2), group('W2', 3)],
    labels: [{ name: 'W1', position: [2, 0, 0] }, { name: 'W2', position: [3, 0, 0] }], dropped: 0 };
  const moved = (object, x) => ({ object, arrows: [],
    lines: { from: f32([x, 0, 0]), to: f32([x, 2, 0]), width: f32([0, 1]), colour: f32([1, 0.5, 0, 1]), flag: f32([1], Int32Array) } });
  const next = applyDrawChanges(held, { encoding: 'f32', groups: [moved('Path', 0.1), moved('W9', 4)], removed: ['W2'],
    labelsMoved: [{ name: 'W1', position: [7, 0, 0] }], dropped: 0 });
  assert.deepEqual(next.groups.map((g) => g.object), ['Path', 'W1', 'W9']);
  assert.deepEqual([...next.groups[0].lines.from], [Math.fround(0.1), 0, 0], 'float32 columns, bit for bit');
  assert.ok(next.groups[0].lines.flag instanceof Int32Array);
  assert.equal(next.groups[1], held.groups[1], 'unchanged groups are kept as they are');
  assert.deepEqual(next.labels.map((l) => l.position[0]), [7, 3]);
  assert.deepEqual(held.groups.map((g) => g.object), ['Path', 'W1', 'W2'], 'the drawing held is left alone');
  // A range replaces that many of the held group's lines: here the second of three by two, in a
  // group held as decimals; the lines kept keep their float32 bits, the arrows come anew.
  const line = (k) => ({ from: [k + 0.1, k, 0], to: [k + 1.1, k, 0], width: [2, 2], colour: [0.4, 0.4, 0.4, 0.8], flag: [k] });
  const lines = (ks) => Object.fromEntries(['from', 'to', 'width', 'colour', 'flag'].map((c) => [c, ks.flatMap((k) => line(k)[c])]));
  const path = { object: 'Path', lines: lines([0, 1, 2]), arrows: [] };
  const stretch = (ks, range) => ({ object: 'Path', range, arrows: [{ from: [0, 0, 0] }],
    lines: Object.fromEntries(Object.entries(lines(ks)).map(([c, v]) => [c, f32(v, c === 'flag' ? Int32Array : Float32Array)])) });
  const grown = applyDrawChanges({ groups: [path], labels: [] }, { encoding: 'f32', groups: [stretch([7, 8], [1, 1])] });
  const expected = lines([0, 7, 8, 2]);
  for (const c of Object.keys(expected))
    assert.deepEqual([...grown.groups[0].lines[c]], c === 'flag' ? expected[c] : expected[c].map(Math.fround), c);
  assert.ok(grown.groups[0].lines.from instanceof Float32Array && grown.groups[0].lines.flag instanceof Int32Array);
  assert.deepEqual(grown.groups[0].arrows, [{ from: [0, 0, 0] }]);
  assert.equal(grown.groups[0].range, undefined);
  // Applied to what it made, lines removed at the end, and none replaced at the start.
  const shrunk = applyDrawChanges(grown, { encoding: 'f32', groups: [stretch([], [2, 2])] });
  assert.deepEqual([...shrunk.groups[0].lines.flag], [0, 7]);
  const prefixed = applyDrawChanges(shrunk, { encoding: 'f32', groups: [stretch([5], [0, 0])] });
  assert.deepEqual([...prefixed.groups[0].lines.flag], [5, 0, 7]);
  assert.deepEqual([...prefixed.groups[0].lines.to.slice(3)], [...shrunk.groups[0].lines.to]);
  // What cannot be applied makes the page ask for the whole drawing: nothing held, an object
  // without a name, a range beyond the group held or of a group not held.
  const unheld = { ...stretch([1], [0, 0]), object: 'W7' };
  for (const [drawing, group] of [[null], [held, moved(null, 1)], [shrunk, stretch([1], [1, 2])], [held, unheld]])
    assert.equal(applyDrawChanges(drawing, { encoding: 'f32', groups: group ? [group] : [] }), null);
});

test('a long flight is shown part by part, the playhead kept where it was; parts of two scenes never mix', async () => {
  const rows = Array.from({ length: 10 }, (_, i) => row(16 * i, i >> 2, i));
  const part = (from, ticks, revision) => ({ ...decodeFlight(answer(rows.slice(from, from + ticks), true)),
    fromTick: from, complete: from + ticks >= rows.length, revision });
  const revisions = [1, 2, 2, 2, 2];  // the first part is of a scene that changed before the second
  const asked = [];
  const api = {
    flightPart: (params, from, ticks) => { asked.push(from); return Promise.resolve(part(from, 4, revisions[asked.length - 1])); },
    analysis: () => Promise.resolve({ rows: 10, data: {}, units: {}, marks: [] }),
    lint: () => Promise.resolve([{ id: 'speed-jump', severity: 'warning', object: 'W', time: 32, distance: null, text: '' }]),
  };
  const state = new StudioState();
  state.setScene({ file: 'f.json', iterators: ['Cam'], iterator: 'Cam', objects: [] });
  state.setFlight(decodeFlight(answer(rows, false)), null);
  state.seek(130);
  const shown = [];
  state.on('flight', (flight) => shown.push(flight.rows));
  await new Editor(state, api).loadFlight({ iterator: 'Cam' });
  assert.deepEqual(asked, [0, 4, 0, 4, 8], 'once a part is of another scene, from the start again');
  assert.deepEqual(shown, [4, 4, 8, 10]);
  assert.deepEqual([...state.flight.x], rows.map((r) => r[2]));
  assert.equal(state.elapsed, 130, 'the playhead is back where it was once the flight is whole');
  assert.ok(state.analysis, 'the analysis comes with the whole flight');
  assert.equal(state.lint.length, 1, 'and the linter\'s findings after it');
});

test('a waypoint mark dragged: the segment before takes the change, the one after gives it back or later marks move; ticks and clamps', () => {
  // W0 pauses 500 ms, W3 300 ms; W4's Time2Next is 0 (a cut to W5). Times in ms since the first tick.
  const T = { W0: 2000, W1: 1500, W2: 1800, W3: 2200, W4: 0, W5: 1600, W6: 1000 };
  const waypoint = (k, at) => ({ kind: 'waypoint', waypoint: k, at, end: at, label: `W${k}` });
  const marks = [waypoint(0, 0), { kind: 'pause', waypoint: 0, at: 0, end: 500, label: 'W0' }, waypoint(1, 2500), waypoint(2, 4000),
    waypoint(3, 5800), { kind: 'pause', waypoint: 3, at: 5800, end: 6100, label: 'W3' }, waypoint(4, 8300),
    { kind: 'cut', waypoint: 4, at: 8704, end: 8704, label: 'W4' }, waypoint(5, 8704), waypoint(6, 10304)];
  const segments = (k) => markSegments(marks, k, (name) => T[name]);
  assert.equal(segments(0), null, 'the first waypoint stands at the start');
  assert.equal(segments(5), null, 'a cut arrives at W5: it stays a cut');
  assert.equal(segments(4).after, null, 'a cut leaves W4: nothing after gives time back');
  assert.equal(segments(6).after, null, 'the last waypoint');

  const w2 = segments(2);
  assert.deepEqual([w2.before, w2.after], [{ name: 'W1', time: 1500 }, { name: 'W2', time: 1800 }]);
  const dropped = retimeByDrag(w2, 4580, 16, false);
  assert.deepEqual([dropped.at, dropped.before, dropped.after], [4576, 2076, 1224], 'to the nearest tick, the sum kept');
  assert.deepEqual(dragBatch(w2, dropped), { label: 'retime W2', edits: [
    { op: 'patch', name: 'W1', attributes: { Time2Next: 2076 } }, { op: 'patch', name: 'W2', attributes: { Time2Next: 1224 } }] });
  const moved = draggedMarks(marks, w2, dropped).filter((m, i) => m.at !== marks[i].at).map((m) => m.label);
  assert.deepEqual(moved, ['W2'], 'later marks stay');
  // Past W3 or before W1: held where neither segment is shorter than a tick, on a tick.
  assert.deepEqual([retimeByDrag(w2, 9000, 16, false).before, retimeByDrag(w2, 9000, 16, false).after], [3276, 24]);
  assert.equal(retimeByDrag(w2, 0, 16, false).at, 2528);

  // Shift: only W2's segment changes; W3's pause and everything after move along.
  const w3 = segments(3);
  const shifted = retimeByDrag(w3, 5400, 16, true);
  assert.deepEqual([shifted.at, shifted.before, shifted.after, shifted.delta], [5408, 1408, 2200, -392]);
  assert.deepEqual(dragBatch(w3, shifted).edits, [{ op: 'patch', name: 'W2', attributes: { Time2Next: 1408 } }]);
  const after = draggedMarks(marks, w3, shifted);
  assert.deepEqual(after.map((m) => m.at), [0, 0, 2500, 4000, 5408, 5408, 7908, 8312, 8312, 9912]);
  assert.equal(after[5].end, 5708, 'the pause keeps its length');
  // W4's segment begins after W3's pause: dropped before it, W4 stays a tick after it.
  assert.equal(retimeByDrag(segments(4), 6000, 16, false).before, 28);
  assert.equal(dragBatch(w2, retimeByDrag(w2, 4001, 16, false)), null, 'dropped where it was: no change');
});

test('even speed retimes the path, or the run of two or more of its switched-on waypoints selected', () => {
  const waypoints = [{ name: 'A', on: true }, { name: 'B', on: false }, { name: 'C', on: true }, { name: 'D', on: true }];
  assert.deepEqual(retimeRun('P', waypoints, new Set(['C'])), { path: 'P', from: '', to: '' });
  assert.deepEqual(retimeRun('P', waypoints, new Set(['D', 'B', 'A', 'Cam'])), { path: 'P', from: 'A', to: 'D' });
  assert.deepEqual(retimeRun('P', waypoints, new Set(['B', 'C'])), { path: 'P', from: '', to: '' }, 'a switched-off one is no end');
  assert.equal(retimeRun(undefined, [], new Set()), null);
});
