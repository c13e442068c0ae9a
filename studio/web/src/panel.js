// The form the side panels (messages, findings) share.

/**
 * A side panel folded away by default: a head with `title` and a count that opens and closes
 * it, and a list (of class `listClass`) for its rows. Its methods go onto `view`: `setOpen`.
 */
export function foldedPanel(view, root, title, listClass) {
  view.root = root;
  root.innerHTML = `<button class="panel-head" aria-expanded="false"><span class="caret">▸</span> ${title}
    <span class="count muted"></span></button><div class="panel-body" hidden><div class="${listClass}"></div></div>`;
  view.head = root.querySelector('.panel-head');
  view.body = root.querySelector('.panel-body');
  view.rows = root.querySelector(`.${listClass}`);
  view.count = root.querySelector('.count');
  view.setOpen = (open) => {
    view.body.hidden = !open;
    view.head.setAttribute('aria-expanded', String(open));
    view.head.querySelector('.caret').textContent = open ? '▾' : '▸';
    root.classList.toggle('open', open);
  };
  view.head.addEventListener('click', () => view.setOpen(view.body.hidden));
}
