// The page's keys. With Ctrl (or Cmd): S saves, Shift+S saves as, Z undoes, Shift+Z and Y redo.
// Alone: Space plays, the arrows step (with Shift: to the next waypoint), Home and End go to the
// ends, F frames the selection, T and R switch the gizmo, Del deletes, Escape closes the help,
// else cancels aiming, else clears the selection; 7 1 3 5 (Ctrl 7 1 3) choose the view under the
// pointer (views.js). Keys go to a field being typed into, not to the studio.

import { $ } from './dom.js';

const typing = (target) => target instanceof HTMLInputElement || target instanceof HTMLSelectElement ||
  target instanceof HTMLTextAreaElement || (target instanceof HTMLElement && target.isContentEditable);

export function listenForKeys({ state, views, cameraView, pilot, gizmo, editBar, file }) {
  const undo = () => file.undo(), redo = () => file.redo();
  document.addEventListener('keydown', (e) => {
    if ($('dialog').open) return;
    const target = e.target;
    if (!typing(target) && views.key(e)) { e.preventDefault(); return; }
    if ((e.ctrlKey || e.metaKey) && !e.altKey) {
      const key = e.key.toLowerCase();
      // Never the browser's "save page", but no save either while a value is half typed.
      if (key === 's') { e.preventDefault(); if (!typing(target)) (e.shiftKey ? file.saveAs() : file.save()); return; }
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
      f: () => views.frame(state.selection),
      F: () => views.frame(state.selection),
      t: () => gizmo.setMode('translate'),
      T: () => gizmo.setMode('translate'),
      r: () => gizmo.setMode('rotate'),
      R: () => gizmo.setMode('rotate'),
      Delete: () => { if (state.selection) editBar.run('delete'); },
      Escape: () => {
        // The help lies over the 3D view: while it shows, a drag there would not do what one sees.
        if (!$('help').hidden) { $('help').hidden = true; $('helpButton').setAttribute('aria-expanded', 'false'); return; }
        if (cameraView && cameraView.fullPage) { cameraView.setFullPage(false); return; }
        if (pilot && pilot.on) { pilot.setOn(false); return; }
        if (!gizmo.cancelAim()) state.select(null);
      },
    };
    const act = keys[e.key];
    if (!act) return;
    e.preventDefault();
    act();
  });
}
