// The two DOM shorthands every part of the page uses.

/** The element of the page with the id `id`. */
export const $ = (id) => document.getElementById(id);

/** A new `tag` element with the class `className` and the text `text` (where given). */
export function el(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}
