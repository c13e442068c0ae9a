// camsys studio's page: wires the state, the views and the server together, loads the scene
// and the flight, and handles the keys, the header's options and the file (undo, redo, save).

import 'uplot/dist/uPlot.min.css';
import './studio.css';
import { Api } from './api.js';
import { StudioState } from './state.js';
import { World } from './world.js';
import { Surface } from './surface.js';
import { View3D } from './view3d.js';
import { CameraView, FOV_HELP } from './cameraview.js';
import { Timeline } from './timeline.js';
import { Plots } from './plots.js';
import { Inspector, ObjectList } from './inspector.js';
import { Messages } from './messages.js';
import { Findings } from './findings.js';
import { Editor, FLIGHT_PART_TICKS } from './editor.js';
import { Gizmo } from './gizmo.js';
import { EditBar } from './editbar.js';
import { ask } from './dialog.js';

const $ = (id) => document.getElementById(id);

function showError(error) {
  const box = $('error');
  const line = document.createElement('div');
  line.textContent = error && error.message ? error.message : String(error);
  box.append(line);
  box.hidden = false;
  console.error(error);
}

// Milestones of opening the page, in ms from navigation (the browser test reports them).
const timings = { script: Math.round(performance.now()) };
const api = new Api();
const state = new StudioState();

// Asked for before the views are made: making the WebGL context takes a while (a third of a
// second in a software renderer), and the server answers meanwhile. The flight is the server's
// iterator in use with the default ticks, which is what the page shows first. Each promise gets
// a handler at once, so that a failure is reported where it is awaited, not as unhandled.
const early = {
  scene: api.scene(),
  draw: api.draw(),
  messages: api.messages(),
  flight: api.flightPart({ ...state.flightParams }, 0, FLIGHT_PART_TICKS),
  status: api.status(),
  history: api.history(),
};
for (const request of Object.values(early)) request.catch(() => {});

const world = new World(state);
const surface = new Surface();
// Views and panels subscribe to the state in their constructors.
const view3d = new View3D($('view3d'), world, state, surface);
const cameraView = new CameraView($('cameraView'), world, state, surface);
const timeline = new Timeline($('timeline'), state);
const plots = new Plots($('plots'), state);
const objectList = new ObjectList($('objectList'), state);
const editor = new Editor(state, api);
const inspector = new Inspector($('inspector'), state, editor);
const messages = new Messages($('messages'), state);
const findings = new Findings($('findings'), state);
const gizmo = new Gizmo(view3d, world, state, editor, notify);
const editBar = new EditBar($('objectList'), state, editor, {
  centre: () => view3d.centre(), step: () => world.gridStep, rename: () => inspector.startRename(), notify,
});
timings.views = Math.round(performance.now());
const studio = { timings, state, api, world, surface, view3d, cameraView, timeline, plots, objectList, inspector, messages, findings,
  editor, gizmo, editBar, ready: false };
window.studio = studio;

/** A short note under the header: what an action did, or why the server refused it. */
let noticeTimer = 0;
function notify(text, kind = 'info') {
  const box = $('notice');
  box.textContent = text;
  box.className = `notice ${kind}`;
  box.hidden = false;
  clearTimeout(noticeTimer);
  noticeTimer = setTimeout(() => { box.hidden = true; }, kind === 'error' ? 8000 : 3000);
}
editor.on('error', (error) => notify(error.reason || error.message, 'error'));

// -- Header ---------------------------------------------------------------------------------------

$('fovHelp').textContent = FOV_HELP;
$('fovField').title = FOV_HELP;
$('fovBase').addEventListener('change', (e) => {
  const base = Number(e.target.value);
  if (base >= 1 && base <= 179) state.setOption('fovBase', base);
  else e.target.value = state.options.fovBase;
});
for (const option of ['showTrajectory', 'showDrawing', 'showLabels'])
  $(option).addEventListener('change', (e) => state.setOption(option, e.target.checked));
$('helpButton').addEventListener('click', () => {
  const help = $('help');
  help.hidden = !help.hidden;
  $('helpButton').setAttribute('aria-expanded', String(!help.hidden));
});
$('iterator').addEventListener('change', (e) => {
  state.flightParams.iterator = e.target.value;
  state.pause();
  loadFlight().catch(showError);
});

state.on('scene', (scene) => {
  if (!editor.status) showFile(scene.file, false);
  const select = $('iterator');
  select.replaceChildren(...scene.iterators.map((name) => new Option(name, name, false, name === state.flightParams.iterator)));
  $('iteratorField').hidden = scene.iterators.length < 1;
  select.disabled = scene.iterators.length < 2;
});

state.on('flight', (flight) => {
  const { iterator, step } = state.flightParams;
  $('status').textContent = flight.complete === false ? `flying ${iterator}… ${flight.rows} ticks so far`
    : `${iterator}: ${flight.rows} ticks of ${step} ms`;
});

// -- The file: unsaved changes, undo and redo, saving -------------------------------------------------

function showFile(file, unsaved, changedOnDisk = false) {
  $('file').textContent = file;
  $('file').title = `${file}${unsaved ? ' (unsaved changes)' : ''}${changedOnDisk ? ' (changed on disk since loaded or saved)' : ''}`;
  $('dirty').hidden = !unsaved;
  $('onDisk').hidden = !changedOnDisk;
  document.title = `${unsaved ? '● ' : ''}${file.split('/').pop()} · camsys studio`;
}
editor.on('status', (status) => showFile(status.file, status.unsaved, status.changedOnDisk));
editor.on('history', ({ undo, redo }) => {
  $('undoButton').disabled = !undo.length;
  $('redoButton').disabled = !redo.length;
  $('undoButton').title = undo.length ? `Undo: ${undo[undo.length - 1]} (Ctrl+Z)` : 'Nothing to undo';
  $('redoButton').title = redo.length ? `Redo: ${redo[0]} (Ctrl+Shift+Z)` : 'Nothing to redo';
});

const fail = (error) => notify(error.reason || error.message, 'error');
function undo() { if (editor.history.undo.length) editor.undo().catch(fail); }
function redo() { if (editor.history.redo.length) editor.redo().catch(fail); }
const fileName = () => (editor.status ? editor.status.file.split('/').pop() : '');

/** Saves; a file changed on disk meanwhile asks whether to reload it or overwrite it. */
async function save(body = {}) {
  try {
    const status = await editor.save(body);
    notify(`saved ${status.file}`);
  } catch (error) {
    const why = error.body || {};
    if (error.status === 409 && why.changedOnDisk) {
      const choice = await ask({
        title: 'The file changed on disk',
        text: `${fileName()} was changed by another program since it was loaded or last saved. Reload it (your ` +
          'changes can be brought back with undo) or overwrite it with the scene shown here?',
        buttons: [{ label: 'Reload from disk', value: 'reload' }, { label: 'Overwrite', value: 'overwrite', primary: true },
          { label: 'Cancel', value: null }],
      });
      if (choice && choice.button === 'reload') await editor.reload().then(() => notify(`reloaded ${fileName()}`), fail);
      if (choice && choice.button === 'overwrite') await save({ ...body, overwrite: true });
    } else if (error.status === 409 && why.exists) {
      const choice = await ask({
        title: 'The file exists', text: `${body.as} is already in the scene's folder. Replace it?`,
        buttons: [{ label: 'Replace', value: 'overwrite', primary: true }, { label: 'Cancel', value: null }],
      });
      if (choice) await save({ ...body, overwrite: true });
    } else fail(error);
  }
}

async function saveAs() {
  const choice = await ask({
    title: 'Save as',
    text: 'A file name in the scene\'s folder (no folder); .json or .sco gives the format. The scene is then that file.',
    input: fileName(),
    buttons: [{ label: 'Save', value: 'save', primary: true }, { label: 'Cancel', value: null }],
    check: async (name) => (name.trim() ? null : 'a file name is needed'),
  });
  if (choice) await save({ as: choice.value.trim() });
}

for (const [id, act] of [['undoButton', undo], ['redoButton', redo], ['saveButton', () => save()], ['saveAsButton', saveAs]]) {
  $(id).addEventListener('mousedown', (e) => e.preventDefault());
  $(id).addEventListener('click', act);
}
window.addEventListener('beforeunload', (e) => {
  if (editor.status && editor.status.unsaved) { e.preventDefault(); e.returnValue = ''; }
});
// Another program may change the file while the page is in the background.
window.addEventListener('focus', () => editor.refreshStatus());

// The bottom panel's height follows the splitter above it; the plots scroll within it.
$('splitter').addEventListener('pointerdown', (e) => {
  const splitter = e.target;
  splitter.setPointerCapture(e.pointerId);
  const layout = document.querySelector('.layout');
  const move = (m) => {
    const rect = layout.getBoundingClientRect();
    const height = Math.min(rect.height - 160, Math.max(120, rect.bottom - m.clientY));
    layout.style.setProperty('--bottom', `${height}px`);
  };
  const up = () => { splitter.removeEventListener('pointermove', move); splitter.removeEventListener('pointerup', up); };
  splitter.addEventListener('pointermove', move);
  splitter.addEventListener('pointerup', up);
});

// -- Keys -----------------------------------------------------------------------------------------

/** Keys go to a field being typed into, not to the studio. */
const typing = (target) => target instanceof HTMLInputElement || target instanceof HTMLSelectElement ||
  target instanceof HTMLTextAreaElement || (target instanceof HTMLElement && target.isContentEditable);

document.addEventListener('keydown', (e) => {
  if ($('dialog').open) return;
  const target = e.target;
  if ((e.ctrlKey || e.metaKey) && !e.altKey) {
    const key = e.key.toLowerCase();
    // Never the browser's "save page", but no save either while a value is half typed.
    if (key === 's') { e.preventDefault(); if (!typing(target)) (e.shiftKey ? saveAs() : save()); return; }
    if (typing(target)) return;
    const act = { z: e.shiftKey ? redo : undo, y: redo }[key];
    if (act) { e.preventDefault(); act(); }
    return;
  }
  if (typing(target)) return;
  if (e.ctrlKey || e.metaKey || e.altKey) return;
  const keys = {
    ' ': () => state.toggle(),
    ArrowLeft: () => (e.shiftKey ? state.jumpWaypoint(-1) : state.step(-1)),
    ArrowRight: () => (e.shiftKey ? state.jumpWaypoint(1) : state.step(1)),
    Home: () => { state.pause(); state.seek(0); },
    End: () => { state.pause(); state.seek(state.duration()); },
    f: () => view3d.frame(state.selection),
    F: () => view3d.frame(state.selection),
    t: () => gizmo.setMode('translate'),
    T: () => gizmo.setMode('translate'),
    r: () => gizmo.setMode('rotate'),
    R: () => gizmo.setMode('rotate'),
    Delete: () => { if (state.selection) editBar.run('delete'); },
    Escape: () => { if (!gizmo.cancelAim()) state.select(null); },
  };
  const act = keys[e.key];
  if (!act) return;
  e.preventDefault();
  act();
});

// -- Loading --------------------------------------------------------------------------------------

/** Shows the flight of `state.flightParams`; `requested` is that flight when already asked for. */
async function loadFlight(requested = null) {
  const params = { ...state.flightParams };
  $('status').textContent = `flying ${params.iterator}…`;
  await editor.loadFlight(params, requested);
}

async function load() {
  const scene = await early.scene;
  timings.scene = Math.round(performance.now());
  state.setScene(scene);
  try {
    await editor.start(await early.status, await early.history);
  } catch (error) { showError(error); }
  // The early flight is the scene's iterator in use, unless the server has none.
  const flightRequest = loadFlight(scene.iterator && state.flightParams.iterator === scene.iterator ? early.flight : null);
  try {
    state.setDraw(await early.draw);
  } catch (error) { showError(error); }
  try {
    state.setMessages((await early.messages).messages || []);
  } catch (error) { showError(error); }
  await flightRequest;
  timings.flight = Math.round(performance.now());
}

load()
  .catch(showError)
  .finally(() => {
    // Ready once the first frames with the data are on screen.
    requestAnimationFrame(() => requestAnimationFrame(() => {
      studio.ready = true;
      timings.ready = Math.round(performance.now());
      studio.readyAfter = Math.round(performance.now());
      document.body.dataset.ready = 'true';
      if (!view3d.renderer) document.body.dataset.webgl = 'missing';
    }));
  });
