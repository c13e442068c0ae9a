// camsys studio's page: makes the state, the views and the panels and wires them to the
// server, then loads the scene and the flight. Opened by `camsys render` (?render=1) it is only
// the renderer of a clip (renderpage.js).

import 'uplot/dist/uPlot.min.css';
import './studio.css';
import { Api } from './api.js';
import { StudioState } from './state.js';
import { World } from './world.js';
import { Surface } from './surface.js';
import { Views } from './views.js';
import { CameraView } from './cameraview.js';
import { Timeline } from './timeline.js';
import { Plots } from './plots.js';
import { Inspector } from './inspector.js';
import { ObjectList } from './objectlist.js';
import { Messages } from './messages.js';
import { Findings } from './findings.js';
import { Editor, FLIGHT_PART_TICKS } from './editor.js';
import { Gizmo } from './gizmo.js';
import { Pilot } from './pilot.js';
import { EditBar } from './editbar.js';
import { SceneFile } from './file.js';
import { levelFromGlb } from './level.js';
import { indexLevel } from './levelpick.js';
import { Recovery } from './recovery.js';
import { Header } from './header.js';
import { listenForKeys } from './shortcuts.js';
import { listenForSideSplitter, listenForSplitter } from './splitter.js';
import { notify, showError } from './notice.js';
import { $ } from './dom.js';
import { runRenderPage } from './renderpage.js';
import { RenderDialog } from './renderdialog.js';
import { MoveDialog } from './movedialog.js';

if (new URLSearchParams(location.search).has('render')) runRenderPage(new Api());
else startStudio();

function startStudio() {
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
  const views = new Views($('view3d'), world, state, surface);
  const view3d = views.perspective;
  const cameraView = new CameraView($('cameraView'), world, state, surface);
  const timeline = new Timeline($('timeline'), state);
  const plots = new Plots($('plots'), state);
  const objectList = new ObjectList($('objectList'), state);
  const editor = new Editor(state, api);
  timeline.connectEditor(editor, notify);
  const inspector = new Inspector($('inspector'), state, editor);
  const messages = new Messages($('messages'), state);
  const findings = new Findings($('findings'), state, {
    frameEye: (x, y, z) => views.frame(null, views.centre().set(x, y, z)), editor, api, notify,
  });
  const gizmo = new Gizmo(view3d, world, state, editor, notify);
  const pilot = new Pilot(view3d, state, editor, notify);
  views.connect({ gizmo, pilot });
  const editBar = new EditBar($('objectList'), state, editor, {
    centre: () => views.centre(), step: () => world.gridStep, rename: () => inspector.startRename(), notify,
  });
  timings.views = Math.round(performance.now());
  const studio = { timings, state, api, world, surface, views, view3d, cameraView, timeline, plots, objectList, inspector, messages, findings,
    editor, gizmo, pilot, editBar, ready: false };
  window.studio = studio;

  editor.on('error', (error) => notify(error.reason || error.message, 'error'));
  const file = new SceneFile(state, editor, notify);
  const recovery = studio.recovery = new Recovery(api, editor, { notify });
  const header = new Header(state, editor, file, { loadFlight, showError });
  studio.renderDialog = new RenderDialog(api, state);
  studio.moveDialog = new MoveDialog(api, state, editor, { notify, hasLevel: () => !!world.level });
  listenForSplitter($('splitter'));
  listenForSideSplitter($('sideSplitter'));
  listenForKeys({ state, views, cameraView, pilot, gizmo, editBar, file });

  // -- Loading --------------------------------------------------------------------------------------

  /** Shows the flight of `state.flightParams`; `requested` is that flight when already asked for. */
  async function loadFlight(requested = null) {
    const params = { ...state.flightParams };
    header.showFlying(params.iterator);
    await editor.loadFlight(params, requested);
  }

  async function load() {
    const scene = await early.scene;
    timings.scene = Math.round(performance.now());
    state.setScene(scene);
    try {
      await editor.start(await early.status, await early.history);
      recovery.start().catch(showError);
    } catch (error) { showError(error); }
    // The early flight is the scene's iterator in use; a scene without one shows what is missing.
    const flightRequest = !state.flightParams.iterator ? Promise.resolve(state.setFlight(null, null))
      : loadFlight(state.flightParams.iterator === scene.iterator ? early.flight : null);
    try {
      state.setDraw(await early.draw);
    } catch (error) { showError(error); }
    try {
      state.setMessages((await early.messages).messages || []);
    } catch (error) { showError(error); }
    await flightRequest;
    timings.flight = Math.round(performance.now());
    await showLevel();
  }

  /** The scene's level, when it has one, in both views, with its triangle count by its toggle. */
  async function showLevel() {
    try {
      const bytes = await api.level();
      if (!bytes) return;
      const level = await levelFromGlb(bytes);
      world.setLevel(level);
      $('levelTriangles').textContent = `${level.userData.triangles.toLocaleString('en')} triangles`;
      $('levelField').hidden = false;
      timings.level = Math.round(performance.now());
      // Once drawn (its buffers on the GPU), its ray hierarchies are built in a worker.
      await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
      await indexLevel(level);
      timings.levelIndexed = Math.round(performance.now());
      gizmo.showBar();
    } catch (error) { showError(error); }
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
}
