// The student's course: every entry with its opening, the student's own deadline (extension
// included), the late window and status, what was submitted, and the ways forward: submit,
// receipts, marked work once released, exam questions.
import { el, localTime, logOut, requireStudent, studentApi } from './student-api.js';
import { entryNames } from './student-entry-name.js';
import { receiptNode, serialText } from './student-receipt.js';
import { SubmitPanel } from './student-submit.js';

const $ = (id) => document.getElementById(id);
let student = null;
let names = new Map();
const entryName = (entry) => names.get(entry.key) || entry.key;

// Where the entry stands now, and what the student can do next.
function standing(entry, now = Date.now()) {
  const opens = entry.opens ? Date.parse(entry.opens) : null;
  const deadline = entry.deadline ? Date.parse(entry.deadline) : null;
  const lateUntil = entry.lateUntil ? Date.parse(entry.lateUntil) : null;
  if (entry.released) return ['released', 'Marks released', 'Your marked work is ready: open it below.'];
  if (opens !== null && now < opens) return ['closed', 'Not open yet', `Submissions open ${localTime(entry.opens)}.`];
  if (entry.open && deadline !== null && now > deadline && lateUntil !== null)
    return ['late', 'Late window', `The deadline has passed. You can still submit until ${localTime(entry.lateUntil)}; it will be marked late.`];
  if (entry.open)
    return ['open', 'Open', deadline !== null ? `Submit before ${localTime(entry.deadline)}. You can submit again until then; the latest submission counts.`
      : 'Submit when ready; the latest submission counts.'];
  return ['closed', 'Closed', entry.submissions.length
    ? 'Submissions are closed. Your marked work appears here once the marks are released.'
    : 'Submissions are closed and nothing was submitted. Talk to your instructor if you need an extension.'];
}

function submissionItem(entry, submission) {
  const files = submission.files.map((f) => f.name).join(', ');
  return el('li', { 'data-serial': submission.serial },
    `Serial ${serialText(submission.serial)}, ${localTime(submission.time)}`,
    submission.late ? el('span', { class: 'badge late' }, 'late') : null,
    el('br'), el('span', { class: 'hint' }, files), ' ',
    el('button', { type: 'button', class: 'link', 'aria-label': `Receipt for serial ${serialText(submission.serial)}`,
      onclick: () => showReceipt(entry, submission.serial) }, 'Receipt'));
}

async function showReceipt(entry, serial, sent = null, receipt = null) {
  const area = $('receipt-area');
  try {
    receipt = receipt || await studentApi('GET', `/api/student/submissions/${serial}`);
    const node = await receiptNode(receipt, entryName(entry), student, sent);
    const close = el('button', { type: 'button', class: 'no-print', onclick: () => area.replaceChildren() }, 'Close receipt');
    node.append(close);
    area.replaceChildren(node);
    node.scrollIntoView({ block: 'start' });
    node.querySelector('h3').setAttribute('tabindex', '-1');
    node.querySelector('h3').focus();
  } catch (failure) {
    area.replaceChildren(el('p', { class: 'message error', role: 'alert' }, failure.message));
  }
}

async function openSubmit(entry, card, button) {
  const holder = card.querySelector('.submit-holder');
  if (holder.firstChild) {
    holder.replaceChildren();
    button.setAttribute('aria-expanded', 'false');
    return;
  }
  button.disabled = true;
  try {
    const rules = await studentApi('GET', `/api/student/entries/${encodeURIComponent(entry.key)}/rules`);
    const panel = new SubmitPanel({ ...entry, name: entryName(entry) }, rules, async (receipt, sent) => {
      holder.replaceChildren();
      button.setAttribute('aria-expanded', 'false');
      await showReceipt(entry, receipt.serial, sent, receipt);
      $('status').textContent = `Your submission is stored: serial # ${serialText(receipt.serial)}. Keep the receipt.`;
      refresh();
    });
    holder.replaceChildren(panel.node);
    button.setAttribute('aria-expanded', 'true');
    const first = panel.node.querySelector('input, button');
    if (first) first.focus();
  } catch (failure) {
    holder.replaceChildren(el('p', { class: 'message error', role: 'alert' }, failure.message));
  } finally {
    button.disabled = false;
  }
}

async function showExam(entry, card) {
  const holder = card.querySelector('.exam-holder');
  try {
    const { files } = await studentApi('GET', `/api/student/entries/${encodeURIComponent(entry.key)}/exam`);
    holder.replaceChildren(files.length
      ? el('ul', { class: 'exam-files', 'aria-label': 'Exam question files' }, files.map((f, i) => el('li', {},
        el('a', { href: `/api/student/entries/${encodeURIComponent(entry.key)}/exam/${i}`, download: f.name }, f.name),
        ` (${f.size.toLocaleString()} bytes)`)))
      : el('p', {}, 'There are no exam question files for this entry yet.'));
  } catch (failure) {
    holder.replaceChildren(el('p', { class: 'message error', role: 'alert' }, failure.message));
  }
}

function entryCard(entry) {
  const name = entryName(entry);
  const [state, label, next] = standing(entry);
  const card = el('li', { class: 'entry-card', id: `entry-${entry.key}`, 'data-key': entry.key });
  const actions = el('div', { class: 'actions' });
  if (entry.open) {
    const submit = el('button', { type: 'button', class: 'primary submit-open', 'aria-expanded': 'false',
      'aria-controls': `holder-${entry.key}` }, `Submit ${name}`);
    submit.addEventListener('click', () => openSubmit(entry, card, submit));
    actions.append(submit);
  }
  if (entry.released && entry.submissions.length)
    actions.append(el('a', { class: 'button-like', href: `/student-marked.html?entry=${encodeURIComponent(entry.key)}` },
      `View marked ${name}`));
  if (entry.hasExam)
    actions.append(el('button', { type: 'button', class: 'exam-open', onclick: () => showExam(entry, card) }, 'Exam questions'));
  card.append(
    el('h2', {}, name, ' ', el('span', { class: `badge ${state}` }, label)),
    el('dl', { class: 'dates' },
      el('dt', {}, 'Opens'), el('dd', {}, entry.opens ? localTime(entry.opens) : 'no set date'),
      el('dt', {}, 'Your deadline'), el('dd', {}, localTime(entry.deadline), entry.extended ? ' (extended for you)' : ''),
      el('dt', {}, 'Late until'), el('dd', {}, entry.lateUntil ? localTime(entry.lateUntil) : 'no late submissions'),
      el('dt', {}, 'Out of'), el('dd', {}, String(entry.maxMark))),
    el('p', { class: 'next-step' }, next),
    entry.submissions.length
      ? el('div', {}, el('h3', {}, 'Your submissions'),
        el('ol', { class: 'submissions', reversed: '' }, entry.submissions.slice().reverse().map((s) => submissionItem(entry, s))))
      : el('p', { class: 'hint' }, 'Nothing submitted yet.'),
    actions,
    el('div', { class: 'submit-holder', id: `holder-${entry.key}` }),
    el('div', { class: 'exam-holder' }));
  return card;
}

async function refresh() {
  const course = await studentApi('GET', '/api/student/course');
  names = entryNames(course.entries);
  $('title').textContent = `${course.course} ${course.name}`;
  document.title = `Tallyport — ${course.name}`;
  // Keep open submit panels (and the files chosen in them) across a refresh.
  const open = new Map([...document.querySelectorAll('.entry-card')].map((card) => [card.dataset.key, card.querySelector('.submit-holder')]));
  $('entries').replaceChildren(...course.entries.map((entry) => {
    const card = entryCard(entry);
    const kept = open.get(entry.key);
    if (kept && kept.firstChild) {
      card.querySelector('.submit-holder').replaceWith(kept);
      card.querySelector('.submit-open')?.setAttribute('aria-expanded', 'true');
    }
    return card;
  }));
  $('status').textContent = $('status').textContent === 'Loading…' ? '' : $('status').textContent;
  document.body.dataset.ready = '1';
}

async function start() {
  student = await requireStudent();
  $('who').textContent = `${student.name}, student ${student.number}`;
  $('zone').textContent = `Times are shown in your time zone, ${Intl.DateTimeFormat().resolvedOptions().timeZone}.`;
  await refresh();
}

$('logout').addEventListener('click', logOut);
start().catch((failure) => {
  $('status').textContent = failure.message;
});
