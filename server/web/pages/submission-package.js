// The submission package exactly as the desktop client writes it: "Number of Files: N", then per
// file a line of 80 dashes, "File #i: name,letter,tab,length", the content bytes and "EOF", every
// line ending CR LF. Names travel in Windows-1252, the character set the client and server use.
import { windows1252Char } from './cells.js';

const SEPARATOR = '-'.repeat(80) + '\r\n';

// Windows-1252 bytes of a text, or null when a character has no place in it.
let highBytes = null;
export function toWindows1252(text) {
  if (!highBytes) {
    highBytes = new Map();
    for (let b = 0x80; b < 0xa0; b++) highBytes.set(windows1252Char(b), b);
    highBytes.delete('\uFFFD');
  }
  const bytes = [];
  for (const ch of text) {
    const code = ch.codePointAt(0);
    if (code < 0x80 || (code >= 0xa0 && code <= 0xff)) bytes.push(code);
    else if (highBytes.has(ch)) bytes.push(highBytes.get(ch));
    else return null;
  }
  return Uint8Array.from(bytes);
}

export function nameRefusal(name) {
  return toWindows1252(name) === null
    ? `The name ${name} holds a character the submission system cannot store.\nRename the file using letters, digits and common punctuation, then choose it again.`
    : null;
}

function ascii(text) {
  return Uint8Array.from(text, (c) => c.charCodeAt(0));
}

function headerLine(number, file) {
  const name = toWindows1252(file.name);
  if (!name) throw new Error(nameRefusal(file.name));
  const tail = ascii(`,${file.contentKind},${file.tabWidth},${file.content.length}\r\n`);
  const line = new Uint8Array(`File #${number}: `.length + name.length + tail.length);
  line.set(ascii(`File #${number}: `));
  line.set(name, `File #${number}: `.length);
  line.set(tail, line.length - tail.length);
  return line;
}

// The package's pieces in order; content bytes are passed as they are, never copied.
export function packagePieces(files) {
  const pieces = [ascii(`Number of Files: ${files.length}\r\n`)];
  files.forEach((file, i) => {
    pieces.push(ascii(SEPARATOR), headerLine(i + 1, file), file.content, ascii('EOF\r\n'));
  });
  return pieces;
}

export function packageSize(files) {
  return packagePieces(files).reduce((sum, piece) => sum + piece.length, 0);
}

export function packageBytes(files) {
  const pieces = packagePieces(files);
  const bytes = new Uint8Array(pieces.reduce((sum, piece) => sum + piece.length, 0));
  let at = 0;
  for (const piece of pieces) {
    bytes.set(piece, at);
    at += piece.length;
  }
  return bytes;
}
