// The screen a save answered 409 opens: the marker's unsaved marking beside the one saved
// meanwhile, each side listing what the other lacks, to keep one, the other or both. Nothing is
// dropped without the marker choosing it.
import { el } from '/api.js';
import { UNIT } from '/cells.js';

// What makes two annotations the same one, whatever sizes each side computed for it.
export function annotationKey(a) {
  return JSON.stringify(a.type === 'comment' ? ['comment', a.x, a.y, a.text] : ['stroke', a.x, a.y, a.points]);
}

// The annotations of `files` (file by file) that `other` does not have.
export function onlyIn(files, other) {
  return files.map((f, i) => {
    const there = new Set(((other[i] && other[i].annotations) || []).map(annotationKey));
    return f.annotations.filter((a) => !there.has(annotationKey(a)));
  });
}

function place(a) {
  return `line ${a.y / UNIT + 1}, column ${a.x / UNIT + 1}`;
}

function describe(marking, other, maxMark, where) {
  const extra = onlyIn(marking.files, other.files);
  where.replaceChildren(
    el('p', {}, `Mark: ${marking.mark ?? '—'} / ${maxMark}`),
    el('p', {}, `Detail: ${marking.detail || '—'}`),
    ...marking.files.map((f, i) => el('div', {},
      el('h4', {}, `${f.name}: ${f.annotations.length - extra[i].length} the same on both sides, `
        + `${extra[i].length} only here`),
      ...extra[i].map((a) => el('pre', { class: 'only-here' }, a.type === 'comment'
        ? `comment at ${place(a)}: ${a.text}`
        : `stroke from ${place(a)}, ${a.points.length} points`)))));
}

// `mine` and `theirs` are markings as the page keeps them; `saved` is theirs as the API gave it.
export function showConflict({ why, mine, theirs, saved, maxMark, keepMine, keepBoth, takeTheirs }) {
  const $ = (id) => document.getElementById(id);
  const dialog = $('conflict');
  $('conflict-why').textContent = why;
  $('conflict-theirs-title').textContent =
    `Theirs: saved by ${saved.markedBy || '—'}, version ${saved.version}`;
  describe(mine, theirs, maxMark, $('conflict-mine'));
  describe(theirs, mine, maxMark, $('conflict-theirs'));
  const choose = (action) => () => {
    dialog.close();
    action();
  };
  $('keep-mine').onclick = choose(keepMine);
  $('keep-both').onclick = choose(keepBoth);
  $('take-theirs').onclick = choose(takeTheirs);
  dialog.showModal();
}
