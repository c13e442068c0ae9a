// The bottom panel's height follows the splitter above it; the plots scroll within it. The side
// column's width (and with it the camera view's size) follows the splitter at its left edge.

/** Drags on `element` set the side column's width, between 320 px and two thirds of the page. */
export function listenForSideSplitter(element) {
  element.addEventListener('pointerdown', (e) => {
    element.setPointerCapture(e.pointerId);
    const layout = document.querySelector('.layout');
    const move = (m) => {
      const rect = layout.getBoundingClientRect();
      const width = Math.min(rect.width * 2 / 3, Math.max(320, rect.right - m.clientX));
      layout.style.setProperty('--side', `${Math.round(width)}px`);
    };
    const up = () => { element.removeEventListener('pointermove', move); element.removeEventListener('pointerup', up); };
    element.addEventListener('pointermove', move);
    element.addEventListener('pointerup', up);
  });
}

export function listenForSplitter(element) {
  element.addEventListener('pointerdown', (e) => {
    const splitter = e.target;
    splitter.setPointerCapture(e.pointerId);
    const layout = document.querySelector('.layout');
    const move = (m) => {
      const rect = layout.getBoundingClientRect();
      const height = Math.min(rect.height - 160, Math.max(120, rect.bottom - m.clientY));
      layout.style.setProperty('--bottom', `${height}px`);
    };
    const up = () => { splitter.removeEventListener('pointermove', move); splitter.removeEventListener('pointerup', up); };
    splitter.addEventListener('pointermove', move);
    splitter.addEventListener('pointerup', up);
  });
}
