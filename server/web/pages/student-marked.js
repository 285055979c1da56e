// A student's marked work once the marks are released: the mark, the marker, the detail, and
// every file drawn as the desktop View draws it. Printing draws every line first.
import { el, localTime } from './student-api.js';
import { early } from './student-marked-start.js';
import { serialText } from './student-receipt.js';
import { entryNames } from './student-entry-name.js';
import { MarkedFileDrawing } from './student-marked-drawing.js';

const $ = (id) => document.getElementById(id);
const key = new URLSearchParams(location.search).get('entry') || '';
const drawings = [];

function markText(marking, maxMark) {
  if (marking.mark === null || marking.mark === undefined) return 'Submitted';
  return `Mark: ${marking.mark}/${maxMark}`;
}

function fileSection(file, index) {
  const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
  svg.setAttribute('class', 'page');
  svg.setAttribute('preserveAspectRatio', 'none');
  svg.setAttribute('role', 'img');
  const comments = (file.annotations || []).filter((a) => a.type === 'comment');
  svg.setAttribute('aria-label', `${file.name} with ${comments.length} comment${comments.length === 1 ? '' : 's'}`);
  const scroller = el('div', { class: 'page-scroller', tabindex: '0', 'aria-label': `${file.name}: scroll to read` }, svg);
  // Comments as text too, in line order, for screen readers and for reading on a small screen.
  const list = comments.length ? el('details', { class: 'comment-list' },
    el('summary', {}, `The ${comments.length} comment${comments.length === 1 ? '' : 's'} as a list`),
    el('ol', {}, comments.slice().sort((a, b) => a.y - b.y || a.x - b.x).map((c) =>
      el('li', {}, `Line ${Math.floor(c.y / 10) + 1}, column ${Math.floor(c.x / 10) + 1}: `, c.text)))) : null;
  const section = el('section', { class: 'marked-file', id: `file-${index}`, 'aria-label': file.name },
    el('h2', {}, file.name), scroller, list);
  return { section, svg, scroller };
}

async function start() {
  await early.student;
  let submission;
  try {
    submission = await early.submission;
  } catch (failure) {
    $('status').textContent = failure.status === 409 || failure.status === 404
      ? `${failure.message} Look again after your instructor says the marks are out.`
      : failure.message;
    document.body.dataset.ready = 'refused';
    return;
  }
  const marking = submission.marking || {};
  const course = await early.course.catch(() => null);
  const entry = course && course.entries.find((e) => e.key === key);
  $('title').textContent = entry ? `Marked: ${entryNames(course.entries).get(key)}` : 'Marked work';
  document.title = `Tallyport — ${$('title').textContent}`;
  $('mark').textContent = markText(marking, submission.maxMark);
  const marker = submission.marker || {};
  $('marker').textContent = [marker.name || marking.markedBy || '—', marker.info].filter(Boolean).join(', ');
  $('marked-at').textContent = marking.markedAt ? `, ${localTime(typeof marking.markedAt === 'number'
    ? new Date(marking.markedAt * 1000).toISOString() : marking.markedAt)}` : '';
  $('serial').textContent = serialText(submission.serial);
  $('detail').textContent = marking.detail || '';
  $('detail-box').hidden = !marking.detail;
  $('summary').hidden = false;
  $('status').textContent = '';
  const files = submission.files || [];
  $('file-links').replaceChildren(...files.flatMap((f, i) => [i ? ', ' : '', el('a', { href: `#file-${i}` }, f.name)]));
  for (const [index, file] of files.entries()) {
    const { section, svg, scroller } = fileSection(file, index);
    $('files').append(section);
    drawings.push(new MarkedFileDrawing(svg, scroller, file));
  }
  document.body.dataset.ready = '1';
  // For the benchmark: the first frame with the drawing in it.
  requestAnimationFrame(() => setTimeout(() => performance.mark('page-drawn'), 0));
}

// Printing needs every line of every file in the document, not only those in view.
// A wide page is shrunk as one picture to the paper's width, so no comment leaves its line.
const PRINT_WIDTH = 700; // CSS pixels across an A4 or Letter page inside its margins
window.addEventListener('beforeprint', () => {
  // The comments also as text on paper, under each file.
  for (const list of document.querySelectorAll('.comment-list:not([open])')) {
    list.open = true;
    list.dataset.openedForPrint = '1';
  }
});
window.addEventListener('afterprint', () => {
  for (const list of document.querySelectorAll('[data-opened-for-print]')) {
    list.open = false;
    delete list.dataset.openedForPrint;
  }
});
window.addEventListener('beforeprint', () => drawings.forEach((d) => {
  d.drawEverything(true);
  d.svg.style.zoom = String(Math.min(1, PRINT_WIDTH / Number(d.svg.getAttribute('width'))));
}));
window.addEventListener('afterprint', () => drawings.forEach((d) => {
  d.drawEverything(false);
  d.svg.style.zoom = '';
}));
$('print').addEventListener('click', () => window.print());

start().catch((failure) => {
  $('status').textContent = failure.message;
});
