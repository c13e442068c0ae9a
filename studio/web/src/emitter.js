// The page's one subscribe-and-emit mechanism: the state, the editor and the world tell whoever
// listens what changed, in the order the listeners subscribed.

export class Emitter {
  constructor() { this.listeners = new Map(); }
  on(event, listener) {
    if (!this.listeners.has(event)) this.listeners.set(event, []);
    this.listeners.get(event).push(listener);
  }
  emit(event, ...args) {
    for (const listener of this.listeners.get(event) || []) listener(...args);
  }
}
