// The level the flight goes through, as the server sends it: a binary glTF, drawn with its own
// colours in both views, under the world's sun and sky, its meshes of one material drawn as one. glTF is +y up, the world +z up: a file point
// (X, Y, Z) stands at the world's (X, -Z, Y), a quarter turn about x.

import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { mergeGeometries } from 'three/addons/utils/BufferGeometryUtils.js';

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

/**
 * The plain meshes under `root` that share a material made one mesh each, in `root`'s own axes:
 * a town of a hundred houses is a dozen draw calls. In a software renderer every call has a cost
 * of its own, which a clip of the flight pays at every frame.
 */
function mergeByMaterial(root) {
  root.updateMatrixWorld(true);
  const groups = new Map();
  root.traverse((o) => {
    if (!o.isMesh || o.isInstancedMesh || o.isSkinnedMesh || Array.isArray(o.material) || o.morphTargetInfluences) return;
    const g = o.geometry;
    const key = [o.material.uuid, !!g.index, Object.keys(g.attributes).sort().join(), Object.keys(g.morphAttributes).length].join('|');
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(o);
  });
  const inverse = new THREE.Matrix4().copy(root.matrixWorld).invert();
  for (const meshes of groups.values()) {
    if (meshes.length < 2) continue;
    const geometries = meshes.map((m) => m.geometry.clone().applyMatrix4(new THREE.Matrix4().multiplyMatrices(inverse, m.matrixWorld)));
    const merged = mergeGeometries(geometries, false);
    for (const g of geometries) g.dispose();
    if (!merged) continue;
    const mesh = new THREE.Mesh(merged, meshes[0].material);
    mesh.name = meshes[0].material.name || meshes[0].name;
    for (const m of meshes) { m.removeFromParent(); m.geometry.dispose(); }
    root.add(mesh);
  }
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
  mergeByMaterial(upright);
  upright.rotation.x = Math.PI / 2;
  level.add(upright);
  level.updateMatrixWorld(true);
  level.userData.triangles = triangleCount(level);
  return level;
}
