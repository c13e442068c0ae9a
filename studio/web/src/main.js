// camsys studio's page: wires the state, the views and the server together, loads the scene
// and the flight, and handles the keys and the header's options.

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
  flight: Promise.all([api.flight({ ...state.flightParams }), api.analysis({ ...state.flightParams })]),
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
const inspector = new Inspector($('inspector'), state);
const messages = new Messages($('messages'), state);
timings.views = Math.round(performance.now());
const studio = { timings, state, api, world, surface, view3d, cameraView, timeline, plots, objectList, inspector, messages, ready: false };
window.studio = studio;

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
  $('file').textContent = scene.file;
  $('file').title = scene.file;
  const select = $('iterator');
  select.replaceChildren(...scene.iterators.map((name) => new Option(name, name, false, name === state.flightParams.iterator)));
  $('iteratorField').hidden = scene.iterators.length < 1;
  select.disabled = scene.iterators.length < 2;
});

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

document.addEventListener('keydown', (e) => {
  const target = e.target;
  if (target instanceof HTMLInputElement || target instanceof HTMLSelectElement || target instanceof HTMLTextAreaElement) return;
  if (e.ctrlKey || e.metaKey || e.altKey) return;
  const keys = {
    ' ': () => state.toggle(),
    ArrowLeft: () => (e.shiftKey ? state.jumpWaypoint(-1) : state.step(-1)),
    ArrowRight: () => (e.shiftKey ? state.jumpWaypoint(1) : state.step(1)),
    Home: () => { state.pause(); state.seek(0); },
    End: () => { state.pause(); state.seek(state.duration()); },
    f: () => view3d.frame(state.selection),
    F: () => view3d.frame(state.selection),
    Escape: () => state.select(null),
  };
  const act = keys[e.key];
  if (!act) return;
  e.preventDefault();
  act();
});

// -- Loading --------------------------------------------------------------------------------------

/** Shows the flight of `state.flightParams`; `requested` is that flight when already asked for. */
async function loadFlight(requested = null) {
  const params = state.flightParams;
  $('status').textContent = `flying ${params.iterator}…`;
  const [flight, analysis] = await (requested || Promise.all([api.flight(params), api.analysis(params)]));
  state.setFlight(flight, analysis);
  $('status').textContent = `${params.iterator}: ${flight.rows} ticks of ${params.step} ms`;
}

async function load() {
  const scene = await early.scene;
  timings.scene = Math.round(performance.now());
  state.setScene(scene);
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
