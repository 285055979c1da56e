// The "History" of a marking: every saved version, newest first, with who saved it and when (in
// the browser's zone). An admin may restore an older one; everyone else only reads.
import { api, el } from '/api.js';

const dateFormat = new Intl.DateTimeFormat(undefined, {
  year: 'numeric', month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit', second: '2-digit',
  timeZoneName: 'short',
});

// `restore(version)` is called by an admin's Restore button; `current` is the version now shown.
export async function showVersions(list, { serial, admin, current, maxMark, restore }) {
  const { versions } = await api('GET', `/api/submissions/${serial}/versions`);
  if (!versions.length) {
    list.replaceChildren(el('li', {}, 'Not marked yet: no versions.'));
    return;
  }
  list.replaceChildren(...versions.map((v) => el('li', { 'data-version': String(v.version) },
    el('strong', {}, `Version ${v.version}`), v.version === current ? ' (current)' : '', ': ',
    v.mark === null ? 'no mark' : `${v.mark}/${maxMark}`,
    ` by ${v.markedBy || '—'}`,
    v.markedAt ? `, ${dateFormat.format(new Date(v.markedAt * 1000))}` : '',
    v.detail ? el('div', { class: 'hint' }, `Detail: ${v.detail}`) : null,
    admin && v.version !== current ? el('button', {
      type: 'button', class: 'restore', 'aria-label': `Restore version ${v.version}`,
      onclick: () => restore(v.version),
    }, 'Restore') : null)));
}
