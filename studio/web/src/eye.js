// The eye at the current tick as the 3D view shows it: its frustum (apex to the four far
// corners, the far rectangle, and a triangle over its top edge for up), a dot at the eye, and a
// dashed line to the iterator's "MovingDestination" where it has one.

import * as THREE from 'three';
import { COLOURS } from './colours.js';

export class EyeHelpers {
  constructor() {
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.BufferAttribute(new Float32Array(20 * 3), 3));
    this.frustum = new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: COLOURS.frustum }));
    this.frustum.frustumCulled = false;
    this.eyeMarker = new THREE.Mesh(new THREE.SphereGeometry(1, 16, 10), new THREE.MeshBasicMaterial({ color: COLOURS.frustum }));
    const line = new THREE.BufferGeometry();
    line.setAttribute('position', new THREE.BufferAttribute(new Float32Array(6), 3));
    line.setAttribute('lineDistance', new THREE.BufferAttribute(new Float32Array(2), 1));
    this.destination = new THREE.Line(line, new THREE.LineDashedMaterial({ color: COLOURS.destination, dashSize: 1, gapSize: 1 }));
    this.destination.frustumCulled = false;
    this.eye = new THREE.Vector3();
    this.corner = new THREE.Vector3();
    this.hide();
  }

  /** The three.js objects, in the order they go into the scene. */
  objects() { return [this.frustum, this.eyeMarker, this.destination]; }

  setDash(dash) { this.destination.material.dashSize = this.destination.material.gapSize = dash; }

  hide() { this.frustum.visible = this.eyeMarker.visible = this.destination.visible = false; }

  /**
   * Shows the eye `shown` ({x, y, z}) with its axes `a` (right, forward, up) through a vertical
   * field of view of `vfov` degrees and the camera view's `aspect`, sized to the scene's
   * `extent`; the line goes to `target` (a Vector3), or nowhere when it is null. No allocation,
   * as it runs every frame.
   */
  place(shown, a, extent, vfov, aspect, target) {
    this.frustum.visible = this.eyeMarker.visible = true;
    this.destination.visible = !!target;
    this.eye.set(shown.x, shown.y, shown.z);
    const length = extent * 0.06;
    const h = length * Math.tan((vfov * Math.PI) / 360);
    const w = h * aspect;
    const p = this.frustum.geometry.getAttribute('position');
    const e = this.eye;
    const corner = (k, sx, sy) => {
      const c = this.corner.set(e.x + length * a[3] + w * sx * a[0] + h * sy * a[6],
        e.y + length * a[4] + w * sx * a[1] + h * sy * a[7], e.z + length * a[5] + w * sx * a[2] + h * sy * a[8]);
      p.setXYZ(k, c.x, c.y, c.z);
    };
    const corners = [[-1, -1], [1, -1], [1, 1], [-1, 1]];
    for (let k = 0; k < 4; ++k) {
      p.setXYZ(2 * k, e.x, e.y, e.z);
      corner(2 * k + 1, corners[k][0], corners[k][1]);
      corner(8 + 2 * k, corners[k][0], corners[k][1]);
      corner(8 + 2 * k + 1, corners[(k + 1) % 4][0], corners[(k + 1) % 4][1]);
    }
    corner(16, -0.6, 1.1); corner(17, 0, 1.5); corner(18, 0, 1.5); corner(19, 0.6, 1.1);
    p.needsUpdate = true;
    this.frustum.geometry.computeBoundingSphere();
    this.eyeMarker.position.copy(e);
    this.eyeMarker.scale.setScalar(extent * 0.004);
    if (target) {
      const t = target;
      const dp = this.destination.geometry.getAttribute('position');
      dp.setXYZ(0, e.x, e.y, e.z);
      dp.setXYZ(1, t.x, t.y, t.z);
      dp.needsUpdate = true;
      const dd = this.destination.geometry.getAttribute('lineDistance');
      dd.setX(1, e.distanceTo(t));
      dd.needsUpdate = true;
    }
  }
}
