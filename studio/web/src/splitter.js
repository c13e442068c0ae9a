// The bottom panel's height follows the splitter above it; the plots scroll within it.

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
