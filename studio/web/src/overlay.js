// What a rendered clip can show burnt into its frames: the time code, the tick, the waypoint and
// the linter's findings active at that time, in a band along the bottom.

/** "mm:ss.mmm" of `ms` milliseconds. */
export function timeCode(ms) {
  const whole = Math.max(0, Math.round(ms));
  const minutes = Math.floor(whole / 60000), seconds = Math.floor(whole / 1000) % 60, millis = whole % 1000;
  return `${String(minutes).padStart(2, '0')}:${String(seconds).padStart(2, '0')}.${String(millis).padStart(3, '0')}`;
}

/** How long a finding without an end stays on screen, ms. */
const FINDING_SHOWN = 1000;

/** The facts of frame `k` of a prepared clip: {code, tick, waypoint, findings: [text]}. */
export function overlayFacts(clip, k) {
  const f = clip.frames;
  const time = f.time[k], start = clip.settings.start >>> 0;
  const since = (time - start) >>> 0;
  const active = (clip.findings || []).filter((finding) => {
    if (finding.time === null || finding.time === undefined) return false;
    const from = (finding.time - start) >>> 0;
    const until = finding.until !== undefined ? (finding.until - start) >>> 0 : from + FINDING_SHOWN;
    return since >= from && since <= until;
  });
  return {
    code: timeCode(since),
    tick: `frame ${k} · t ${time} ms`,
    waypoint: f.waypoints[f.waypoint[k]] || `waypoint ${f.waypoint[k]}`,
    findings: active.map((finding) => `${finding.severity}: ${finding.id} · ${finding.object} · ${finding.text}`),
  };
}

/** Writes `facts` over the bottom of a `width` x `height` frame drawn in `context`. */
export function drawOverlay(context, width, height, facts) {
  const size = Math.max(11, Math.round(height / 32));
  const lines = [`${facts.code}   ${facts.tick}   ${facts.waypoint}`, ...facts.findings.slice(0, 4)];
  const pad = Math.round(size * 0.5), lineHeight = Math.round(size * 1.3);
  const band = lines.length * lineHeight + pad * 2;
  context.save();
  context.fillStyle = 'rgba(0, 0, 0, 0.55)';
  context.fillRect(0, height - band, width, band);
  context.font = `${size}px monospace`;
  context.textBaseline = 'top';
  lines.forEach((line, i) => {
    context.fillStyle = i === 0 ? '#ffffff' : line.startsWith('error') ? '#ff8a80' : '#ffd180';
    context.fillText(line, pad, height - band + pad + i * lineHeight, width - 2 * pad);
  });
  context.restore();
}
