// Retiming from the timeline, without the DOM: which segments a waypoint mark's drag changes,
// the times a drop gives them, where the marks stand meanwhile, and which run of waypoints the
// "Even speed" action retimes.
//
// The iterator reaches switched-on waypoint k at a(k) = a(k-1) + P(k-1) + T(k-1) (P the
// "PauseTime", T the "Time2Next"; the first waypoint's pause comes before the first segment),
// so a mark moves by what its segment before gains, its own pause moves with it, and every later
// mark moves too unless the segment after gives the same time back. Eases shape the motion
// within a segment, not its time.

/** Time2Next's range: a 32-bit count of ms (0 would make the segment a cut). */
export const MAX_TIME2NEXT = 4294967295;

/**
 * What a drag of switched-on waypoint `k`'s mark changes, from the timeline's marks (elapsed
 * times, see flightMarks) and `time2Next(name)`: {k, name, at, before: {name, time}, after:
 * {name, time} | null}. `after` is the segment from k that can give time back: none when k is
 * the flight's last waypoint reached or a cut leaves it. Null for a mark no drag can move: the
 * first waypoint, and one a cut arrives at (a cut stays a cut).
 */
export function markSegments(marks, k, time2Next) {
  if (!(k > 0)) return null;
  const mark = (i) => marks.find((m) => m.kind === 'waypoint' && m.waypoint === i);
  const here = mark(k), previous = mark(k - 1);
  if (!here || !previous || !here.label) return null;
  const before = time2Next(previous.label);
  if (!(before > 0)) return null;
  const next = mark(k + 1);
  const time = time2Next(here.label);
  const after = next && time > 0 ? { name: here.label, time } : null;
  return { k, name: here.label, at: here.at, before: { name: previous.label, time: before }, after };
}

/**
 * The times a mark dropped at `drop` (ms since the first tick) gives: {at, before, after,
 * delta}. `segments` as markSegments gives them; `step` the flight's tick (ms), ticks standing
 * at its multiples. The drop snaps to the nearest tick at which no changed segment is shorter
 * than a tick (held at that bound where no tick fits); `shift`, or no segment after: only the
 * segment before changes and later marks move with it; else the segment after gives the
 * change back and later marks stay.
 */
export function retimeByDrag(segments, drop, step, shift) {
  const { at, before, after } = segments;
  const keepsLater = !shift && !!after;
  const start = at - before.time;  // where the segment before begins (after its waypoint's pause)
  const low = start + Math.min(step, before.time);
  const high = keepsLater ? at + after.time - Math.min(step, after.time) : start + MAX_TIME2NEXT;
  let time = at;
  if (low <= high) {
    const snapped = Math.round(drop / step) * step;
    time = Math.min(Math.max(snapped, Math.ceil(low / step) * step), Math.floor(high / step) * step);
    if (time < low || time > high) time = Math.round(Math.min(Math.max(drop, low), high));
  }
  const delta = time - at;
  return {
    at: time, delta,
    before: before.time + delta,
    after: keepsLater ? after.time - delta : after ? after.time : null,
    keepsLater,
  };
}

/**
 * The marks as they stand while the mark of `segments` is dragged to `result` (retimeByDrag's):
 * the waypoint's mark and pause move; when later marks are not kept, everything from the
 * waypoint's old time on moves too.
 */
export function draggedMarks(marks, segments, result) {
  if (!result.delta) return marks;
  const moves = (m) => (m.waypoint === segments.k && (m.kind === 'waypoint' || m.kind === 'pause')) ||
    (!result.keepsLater && m.at >= segments.at && !(m.kind === 'waypoint' && m.waypoint < segments.k));
  return marks.map((m) => (moves(m) ? { ...m, at: m.at + result.delta, end: m.end + result.delta } : m));
}

/**
 * The batch of a drop: a patch of each Time2Next changed, labelled for the undo history; null
 * when nothing changes.
 */
export function dragBatch(segments, result) {
  if (!result.delta) return null;
  const edits = [{ op: 'patch', name: segments.before.name, attributes: { Time2Next: result.before } }];
  if (result.keepsLater) edits.push({ op: 'patch', name: segments.after.name, attributes: { Time2Next: result.after } });
  return { label: `retime ${segments.name}`, edits };
}

/**
 * What "Even speed" retimes: the iterator's path `path`, its waypoints `waypoints` in order
 * ({name, on}), or, when `selected` holds two or more of its switched-on waypoints, the run from
 * the first to the last of them: {path, from, to} (from and to empty: the whole path); null
 * without a path.
 */
export function retimeRun(path, waypoints, selected) {
  if (!path) return null;
  const chosen = waypoints.filter((w) => w.on && selected.has(w.name)).map((w) => w.name);
  return chosen.length >= 2 ? { path, from: chosen[0], to: chosen[chosen.length - 1] } : { path, from: '', to: '' };
}
