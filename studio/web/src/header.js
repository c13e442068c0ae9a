// The header: the iterator whose flight is shown and the flight's status, the view options
// (the base field of view, what the 3D view shows), the help, and the file's buttons (undo,
// redo, save, save as) with what undo and redo would do.

import { $ } from './dom.js';
import { FOV_HELP } from './cameraview.js';

export class Header {
  /**
   * `file`: the SceneFile the buttons act on; `loadFlight()`: shows the flight of the iterator
   * chosen; `showError(error)`: reports a failure to load it.
   */
  constructor(state, editor, file, { loadFlight, showError }) {
    $('fovHelp').textContent = FOV_HELP;
    $('fovField').title = FOV_HELP;
    $('fovBase').addEventListener('change', (e) => {
      const base = Number(e.target.value);
      if (base >= 1 && base <= 179) state.setOption('fovBase', base);
      else e.target.value = state.options.fovBase;
    });
    for (const option of ['showTrajectory', 'showDrawing', 'showLabels', 'showLevel'])
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
      const select = $('iterator');
      select.replaceChildren(...scene.iterators.map((name) => new Option(name, name, false, name === state.flightParams.iterator)));
      $('iteratorField').hidden = scene.iterators.length < 1;
      select.disabled = scene.iterators.length < 2;
    });
    state.on('flight', (flight) => {
      const { iterator, step } = state.flightParams;
      $('status').textContent = !flight ? 'no flight' : flight.complete === false ? `flying ${iterator}… ${flight.rows} ticks so far`
        : `${iterator}: ${flight.rows} ticks of ${step} ms`;
    });

    editor.on('history', ({ undo, redo }) => {
      $('undoButton').disabled = !undo.length;
      $('redoButton').disabled = !redo.length;
      $('undoButton').title = undo.length ? `Undo: ${undo[undo.length - 1]} (Ctrl+Z)` : 'Nothing to undo';
      $('redoButton').title = redo.length ? `Redo: ${redo[0]} (Ctrl+Shift+Z)` : 'Nothing to redo';
    });
    const acts = [['undoButton', () => file.undo()], ['redoButton', () => file.redo()], ['saveButton', () => file.save()],
      ['saveAsButton', () => file.saveAs()]];
    for (const [id, act] of acts) {
      $(id).addEventListener('mousedown', (e) => e.preventDefault());
      $(id).addEventListener('click', act);
    }
  }

  /** The status while the flight of `iterator` is asked for. */
  showFlying(iterator) {
    $('status').textContent = `flying ${iterator}…`;
  }
}
