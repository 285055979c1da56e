// The student pages' rules against the desktop client's: the required-file set with its
// messages, the package bytes against the desktop writer's fixture, and the field rules.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

import {
  ANY_FILES, ASCII, MESSAGES, NAMED_FILES, NON_ASCII, NORMALISED, PROJECT_FOLDER, RequiredFileSet,
  SINGLE_FILE, loadSubmissionFile, normaliseLineEnds, scanOrder,
} from '../../server/web/pages/required-files.js';
import { nameRefusal, packageBytes, toWindows1252 } from '../../server/web/pages/submission-package.js';
import {
  REENTER, checkAccount, checkLoginPassword, checkQuestionnaire, checkStudentNumber, validateInteger, validateText,
} from '../../server/web/pages/student-fields.js';
import { entryNames } from '../../server/web/pages/student-entry-name.js';

const data = (name) => fileURLToPath(new URL(`../unit/data/${name}`, import.meta.url));
const bytes = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
const text = (array) => String.fromCharCode(...array);

test('requirement texts: kind, required names and permitted extensions', () => {
  const cases = [
    ['S,main.src,util.src', NAMED_FILES, ['main.src', 'util.src'], ['src', 'src']],
    ['S,main.src,,util.src', NAMED_FILES, ['main.src', 'util.src'], ['src', 'src']],
    ['S,main.src, util.src', NAMED_FILES, ['main.src', ' util.src'], ['src', 'src']],
    ['S,a.b.c', NAMED_FILES, ['a.b.c'], ['b.c']],
    ['M,src,txt', ANY_FILES, [], ['src', 'txt']],
    ['M,', ANY_FILES, [], []],
    ['D', PROJECT_FOLDER, [], []],
    ['X;c', SINGLE_FILE, [], ['c']], // the second character is skipped unread
    ['', SINGLE_FILE, [], []],
    // Named files that name none are one file chosen freely.
    ['S', SINGLE_FILE, [], []],
    ['S,', SINGLE_FILE, [], []],
  ];
  for (const [requirement, kind, names, extensions] of cases) {
    const set = new RequiredFileSet('', requirement, 0);
    assert.deepEqual([set.kind, set.names, set.extensions], [kind, names, extensions], requirement);
  }
});

test('type tables: later entries win, fields skipped and defaulted, lookups ignore case', () => {
  const set = new RequiredFileSet('Source,src,A,4/Text,txt,T', 'M,src,txt', 0);
  assert.deepEqual(set.types.map((t) => t.extension), ['txt', 'src']);
  assert.deepEqual([set.typeContentKind('SRC'), set.typeTabWidth('SRC')], [ASCII, 4]);
  assert.deepEqual([set.typeContentKind('txt'), set.typeTabWidth('txt')], [NORMALISED, 8]);
  assert.deepEqual([set.typeContentKind('zip'), set.typeTabWidth('zip')], [ASCII, 8]);
  const skipped = new RequiredFileSet('Source,,B,2', 'M', 0).types[0];
  assert.deepEqual([skipped.description, skipped.extension, skipped.contentKind, skipped.tabWidth],
    ['Source', 'B', NORMALISED, 8]);
  const twice = new RequiredFileSet('One,c,A,2/Two,c,B,3', 'M', 0);
  assert.deepEqual([twice.typeContentKind('c'), twice.typeTabWidth('c')], [NON_ASCII, 3]);
  assert.equal(new RequiredFileSet('Src, src', 'M', 0).findFileType('src'), null, 'fields are not trimmed');
  assert.equal(new RequiredFileSet('Src,c,A,x', 'M', 0).typeTabWidth('c'), 0, 'no digits read as 0');
});

test('chosen files: the rename question, the type refusal and the size limit, in the client\'s words', () => {
  const named = new RequiredFileSet('Source,src,A,4', 'S,main.src,lib/util.src', 1);
  assert.equal(named.renameQuestion('MAIN.SRC', 0), null);
  assert.equal(named.renameQuestion('test.src', 0),
    "You specified a file with an incorrect name.\r\nDo you want to rename it as main.src when submitting?\r\nNOTE:  You probably don't want to do this!");
  assert.equal(named.renameQuestion('util.src', 1), null, 'the required name after its last "/"');
  assert.equal(named.refusal('main.src'), null);
  assert.equal(named.refusal('main.exe'), 'You are not permitted to submit files with the\nextension for file main.exe');
  assert.equal(named.refusal('Makefile'), 'You are not permitted to submit files with the\nextension for file Makefile');
  // Any type the table knows passes the choice, permitted or not; a folder scan keeps only
  // permitted ones.
  const any = new RequiredFileSet('Source,src,A/Text,txt,A', 'M,src', 0);
  assert.equal(any.refusal('notes.TXT'), null);
  assert.deepEqual([any.wanted('a.src'), any.wanted('a.txt'), any.wanted('a.o')], [true, false, false]);
  assert.equal(MESSAGES.tooLarge(named.sizeLimit()),
    'The file(s) your are submitting are too large.\nThe maximum allowed total size is 1048576.\nPlease confirm you are only submitting the correct files.');
  assert.equal(any.sizeLimit(), 0x7fffffff - 1024 * 1024);
  assert.equal(MESSAGES.allAdded, "You've already added all the necessary files for this assigment.  You can now submit it.");
});

test('loaded files: named after their slot, kind and tab by that name, line ends normalised', () => {
  const set = new RequiredFileSet('Source,src,F,4/Data,dat,B', 'S,main.src,data.dat', 0);
  const file = loadSubmissionFile(set, 'Test.src', bytes('a\nb'), 0);
  assert.deepEqual([file.name, file.contentKind, file.tabWidth, text(file.content)], ['main.src', NORMALISED, 4, 'a\r\nb\r\n']);
  const cases = [['x', 'x\r\n'], ['a\r\r\nb\r\n', 'a\r\n\r\nb\r\n'], ['a\rb', 'a\r\nb\r\n'], ['a\0b', 'a\r\n'], ['', ''], ['\0', '']];
  for (const [input, output] of cases) assert.equal(text(normaliseLineEnds(bytes(input))), output, JSON.stringify(input));
  const any = new RequiredFileSet('Source,src,A', 'M', 0);
  assert.equal(loadSubmissionFile(any, 'a,b\\c\td.src', bytes('')).name, 'a_b/c_d.src');
});

test('a project folder is taken in the client\'s scan order', () => {
  const set = new RequiredFileSet('Source,c,A/Header,h,A', 'D', 0);
  const paths = ['z.c', 'lib/b.c', 'lib.c', 'B.h', 'lib/a/x.c', 'readme.txt', 'é.c'];
  assert.deepEqual(scanOrder(set, paths, toWindows1252), ['B.h', 'lib/a/x.c', 'lib/b.c', 'lib.c', 'z.c', 'é.c']);
});

test('the package is byte for byte what the desktop writer makes', () => {
  const inputs = JSON.parse(readFileSync(data('web-package-files.json'), 'utf8'));
  const set = new RequiredFileSet(inputs.typeTable, inputs.requirement, inputs.sizeFlag);
  const files = inputs.files.map((f) => loadSubmissionFile(set, f.name, Uint8Array.from(Buffer.from(f.hex, 'hex'))));
  const expected = new Uint8Array(readFileSync(data('web-package.bin')));
  assert.deepEqual(packageBytes(files), expected);
  assert.match(text(packageBytes([])), /^Number of Files: 0\r\n$/);
  const ten = Array.from({ length: 10 }, (_, i) => ({ name: `f${i}`, contentKind: 'A', tabWidth: 8, content: new Uint8Array(0) }));
  assert.match(text(packageBytes(ten)), /\r\nFile #10: f9,A,8,0\r\nEOF\r\n$/);
});

test('file names: Windows-1252 or refused with what to do', () => {
  assert.deepEqual([...toWindows1252('é€Ÿ-')], [0xe9, 0x80, 0x9f, 0x2d]);
  assert.equal(toWindows1252('plan→b.c'), null);
  assert.equal(nameRefusal('ok.c'), null);
  assert.match(nameRefusal('日本.c'), /^The name 日本\.c holds a character .*\nRename the file/);
  assert.throws(() => packageBytes([{ name: 'a→.c', contentKind: 'A', tabWidth: 8, content: new Uint8Array(0) }]));
});

test('field rules: the desktop dialogs\' cases and texts', () => {
  const cases = [
    // [password, retype, name, email, expected field, expected message]
    ['  abc  ', '  abc  ', 'Ann Lee', 'a@b.c', 'password', REENTER],
    ['  abc  ', 'abc', 'Ann Lee', 'a@b.c', null, null],
    ['ab', 'ab', 'Ann', 'a@b', 'password', 'Password must contain at least 3 characters'],
    ['a'.repeat(21), '', 'Ann', 'a@b', 'password', 'Password must contain at most 20 characters'],
    ['a'.repeat(20), 'a'.repeat(20), 'Ann', 'a@b', null, null],
    ['abc', 'abc', 'Ann Lee', 'ann lee@x', 'email', 'E-mail address must consist only of alphanumeric and  punctuation characters'],
    ['abc', 'abc', 'Lee, Ann', 'a@b', 'name', 'Name must not contain any commas (,)'],
    ['abc', 'abc', '--', 'a@b', 'name', 'Name must contain something'],
    ['abc', 'abc', 'Ann\tLee', 'a@b', 'name', 'Name must consist only of alphanumeric and  punctuation characters'],
    ['abc', 'abc', '\tAnn\t', 'a@b', null, null],
    ['abc', 'abc', 'Zoë', 'a@b', 'name', 'Name must consist only of alphanumeric and  punctuation characters'],
    ['', '', '', '', 'password', 'Password must contain at least 3 characters'],
    ['abc', 'abc', 'a'.repeat(36), 'a@b', 'name', 'Name must contain at most 35 characters'],
    ['abc', 'abc', 'Ann', 'a'.repeat(101), 'email', 'E-mail address must contain at most 100 characters'],
  ];
  for (const [password, retype, name, email, field, message] of cases) {
    const got = checkAccount({ password, retype, name, email });
    assert.deepEqual([got.field ?? null, got.message ?? null], [field, message], JSON.stringify([password, name, email]));
  }
  assert.deepEqual(checkAccount({ password: ' abc ', retype: 'abc', name: ' Ann Lee ', email: 'a@b ' }).values,
    { password: 'abc', name: 'Ann Lee', email: 'a@b' });
  // Length counts bytes: a character beyond Latin-1 takes its UTF-8 bytes.
  assert.equal(validateText('€€€€€€€€€€€€', 1, 35, 'Name', true, false).message, 'Name must contain at most 35 characters');
  assert.equal(validateText('a\r\nb', 1, 9, 'X', false, true).message, null);
  assert.equal(validateText('', 0, 9, 'X', false, false).message, null);
});

test('numbers: questionnaire, student number and the login password', () => {
  const ints = [['3x', 3, null], ['x', null, 'Enter an integer.'], ['10', 10, 'Enter an integer between 0 and 9.'],
    ['-1', -1, 'Enter an integer between 0 and 9.'], [' +7', 7, null]];
  for (const [input, value, message] of ints) assert.deepEqual(validateInteger(input, 0, 9), { value, message }, input);
  assert.deepEqual(checkQuestionnaire(1606, { attempts: '1', experience: 3, expectation: 4 }), { code: '134' });
  assert.deepEqual(checkQuestionnaire(1606, { attempts: '1', experience: -1, expectation: 4 }),
    { field: 'experience', message: 'Please select a response from the list.' });
  assert.deepEqual(checkQuestionnaire(3101, {}), { code: '002' });
  const numbers = [['123456', 100123456], [' 100123456 ', 100123456], ['12345', 'Enter an integer between 100000 and 999999999.'],
    ['1000000000', 'Enter an integer between 100000 and 999999999.'], ['12a', 'Enter an integer.'], ['', 'Enter an integer.']];
  for (const [input, expected] of numbers) {
    const got = checkStudentNumber(input);
    assert.equal(typeof expected === 'number' ? got.number : got.message, expected, input);
  }
  assert.equal(checkLoginPassword('a'.repeat(21)), 'Enter no more than 20 characters.');
  assert.equal(checkLoginPassword('a'.repeat(20)), null);
});

test('entry names: the section label only where a component has several sections', () => {
  const entries = [
    { key: 'a1', component: 'Assignment', element: '1', section: 'Assignment 1' },
    { key: 'l1m', component: 'Lab', element: '1', section: 'Monday' },
    { key: 'l1w', component: 'Lab', element: '1', section: 'Wednesday' },
    { key: 'q1', component: 'Quiz', element: '1', section: '' },
  ];
  assert.deepEqual([...entryNames(entries).values()], ['Assignment 1', 'Lab 1 Monday', 'Lab 1 Wednesday', 'Quiz 1']);
});
