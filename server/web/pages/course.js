// An admin's page for one course: each entry's dates, releasing its marks, students' own
// deadlines (extensions), the grades, as a table and as CSV, and the audit of changes. A marker
// who is not an admin sees none of it.
import { ApiError, api, el, session, showError } from '/api.js';
import { parseCsv } from '/csv.js';
import { entryNames } from '/entry-name.js';

const course = Number(new URLSearchParams(location.search).get('course'));
const error = document.getElementById('error');
const status = document.getElementById('status');
const entriesPath = `/api/courses/${course}/entries`;
const zone = Intl.DateTimeFormat().resolvedOptions().timeZone;
const dateFormat = new Intl.DateTimeFormat(undefined, {
  year: 'numeric', month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit', timeZoneName: 'short',
});
let names = new Map();
let pendingRelease = null; // the entry whose release waits for "Release anyway"

function when(seconds) {
  return seconds === null || seconds === undefined ? '—' : dateFormat.format(new Date(seconds * 1000));
}

function say(text) {
  status.textContent = text;
}

function failed(what, failure) {
  say(`${what}: ${failure instanceof Error ? failure.message : failure}`);
}

// The server's warning before a release, in the row of its entry, with the confirmation.
function releaseWarning(entry, text) {
  return el('div', { id: 'release-warning', class: 'warning in-row', role: 'alert' },
    el('p', { id: 'release-warning-text' }, text),
    el('button', { id: 'release-anyway', type: 'button', onclick: () => release(entry, true) }, 'Release anyway'),
    ' ',
    el('button', {
      id: 'release-cancel', type: 'button',
      onclick: () => {
        pendingRelease = null;
        showRow(entry);
        say('Nothing was released.');
      },
    }, 'Cancel'));
}

function entryRow(entry, warningText) {
  const released = entry.marksReleased;
  return el('tr', { id: `entry-${entry.index}`, 'data-entry': entry.entry },
    el('td', {}, names.get(entry.entry)),
    el('td', {}, el('code', {}, entry.entry)),
    el('td', {}, when(entry.opens)),
    el('td', {}, when(entry.deadline)),
    el('td', {}, when(entry.lateUntil)),
    el('td', { class: 'released' }, released ? 'released' : 'not released'),
    el('td', {}, el('button', {
      type: 'button',
      class: released ? 'unrelease' : 'release',
      'aria-label': `${released ? 'Unrelease' : 'Release'} the marks of ${names.get(entry.entry)}`,
      onclick: () => (released ? unrelease(entry) : release(entry, false)),
    }, released ? 'Unrelease' : 'Release'),
    warningText ? releaseWarning(entry, warningText) : null));
}

// The row replaced, with the keyboard focus on its new button (or on the warning's
// confirmation), so that a keyboard user who released or confirmed is back where they were.
function showRow(entry, warningText) {
  const row = entryRow(entry, warningText);
  document.getElementById(`entry-${entry.index}`).replaceWith(row);
  (warningText ? row.querySelector('#release-anyway') : row.querySelector('button')).focus();
}

// A warning still open in another row goes when another release starts.
function closeWarning() {
  if (pendingRelease) {
    const entry = pendingRelease;
    pendingRelease = null;
    document.getElementById(`entry-${entry.index}`).replaceWith(entryRow(entry));
  }
}

async function release(entry, force) {
  closeWarning();
  try {
    const answer = await api('POST', `${entriesPath}/${encodeURIComponent(entry.entry)}/release`,
      force ? { force: true } : {});
    entry.marksReleased = answer.marksReleased;
    showRow(entry);
    say(`The marks of ${names.get(entry.entry)} are released.`);
    showAudit();
  } catch (failure) {
    if (failure instanceof ApiError && failure.status === 409 && failure.body && 'stillSubmitting' in failure.body) {
      pendingRelease = entry;
      showRow(entry, `${names.get(entry.entry)}: ${failure.message}`);
      say('');
    } else {
      failed(`Releasing ${names.get(entry.entry)} failed`, failure);
    }
  }
}

async function unrelease(entry) {
  closeWarning();
  try {
    const answer = await api('POST', `${entriesPath}/${encodeURIComponent(entry.entry)}/unrelease`, {});
    entry.marksReleased = answer.marksReleased;
    showRow(entry);
    say(`The marks of ${names.get(entry.entry)} are withdrawn.`);
    showAudit();
  } catch (failure) {
    failed(`Unreleasing ${names.get(entry.entry)} failed`, failure);
  }
}

// One entry's extensions: the list with a Remove button each, and a form that grants or changes one.
function extensionSection(entry) {
  const name = names.get(entry.entry);
  const path = `${entriesPath}/${encodeURIComponent(entry.entry)}/extensions`;
  const list = el('ul', { class: 'extension-list' });
  const deadline = el('p', {});
  const studentId = `extension-student-${entry.index}`;
  const untilId = `extension-until-${entry.index}`;
  const student = el('input', { id: studentId, name: 'student', inputmode: 'numeric', pattern: '[0-9]+', required: '' });
  const until = el('input', { id: untilId, name: 'until', type: 'datetime-local', required: '' });

  function show(answer) {
    deadline.textContent = `Deadline: ${when(answer.deadline)}`;
    list.replaceChildren(...answer.extensions.map((x) =>
      el('li', {}, `Student ${x.student} until ${when(x.until)} `,
        el('button', {
          type: 'button', 'aria-label': `Remove the extension of student ${x.student} for ${name}`,
          onclick: () => change('DELETE', x.student, undefined, `Removed the extension of student ${x.student}.`),
        }, 'Remove'))));
    if (!answer.extensions.length) list.append(el('li', {}, 'No extensions.'));
  }

  async function change(method, number, body, done) {
    try {
      show(await api(method, `${path}/${encodeURIComponent(number)}`, body));
      say(`${name}: ${done}`);
      showAudit();
    } catch (failure) {
      failed(`${name}: the extension was not changed`, failure);
    }
  }

  const form = el('form', { class: 'extension-form' },
    el('label', { for: studentId }, 'Student number '), student,
    el('label', { for: untilId }, 'Deadline of this student '), until,
    el('button', { type: 'submit' }, 'Grant or change'));
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const seconds = Math.floor(new Date(until.value).getTime() / 1000);
    if (!Number.isFinite(seconds)) return say('Choose the date and time of the new deadline.');
    change('PUT', student.value.trim(), { until: seconds }, `Student ${student.value.trim()} has until ${when(seconds)}.`);
  });

  const details = el('details', { id: `extensions-${entry.index}`, 'data-entry': entry.entry },
    el('summary', {}, name), deadline, list, form);
  details.addEventListener('toggle', () => {
    if (details.open)
      api('GET', path).then(show, (failure) => failed(`${name}: the extensions could not be read`, failure));
  });
  return details;
}

// The grades CSV as a table: after number, name and e-mail, each entry has three columns
// ("KEY mark", "KEY status", "KEY late minutes"); the last is the total.
function gradeCell(mark, state, late) {
  if (mark === '' && state === '') return el('td', {}, '—');
  return el('td', { class: `grade ${state}` },
    mark === '' ? '—' : mark,
    late !== '' ? el('span', { class: 'badge late', title: `${late} minutes late` }, 'late') : null,
    el('span', { class: 'grade-state' }, state));
}

async function showGrades() {
  const response = await fetch(`/api/courses/${course}/grades.csv`, { credentials: 'same-origin' });
  if (!response.ok) return say(`The grades could not be read: HTTP ${response.status}`);
  const [header, ...rows] = parseCsv(await response.text());
  const keys = [];
  for (let i = 3; i + 2 < header.length; i += 3) keys.push(header[i].replace(/ mark$/, ''));
  document.getElementById('grades-head').replaceChildren(el('tr', {},
    el('th', {}, 'Number'), el('th', {}, 'Name'),
    keys.map((key) => el('th', { 'data-entry': key }, names.get(key) || key)),
    el('th', {}, 'Total')));
  document.getElementById('grades-body').replaceChildren(...rows.map((row) =>
    el('tr', { 'data-student': row[0] },
      el('td', { class: 'number' }, row[0]), el('td', {}, row[1]),
      keys.map((key, k) => gradeCell(row[3 + 3 * k], row[4 + 3 * k], row[5 + 3 * k])),
      el('td', { class: 'number total' }, row[header.length - 1]))));
}

// Who a row is about: a marker for changes of the staff, else a student.
function subject(row) {
  if (row.subject === null) return '—';
  return row.action.includes('marker') ? `marker ${row.subject}` : `student ${row.subject}`;
}

function markChange(row) {
  if (row.newMark === null) return '';
  const from = row.oldMark === null ? '' : `${row.oldMark} → `;
  return `${from}${row.newMark}` + (row.version === null ? '' : ` (version ${row.version})`);
}

async function showAudit() {
  try {
    const { audit } = await api('GET', `/api/courses/${course}/audit`);
    document.getElementById('audit').replaceChildren(...audit.map((row) =>
      el('tr', { 'data-action': row.action },
        el('td', {}, when(row.time)),
        el('td', {}, row.marker),
        el('td', {}, row.action),
        el('td', {}, row.entry === null ? 'whole course' : names.get(row.entry) || row.entry),
        el('td', {}, subject(row)),
        el('td', {}, markChange(row)))));
    if (!audit.length) document.getElementById('audit').append(el('tr', {}, el('td', { colspan: '6' }, 'No changes yet.')));
  } catch (failure) {
    failed('The audit could not be read', failure);
  }
}

async function load() {
  const marker = await session();
  document.getElementById('who').textContent = `${marker.name} (${marker.id})`;
  if (!marker.admin) {
    showError(error, 'Only an admin manages a course.');
    return;
  }
  const found = (await api('GET', '/api/courses')).courses.find((c) => c.number === course);
  if (!found) {
    showError(error, `Course ${course} is not one of yours.`);
    return;
  }
  names = entryNames(found.entries);
  document.getElementById('title').textContent = `${found.number} ${found.name} — manage`;
  document.getElementById('zone').textContent = `Times are in ${zone}.`;
  document.getElementById('entries').replaceChildren(...found.entries.map((entry) => entryRow(entry)));
  document.getElementById('extensions').replaceChildren(...found.entries.map(extensionSection));
  const grades = document.getElementById('grades');
  grades.href = `/api/courses/${course}/grades.csv`;
  grades.setAttribute('download', `grades-${course}.csv`);
  document.getElementById('students').href = `/students.html?course=${course}`;
  document.getElementById('markers').href = `/markers.html?course=${course}`;
  document.getElementById('manage').hidden = false;
  await Promise.all([showGrades(), showAudit()]);
  document.body.dataset.ready = '1';
}

load().catch((failure) => showError(error, failure));
