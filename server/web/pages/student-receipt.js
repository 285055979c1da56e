// A submission's receipt: serial, time, and every file's name, size and SHA-256, to print or keep
// as a text file. When the browser still has the bytes it sent, each digest is checked against
// the server's.
import { el, localTime } from './student-api.js';

export function serialText(serial) {
  return String(serial).padStart(4, '0');
}

async function sha256Hex(bytes) {
  if (!globalThis.crypto || !crypto.subtle) return null;
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
}

export function receiptText(receipt, entryName, student) {
  const lines = [
    'Tallyport submission receipt',
    `Entry: ${entryName}`,
    student ? `Student: ${student.number} ${student.name}` : null,
    `Serial: ${serialText(receipt.serial)}`,
    `Stored: ${localTime(receipt.time)} = ${receipt.time}`,
    receipt.late ? 'Late: yes' : null,
    '',
    ...receipt.files.map((f) => `${f.name}\t${f.size} bytes\tSHA-256 ${f.sha256}`),
  ];
  return lines.filter((line) => line !== null).join('\r\n') + '\r\n';
}

// The receipt's element; `sent` (the files as sent, when known) adds the digest check.
export async function receiptNode(receipt, entryName, student, sent = null) {
  const checks = sent ? await Promise.all(sent.map((f) => sha256Hex(f.content))) : [];
  const rows = receipt.files.map((f, i) => el('tr', {},
    el('td', { class: 'file-name' }, f.name),
    el('td', { class: 'number' }, f.size.toLocaleString()),
    el('td', {}, el('code', { class: 'digest' }, f.sha256),
      checks[i] ? el('span', { class: checks[i] === f.sha256 ? 'same' : 'error' },
        checks[i] === f.sha256 ? ' ✓ matches what your browser sent' : ' ✗ differs from what your browser sent: submit again') : null)));
  const text = receiptText(receipt, entryName, student);
  const save = el('a', { class: 'button-like', download: `receipt-${serialText(receipt.serial)}.txt` }, 'Save receipt as a file');
  save.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  return el('section', { class: 'receipt', 'aria-label': `Receipt for serial ${serialText(receipt.serial)}` },
    el('h3', {}, `Receipt: ${entryName}`),
    el('p', { class: 'serial' }, 'Serial # ', el('strong', { class: 'serial-number' }, serialText(receipt.serial))),
    el('p', {}, 'Stored ', el('time', { datetime: receipt.time }, localTime(receipt.time)),
      receipt.late ? el('span', { class: 'badge late' }, 'late') : null),
    el('div', { class: 'wide' }, el('table', {},
      el('thead', {}, el('tr', {}, el('th', {}, 'File'), el('th', {}, 'Bytes'), el('th', {}, 'SHA-256'))),
      el('tbody', {}, rows))),
    el('p', { class: 'hint' }, 'Keep this receipt: the serial and the SHA-256 digests show exactly what was stored.'),
    el('p', { class: 'no-print' },
      el('button', { type: 'button', onclick: () => window.print() }, 'Print receipt'), ' ', save));
}
