import { api, el, logout, session, showError } from '/api.js';
import { entryNames } from '/entry-name.js';

const error = document.getElementById('error');
document.getElementById('logout').addEventListener('click', logout);

function progress(entry) {
  const share = entry.submitted ? Math.round((100 * entry.marked) / entry.submitted) : 0;
  return el('td', {},
    el('progress', { max: String(Math.max(entry.submitted, 1)), value: String(entry.marked) }),
    ` ${share}%`);
}

async function load() {
  const marker = await session();
  document.getElementById('who').textContent = `${marker.name} (${marker.id})`;
  const { courses } = await api('GET', '/api/courses');
  const main = document.getElementById('courses');
  main.replaceChildren();
  for (const course of courses) {
    const names = entryNames(course.entries);
    const rows = course.entries.map((entry) =>
      el('tr', {},
        el('td', {}, el('a', { href: `/entry.html?course=${course.number}&entry=${encodeURIComponent(entry.entry)}` },
          names.get(entry.entry))),
        el('td', { class: 'number' }, entry.submitted),
        el('td', { class: 'number' }, entry.marked),
        el('td', { class: 'number' }, entry.released),
        progress(entry),
        el('td', {}, entry.marksReleased ? 'released' : '')));
    main.append(el('section', {},
      el('h2', {}, `${course.number} ${course.name}`),
      marker.admin ? el('p', {}, el('a', { class: 'manage', href: `/course.html?course=${course.number}` },
        `Manage ${course.number}`)) : null,
      el('table', {},
        el('thead', {}, el('tr', {}, ['Entry', 'Submitted', 'Marked', 'Released', 'Progress', '']
          .map((h) => el('th', {}, h)))),
        el('tbody', {}, rows))));
  }
}

load().catch((failure) => showError(error, failure));
