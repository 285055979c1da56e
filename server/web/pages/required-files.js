// What an entry requires, read from its type table and requirement text exactly as the desktop
// client reads them, and the tests a chosen file must pass, with the client's own messages.
export const SINGLE_FILE = 'single';
export const ANY_FILES = 'any';
export const NAMED_FILES = 'named';
export const PROJECT_FOLDER = 'folder';

export const ASCII = 'A';
export const NON_ASCII = 'B';
export const NORMALISED = 'F'; // the package letter; any type-table letter but A and B

export const SIZE_LIMIT = 1048576;
export const LARGEST_PACKAGE = 0x7fffffff - 1024 * 1024;

export const MESSAGES = {
  rename: (name) => `You specified a file with an incorrect name.\r\nDo you want to rename it as ${name} when submitting?\r\nNOTE:  You probably don't want to do this!`,
  unreadable: (path) => `Unable to open file ${path}`,
  notPermitted: (path) => `You are not permitted to submit files with the\nextension for file ${path}`,
  allAdded: "You've already added all the necessary files for this assigment.  You can now submit it.",
  missing: "You haven't loaded one of the required files.",
  noneFound: 'No files of the correct type were found.',
  tooLarge: (limit) => `The file(s) your are submitting are too large.\nThe maximum allowed total size is ${limit}.\nPlease confirm you are only submitting the correct files.`,
};

// Pieces of `text` split at `separator`, empty ones skipped.
function pieces(text, separator) {
  return text.split(separator).filter((piece) => piece !== '');
}

// The number at the start of a field as atoi reads it (saturating at 32 bits).
function leadingNumber(text) {
  const found = /^[ \t\n\v\f\r]*([+-]?)(\d*)/.exec(text);
  let value = 0;
  for (const digit of found[2]) {
    value = value * 10 + Number(digit);
    if (value > 0x7fffffff) return found[1] === '-' ? -0x80000000 : 0x7fffffff;
  }
  return found[1] === '-' ? -value : value;
}

function lowerAscii(text) {
  return text.replace(/[A-Z]/g, (c) => c.toLowerCase());
}

export function equalsIgnoringCase(a, b) {
  return lowerAscii(a) === lowerAscii(b);
}

// The text after the last "." of a name's last path component; empty when it has none.
export function extensionOf(name) {
  const last = name.slice(Math.max(name.lastIndexOf('/'), name.lastIndexOf('\\')) + 1);
  const dot = last.lastIndexOf('.');
  return dot < 0 ? '' : last.slice(dot + 1);
}

function contentKindOf(letter) {
  return letter === 'A' ? ASCII : letter === 'B' ? NON_ASCII : NORMALISED;
}

// The type table, later entries first (they win every lookup), missing fields defaulted.
export function parseTypeTable(text) {
  return pieces(text, '/').map((entry) => {
    const fields = ['', '*', 'A', '8'];
    pieces(entry, ',').slice(0, 4).forEach((field, i) => { fields[i] = field; });
    const [description, extension, letter, tab] = fields;
    const filterOne = `${description} Files (*.${extension})|*.${extension}|`;
    return {
      description, extension, filterOne, filterFull: filterOne + 'All Files (*.*)|*.*||',
      contentKind: contentKindOf(letter[0]), tabWidth: leadingNumber(tab),
    };
  }).reverse();
}

export function parseRequirement(text) {
  const letter = text[0];
  const kind = letter === 'M' ? ANY_FILES : letter === 'S' ? NAMED_FILES : letter === 'D' ? PROJECT_FOLDER : SINGLE_FILE;
  const names = [];
  const extensions = [];
  // The second character (normally ",") is skipped unread.
  if (text.length > 2)
    for (const entry of pieces(text.slice(2), ',')) {
      const dot = entry.indexOf('.');
      if (dot >= 0) names.push(entry);
      extensions.push(dot >= 0 ? entry.slice(dot + 1) : entry);
    }
  return { kind, names, extensions };
}

export class RequiredFileSet {
  constructor(typeTable, requirement, sizeLimited) {
    Object.assign(this, parseRequirement(requirement));
    // A list of named files that names none is one file chosen freely.
    if (this.kind === NAMED_FILES && this.names.length === 0) this.kind = SINGLE_FILE;
    this.types = parseTypeTable(typeTable);
    this.sizeLimited = Boolean(sizeLimited);
  }

  findFileType(extension) {
    return this.types.find((type) => equalsIgnoringCase(type.extension, extension)) || null;
  }

  typeTabWidth(extension) {
    const type = this.findFileType(extension);
    return type ? type.tabWidth : 8;
  }

  typeContentKind(extension) {
    const type = this.findFileType(extension);
    return type ? type.contentKind : ASCII;
  }

  isExtensionPermitted(extension) {
    return this.extensions.length === 0 || this.extensions.some((e) => equalsIgnoringCase(e, extension));
  }

  // The file name a named slot asks for (after its last "/" or backslash), or '' for other kinds.
  initialName(slot) {
    if (this.kind !== NAMED_FILES || slot < 0 || slot >= this.names.length) return '';
    const name = this.names[slot];
    return name.slice(Math.max(name.lastIndexOf('/'), name.lastIndexOf('\\')) + 1);
  }

  // The extensions the file picker offers for a slot ('' = every file), as the client's filter.
  acceptFor(slot) {
    if (this.kind === NAMED_FILES && slot >= 0 && slot < this.names.length) {
      const name = this.names[slot];
      const dot = name.indexOf('.');
      return dot < 0 ? '' : '.' + name.slice(dot + 1);
    }
    if (this.kind === SINGLE_FILE && this.extensions.length) return '.' + this.extensions[0];
    return this.types.map((type) => '.' + type.extension).join(',');
  }

  // The first test a chosen file meets: the rename question for a named slot, as
  // {question} (the student must agree) or nothing.
  renameQuestion(fileName, slot) {
    const initial = this.initialName(slot);
    if (!initial || equalsIgnoringCase(fileName, initial)) return null;
    return MESSAGES.rename(initial);
  }

  // The refusal of a chosen file, or null: the type table must know its extension.
  refusal(fileName) {
    return this.findFileType(extensionOf(fileName)) ? null : MESSAGES.notPermitted(fileName);
  }

  // Whether a project folder's scan takes a file.
  wanted(name) {
    const extension = extensionOf(name);
    return this.findFileType(extension) !== null && this.isExtensionPermitted(extension);
  }

  sizeLimit() {
    return this.sizeLimited ? SIZE_LIMIT : LARGEST_PACKAGE;
  }
}

// The name a file is submitted under: no "," nor control characters, "/" between folders.
export function submittedName(name) {
  return name.replace(/[,\x00-\x1f]/g, '_').replace(/\\/g, '/');
}

// Every CR LF, lone CR and lone LF written as CR LF, up to the first NUL; CR LF added at the end
// when the text does not end with LF.
export function normaliseLineEnds(bytes) {
  const nul = bytes.indexOf(0);
  const end = nul < 0 ? bytes.length : nul;
  if (end === 0) return new Uint8Array(0);
  let lineEnds = 0;
  for (let i = 0; i < end; i++) if (bytes[i] === 10 || bytes[i] === 13) lineEnds++;
  const out = new Uint8Array(end + lineEnds + 2);
  let n = 0;
  for (let i = 0; i < end; i++) {
    const b = bytes[i];
    if (b === 13 || b === 10) {
      out[n++] = 13;
      out[n++] = 10;
      if (b === 13 && i + 1 < end && bytes[i + 1] === 10) i++;
    } else {
      out[n++] = b;
    }
  }
  if (out[n - 1] !== 10) {
    out[n++] = 13;
    out[n++] = 10;
  }
  return out.slice(0, n);
}

// A file as it is submitted: named after the slot for named files, its kind and tab width by
// the extension of that name, normalised content for normalised text.
export function loadSubmissionFile(set, relativeName, bytes, slot = 0) {
  const named = set.kind === NAMED_FILES && slot >= 0 && slot < set.names.length;
  const name = submittedName(named ? set.names[slot] : relativeName);
  const extension = extensionOf(name);
  const contentKind = set.typeContentKind(extension);
  const content = contentKind === NORMALISED ? normaliseLineEnds(bytes) : bytes;
  return { name, contentKind, tabWidth: set.typeTabWidth(extension), content };
}

function compareBytes(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return a[i] - b[i];
  return a.length - b.length;
}

// A chosen folder's files (paths relative to its root, "/" between folders) in the order the
// client's scan takes them: each folder's names sorted byte-wise, sub-folders walked in place.
// Only files whose type is known and permitted are kept.
export function scanOrder(set, paths, encode) {
  const key = (path) => path.split('/').map(encode);
  return paths.filter((path) => set.wanted(path)).map((path) => [key(path), path])
    .sort(([a], [b]) => {
      for (let i = 0; i < Math.min(a.length, b.length); i++) {
        const order = compareBytes(a[i], b[i]);
        if (order) return order;
      }
      return a.length - b.length;
    }).map(([, path]) => path);
}
