// An admin's page of a course's markers: each with their progress per entry, a marker added (with
// their courses and whether they are an admin), removed, or given a new password.
import { api, el, session, showError } from '/api.js';
import { entryNames } from '/entry-name.js';

const course = Number(new URLSearchParams(location.search).get('course'));
const error = document.getElementById('error');
const status = document.getElementById('status');
const confirmBox = document.getElementById('remove-confirm');
let me = null;
let entries = [];
let names = new Map();
let pendingRemoval = null; // the marker whose removal waits for the confirmation

function say(text) {
  status.textContent = text;
}

function markerRow(marker) {
  return el('tr', { 'data-marker': marker.id },
    el('th', { scope: 'row' }, marker.id),
    el('td', {}, marker.name, marker.info ? el('span', { class: 'hint' }, ` <${marker.info}>`) : null),
    el('td', {}, marker.admin ? 'admin' : 'marker'),
    el('td', {}, marker.hasPassword ? 'set' : 'none'),
    entries.map((entry, i) => el('td', { class: 'number', 'data-entry': entry.entry },
      `${marker.progress[i] ? marker.progress[i].marked : 0} of ${entry.submitted}`)),
    el('td', {}, marker.id === me.id ? 'you' : el('button', {
      type: 'button', class: 'remove', 'aria-label': `Remove marker ${marker.id}`,
      onclick: () => askRemoval(marker),
    }, 'Remove')));
}

async function showMarkers() {
  const { markers } = await api('GET', `/api/courses/${course}/markers`);
  document.getElementById('head').replaceChildren(el('tr', {},
    ['Id', 'Name', 'Role', 'Password'].map((h) => el('th', { scope: 'col' }, h)),
    entries.map((e) => el('th', { scope: 'col', 'data-entry': e.entry }, names.get(e.entry))),
    el('th', { scope: 'col' }, 'Remove')));
  document.getElementById('markers').replaceChildren(...markers.map(markerRow));
  const select = document.getElementById('password-marker');
  const chosen = select.value;
  select.replaceChildren(...markers.map((m) => el('option', { value: m.id }, `${m.id} (${m.name})`)));
  if (markers.some((m) => m.id === chosen)) select.value = chosen;
}

function askRemoval(marker) {
  pendingRemoval = marker;
  document.getElementById('remove-text').textContent =
    `Remove marker ${marker.id} (${marker.name})? Their sessions end and the work allocated to them goes back to nobody; their markings stay.`;
  confirmBox.hidden = false;
  document.getElementById('remove-yes').focus();
}

document.getElementById('remove-no').addEventListener('click', () => {
  confirmBox.hidden = true;
  say(pendingRemoval ? `Marker ${pendingRemoval.id} was not removed.` : '');
  pendingRemoval = null;
});

document.getElementById('remove-yes').addEventListener('click', async () => {
  const marker = pendingRemoval;
  confirmBox.hidden = true;
  pendingRemoval = null;
  if (!marker) return;
  try {
    await api('DELETE', `/api/markers/${encodeURIComponent(marker.id)}`);
    say(`Marker ${marker.id} is removed.`);
    await showMarkers();
    document.getElementById('add-id').focus();
  } catch (failure) {
    say(`Marker ${marker.id} was not removed: ${failure.message}`);
  }
});

document.getElementById('add').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  const courses = [...form.querySelectorAll('input[name=course]:checked')].map((box) => Number(box.value));
  if (!courses.length) return say('Choose at least one course for the marker.');
  const field = (name) => document.getElementById(`add-${name}`);
  const body = {
    id: field('id').value.trim(), name: field('name').value.trim(), info: field('info').value.trim(),
    admin: field('admin').checked, courses, password: field('password').value,
  };
  try {
    const added = await api('POST', '/api/markers', body);
    say(`Marker ${added.id} is added${added.admin ? ' as an admin' : ''}.`);
    form.reset();
    document.getElementById(`add-course-${course}`).checked = true;
    await showMarkers();
  } catch (failure) {
    say(`The marker was not added: ${failure.message}`);
  }
});

document.getElementById('password-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const id = document.getElementById('password-marker').value;
  const password = document.getElementById('password-new');
  try {
    await api('PUT', `/api/markers/${encodeURIComponent(id)}/password`, { password: password.value });
    password.value = '';
    say(`The password of ${id} is set.`);
    await showMarkers();
  } catch (failure) {
    say(`The password of ${id} was not set: ${failure.message}`);
  }
});

async function load() {
  me = await session();
  document.getElementById('who').textContent = `${me.name} (${me.id})`;
  if (!me.admin) return showError(error, 'Only an admin manages the markers.');
  const { courses } = await api('GET', '/api/courses');
  const found = courses.find((c) => c.number === course);
  if (!found) return showError(error, `Course ${course} is not one of yours.`);
  entries = found.entries;
  names = entryNames(entries);
  const title = `${found.number} ${found.name} — markers`;
  document.getElementById('title').textContent = title;
  document.title = `${title} — Tallyport marking`;
  document.getElementById('course-link').href = `/course.html?course=${course}`;
  // A new marker may mark only courses the admin marks; this one is ticked.
  document.getElementById('add-courses').append(...courses.map((c) =>
    el('label', { class: 'check' },
      el('input', { type: 'checkbox', name: 'course', id: `add-course-${c.number}`, value: String(c.number) }),
      ` ${c.number} ${c.name}`)));
  document.getElementById(`add-course-${course}`).checked = true;
  await showMarkers();
  document.getElementById('manage').hidden = false;
  document.body.dataset.ready = '1';
}

load().catch((failure) => showError(error, failure));
