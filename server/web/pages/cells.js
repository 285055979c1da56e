// A file's bytes as the student's client lays them out: one 10-unit cell per byte, lines split
// at LF (a CR before it dropped), tabs expanded to stops of the file's tab width (no further
// than 1000 columns; dropped when the width is 0 or less), the text ending at its first NUL.
// Bytes are read as UTF-8 when the text is valid UTF-8 holding a non-ASCII character, each
// character drawn in the first of its cells; otherwise each byte is one Windows-1252 character.

export const UNIT = 10;
const MAX_TAB = 1000;
const REPLACEMENT = '\uFFFD';

// 0x80..0x9F in Windows-1252; 0 where no character is defined.
const HIGH_1252 = [
  0x20ac, 0, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160, 0x2039,
  0x0152, 0, 0x017d, 0, 0, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014, 0x02dc,
  0x2122, 0x0161, 0x203a, 0x0153, 0, 0x017e, 0x0178,
];

export function windows1252Char(byte) {
  if (byte < 0x80 || byte >= 0xa0) return String.fromCharCode(byte);
  const code = HIGH_1252[byte - 0x80];
  return code ? String.fromCharCode(code) : REPLACEMENT;
}

// The character at `i` of valid UTF-8: [code point, length], or null.
export function decodeUtf8(bytes, i, end) {
  const b = bytes[i];
  let length, code, min;
  if (b < 0x80) return [b, 1];
  if (b >= 0xc2 && b <= 0xdf) [length, code, min] = [2, b & 0x1f, 0x80];
  else if (b >= 0xe0 && b <= 0xef) [length, code, min] = [3, b & 0x0f, 0x800];
  else if (b >= 0xf0 && b <= 0xf4) [length, code, min] = [4, b & 0x07, 0x10000];
  else return null;
  if (i + length > end) return null;
  for (let k = 1; k < length; k++) {
    const c = bytes[i + k];
    if ((c & 0xc0) !== 0x80) return null;
    code = (code << 6) | (c & 0x3f);
  }
  if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return null;
  return [code, length];
}

// Where the drawn text ends: its first NUL byte, or its end.
export function drawnEnd(bytes) {
  const nul = bytes.indexOf(0);
  return nul < 0 ? bytes.length : nul;
}

export function encodingOf(bytes, end = drawnEnd(bytes)) {
  let ascii = true;
  for (let i = 0; i < end; ) {
    if (bytes[i] < 0x80) {
      i++;
      continue;
    }
    ascii = false;
    const character = decodeUtf8(bytes, i, end);
    if (!character) return 'windows-1252';
    i += character[1];
  }
  return ascii ? 'windows-1252' : 'utf-8';
}

// Offsets where the lines begin (the first is 0) within [0, end).
export function lineStarts(bytes, end) {
  const starts = [0];
  for (let i = bytes.indexOf(10); i >= 0 && i < end; i = bytes.indexOf(10, i + 1)) starts.push(i + 1);
  return starts;
}

// One line's drawn glyphs: {text, columns} with the column of every UTF-16 unit of `text`
// (blanks and control characters are left out: they draw nothing), and the columns the line
// takes. `from`..`to` are the line's bytes without the LF; a CR before an LF is dropped.
export function layOutLine(bytes, from, to, followedByLf, tabWidth, encoding) {
  if (followedByLf && to > from && bytes[to - 1] === 13) to--;
  const stop = Math.min(tabWidth, MAX_TAB);
  let text = '';
  const columns = [];
  let column = 0;
  for (let i = from; i < to; ) {
    const b = bytes[i];
    if (b === 9) {
      if (stop > 0) column += stop - (column % stop);
      i++;
      continue;
    }
    let glyph = null;
    let cells = 1;
    if (b < 0x80) {
      glyph = b > 0x20 && b !== 0x7f ? String.fromCharCode(b) : null;
    } else {
      const character = encoding === 'utf-8' ? decodeUtf8(bytes, i, to) : null;
      if (character) {
        glyph = String.fromCodePoint(character[0]);
        cells = character[1];
      } else {
        glyph = windows1252Char(b);
      }
      if (glyph === '\u00a0') glyph = null;
    }
    if (glyph) {
      text += glyph;
      for (let k = 0; k < glyph.length; k++) columns.push(column);
    }
    column += cells;
    i += cells;
  }
  return { text, columns, width: column };
}

// A file's page: its lines and the widest line in columns, tabs expanded.
export class FilePage {
  constructor(bytes, tabWidth) {
    this.bytes = bytes;
    this.tabWidth = tabWidth;
    this.end = drawnEnd(bytes);
    this.encoding = encodingOf(bytes, this.end);
    this.starts = lineStarts(bytes, this.end);
    this.cache = new Map();
    this.widest = 0;
    for (let n = 0; n < this.starts.length; n++) this.widest = Math.max(this.widest, this.columnsOf(n));
  }

  get lineCount() {
    return this.starts.length;
  }

  bounds(n) {
    const last = n + 1 === this.starts.length;
    return [this.starts[n], last ? this.end : this.starts[n + 1] - 1, !last];
  }

  // Columns of line n without laying out its glyphs (as the client measures: a CR before LF
  // counts, tabs expanded).
  columnsOf(n) {
    const [from, to] = this.bounds(n);
    const stop = Math.min(this.tabWidth, MAX_TAB);
    let column = 0;
    for (let i = from; i < to; i++)
      if (this.bytes[i] === 9) column += stop > 0 ? stop - (column % stop) : 0;
      else column++;
    return column;
  }

  line(n) {
    let laid = this.cache.get(n);
    if (!laid) {
      const [from, to, lf] = this.bounds(n);
      laid = layOutLine(this.bytes, from, to, lf, this.tabWidth, this.encoding);
      this.cache.set(n, laid);
    }
    return laid;
  }
}

// A comment's lines laid out as the client draws comment text (tab width 8). The server keeps
// comments in Windows-1252, one byte and so one cell per character.
export function layOutComment(text) {
  return text.split('\n').map((line) => {
    let glyphs = '';
    const columns = [];
    let column = 0;
    for (const ch of line) {
      if (ch === '\t') {
        column += 8 - (column % 8);
        continue;
      }
      if (ch.codePointAt(0) > 0x20) {
        glyphs += ch;
        for (let k = 0; k < ch.length; k++) columns.push(column);
      }
      column++;
    }
    return { text: glyphs, columns, width: column };
  });
}

// The size the server gives a comment: 10 per character of its longest line, 10 per line.
export function commentSize(text) {
  const lines = text.split('\n');
  return {
    width: UNIT * Math.max(...lines.map((line) => [...line].length)),
    height: UNIT * lines.length,
  };
}
