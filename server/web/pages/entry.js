import { anonymous, api, el, session, setAnonymous, showError, studentLabel } from '/api.js';
import { entryNames } from '/entry-name.js';

const params = new URLSearchParams(location.search);
const course = Number(params.get('course'));
const entry = params.get('entry') || '';
const error = document.getElementById('error');
const unmarkedBox = document.getElementById('only-unmarked');
const mineBox = document.getElementById('only-mine');
const assignedBox = document.getElementById('only-assigned');
const status = document.getElementById('status');
const anonymousBox = document.getElementById('anonymous');
let marker = null;
let list = null;
let markers = []; // the course's markers, for an admin's allocation

export function markingUrl(serial) {
  return `/mark.html?course=${course}&entry=${encodeURIComponent(entry)}&serial=${serial}`;
}

function when(seconds) {
  return seconds ? new Date(seconds * 1000).toLocaleString() : '';
}

// "2 h 5 min", with days once it is a day or more.
export function lateness(seconds) {
  const minutes = Math.floor(seconds / 60);
  const parts = [];
  const days = Math.floor(minutes / 1440);
  const hours = Math.floor((minutes % 1440) / 60);
  if (days) parts.push(`${days} d`);
  if (hours || days) parts.push(`${hours} h`);
  parts.push(`${minutes % 60} min`);
  return parts.join(' ');
}

function lateBadge(s) {
  if (!s.lateBy || s.lateBy <= 0) return null;
  const text = `late (${lateness(s.lateBy)})`;
  return el('span', { class: 'badge late', title: `Submitted ${text} after the student's deadline` }, text);
}

function submissionsPath() {
  return `/api/courses/${course}/entries/${encodeURIComponent(entry)}`;
}

async function allocate(s, chosen) {
  try {
    await api('PUT', `${submissionsPath()}/allocation`, { student: s.student, marker: chosen || null });
    s.assignedTo = chosen || null;
    status.textContent = `${studentLabel(s)}: ${chosen ? `assigned to ${chosen}` : 'assigned to nobody'}.`;
  } catch (failure) {
    status.textContent = `${studentLabel(s)} was not allocated: ${failure.message}`;
    render();
  }
}

// An admin chooses the marker; everyone else reads who it is.
function assignedCell(s) {
  if (!marker.admin) return el('td', { class: 'assigned' }, s.assignedTo || '—');
  const select = el('select', {
    'aria-label': `Marker of ${studentLabel(s)}`,
    onchange: (event) => allocate(s, event.target.value),
  }, el('option', { value: '' }, '(nobody)'),
  markers.map((m) => el('option', { value: m.id }, m.id)));
  select.value = s.assignedTo || '';
  return el('td', { class: 'assigned' }, select);
}

function render() {
  const shown = list.submissions.filter((s) =>
    (!unmarkedBox.checked || !s.marked) && (!mineBox.checked || s.markedBy === marker.id) &&
    (!assignedBox.checked || s.assignedTo === marker.id));
  document.getElementById('submissions').replaceChildren(...shown.map((s) =>
    el('tr', { class: s.marked ? 'marked' : 'unmarked', 'data-serial': String(s.serial) },
      el('td', {}, el('a', { href: markingUrl(s.serial) }, studentLabel(s))),
      el('td', {}, when(s.submitted), lateBadge(s)),
      el('td', {}, s.deadline ? when(s.deadline) : 'none'),
      el('td', { class: 'number' }, s.files),
      el('td', { class: 'number' }, s.marked ? `${s.mark}/${list.maxMark}` : '—'),
      el('td', {}, s.markedBy || ''),
      assignedCell(s))));
  const marked = list.submissions.filter((s) => s.marked).length;
  const byMarker = new Map();
  for (const s of list.submissions)
    if (s.markedBy) byMarker.set(s.markedBy, (byMarker.get(s.markedBy) || 0) + 1);
  const shares = [...byMarker].map(([id, n]) => `${id === marker.id ? 'you' : id} ${n}`).join(', ');
  document.getElementById('progress').textContent =
    `${marked} of ${list.submissions.length} marked` + (shares ? ` (${shares})` : '');
  const first = list.submissions.find((s) => !s.marked);
  const start = document.getElementById('start');
  start.hidden = !first;
  if (first) start.href = markingUrl(first.serial);
}

async function readSubmissions() {
  list = await api('GET', `${submissionsPath()}/submissions`);
}

// The admin's even allocation among the ticked markers (all of the course's at first).
async function showAllocation() {
  ({ markers } = await api('GET', `/api/courses/${course}/markers`));
  document.getElementById('even-markers').append(...markers.map((m) =>
    el('label', { class: 'check' },
      el('input', { type: 'checkbox', name: 'even-marker', value: m.id, checked: '' }), ` ${m.id}`)));
  document.getElementById('allocation').hidden = false;
}

document.getElementById('allocate-evenly').addEventListener('click', async () => {
  const chosen = [...document.querySelectorAll('input[name=even-marker]:checked')].map((box) => box.value);
  if (!chosen.length) {
    status.textContent = 'Tick at least one marker.';
    return;
  }
  try {
    const before = list.submissions.filter((s) => !s.assignedTo).length;
    await api('POST', `${submissionsPath()}/allocation/even`, { markers: chosen });
    await readSubmissions();
    render();
    status.textContent = `${before} ${before === 1 ? 'submission' : 'submissions'} allocated among ${chosen.join(', ')}.`;
  } catch (failure) {
    status.textContent = `Nothing was allocated: ${failure.message}`;
  }
});

async function load() {
  marker = await session();
  if (marker.admin) await showAllocation();
  const [, { courses }] = await Promise.all([readSubmissions(), api('GET', '/api/courses')]);
  const known = courses.find((c) => c.number === course);
  // The entry as the link named it: by key, or by its place in the course.
  const found = known && known.entries.find((e) => e.entry === entry || String(e.index) === entry);
  const name = (found && entryNames(known.entries).get(found.entry)) || `entry ${entry}`;
  const title = `${course} — ${name} (out of ${list.maxMark})`;
  document.getElementById('title').textContent = title;
  document.title = `${title} — Tallyport marking`;
  anonymousBox.checked = anonymous();
  render();
  document.body.dataset.ready = '1';
}

for (const box of [unmarkedBox, mineBox, assignedBox]) box.addEventListener('change', () => list && render());
anonymousBox.addEventListener('change', () => {
  setAnonymous(anonymousBox.checked);
  if (list) render();
});
load().catch((failure) => showError(error, failure));
