// The desktop client's field rules and their texts: the account fields (password, retyped
// password, name, e-mail, and the questionnaire of the one course that asks it) and the main
// dialog's student number and password. Each check answers {field, message} or null.
export const QUESTIONNAIRE_COURSE = 1606;
export const EXPERIENCE = ['None', 'Written simple programs (<100 lines)', 'Written moderate programs (<1000 lines)',
  'Written complex systems', 'Fluent in several computer languages'];
export const EXPECTATION = ['Much worse', 'Worse', 'About the same', 'Better', 'Much better'];

const TRIMMABLE = new Set([0x20, 0x09, 0x0a, 0x0b, 0x0c, 0x0d]);
const isAlphanumeric = (c) => (c >= 0x41 && c <= 0x5a) || (c >= 0x61 && c <= 0x7a) || (c >= 0x30 && c <= 0x39);
const isPunctuation = (c) => c >= 0x21 && c <= 0x7e && !isAlphanumeric(c);

// A box's text as the dialog reads it: Latin-1 when every character fits, UTF-8 otherwise.
export function fieldBytes(text) {
  if ([...text].every((c) => c.codePointAt(0) <= 0xff)) return Uint8Array.from(text, (c) => c.charCodeAt(0));
  return new TextEncoder().encode(text);
}

function trim(text) {
  let begin = 0;
  let end = text.length;
  while (end > 0 && TRIMMABLE.has(text.charCodeAt(end - 1))) end--;
  while (begin < end && TRIMMABLE.has(text.charCodeAt(begin))) begin++;
  return text.slice(begin, end);
}

// Trims the value and checks its length in bytes and its characters. Answers {value, message}:
// message is null when the value passes.
export function validateText(text, minLength, maxLength, label, allowBlank, allowLineBreaks) {
  const value = trim(text);
  const bytes = fieldBytes(value);
  const fail = (message) => ({ value, message });
  if (bytes.length < minLength) return fail(`${label} must contain at least ${minLength} characters`);
  if (bytes.length > maxLength) return fail(`${label} must contain at most ${maxLength} characters`);
  let sawAlphanumeric = false;
  for (const c of bytes) {
    if (isAlphanumeric(c)) sawAlphanumeric = true;
    else if (isPunctuation(c) && c !== 0x2c) continue;
    else if ((c === 0x20 && allowBlank) || ((c === 0x0d || c === 0x0a) && allowLineBreaks)) continue;
    else if (c === 0x2c) return fail(`${label} must not contain any commas (,)`);
    else return fail(`${label} must consist only of alphanumeric and  punctuation characters`);
  }
  if (!sawAlphanumeric && minLength > 0) return fail(`${label} must contain something`);
  return { value, message: null };
}

export const REENTER = 'You must reenter the same new password.  Try again';
export const SELECT_RESPONSE = 'Please select a response from the list.';

// scanf "%d" over the first 63 characters: a number or null.
export function scanInteger(text) {
  const found = /^[ \t\n\v\f\r]*([+-]?)(\d+)/.exec(text.slice(0, 63));
  if (!found) return null;
  const magnitude = Math.min(Number(found[2].slice(0, 12)), 0x80000000);
  return found[1] === '-' ? -magnitude : magnitude;
}

export function validateInteger(text, low, high) {
  const value = scanInteger(text);
  if (value === null) return { value, message: 'Enter an integer.' };
  if (value < low || value > high) return { value, message: `Enter an integer between ${low} and ${high}.` };
  return { value, message: null };
}

// The account fields in the dialogs' order: the first failure is the one shown. Answers
// {field, message} or {values: {password, name, email}} with the trimmed values to send.
export function checkAccount({ password, retype, name, email }) {
  const pass = validateText(password, 3, 20, 'Password', false, false);
  if (pass.message) return { field: 'password', message: pass.message };
  if (retype !== pass.value) return { field: 'password', message: REENTER };
  const named = validateText(name, 1, 35, 'Name', true, false);
  if (named.message) return { field: 'name', message: named.message };
  const mail = validateText(email, 1, 100, 'E-mail address', false, false);
  if (mail.message) return { field: 'email', message: mail.message };
  return { values: { password: pass.value, name: named.value, email: mail.value } };
}

// The questionnaire's code "%d%d%d" (previous attempts, experience, expectation); "002" when the
// course asks no questions.
export function checkQuestionnaire(course, { attempts, experience, expectation }) {
  if (course !== QUESTIONNAIRE_COURSE) return { code: '002' };
  const tries = validateInteger(attempts, 0, 9);
  if (tries.message) return { field: 'attempts', message: tries.message };
  if (!(experience >= 0 && experience <= 4)) return { field: 'experience', message: SELECT_RESPONSE };
  if (!(expectation >= 0 && expectation <= 4)) return { field: 'expectation', message: SELECT_RESPONSE };
  return { code: `${tries.value}${experience}${expectation}` };
}

// The main dialog's student number: blanks, an optional sign and digits only, within
// 100000..999999999; six digits are sent as 100000000 + n.
export function checkStudentNumber(text) {
  const found = /^[ \t]*([+-]?)(\d+)[ \t]*$/.exec(text);
  if (!found) return { message: 'Enter an integer.' };
  const magnitude = Math.min(Number(found[2].slice(0, 13)), 2 ** 40);
  const value = found[1] === '-' ? -magnitude : magnitude;
  if (value < 100000 || value > 999999999) return { message: 'Enter an integer between 100000 and 999999999.' };
  return { number: value < 1000000 ? value + 100000000 : value, message: null };
}

export function checkLoginPassword(text) {
  return text.length > 20 ? 'Enter no more than 20 characters.' : null;
}
