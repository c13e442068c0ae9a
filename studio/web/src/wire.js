// The server's wire formats as the page reads them: JSON floats (a number, or a word where JSON
// has no number), base64 columns of 4-byte little-endian values, and the drawing's groups with
// their line columns in that form. Pure functions without the DOM, so that node's test runner
// can check them.

/** A JSON float: a number, or one of the words JSON has no number for; null stays NaN. */
export function jsonFloat(value) {
  if (typeof value === 'number') return value;
  if (value === 'NaN') return NaN;
  if (value === 'Infinity') return Infinity;
  if (value === '-Infinity') return -Infinity;
  return NaN;
}

const BASE64 = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
const DIGIT = new Int16Array(128).fill(-1);
for (let i = 0; i < 64; ++i) DIGIT[BASE64.charCodeAt(i)] = i;

/** Standard base64 (padded or not) to bytes; anything else in the text is refused. */
export function base64Bytes(text) {
  let end = text.length;
  while (end > 0 && text[end - 1] === '=') --end;
  if (end % 4 === 1 || text.length - end > 2) throw new Error('base64 text has a bad length');
  const bytes = new Uint8Array(Math.floor((end * 3) / 4));
  let bits = 0, count = 0, out = 0;
  for (let i = 0; i < end; ++i) {
    const code = text.charCodeAt(i);
    const digit = code < 128 ? DIGIT[code] : -1;
    if (digit < 0) throw new Error(`base64 text has a bad character at ${i}`);
    bits = (bits << 6) | digit;
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes[out++] = (bits >> count) & 0xff;
    }
  }
  return bytes;
}

/**
 * A column of 4-byte little-endian values as a `Type` (Float32Array, Uint32Array or
 * Int32Array), whatever the machine's own byte order; `what` names the column in the error.
 */
export function littleEndianColumn(bytes, Type, what = 'a column') {
  if (bytes.length % 4) throw new Error(`${what} is not a whole number of 4-byte values`);
  const n = bytes.length / 4;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const column = new Type(n);
  if (Type === Uint32Array) for (let i = 0; i < n; ++i) column[i] = view.getUint32(4 * i, true);
  else if (Type === Int32Array) for (let i = 0; i < n; ++i) column[i] = view.getInt32(4 * i, true);
  else for (let i = 0; i < n; ++i) column[i] = view.getFloat32(4 * i, true);
  return column;
}

/** A drawing's line columns: values per line, and the typed array each is held in. */
export const DRAW_LINE_COLUMNS = { from: [3, Float32Array], to: [3, Float32Array], width: [2, Float32Array],
  colour: [4, Float32Array], flag: [1, Int32Array] };

/** A group of a drawing change answer with its line columns (base64) as typed arrays. */
export function decodeDrawGroup(group) {
  const lines = {};
  for (const [name, [, Type]] of Object.entries(DRAW_LINE_COLUMNS))
    lines[name] = littleEndianColumn(base64Bytes(group.lines[name]), Type, 'a drawing column');
  return { ...group, lines };
}
