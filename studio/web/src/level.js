// The level the flight goes through, as the server sends it: a binary glTF, drawn with its own
// materials in both views, under the world's sun and sky. glTF is +y up, the world +z up: a file point
// (X, Y, Z) stands at the world's (X, -Z, Y), a quarter turn about x.

import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';

/** The triangles of every mesh under `root` (indexed or not). */
export function triangleCount(root) {
  let count = 0;
  root.traverse((o) => {
    if (!o.isMesh || !o.geometry) return;
    const g = o.geometry;
    const n = g.index ? g.index.count : g.attributes.position.count;
    count += o.geometry.drawRange.count === Infinity ? n / 3 : Math.min(n, g.drawRange.count) / 3;
  });
  return Math.round(count);
}

/**
 * A Lambert material in place of a glTF's physically based one: levels are for finding one's
 * way, their surfaces rough and not metallic, and in a software renderer the physically based
 * shader costs most of a frame (a clip of the flight renders about twice as fast without it).
 */
function lambertFor(material) {
  if (!material || !material.isMeshStandardMaterial) return material;
  const lambert = new THREE.MeshLambertMaterial({
    color: material.color, map: material.map, emissive: material.emissive, emissiveMap: material.emissiveMap,
    vertexColors: material.vertexColors, side: material.side, transparent: material.transparent,
    opacity: material.opacity, alphaTest: material.alphaTest, name: material.name,
  });
  material.dispose();
  return lambert;
}

/** The level's scene from the bytes of a .glb, stood upright in the world's axes. */
export async function levelFromGlb(bytes) {
  const gltf = await new GLTFLoader().parseAsync(bytes, '');
  const replaced = new Map();
  gltf.scene.traverse((o) => {
    if (!o.isMesh) return;
    const swap = (m) => { if (!replaced.has(m)) replaced.set(m, lambertFor(m)); return replaced.get(m); };
    o.material = Array.isArray(o.material) ? o.material.map(swap) : swap(o.material);
  });
  const level = new THREE.Group();
  level.name = 'level';
  const upright = gltf.scene;
  upright.rotation.x = Math.PI / 2;
  level.add(upright);
  level.updateMatrixWorld(true);
  level.userData.triangles = triangleCount(level);
  return level;
}
