// The Khronos glTF validator on what `camsys export` writes for the example: the .gltf and the
// .glb of each iterator, with and without the level, and the level examples/town.glb, must have
// no error and no warning. Prints the validator's report.
//
//   CAMSYS_EXE       the camsys program (default: build/cli/camsys)
//   CAMSYS_EXAMPLES  the examples folder (default: examples)
//
// Infos and hints are printed, not failed on. Two kinds are expected: NODE_EMPTY for the scene's
// objects (a node that only marks a place is what they are), and INCOMPLETE_EXTENSION_SUPPORT for
// KHR_animation_pointer, which this validator knows (it checks the channel's target) but does not
// check in full (it does not resolve the pointer). Neither needs an exception.

import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { basename, dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const repo = resolve(fileURLToPath(new URL('../..', import.meta.url)));
// The validator is installed with the studio page's packages (a devDependency there).
const validator = createRequire(join(repo, 'studio/web/package.json'))('gltf-validator');
const exe = resolve(process.env.CAMSYS_EXE || join(repo, 'build/cli/camsys'));
const scene = join(resolve(process.env.CAMSYS_EXAMPLES || join(repo, 'examples')), 'flythrough.json');

const severities = ['error', 'warning', 'info', 'hint'];
const dir = mkdtempSync(join(tmpdir(), 'camsys-gltf-'));
// Each iterator's flight, alone and with the level; and the level itself, as the script made it.
const files = [];
let failed = 0;
try {
  for (const iterator of ['Cam', 'Chase']) {
    for (const extension of ['gltf', 'glb']) {
      for (const level of [[], ['--with-level']]) {
        const file = join(dir, `${iterator}${level.length ? '-with-level' : ''}.${extension}`);
        execFileSync(exe, ['export', scene, '--iterator', iterator, ...level, '-o', file],
                     { stdio: ['ignore', 'ignore', 'pipe'] });
        files.push(file);
      }
    }
  }
  files.push(join(dirname(scene), 'town.glb'));
  for (const file of files) {
    const bytes = new Uint8Array(readFileSync(file));
    const report = await validator.validateBytes(bytes, { uri: basename(file), maxIssues: 0 });
    const { numErrors, numWarnings, numInfos, numHints, messages } = report.issues;
    console.log(`${report.uri}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos, ${numHints} hints` +
                ` (validator ${report.validatorVersion}; ${report.info.animationCount} animation,` +
                ` ${report.info.drawCallCount} draw calls, ${report.info.totalVertexCount} vertices)`);
    for (const m of messages) console.log(`  ${severities[m.severity]} ${m.code} ${m.pointer ?? ''}: ${m.message}`);
    if (numErrors || numWarnings) ++failed;
  }
} finally {
  rmSync(dir, { recursive: true, force: true });
}
console.log(`${files.length - failed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
