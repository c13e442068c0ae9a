// End to end: `camsys render` on a scratch copy of the example, its outputs read back with
// Debian's ffprobe and ffmpeg. Frame counts, cut positions and the contact sheet's cells are
// checked against `camsys fly` (every ms of the flight), not against the renderer's own numbers.
//
//   CAMSYS_EXE       the camsys program (default: build/cli/camsys)
//   CAMSYS_EXAMPLES  the examples folder (default: examples)

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const repo = resolve(fileURLToPath(new URL('../..', import.meta.url)));
const exe = resolve(process.env.CAMSYS_EXE || join(repo, 'build/cli/camsys'));
const examples = resolve(process.env.CAMSYS_EXAMPLES || join(repo, 'examples'));
const W = 320, H = 180, SIZE = `${W}x${H}`;

let scratch;
before(() => {
  assert.ok(existsSync(exe), `no camsys program at ${exe} (set CAMSYS_EXE)`);
  scratch = mkdtempSync(join(tmpdir(), 'camsys-render-test-'));
  for (const f of ['flythrough.json', 'town.glb']) copyFileSync(join(examples, f), join(scratch, f));
});
after(() => rmSync(scratch, { recursive: true, force: true }));

const at = (...p) => join(scratch, ...p);
/** camsys with `args` in the scratch folder; its status and output. */
function camsys(args, env = {}) {
  const r = spawnSync(exe, args,
    { cwd: scratch, encoding: 'utf8', env: { ...process.env, ...env }, timeout: 120_000, maxBuffer: 1 << 28 });
  if (r.error) throw r.error;
  return r;
}
/** Renders the example with `args`; fails with camsys's words unless it succeeds. */
function render(...args) {
  const r = camsys(['render', 'flythrough.json', '--quiet', ...args]);
  assert.equal(r.status, 0, `camsys render ${args.join(' ')} failed:\n${r.stderr}`);
}

/** The flight flown every ms by `camsys fly`: [{ time, waypoint, eye, pose }] (pose: eye, axes, fov). */
function flyEveryMs() {
  const csv = camsys(['fly', 'flythrough.json', '--iterator', 'Cam', '--step', '1']).stdout.trim().split('\n').slice(1);
  return csv.map((line) => { const v = line.split(',').map(Number); return { time: v[0], waypoint: v[1], eye: v.slice(2, 5), pose: v.slice(2).join() }; });
}
/** The frames of a render at `fps`: k = 0, 1, ... up to the first frame at or after the flight's last tick. */
function frameTimes(fps, end) {
  const times = [];
  for (let k = 0; ; ++k) { times.push(Math.round((k * 1000) / fps)); if (times[k] >= end) return times; }
}

function probe(file) {
  const out = execFileSync('ffprobe', ['-v', 'error', '-count_frames', '-select_streams', 'v:0', '-show_entries',
    'stream=codec_name,width,height,nb_read_frames:format=duration', '-of', 'json', file], { encoding: 'utf8' });
  const j = JSON.parse(out);
  return { ...j.streams[0], frames: Number(j.streams[0].nb_read_frames), duration: Number(j.format.duration) };
}
/** What ffmpeg says while decoding every frame: nothing for a sound file. */
const decodeErrors = (file) =>
  spawnSync('ffmpeg', ['-v', 'error', '-i', file, '-f', 'null', '-'], { encoding: 'utf8' }).stderr.trim();
/** The pixels of an image or of every frame of a video as RGB bytes, one Buffer per frame. */
function rgbFrames(file, w = W, h = H) {
  const raw = execFileSync('ffmpeg', ['-v', 'error', '-i', file, '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'],
    { maxBuffer: 1 << 30 });
  const n = w * h * 3;
  assert.equal(raw.length % n, 0, `${file} does not decode to ${w}x${h} frames`);
  return Array.from({ length: raw.length / n }, (_, i) => raw.subarray(i * n, (i + 1) * n));
}
/** Mean absolute difference of two frames, per channel value (0..255). */
function difference(a, b) {
  let sum = 0;
  for (let i = 0; i < a.length; ++i) sum += Math.abs(a[i] - b[i]);
  return sum / a.length;
}
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const pngs = (folder) => readdirSync(folder).sort();
const frameName = (k) => `${String(k).padStart(5, '0')}.png`;

// The flight's last tick, and its cut: the ms the eye jumps (far beyond any ms of flying).
let flight, end, cut;
before(() => {
  flight = flyEveryMs();
  end = flight.at(-1).time;
  assert.ok(end > 5000, `the example flies ${end} ms only`);
  const steps = flight.slice(1).map((t, i) => ({ time: t.time, d: Math.hypot(...t.eye.map((x, j) => x - flight[i].eye[j])) }));
  const typical = median(steps.map((s) => s.d).filter((d) => d > 0));
  const jumps = steps.filter((s) => s.d > 100 * typical);
  assert.equal(jumps.length, 1, 'the example has one cut');
  cut = jumps[0].time;
});

describe('outputs as ffprobe reads them', () => {
  test('MP4: H.264 at the size, a frame per 1/30 s up to the end of the flight, decodes cleanly', () => {
    render('--size', SIZE, '-o', 'full.mp4');
    const p = probe(at('full.mp4'));
    const count = frameTimes(30, end).length;
    assert.deepEqual([p.codec_name, p.width, p.height, p.frames], ['h264', W, H, count]);
    assert.ok(Math.abs(p.duration - count / 30) < 0.002, `duration ${p.duration} s for ${count} frames at 30 fps`);
    assert.equal(decodeErrors(at('full.mp4')), '');
  });

  test('WebM: VP9, --from/--to keep the frames whose time lies in the range', () => {
    render('--size', SIZE, '--from', '2000', '--to', '3000', '--crf', '10', '-o', 'same.webm');
    const p = probe(at('same.webm'));
    const count = frameTimes(30, end).filter((t) => t >= 2000 && t <= 3000).length;  // 31
    assert.deepEqual([p.codec_name, p.width, p.height, p.frames], ['vp9', W, H, count]);
    assert.equal(decodeErrors(at('same.webm')), '');
  });

  test('frames into DIR/ and DIR/PATTERN: a PNG of the size per frame, named from 0; --fps sets the count; --iterator the flight', () => {
    render('--size', SIZE, '--fps', '7', '-o', 'seven/');
    const count = frameTimes(7, end).length;  // the last frame is the first at or after the end
    assert.deepEqual(pngs(at('seven')), Array.from({ length: count }, (_, k) => frameName(k)));
    render('--size', SIZE, '--fps', '12', '--from', '4000', '--to', '5000', '-o', 'twelve/shot-%03d.png');
    const kept = frameTimes(12, end).filter((t) => t >= 4000 && t <= 5000).length;  // 13
    assert.deepEqual(pngs(at('twelve')), Array.from({ length: kept }, (_, k) => `shot-${String(k).padStart(3, '0')}.png`));
    // Every file a PNG of the size: the signature, then IHDR's width and height.
    for (const f of [...pngs(at('seven')).map((n) => at('seven', n)), ...pngs(at('twelve')).map((n) => at('twelve', n))]) {
      const head = readFileSync(f).subarray(0, 24);
      assert.equal(head.subarray(0, 8).toString('hex'), '89504e470d0a1a0a', `${f} is no PNG`);
      assert.deepEqual([head.readUInt32BE(16), head.readUInt32BE(20)], [W, H], f);
    }
    // --iterator picks the flight: Chase at 3000 ms (frame 21 at 7 fps) looks elsewhere than the default, Cam.
    render('--size', SIZE, '--from', '3000', '--to', '3000', '--iterator', 'Chase', '-o', 'chase/');
    const chase = difference(rgbFrames(at('chase', frameName(0)))[0], rgbFrames(at('seven', frameName(21)))[0]);
    assert.ok(chase > 10, `Chase and the default differ by ${chase} only`);
  });
});

describe('frame k shows the camera at start + round(k * 1000 / fps)', () => {
  // The cut lies between two ms; a frame whose exact time is within half a ms of it shows the
  // side round() puts it on. fps values chosen so that floor (first) and ceil (second) would
  // put the frame on the other side. The largest change between frames shows where the cut is.
  for (const [fps, side] of [[87000 / 8699.6, 'after'], [87000 / 8699.4, 'before']]) {
    test(`at ${fps.toFixed(5)} fps frame 87 (${(87000 / fps).toFixed(1)} ms) shows the camera ${side} the cut`, () => {
      const dir = `near-${side}/`;
      assert.equal(cut, 8700, 'these frame rates are chosen for a cut at 8700 ms');
      render('--size', SIZE, '--fps', String(fps), '--from', '8500', '--to', '8900', '-o', dir);
      const kept = frameTimes(fps, end).map((t, k) => ({ t, k })).filter(({ t }) => t >= 8500 && t <= 8900);
      const frames = pngs(at(dir)).map((f) => rgbFrames(at(dir, f))[0]);
      assert.equal(frames.length, kept.length);
      const steps = frames.slice(1).map((f, i) => difference(frames[i], f));
      const into = kept[steps.indexOf(Math.max(...steps)) + 1].k;
      assert.equal(into, side === 'after' ? 87 : 88, `the cut shows first in frame ${into}; steps ${steps.map((s) => s.toFixed(1))}`);
    });
  }
});

describe('the PNG frames and the video agree frame by frame', () => {
  const mean = (xs) => xs.reduce((a, b) => a + b, 0) / xs.length;
  /**
   * Each decoded frame of `video` within `bound` of its own PNG; the clip as a whole closer to its
   * own PNGs than shifted a frame either way; with `each`, every frame closer to its own PNG
   * than to either neighbour's.
   */
  function agree(video, png, bound, each) {
    assert.equal(video.length, png.length);
    const own = video.map((v, k) => difference(v, png[k]));
    const early = video.slice(1).map((v, k) => difference(v, png[k]));
    const late = video.slice(0, -1).map((v, k) => difference(v, png[k + 1]));
    assert.ok(Math.max(...own) < bound, `video frames differ from their PNGs by ${own.map((d) => d.toFixed(2))}`);
    assert.ok(mean(own) < 0.7 * Math.min(mean(early), mean(late)),
      `own ${mean(own)}, a frame early ${mean(early)}, late ${mean(late)}`);
    if (each)
      own.forEach((d, k) => assert.ok(d < Math.min(early[k - 1] ?? Infinity, late[k] ?? Infinity),
        `video frame ${k} is closer to a neighbour's PNG than to its own`));
  }

  // 2000 to 3000 ms: 31 frames whose camera moves in all but a few around W1 (at 2500 ms).
  let png;
  before(() => {
    render('--size', SIZE, '--from', '2000', '--to', '3000', '-o', 'same/');
    png = pngs(at('same')).map((f) => rgbFrames(at('same', f))[0]);
  });

  test('VP9 at quantizer 10 (the WebM above): each frame', () => {
    // Measured: 0.9 to 1.2 per channel value off its own PNG (4:2:0 chroma and the YUV round
    // trip on edges); 1.25 to 6 off a neighbour's, so each frame is checked on its own.
    agree(rgbFrames(at('same.webm')), png, 2, true);
  });

  test('H.264 at its default rate: the whole clip, the same range cut from it', () => {
    // Measured at 200 kbit/s: 1.4 to 2.5 off its own PNG, 3.9 mean off the neighbours'; around
    // W1 the camera slows and a neighbour lies within the codec's loss, so no check per frame.
    agree(rgbFrames(at('full.mp4')).slice(60, 91), png, 4, false);
  });
});

describe('the contact sheet', () => {
  test('holds a cell per moment (start, each waypoint reached, both sides of the cut, end), each showing it', () => {
    render('--size', SIZE, '--sheet', '-o', 'sheet.png');
    // The moments by the flight flown every ms: where the waypoint index moves on, the ms before
    // the eye jumps and the ms it has, the first and the last tick; one cell per distinct time.
    const times = new Set([flight[0].time, end, cut - 1, cut]);
    flight.forEach((t, i) => { if (i > 0 && t.waypoint !== flight[i - 1].waypoint) times.add(t.time); });
    const moments = [...times].sort((a, b) => a - b).map((t) => flight.find((f) => f.time === t));
    // The sheet's layout: 4 columns of cells of the size, 8 px apart and around; a title band
    // and under each cell a caption band, each max(18, round(h / 12)) high (the title 8 more).
    const columns = Math.min(4, moments.length), caption = Math.max(18, Math.round(H / 12));
    const width = columns * (W + 8) + 8, height = caption + 8 + Math.ceil(moments.length / columns) * (H + caption + 8) + 8;
    const p = probe(at('sheet.png'));
    assert.deepEqual([p.codec_name, p.width, p.height], ['png', width, height], `${moments.length} moments`);

    const sheet = rgbFrames(at('sheet.png'), width, height)[0];
    const cell = (i) => {
      const x = 8 + (i % columns) * (W + 8), y = caption + 8 + Math.floor(i / columns) * (H + caption + 8);
      return Buffer.concat(Array.from({ length: H }, (_, r) => sheet.subarray(((y + r) * width + x) * 3, ((y + r) * width + x + W) * 3)));
    };
    // Drawn unscaled from the same renderer: measured 0.00 against the frame.
    assert.ok(difference(cell(0), rgbFrames(at('seven', frameName(0)))[0]) < 0.5, 'the first cell is not frame 0');
    for (let i = 1; i < moments.length; ++i) {
      const d = difference(cell(i - 1), cell(i)), still = moments[i - 1].pose === moments[i].pose;
      assert.ok(still ? d < 0.5 : d > 2, `cells ${i - 1} and ${i} (${moments[i - 1].time} and ${moments[i].time} ms) differ by ${d}`);
    }
  });
});

describe('refusals: exit 2, nothing written', () => {
  before(() => {
    writeFileSync(at('somefile'), '');
    mkdirSync(at('full'));
    writeFileSync(at('full', 'keep.png'), '');
    // A scene without an iterator.
    const scene = JSON.parse(readFileSync(at('flythrough.json'), 'utf8'));
    scene.objects = scene.objects.filter((o) => o.class !== 'SCOCameraSystemIterator');
    writeFileSync(at('still.json'), JSON.stringify(scene));
  });
  const refused = [
    [['--size', '1280'], 'o.mp4'], [['--size', '0x0'], 'o.mp4'], [['--size', '321x180'], 'o.mp4'],
    [['--size', '320x181'], 'o.mp4'], [['--fps', '0'], 'o.mp4'], [['--fps', '-1'], 'o.mp4'], [['--fps', 'nan'], 'o.mp4'],
    [[], 'nofolder/o.mp4'], [[], 'somefile/o.mp4'], [[], 'o.avi'], [[], 'full/'], [[], 'full/%05d.png'],
    [['--iterator', 'Nope'], 'o.mp4'], [[], 'still.mp4', 'still.json'],
  ];
  for (const [args, out, scene = 'flythrough.json'] of refused) {
    test(`${scene} ${args.join(' ')} -o ${out}`, () => {
      const before = readdirSync(scratch).sort();
      const r = camsys(['render', scene, ...args, '-o', out]);
      assert.equal(r.status, 2, r.stderr);
      assert.match(r.stderr, /\S/);
      assert.deepEqual(readdirSync(scratch).sort(), before);
      assert.deepEqual(readdirSync(at('full')), ['keep.png']);
    });
  }

  test('no Chromium: exit 1, the way to get one, no output', () => {
    const tries = [
      [['--chromium', '/nonexistent'], {}, /--chromium names '\/nonexistent'/],
      [[], { CAMSYS_CHROMIUM: '/nonexistent' }, /CAMSYS_CHROMIUM names '\/nonexistent'/],
      [[], { CAMSYS_CHROMIUM: '', PATH: '/var/empty' }, /install Debian's package `chromium`/],
    ];
    for (const [args, env, said] of tries) {
      const r = camsys(['render', 'flythrough.json', ...args, '-o', 'none.mp4'], env);
      assert.equal(r.status, 1, r.stderr);
      assert.match(r.stderr, said);
      assert.equal(existsSync(at('none.mp4')), false);
    }
  });
});

/** The Chromium processes started for camsys process `pid`: the profile folders in their command lines. */
function chromiumProfiles(pid) {
  const profiles = new Set();
  for (const entry of readdirSync('/proc').filter((e) => /^\d+$/.test(e))) {
    let line;
    try { line = readFileSync(`/proc/${entry}/cmdline`, 'utf8').replaceAll('\0', ' '); } catch { continue; }
    // Chromium's helpers rewrite their command line into one string: the folder is found by name.
    const profile = /--user-data-dir=(\S*camsys-chromium-\w+)/.exec(line)?.[1];
    if (!profile) continue;
    for (let p = Number(entry), hops = 0; p > 1 && hops < 10; ++hops) {
      if (p === pid) { profiles.add(profile); break; }
      try { p = Number(readFileSync(`/proc/${p}/stat`, 'utf8').replace(/^.*\) /, '').split(' ')[1]); } catch { break; }
    }
  }
  return profiles;
}
const anyProcessNaming = (profile) => readdirSync('/proc').filter((e) => /^\d+$/.test(e)).some((e) => {
  try { return readFileSync(`/proc/${e}/cmdline`, 'utf8').includes(profile); } catch { return false; }
});

describe('SIGINT and SIGTERM stop the render and leave nothing; SIGKILL leaves no browser', () => {
  for (const signal of ['SIGINT', 'SIGTERM', 'SIGKILL']) {
    test(`${signal} once frames are rendering`, async () => {
      const folder = at(`stopped-${signal}`);
      mkdirSync(folder);
      const child = spawn(exe, ['render', 'flythrough.json', '--size', '640x360', '-o', join(folder, 'out.mp4')],
        { cwd: scratch, stdio: ['ignore', 'ignore', 'pipe'] });
      let stderr = '', profiles = new Set();
      const exited = new Promise((done) => child.on('exit', (code, sig) => done({ code, sig })));
      await new Promise((rendering, fail) => {
        const timer = setTimeout(() => fail(new Error(`no progress within 60 s:\n${stderr}`)), 60_000);
        let sent = false;
        child.stderr.on('data', (d) => {
          stderr += d;
          if (sent) return;
          // SIGINT mid-way (the second progress line); SIGTERM as soon as the frames are known.
          const done = [...stderr.matchAll(/camsys render: (\d+)\/(\d+) frames/g)].map((m) => Number(m[1]));
          if (done.length && (signal === 'SIGTERM' || done.at(-1) > 0)) {
            clearTimeout(timer);
            sent = true;
            profiles = chromiumProfiles(child.pid);
            child.kill(signal);
            rendering();
          }
        });
      });
      const { code } = await exited;
      assert.ok(profiles.size > 0, 'no Chromium of this render was seen running');
      for (let i = 0; i < 50 && [...profiles].some(anyProcessNaming); ++i) await new Promise((r) => setTimeout(r, 100));
      for (const profile of profiles)
        assert.equal(anyProcessNaming(profile), false, `a Chromium process with ${profile} is left`);
      if (signal === 'SIGKILL') {
        // Killed outright, camsys cleans nothing up, but its browser goes with it (it dies with
        // the thread that started it); what is left is files: the staged output and the profile.
        for (const profile of profiles) rmSync(profile, { recursive: true, force: true });
        assert.ok(readdirSync(folder).every((name) => name.startsWith('.out.mp4.tmp-')), readdirSync(folder).join());
        return;
      }
      assert.equal(code, 1, stderr);
      assert.match(stderr, /interrupted/);
      assert.deepEqual(readdirSync(folder), []);
      for (const profile of profiles)
        assert.equal(existsSync(profile), false, `the profile folder ${profile} is left`);
    });
  }
});
