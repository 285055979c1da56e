// The screen a save answered 409 opens: the marker's unsaved marking beside the one saved
// meanwhile, to keep one or the other. Nothing is dropped without the marker choosing it.
import { el } from '/api.js';
import { UNIT } from '/cells.js';

function describe(marking, maxMark, where) {
  const count = (f, type) => f.annotations.filter((a) => a.type === type).length;
  where.replaceChildren(
    el('p', {}, `Mark: ${marking.mark ?? '—'} / ${maxMark}`),
    el('p', {}, `Detail: ${marking.detail || '—'}`),
    ...marking.files.map((f) => el('div', {},
      el('h4', {}, `${f.name}: ${count(f, 'comment')} comments, ${count(f, 'stroke')} strokes`),
      ...f.annotations.filter((a) => a.type === 'comment')
        .map((a) => el('pre', {}, `line ${a.y / UNIT + 1}, column ${a.x / UNIT + 1}: ${a.text}`)))));
}

// `mine` and `theirs` are markings as the page keeps them; `saved` is theirs as the API gave it.
export function showConflict({ why, mine, theirs, saved, maxMark, keepMine, takeTheirs }) {
  const $ = (id) => document.getElementById(id);
  const dialog = $('conflict');
  $('conflict-why').textContent = why;
  $('conflict-theirs-title').textContent =
    `Theirs: saved by ${saved.markedBy || '—'}, version ${saved.version}`;
  describe(mine, maxMark, $('conflict-mine'));
  describe(theirs, maxMark, $('conflict-theirs'));
  $('keep-mine').onclick = () => {
    dialog.close();
    keepMine();
  };
  $('take-theirs').onclick = () => {
    dialog.close();
    takeTheirs();
  };
  dialog.showModal();
}
