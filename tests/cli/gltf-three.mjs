// The example's exported camera as a glTF client plays it: three.js's GLTFLoader reads the .glb
// and the .gltf of `camsys export`, an AnimationMixer samples the animation at every tick's time
// in seconds (the decimal a client asks for, not the file's float), and the camera node must
// stand where `camsys fly` puts the eye and look where it looks, at every tick, the cut's too.
//
//   CAMSYS_EXE       the camsys program (default: build/cli/camsys)
//   CAMSYS_EXAMPLES  the examples folder (default: examples)

import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

// The loader reports the progress of the .gltf's data URI, fetched, as a browser's ProgressEvent.
globalThis.ProgressEvent ??= class extends Event {
  constructor(type, init = {}) {
    super(type);
    Object.assign(this, init);
  }
};

const repo = resolve(fileURLToPath(new URL('../..', import.meta.url)));
// three.js comes with the studio page's packages; GLTFLoader finds the same 'three' from there.
const modules = join(repo, 'studio/web/node_modules/three');
const THREE = await import(pathToFileURL(join(modules, 'build/three.module.js')).href);
const { GLTFLoader } = await import(pathToFileURL(join(modules, 'examples/jsm/loaders/GLTFLoader.js')).href);
const exe = resolve(process.env.CAMSYS_EXE || join(repo, 'build/cli/camsys'));
const scene = join(resolve(process.env.CAMSYS_EXAMPLES || join(repo, 'examples')), 'flythrough.json');

const dir = mkdtempSync(join(tmpdir(), 'camsys-three-'));
let failed = 0;
try {
  const rows = execFileSync(exe, ['fly', scene, '--iterator', 'Cam'], { stdio: ['ignore', 'pipe', 'ignore'] })
    .toString().trim().split('\n').slice(1).map((row) => row.split(',').map(Number));
  for (const extension of ['glb', 'gltf']) {
    const file = join(dir, `Cam.${extension}`);
    execFileSync(exe, ['export', scene, '--iterator', 'Cam', '-o', file], { stdio: ['ignore', 'ignore', 'pipe'] });
    const bytes = readFileSync(file);
    const data = extension === 'glb' ? bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length)
                                     : bytes.toString();
    const gltf = await new Promise((done, fail) => new GLTFLoader().parse(data, '', done, fail));
    const camera = gltf.scene.getObjectByName(THREE.PropertyBinding.sanitizeNodeName('Cam eye'));
    const mixer = new THREE.AnimationMixer(gltf.scene);
    const action = mixer.clipAction(gltf.animations[0]);
    action.setLoop(THREE.LoopOnce);
    action.clampWhenFinished = true;
    action.play();

    let worstPosition = 0, worstAngle = 0, worstTick = 0;
    for (const row of rows) {
      mixer.setTime((row[0] - rows[0][0]) / 1000);
      camera.updateMatrixWorld(true);
      // glTF's (X, Y, Z) is the world's (X, -Z, Y); the camera looks along its -z, the eye along
      // its forward column (m01, m11, m21).
      const p = camera.getWorldPosition(new THREE.Vector3());
      const view = new THREE.Vector3(0, 0, -1).applyQuaternion(camera.getWorldQuaternion(new THREE.Quaternion()));
      const distance = Math.hypot(p.x - row[2], -p.z - row[3], p.y - row[4]);
      const forward = new THREE.Vector3(row[6], row[9], row[12]).normalize();
      const angle = new THREE.Vector3(view.x, -view.z, view.y).angleTo(forward);
      if (distance > worstPosition) [worstPosition, worstTick] = [distance, row[0]];
      worstAngle = Math.max(worstAngle, angle);
    }
    const ok = worstPosition < 1e-3 && worstAngle < 1e-4;
    console.log(`${extension}: ${rows.length} ticks, farthest ${worstPosition.toExponential(2)} units` +
                ` (tick ${worstTick}), widest ${worstAngle.toExponential(2)} rad: ${ok ? 'ok' : 'FAILED'}`);
    if (!ok) ++failed;
  }
} finally {
  rmSync(dir, { recursive: true, force: true });
}
process.exitCode = failed ? 1 : 0;
