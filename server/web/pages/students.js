// A course's class list: every student with their state and what they submitted to each entry,
// a filter for who has not submitted to one entry, and (for admins) the import of a class list
// from CSV and a one-time password reset.
import { api, el, session, showError } from '/api.js';
import { entryNames } from '/entry-name.js';

const course = Number(new URLSearchParams(location.search).get('course'));
const error = document.getElementById('error');
const status = document.getElementById('status');
const filter = document.getElementById('not-submitted');
const passwordBox = document.getElementById('password-box');
let marker = null;
let entries = [];
let names = new Map();
let students = [];

function submittedTo(student, key) {
  return student.entries.find((e) => e.entry === key && e.submissions > 0);
}

function yesNo(value) {
  return value ? 'yes' : 'no';
}

async function resetPassword(student) {
  status.textContent = '';
  passwordBox.hidden = true;
  try {
    const answer = await api('POST', `/api/courses/${course}/students/${student.number}/reset-password`, {});
    document.getElementById('password-student').textContent = `${student.name || 'student'} (${answer.student})`;
    document.getElementById('password').textContent = answer.password;
    passwordBox.hidden = false;
    passwordBox.focus();
  } catch (failure) {
    status.textContent = `The password of ${student.number} was not reset: ${failure.message}`;
  }
}

function studentRow(student) {
  return el('tr', { 'data-student': String(student.number) },
    el('td', { class: 'number' }, student.number),
    el('td', {}, student.name || ''),
    el('td', {}, student.email || ''),
    el('td', {}, yesNo(student.listed)),
    el('td', {}, yesNo(student.registered)),
    entries.map((e) => {
      const found = submittedTo(student, e.entry);
      return el('td', { 'data-entry': e.entry }, found ? `yes (${found.submissions})` : '—');
    }),
    marker.admin ? el('td', {}, student.registered ? el('button', {
      type: 'button', class: 'reset',
      'aria-label': `Reset the password of student ${student.number}`,
      onclick: () => resetPassword(student),
    }, 'Reset password') : '') : null);
}

function render() {
  const key = filter.value;
  const shown = key ? students.filter((s) => !submittedTo(s, key)) : students;
  document.getElementById('students').replaceChildren(...shown.map(studentRow));
  status.textContent = key
    ? `${shown.length} of ${students.length} have not submitted to ${names.get(key)}.`
    : `${students.length} ${students.length === 1 ? 'student' : 'students'}.`;
}

async function readStudents() {
  ({ students } = await api('GET', `/api/courses/${course}/students`));
}

// The file's text as it is; the server checks it and names the line at fault.
async function importClassList(event) {
  event.preventDefault();
  const file = document.getElementById('import-file').files[0];
  const fault = document.getElementById('import-error');
  fault.hidden = true;
  if (!file) return showError(fault, 'Choose the CSV file of the class list.');
  try {
    const answer = await api('POST', `/api/courses/${course}/class-list`, { csv: await file.text() });
    await readStudents();
    render();
    status.textContent = `Imported ${answer.students} students from ${file.name}: ` +
      `${answer.added} added, ${answer.changed} changed, ${answer.removed} removed.`;
    event.target.reset();
  } catch (failure) {
    showError(fault, `${file.name} was not imported: ${failure.message}`);
  }
}

async function load() {
  marker = await session();
  document.getElementById('who').textContent = `${marker.name} (${marker.id})`;
  const [{ courses }] = await Promise.all([api('GET', '/api/courses'), readStudents()]);
  const found = courses.find((c) => c.number === course);
  if (!found) return showError(error, `Course ${course} is not one of yours.`);
  entries = found.entries;
  names = entryNames(entries);
  const title = `${found.number} ${found.name} — class list`;
  document.getElementById('title').textContent = title;
  document.title = `${title} — Tallyport marking`;
  const courseLink = document.getElementById('course-link');
  courseLink.href = `/course.html?course=${course}`;
  courseLink.hidden = !marker.admin;
  filter.append(...entries.map((e) => el('option', { value: e.entry }, names.get(e.entry))));
  document.getElementById('head').replaceChildren(el('tr', {},
    ['Number', 'Name', 'E-mail', 'On list', 'Registered'].map((h) => el('th', {}, h)),
    entries.map((e) => el('th', { scope: 'col' }, names.get(e.entry))),
    marker.admin ? el('th', {}, 'Password') : null));
  const importForm = document.getElementById('import');
  importForm.hidden = !marker.admin;
  if (marker.admin) importForm.addEventListener('submit', importClassList);
  render();
  document.getElementById('list').hidden = false;
  document.body.dataset.ready = '1';
}

filter.addEventListener('change', render);
document.getElementById('password-done').addEventListener('click', () => {
  passwordBox.hidden = true;
  document.getElementById('password').textContent = '';
});
load().catch((failure) => showError(error, failure));
