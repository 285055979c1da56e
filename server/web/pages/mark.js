// The marking page: one submission's files drawn as the student's view draws them (page units,
// 10 per column and per line), comments and strokes added, moved and deleted with undo, the mark
// and detail, saved with the version it was based on.
import { ApiError, api, el, showError, studentLabel } from '/api.js';
import { UNIT, FilePage, commentSize } from '/cells.js';
import { CommentBank } from '/comment-bank.js';
import { onlyIn, showConflict } from '/conflict.js';
import { History } from '/history.js';
import { early } from '/mark-start.js';
import { entryNames } from '/entry-name.js';
import { markingFromApi, saveBody } from '/marking-json.js';
import { showVersions } from '/marking-versions.js';
import { SX, SY, TEXT_RATIO, annotationNode, noticeNode, reconcile, svgNode, textNode } from '/svg-drawing.js';

const MARGIN_COLUMN = 80;
const NON_ASCII_NOTICE = 'This is a non-ASCII file and cannot be viewed.';
const OVERSCAN = 10; // lines drawn beyond the visible ones

const params = new URLSearchParams(location.search);
const course = Number(params.get('course'));
const entry = params.get('entry') || '';
const serial = Number(params.get('serial'));
const $ = (id) => document.getElementById(id);
const svg = $('page');
const scroller = $('scroller');
const editor = $('editor');

let marker = null;
let submission = null; // as the API gave it
let list = null; // the entry's submissions, for next / previous
let pages = []; // FilePage per file
let fileIndex = 0;
let version = 0;
let history = null;
let saved = ''; // the state as last saved, to know whether anything is unsaved
let selection = -1; // index of the selected annotation in the current file
let cursor = { x: 0, y: 0 }; // the cell cursor, page units
let editing = null; // {index (or -1 for a new comment), x, y}
let drawing = null; // the stroke being drawn
let dragging = null; // {start, original}
let layers = {};
let bank = null; // CommentBank
let drawnLines = new Map();

// ---- state -------------------------------------------------------------------------------
function state() {
  return history.current;
}

function annotations() {
  return state().files[fileIndex].annotations;
}

function change(mutate) {
  const next = structuredClone(state());
  mutate(next);
  history.push(next);
  refresh();
}

function dirty() {
  return JSON.stringify(state()) !== saved;
}

// ---- drawing -----------------------------------------------------------------------------
function pageExtent() {
  const page = pages[fileIndex];
  if (submission.files[fileIndex].kind === 'B') return { width: 600, height: 100 };
  let width = page.widest * UNIT;
  let height = page.lineCount * UNIT;
  for (const a of annotations()) {
    width = Math.max(width, a.x + (a.width || 0));
    height = Math.max(height, a.y + (a.height || 0));
  }
  // Room to write beside and below the text.
  return { width: Math.max(width, 1000) + 400, height: height + 300 };
}

function layout() {
  const extent = pageExtent();
  const width = extent.width;
  // At least as tall as the view, so that the margin line runs to its bottom.
  const height = Math.max(extent.height, Math.ceil(scroller.clientHeight / SY));
  // Setting an attribute, even to the value it has, lays the whole drawing out again.
  const box = `0 0 ${width} ${height}`;
  // A file drawn afresh has a new margin line, though the box may be the same as the last file's.
  if (layers.margin.getAttribute('y2') !== String(height)) layers.margin.setAttribute('y2', height);
  if (svg.getAttribute('viewBox') === box) return;
  svg.setAttribute('viewBox', box);
  svg.setAttribute('width', (width * SX).toFixed(1));
  svg.setAttribute('height', (height * SY).toFixed(1));
}

function drawFile() {
  svg.replaceChildren();
  drawnAnnotations = new Map();
  drawnLines = new Map();
  const textGroup = svgNode('g', { transform: `scale(1 ${TEXT_RATIO})` }, svg);
  layers = {
    text: svgNode('g', {}, textGroup),
    margin: svgNode('line', { class: 'margin', x1: MARGIN_COLUMN * UNIT, x2: MARGIN_COLUMN * UNIT, y1: 0, y2: 0, 'vector-effect': 'non-scaling-stroke' }, svg),
    strokes: svgNode('g', {}, svg),
    comments: svgNode('g', { transform: `scale(1 ${TEXT_RATIO})` }, svg),
    cursor: svgNode('rect', { class: 'cursor', width: UNIT, height: UNIT, 'vector-effect': 'non-scaling-stroke' }, svg),
  };
  if (submission.files[fileIndex].kind === 'B') {
    layers.margin.remove();
    noticeNode(NON_ASCII_NOTICE, layers.text);
  }
  layout();
  drawVisibleLines();
  drawAnnotations();
}

// Only the lines in view (and a few beyond) are in the document: a long file costs what a
// screenful costs.
function drawVisibleLines() {
  if (submission.files[fileIndex].kind === 'B') return;
  const page = pages[fileIndex];
  const linePixels = UNIT * SY;
  const first = Math.max(0, Math.floor(scroller.scrollTop / linePixels) - OVERSCAN);
  const last = Math.min(page.lineCount - 1, Math.ceil((scroller.scrollTop + scroller.clientHeight) / linePixels) + OVERSCAN);
  for (const [n, node] of drawnLines)
    if (n < first || n > last) {
      node.remove();
      drawnLines.delete(n);
    }
  const fragment = document.createDocumentFragment();
  for (let n = first; n <= last; n++) {
    if (drawnLines.has(n)) continue;
    const laid = page.line(n);
    if (!laid.text) continue;
    drawnLines.set(n, textNode(laid, 0, n * UNIT, 'source', fragment));
  }
  layers.text.append(fragment);
}

// The drawing of one annotation, made once and kept while the annotation is unchanged, so that
// an edit touches only what it changed.
let drawnAnnotations = new Map();

function drawAnnotations() {
  const kept = new Map();
  const comments = [];
  const strokes = [];
  if (submission.files[fileIndex].kind !== 'B') // the student does not see them either
    annotations().forEach((a, i) => {
      const key = `${fileIndex}|${i === selection}|${JSON.stringify(a)}`;
      let pile = kept.get(key);
      if (!pile) kept.set(key, (pile = []));
      const reused = drawnAnnotations.get(key);
      const node = (reused && reused.pop()) || annotationNode(a, i === selection);
      node.setAttribute('data-index', i);
      node.removeAttribute('transform');
      pile.push(node);
      (a.type === 'comment' ? comments : strokes).push(node);
    });
  drawnAnnotations = kept;
  reconcile(layers.comments, comments);
  reconcile(layers.strokes, strokes);
}

function drawCursor() {
  layers.cursor.setAttribute('x', cursor.x);
  layers.cursor.setAttribute('y', cursor.y);
}

// Draws what changed; the mark and detail fields are left alone while the marker types in them,
// unless `fields` (after undo and redo, which change them from outside).
function refresh(fields = false) {
  const current = state();
  if (selection >= annotations().length) selection = -1;
  layout();
  drawAnnotations();
  drawCursor();
  if (fields || document.activeElement !== $('mark')) $('mark').value = current.mark ?? '';
  if (fields || document.activeElement !== $('detail')) $('detail').value = current.detail;
  $('undo').disabled = !history.canUndo;
  $('redo').disabled = !history.canRedo;
  document.body.classList.toggle('dirty', dirty());
  $('status').textContent = (dirty() ? 'Unsaved changes. ' : 'Saved. ') +
    (submission.marking.markedBy ? `Last saved by ${submission.marking.markedBy}, version ${version}.` : 'Not marked yet.');
}

// ---- pointer -------------------------------------------------------------------------------
function pagePoint(event) {
  const box = svg.getBoundingClientRect();
  return { x: (event.clientX - box.left) / SX, y: (event.clientY - box.top) / SY };
}

function cellOf(point) {
  return { x: Math.max(0, Math.floor(point.x / UNIT) * UNIT), y: Math.max(0, Math.floor(point.y / UNIT) * UNIT) };
}

function distanceToSegment(p, a, b) {
  const dx = (b.x - a.x) * SX, dy = (b.y - a.y) * SY;
  const px = (p.x - a.x) * SX, py = (p.y - a.y) * SY;
  const length = dx * dx + dy * dy;
  const t = length ? Math.max(0, Math.min(1, (px * dx + py * dy) / length)) : 0;
  return Math.hypot(px - t * dx, py - t * dy);
}

// The topmost annotation under a page point.
function hit(point) {
  const items = annotations();
  for (let i = items.length - 1; i >= 0; i--) {
    const a = items[i];
    if (a.type === 'comment') {
      const size = commentSize(a.text);
      if (point.x >= a.x && point.x < a.x + size.width && point.y >= a.y && point.y < a.y + size.height) return i;
    } else {
      const pts = a.points.map(([dx, dy]) => ({ x: a.x + dx, y: a.y + dy }));
      for (let k = 0; k < pts.length; k++)
        if (distanceToSegment(point, pts[k], pts[Math.min(k + 1, pts.length - 1)]) <= 5) return i;
    }
  }
  return -1;
}

function tool() {
  return document.querySelector('input[name=tool]:checked').value;
}

function setTool(name) {
  document.querySelector(`input[name=tool][value=${name}]`).checked = true;
  if (name !== 'select') select(-1);
}

function select(index) {
  selection = index;
  drawAnnotations();
}

function strokeFrom(points) {
  const xs = points.map((p) => p.x), ys = points.map((p) => p.y);
  const x = Math.min(...xs), y = Math.min(...ys);
  return {
    type: 'stroke', x, y, width: Math.max(...xs) - x, height: Math.max(...ys) - y,
    points: points.map((p) => [p.x - x, p.y - y]),
  };
}

function editable() {
  return submission.files[fileIndex].kind !== 'B';
}

svg.addEventListener('pointerdown', (event) => {
  if (event.button !== 0 || !editable()) return;
  if (editing) finishEditing(true);
  const point = pagePoint(event);
  const rounded = { x: Math.round(point.x), y: Math.round(point.y) };
  scroller.focus({ preventScroll: true });
  if (tool() === 'comment') {
    cursor = cellOf(point);
    drawCursor();
    startEditing(-1, cursor.x, cursor.y, '');
    event.preventDefault();
  } else if (tool() === 'pen') {
    drawing = { points: [rounded], node: svgNode('polyline', { class: 'stroke', 'vector-effect': 'non-scaling-stroke' }, layers.strokes) };
    drawing.node.setAttribute('points', `${rounded.x},${rounded.y}`);
    svg.setPointerCapture(event.pointerId);
  } else {
    const index = hit(point);
    select(index);
    if (index >= 0) {
      dragging = { start: point, original: structuredClone(annotations()[index]), moved: false };
      svg.setPointerCapture(event.pointerId);
    }
  }
});

svg.addEventListener('pointermove', (event) => {
  if (drawing) {
    // Every coalesced sample counts (a pen or a fast mouse gives several per event).
    const samples = event.getCoalescedEvents ? event.getCoalescedEvents() : [event];
    for (const sample of samples.length ? samples : [event]) {
      const p = pagePoint(sample);
      const point = { x: Math.round(p.x), y: Math.round(p.y) };
      const last = drawing.points[drawing.points.length - 1];
      // Points closer than one page unit to the last one add nothing.
      if (Math.hypot(point.x - last.x, point.y - last.y) < 1) continue;
      drawing.points.push(point);
    }
    drawing.node.setAttribute('points', drawing.points.map((p) => `${p.x},${p.y}`).join(' '));
  } else if (dragging) {
    const p = pagePoint(event);
    const dx = Math.round(p.x - dragging.start.x), dy = Math.round(p.y - dragging.start.y);
    const moving = layers.strokes.querySelector(`[data-index="${selection}"]`) ||
      layers.comments.querySelector(`[data-index="${selection}"]`);
    dragging.moved = dx !== 0 || dy !== 0;
    dragging.delta = { dx, dy };
    // Comments sit in the text group, whose units down are 1 / TEXT_RATIO page units.
    if (moving)
      moving.setAttribute('transform', moving.parentNode === layers.comments
        ? `translate(${dx} ${dy / TEXT_RATIO})` : `translate(${dx} ${dy})`);
  }
});

function endPointer() {
  if (drawing) {
    const points = drawing.points;
    drawing = null;
    if (points.length > 1) change((s) => s.files[fileIndex].annotations.push(strokeFrom(points)));
    else drawAnnotations();
  } else if (dragging) {
    const { moved, delta, original } = dragging;
    dragging = null;
    if (moved) moveSelection(delta.dx, delta.dy, original);
    else drawAnnotations();
  }
}
svg.addEventListener('pointerup', endPointer);
svg.addEventListener('pointercancel', endPointer);

svg.addEventListener('dblclick', (event) => {
  if (tool() !== 'select') return;
  const index = hit(pagePoint(event));
  if (index >= 0 && annotations()[index].type === 'comment') editSelected(index);
});

// Comments snap to cells when moved, as they are placed; strokes move by whole units.
function moveSelection(dx, dy, original = annotations()[selection]) {
  const index = selection;
  change((s) => {
    const a = s.files[fileIndex].annotations[index];
    a.x = original.x + dx;
    a.y = original.y + dy;
    if (a.type === 'comment') {
      a.x = Math.max(0, Math.round(a.x / UNIT) * UNIT);
      a.y = Math.max(0, Math.round(a.y / UNIT) * UNIT);
    }
  });
}

function deleteSelection() {
  if (selection < 0) return;
  const index = selection;
  selection = -1;
  change((s) => s.files[fileIndex].annotations.splice(index, 1));
}

// ---- comments ------------------------------------------------------------------------------
function startEditing(index, x, y, text) {
  editing = { index, x, y };
  editor.hidden = false;
  editor.style.left = `${x * SX}px`;
  editor.style.top = `${y * SY}px`;
  editor.value = text;
  editor.focus();
}

function editSelected(index = selection) {
  const a = annotations()[index];
  if (!a || a.type !== 'comment') return;
  selection = index;
  startEditing(index, a.x, a.y, a.text);
}

function placeComment(x, y, text) {
  const size = commentSize(text);
  change((s) => s.files[fileIndex].annotations.push({ type: 'comment', x, y, ...size, text }));
  bank.remember(text);
}

function finishEditing(keep) {
  if (!editing) return;
  const { index, x, y } = editing;
  const text = editor.value.replace(/\r\n?/g, '\n').replace(/\n+$/, '');
  editing = null;
  editor.hidden = true;
  scroller.focus({ preventScroll: true });
  if (!keep) return;
  if (index < 0) {
    if (text.trim()) placeComment(x, y, text);
  } else if (text !== annotations()[index].text) {
    if (!text.trim()) {
      selection = index;
      deleteSelection();
    } else {
      change((s) => Object.assign(s.files[fileIndex].annotations[index], { text, ...commentSize(text) }));
      bank.remember(text);
    }
  }
}

editor.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    finishEditing(true);
  } else if (event.key === 'Escape') {
    event.preventDefault();
    finishEditing(false);
  }
  event.stopPropagation();
});
editor.addEventListener('blur', () => setTimeout(() => editing && document.activeElement !== editor && finishEditing(true), 0));

// ---- comment bank --------------------------------------------------------------------------
function placeFromBank(text) {
  if (!editable()) return;
  placeComment(cursor.x, cursor.y, text);
  cursor = { x: cursor.x, y: cursor.y + commentSize(text).height };
  drawCursor();
}

// ---- keys ----------------------------------------------------------------------------------
function typingIn(target) {
  return target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement || target instanceof HTMLSelectElement;
}

function scrollToCursor() {
  const top = cursor.y * SY, left = cursor.x * SX;
  if (top < scroller.scrollTop || top + 20 > scroller.scrollTop + scroller.clientHeight)
    scroller.scrollTop = top - scroller.clientHeight / 2;
  if (left < scroller.scrollLeft || left + 20 > scroller.scrollLeft + scroller.clientWidth)
    scroller.scrollLeft = left - scroller.clientWidth / 2;
}

document.addEventListener('keydown', (event) => {
  const key = event.key;
  const control = event.ctrlKey || event.metaKey;
  if (control && key.toLowerCase() === 's') {
    event.preventDefault();
    save(event.shiftKey);
    return;
  }
  if (control && (key.toLowerCase() === 'z' || key.toLowerCase() === 'y')) {
    if (typingIn(event.target) && event.target.id !== 'mark') return; // the field's own undo
    event.preventDefault();
    if (key.toLowerCase() === 'y' || event.shiftKey) redo();
    else undo();
    return;
  }
  if (typingIn(event.target) || control || event.altKey || $('conflict').open) return;
  const arrows = { ArrowLeft: [-UNIT, 0], ArrowRight: [UNIT, 0], ArrowUp: [0, -UNIT], ArrowDown: [0, UNIT] };
  if (arrows[key]) {
    event.preventDefault();
    const [dx, dy] = arrows[key];
    if (tool() === 'select' && selection >= 0) moveSelection(dx, dy);
    else {
      cursor = { x: Math.max(0, cursor.x + dx), y: Math.max(0, cursor.y + dy) };
      drawCursor();
      scrollToCursor();
    }
    return;
  }
  const actions = {
    c: () => setTool('comment'),
    d: () => setTool('pen'),
    s: () => setTool('select'),
    a: () => { setTool('select'); cycleSelection(1); },
    A: () => { setTool('select'); cycleSelection(-1); },
    Enter: () => (tool() === 'select' ? editSelected() : editable() && startEditing(-1, cursor.x, cursor.y, '')),
    Delete: deleteSelection,
    Backspace: deleteSelection,
    m: () => $('mark').focus(),
    ']': () => showFile(fileIndex + 1),
    '[': () => showFile(fileIndex - 1),
    j: () => goTo(neighbour(1)),
    k: () => goTo(neighbour(-1)),
  };
  if (actions[key]) {
    event.preventDefault();
    actions[key]();
  }
});

function cycleSelection(step) {
  const count = annotations().length;
  if (!count) return;
  select(selection < 0 ? (step > 0 ? 0 : count - 1) : (selection + step + count) % count);
  const a = annotations()[selection];
  cursor = cellOf(a);
  drawCursor();
  scrollToCursor();
}

function undo() {
  if (history.undo()) refresh(true);
}

function redo() {
  if (history.redo()) refresh(true);
}

// ---- files and submissions -------------------------------------------------------------------
function showFile(index) {
  if (index < 0 || index >= submission.files.length) return;
  fileIndex = index;
  selection = -1;
  $('file').value = String(index);
  scroller.scrollTo(0, 0);
  drawFile();
  refresh();
}

function neighbour(step) {
  if (!list) return null;
  const at = list.submissions.findIndex((s) => s.serial === serial);
  return list.submissions[at + step] || null;
}

function nextUnmarked() {
  if (!list) return null;
  const at = list.submissions.findIndex((s) => s.serial === serial);
  const order = [...list.submissions.slice(at + 1), ...list.submissions.slice(0, Math.max(at, 0))];
  return order.find((s) => !s.marked && s.serial !== serial) || null;
}

function entryUrl() {
  return `/entry.html?course=${course}&entry=${encodeURIComponent(entry)}`;
}

function goTo(target, alreadySaved = false) {
  if (!alreadySaved && dirty() && !confirm('This marking has unsaved changes. Leave it without saving?')) return;
  saved = JSON.stringify(state()); // asked already: no second question on unload
  location.href = target ? `/mark.html?course=${course}&entry=${encodeURIComponent(entry)}&serial=${target.serial}` : entryUrl();
}

window.addEventListener('beforeunload', (event) => {
  if (history && dirty()) {
    event.preventDefault();
    event.returnValue = '';
  }
});

// ---- saving --------------------------------------------------------------------------------
function accept(reply) {
  submission.marking = reply.marking;
  version = reply.marking.version;
  const now = markingFromApi(reply);
  history.replaceCurrent(now);
  saved = JSON.stringify(now);
  if (list) {
    const row = list.submissions.find((s) => s.serial === serial);
    if (row) Object.assign(row, { marked: true, mark: now.mark, markedBy: reply.marking.markedBy });
  }
  refresh();
  showHistory();
}

// ---- history of saved versions ---------------------------------------------------------------
function showHistory() {
  showVersions($('versions'), {
    serial, admin: marker.admin, current: version, maxMark: submission.maxMark, restore,
  }).catch((failure) => showError($('error'), failure));
}

async function restore(older) {
  if (dirty() && !confirm('This marking has unsaved changes. Restore the older version over them?')) return;
  const error = $('error');
  error.hidden = true;
  try {
    accept(await api('POST', `/api/submissions/${serial}/versions/${older}/restore`, { version }));
    refresh(true);
    $('status').textContent = `Version ${older} restored as version ${version}.`;
  } catch (failure) {
    if (failure instanceof ApiError && failure.status === 409)
      showError(error, 'Someone saved this marking since you opened it: reload the page to see their version before restoring.');
    else showError(error, failure);
  }
}

async function save(thenNext = false, basedOn = version) {
  if (editing) finishEditing(true);
  if (!commitFields()) {
    $('mark').focus();
    return false;
  }
  const error = $('error');
  error.hidden = true;
  const s = state();
  if (s.mark === null || s.mark === undefined || Number.isNaN(s.mark)) {
    showError(error, `Give a mark from 0 to ${submission.maxMark} before saving.`);
    $('mark').focus();
    return false;
  }
  try {
    accept(await api('PUT', `/api/submissions/${serial}/marking`, saveBody(s, basedOn)));
    $('status').textContent = `Saved (version ${version}).`;
    if (thenNext) goTo(nextUnmarked(), true);
    return true;
  } catch (failure) {
    if (failure instanceof ApiError && failure.status === 409 && failure.body && failure.body.current)
      conflict(failure.body, thenNext);
    else showError(error, failure);
    return false;
  }
}

function bytesOf(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

function conflict(body, thenNext) {
  const saved = body.current;
  showConflict({
    why: body.error,
    mine: state(),
    theirs: markingFromApi(saved),
    saved: saved.marking,
    maxMark: submission.maxMark,
    keepMine: () => save(thenNext, saved.marking.version),
    keepBoth: () => {
      const extra = onlyIn(markingFromApi(saved).files, state().files);
      change((s) => s.files.forEach((f, i) => f.annotations.push(...extra[i])));
      save(thenNext, saved.marking.version);
    },
    takeTheirs: () => {
      const mine = state();
      accept(saved);
      // Theirs is now the saved state; mine stays one undo away.
      history.pushUnder(mine);
      refresh(true);
    },
  });
}

// The mark and detail as typed become part of the marking, whether or not the field was left:
// what the marker sees is what a save sends. False (with the reason shown) for a mark out of range.
function commitFields() {
  const text = $('mark').value.trim();
  const value = text === '' ? null : Number(text);
  if (value !== null && (!Number.isInteger(value) || value < 0 || value > submission.maxMark)) {
    showError($('error'), `The mark must be a whole number from 0 to ${submission.maxMark}.`);
    return false;
  }
  $('error').hidden = true;
  const detail = $('detail').value;
  if (value !== state().mark || detail !== state().detail)
    change((s) => {
      s.mark = value;
      s.detail = detail;
    });
  return true;
}

// ---- start -----------------------------------------------------------------------------------
function bindControls() {
  for (const radio of document.querySelectorAll('input[name=tool]'))
    radio.addEventListener('change', () => setTool(radio.value));
  $('undo').addEventListener('click', undo);
  $('redo').addEventListener('click', redo);
  $('save').addEventListener('click', () => save(false));
  $('save-next').addEventListener('click', () => save(true));
  $('previous').addEventListener('click', () => goTo(neighbour(-1)));
  $('next').addEventListener('click', () => goTo(neighbour(1)));
  $('file').addEventListener('change', () => showFile(Number($('file').value)));
  $('mark').addEventListener('change', commitFields);
  $('detail').addEventListener('change', commitFields);
  let pending = false;
  scroller.addEventListener('scroll', () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      drawVisibleLines();
    });
  });
}

async function load() {
  let courses;
  [marker, submission, { courses }] = await Promise.all([early.marker, early.submission, early.courses]);
  const known = courses.find((c) => c.number === submission.course);
  const entryName = known && entryNames(known.entries).get(submission.entry);
  document.title = `${studentLabel(submission)} — ${entryName || 'entry ' + submission.entry} — Tallyport marking`;
  $('title').textContent = `${entryName ? entryName + ': ' : ''}${studentLabel(submission)}, serial ${serial}`;
  $('back').href = entryUrl();
  $('max').textContent = submission.maxMark;
  $('mark').max = String(submission.maxMark);
  pages = submission.files.map((f) => new FilePage(bytesOf(f.content), f.tabWidth));
  $('file').replaceChildren(...submission.files.map((f, i) => el('option', { value: String(i) }, f.name)));
  version = submission.marking.version;
  const initial = markingFromApi(submission);
  history = new History(initial);
  saved = JSON.stringify(initial);
  bank = new CommentBank($('bank'), `bank:${marker.id}:${course}:${entry}`, placeFromBank);
  if (submission.marking.markedBy === marker.id)
    for (const f of initial.files)
      for (const a of f.annotations) if (a.type === 'comment' && !bank.texts().includes(a.text)) bank.remember(a.text);
  bank.draw();
  bindControls();
  showFile(0);
  showHistory();
  scroller.focus();
  document.body.dataset.ready = 'true';
  // Drawn once the frame holding the page has been painted.
  requestAnimationFrame(() => setTimeout(() => performance.mark('page-drawn'), 0));
  // The neighbours are known once the entry's list is in.
  list = await api('GET', `/api/courses/${course}/entries/${encodeURIComponent(entry)}/submissions`);
  $('previous').disabled = !neighbour(-1);
  $('next').disabled = !neighbour(1);
}

load().catch((failure) => showError($('error'), failure));
