// Numbers and times as the page shows them, and the spacing of grid lines and axis ticks.
// Pure functions without the DOM, so that node's test runner can check them.

/** Times as the page shows them: seconds with milliseconds ("12.345 s"). */
export function formatTime(ms) {
  return `${(ms / 1000).toFixed(3)} s`;
}

/** A measure with a few significant digits, or "–" where it is not defined. */
export function formatNumber(value, digits = 4) {
  if (value === null || value === undefined || Number.isNaN(value)) return '–';
  if (!Number.isFinite(value)) return value > 0 ? '∞' : '−∞';
  const magnitude = Math.abs(value);
  if (magnitude !== 0 && (magnitude >= 1e6 || magnitude < 1e-3)) return value.toExponential(digits - 1);
  return String(Number(value.toPrecision(digits)));
}

/** A spacing of 1, 2 or 5 × 10^k such that `extent` spans about `lines` of them. */
export function niceStep(extent, lines = 10) {
  if (!(extent > 0) || !Number.isFinite(extent)) return 1;
  const raw = extent / lines;
  const power = 10 ** Math.floor(Math.log10(raw));
  const f = raw / power;
  return (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * power;
}
