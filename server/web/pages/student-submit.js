// The submit panel of one entry: files chosen or dropped, each tested as the desktop client tests
// it (the same messages), text files shown with their tab width, then the package built as the
// client builds it, checked against the size limit and sent with a progress bar.
import {
  ANY_FILES, MESSAGES, NAMED_FILES, NON_ASCII, PROJECT_FOLDER, RequiredFileSet, SINGLE_FILE,
  loadSubmissionFile, scanOrder,
} from './required-files.js';
import { nameRefusal, packageBytes, packageSize, toWindows1252 } from './submission-package.js';
import { drawnEnd, encodingOf } from './cells.js';
import { el, uploadPackage } from './student-api.js';

const KIND_HELP = {
  [SINGLE_FILE]: 'Choose the one file to submit.',
  [ANY_FILES]: 'Choose or drop one or more files; add more one at a time if you like.',
  [NAMED_FILES]: 'Choose a file for each required name below.',
  [PROJECT_FOLDER]: 'Choose your project\'s root folder: every file of a permitted type in it is taken.',
};

function sizeText(bytes) {
  return bytes === 1 ? '1 byte' : `${bytes.toLocaleString()} bytes`;
}

export function entryRules(rules) {
  const typeTable = typeof rules.typeTable === 'string' ? rules.typeTable
    : Array.isArray(rules.types) ? rules.types.join('/') : '';
  return new RequiredFileSet(typeTable, rules.requirement || '', rules.sizeLimited ?? rules.sizeLimit > 0);
}

export class SubmitPanel {
  // `entry` as the course gives it, `rules` as the rules route gives them; `stored(receipt)` is
  // called once the server has stored the submission.
  constructor(entry, rules, stored) {
    this.entry = entry;
    this.set = entryRules(rules);
    this.limit = this.set.sizeLimited && rules.sizeLimit > 0 ? rules.sizeLimit : this.set.sizeLimit();
    // The server takes no larger body in one upload: say so before sending, in the same words.
    if (rules.uploadCap > 0) this.limit = Math.min(this.limit, rules.uploadCap);
    this.stored = stored;
    this.files = this.set.kind === NAMED_FILES ? this.set.names.map(() => null) : [];
    this.id = `submit-${entry.key.replace(/[^A-Za-z0-9_-]/g, '_')}`;
    this.node = this.build();
    this.render();
  }

  build() {
    const id = this.id;
    this.message = el('p', { class: 'message', role: 'alert', id: `${id}-message`, hidden: '' });
    this.list = el('ol', { class: 'chosen', 'aria-label': 'Files to submit' });
    this.preview = el('div', { class: 'preview' });
    this.progress = el('progress', { max: 1, value: 0, hidden: '', 'aria-label': 'Upload progress' });
    this.progressText = el('span', { class: 'progress-text', role: 'status' });
    this.sendButton = el('button', { type: 'button', class: 'primary', onclick: () => this.send() }, 'Submit');
    const chooser = this.set.kind === NAMED_FILES ? null : this.fileInput(0, this.set.kind === ANY_FILES);
    const drop = el('div', { class: 'drop', tabindex: '-1' },
      KIND_HELP[this.set.kind], ' ', this.requirementText());
    drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
    drop.addEventListener('dragleave', () => drop.classList.remove('over'));
    drop.addEventListener('drop', (event) => {
      event.preventDefault();
      drop.classList.remove('over');
      this.dropped([...event.dataTransfer.files]);
    });
    return el('section', { class: 'submit-panel', id, 'aria-label': `Submit ${this.entry.name}` },
      drop, chooser ? el('p', { class: 'choose' }, chooser) : null, this.list, this.preview,
      el('p', { class: 'send' }, this.sendButton, ' ', this.progress, ' ', this.progressText), this.message);
  }

  requirementText() {
    const set = this.set;
    const types = set.types.slice().reverse().map((t) => `.${t.extension}`).join(', ');
    if (set.kind === NAMED_FILES) return `Required: ${set.names.join(', ')}.`;
    const permitted = set.extensions.length ? set.extensions.map((e) => `.${e}`).join(', ') : types;
    return permitted ? `Permitted: ${permitted}.` : '';
  }

  fileInput(slot, multiple) {
    const set = this.set;
    const label = set.kind === NAMED_FILES ? `Choose ${set.names[slot]}`
      : set.kind === PROJECT_FOLDER ? 'Choose folder' : multiple ? 'Add files' : 'Choose file';
    const input = el('input', { type: 'file', class: 'file-input', id: `${this.id}-input-${slot}` });
    if (multiple) input.multiple = true;
    if (set.kind === PROJECT_FOLDER) input.webkitdirectory = true;
    else if (set.acceptFor(slot)) input.accept = set.acceptFor(slot);
    input.addEventListener('change', () => {
      const files = [...input.files];
      input.value = '';
      if (set.kind === PROJECT_FOLDER) this.folderChosen(files);
      else this.chosen(files, slot);
    });
    return el('label', { class: 'button-like' }, label, input);
  }

  say(text, kind = 'error') {
    this.message.textContent = text;
    this.message.className = `message ${kind}`;
    this.message.hidden = !text;
  }

  // One file through the client's tests; the loaded file or null (the message already shown).
  async load(file, slot, name = file.name) {
    const set = this.set;
    const question = set.renameQuestion(file.name, slot);
    if (question && !window.confirm(question)) return null;
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      this.say(MESSAGES.unreadable(name));
      return null;
    }
    const refusal = set.refusal(file.name) || nameRefusal(set.kind === NAMED_FILES ? set.names[slot] : name);
    if (refusal) {
      this.say(refusal);
      return null;
    }
    return loadSubmissionFile(set, name, bytes, slot);
  }

  async chosen(files, slot) {
    this.say('');
    const set = this.set;
    for (const file of files) {
      if (set.kind === NAMED_FILES) {
        const target = this.files[slot] === null ? slot : this.files.indexOf(null);
        if (target < 0) {
          this.say(MESSAGES.allAdded, 'info');
          break;
        }
        const loaded = await this.load(file, target);
        if (loaded) this.files[target] = loaded;
      } else {
        const loaded = await this.load(file, 0);
        if (!loaded) break;
        if (set.kind === SINGLE_FILE) this.files = [loaded];
        else this.files.push(loaded);
      }
    }
    this.render();
  }

  // Dropped files go to the named slot they name, others to the first empty one.
  async dropped(files) {
    if (this.set.kind === PROJECT_FOLDER) {
      this.say('Drop does not take folders: press "Choose folder" and pick your project\'s root folder.');
      return;
    }
    if (this.set.kind !== NAMED_FILES) return this.chosen(this.set.kind === SINGLE_FILE ? files.slice(0, 1) : files, 0);
    for (const file of files) {
      const slot = this.set.names.findIndex((_, i) => this.set.initialName(i).toLowerCase() === file.name.toLowerCase());
      await this.chosen([file], slot >= 0 ? slot : Math.max(0, this.files.indexOf(null)));
    }
  }

  async folderChosen(files) {
    this.say('');
    const byPath = new Map();
    for (const file of files) {
      // The browser names files from the chosen folder itself: its own name is dropped.
      const path = (file.webkitRelativePath || file.name).split('/').slice(1).join('/') || file.name;
      byPath.set(path, file);
    }
    const unreadable = [];
    const taken = [];
    const encode = (text) => toWindows1252(text) || new TextEncoder().encode(text);
    for (const path of scanOrder(this.set, [...byPath.keys()], encode)) {
      const refusal = nameRefusal(path);
      if (refusal) {
        this.say(refusal);
        return this.render();
      }
      try {
        taken.push(loadSubmissionFile(this.set, path, new Uint8Array(await byPath.get(path).arrayBuffer()), 0));
      } catch {
        unreadable.push(path);
      }
    }
    if (unreadable.length)
      this.say(`These files could not be read and are left out of the submission:\n\t${unreadable.join('\n\t')}`);
    if (!taken.length) this.say(MESSAGES.noneFound + ' Choose the folder that holds your source files.');
    this.files = taken;
    this.render();
  }

  remove(index) {
    if (this.set.kind === NAMED_FILES) this.files[index] = null;
    else this.files.splice(index, 1);
    this.render();
  }

  render() {
    const set = this.set;
    this.list.replaceChildren(...this.files.map((file, i) => {
      const label = set.kind === NAMED_FILES ? set.names[i] : file.name;
      if (!file)
        return el('li', { class: 'slot empty' }, el('span', { class: 'name' }, label), ' — not chosen yet ',
          this.fileInput(i, false));
      const tab = file.contentKind === NON_ASCII ? null : el('label', { class: 'tab' }, 'Tab width ',
        el('input', {
          type: 'number', min: 0, max: 8, step: 1, value: file.tabWidth, inputmode: 'numeric',
          'aria-label': `Tab width of ${label}`,
          onchange: (event) => {
            const width = Math.max(0, Math.min(8, Math.trunc(Number(event.target.value)) || 0));
            file.tabWidth = width;
            event.target.value = width;
            this.showPreview(i);
          },
        }));
      return el('li', { class: 'slot' },
        el('button', { type: 'button', class: 'link', 'aria-label': `Show ${label}`, onclick: () => this.showPreview(i) }, label),
        ` ${sizeText(file.content.length)} `, tab, ' ',
        el('button', { type: 'button', 'aria-label': `Remove ${label}`, onclick: () => this.remove(i) }, 'Remove'));
    }));
    const ready = this.files.some(Boolean);
    this.sendButton.disabled = !ready;
    if (!ready) this.preview.replaceChildren();
  }

  // A text file as it will be submitted, tabs at its width; other files are not shown.
  showPreview(index) {
    const file = this.files[index];
    if (!file) return;
    if (file.contentKind === NON_ASCII) {
      this.preview.replaceChildren(el('p', {}, 'This is a non-ASCII file which can\'t be viewed.'));
      return;
    }
    const drawn = file.content.subarray(0, drawnEnd(file.content));
    const text = new TextDecoder(encodingOf(drawn)).decode(drawn);
    const pre = el('pre', { class: 'file-text', tabindex: '0', 'aria-label': `${file.name} as it will be submitted` }, text);
    pre.style.tabSize = String(file.tabWidth);
    this.preview.replaceChildren(el('p', { class: 'hint' }, `${file.name}, tab width ${file.tabWidth}:`), pre);
  }

  async send() {
    this.say('');
    if (this.set.kind === NAMED_FILES && this.files.includes(null)) {
      this.say(MESSAGES.missing);
      return;
    }
    const files = this.files.filter(Boolean);
    if (packageSize(files) > this.limit) {
      this.say(MESSAGES.tooLarge(this.limit));
      return;
    }
    const bytes = packageBytes(files);
    this.sendButton.disabled = true;
    this.progress.hidden = false;
    this.progress.value = 0;
    this.progressText.textContent = 'Sending…';
    try {
      const receipt = await uploadPackage(this.entry.key, bytes, (loaded, total) => {
        this.progress.value = loaded / total;
        this.progressText.textContent = loaded < total
          ? `Sent ${Math.floor((100 * loaded) / total)} %` : 'Sent; waiting for the server to store it…';
      });
      this.progress.value = 1;
      this.progressText.textContent = '';
      this.files = this.set.kind === NAMED_FILES ? this.set.names.map(() => null) : [];
      this.render();
      this.stored(receipt, files);
    } catch (failure) {
      this.progressText.textContent = '';
      this.progress.hidden = true;
      this.say(`Not submitted: ${failure.message}`);
      this.sendButton.disabled = false;
    }
  }
}
