// Requests to the student routes of the server that served the page. State-changing requests
// carry the session's CSRF token; errors come back as the server's own text, slowed logins with
// the wait it asks for, and a lost session sends the student to the login page.
const TOKEN_KEY = 'studentCsrfToken';

export class StudentApiError extends Error {
  constructor(status, body, retryAfter = 0) {
    super(errorText(status, body, retryAfter));
    this.status = status;
    this.body = body;
    this.field = body && body.field;
    this.retryAfter = retryAfter;
  }
}

function errorText(status, body, retryAfter) {
  if (status === 429)
    return `Too many attempts. Wait ${retryAfter === 1 ? '1 second' : `${retryAfter || 'a few'} seconds`}, then try again.`;
  if (body && body.error) return body.error;
  if (status === 0) return 'The server could not be reached. Check your connection, then try again.';
  return `The server answered ${status}. Try again in a minute; if it keeps happening, tell your instructor.`;
}

export function rememberToken(token) {
  sessionStorage.setItem(TOKEN_KEY, token);
}

function token() {
  return sessionStorage.getItem(TOKEN_KEY) || '';
}

// Whether this tab holds a session's token (without asking the server whether it still holds).
export function hasToken() {
  return Boolean(token());
}

function toLogin() {
  location.href = '/student.html?next=' + encodeURIComponent(location.pathname + location.search);
}

const OPEN_ROUTES = ['/api/student/login', '/api/student/register', '/api/student/session', '/api/student/courses'];

export async function studentApi(method, path, body) {
  const headers = { Accept: 'application/json' };
  if (method !== 'GET') headers['X-CSRF-Token'] = token();
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  let response;
  try {
    response = await fetch(path, {
      method, headers, credentials: 'same-origin',
      body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch {
    throw new StudentApiError(0, null);
  }
  let reply = null;
  try {
    reply = await response.json();
  } catch {
    reply = null;
  }
  // A 401 naming a field is a refused password, not a lost session.
  if (response.status === 401 && !OPEN_ROUTES.includes(path) && !(reply && reply.field)) {
    toLogin();
    throw new StudentApiError(401, reply);
  }
  if (!response.ok)
    throw new StudentApiError(response.status, reply, Number(response.headers.get('Retry-After')) || 0);
  return reply;
}

// The logged-in student ({number, name, email, course}) or null; refreshes the CSRF token.
export async function currentStudent() {
  // No token in this tab: no session to ask about (and no refused request in the console).
  if (!hasToken()) return null;
  try {
    const reply = await studentApi('GET', '/api/student/session');
    rememberToken(reply.csrfToken);
    return reply.student;
  } catch (failure) {
    if (failure.status === 401) {
      sessionStorage.removeItem(TOKEN_KEY);
      return null;
    }
    throw failure;
  }
}

export async function requireStudent() {
  const student = await currentStudent();
  if (!student) {
    toLogin();
    throw new StudentApiError(401, null);
  }
  return student;
}

export async function logOut() {
  try {
    await studentApi('POST', '/api/student/logout', {});
  } finally {
    sessionStorage.removeItem(TOKEN_KEY);
    location.href = '/student.html';
  }
}

// Sends a package with XMLHttpRequest, whose upload events give the progress bar its figures.
// Resolves with the receipt; a refusal, a lost connection or an abort rejects with what happened.
export function uploadPackage(entryKey, bytes, onProgress) {
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('POST', `/api/student/entries/${encodeURIComponent(entryKey)}/submissions`);
    request.setRequestHeader('Content-Type', 'application/octet-stream');
    request.setRequestHeader('Accept', 'application/json');
    request.setRequestHeader('X-CSRF-Token', token());
    request.upload.addEventListener('progress', (event) => {
      if (event.lengthComputable) onProgress(event.loaded, event.total);
    });
    const lost = (how) => () => reject(new StudentApiError(0, {
      error: `The upload ${how} before the server stored it: nothing was stored. Check your connection, then submit again.`,
    }));
    request.addEventListener('error', lost('was cut off'));
    request.addEventListener('abort', lost('was stopped'));
    request.addEventListener('timeout', lost('timed out'));
    request.addEventListener('load', () => {
      let reply = null;
      try {
        reply = JSON.parse(request.responseText);
      } catch {
        reply = null;
      }
      if (request.status === 201 && reply) resolve(reply);
      else if (request.status === 401) toLogin();
      else reject(new StudentApiError(request.status, reply, Number(request.getResponseHeader('Retry-After')) || 0));
    });
    request.send(bytes);
  });
}

// A time the server gives in UTC, in the browser's zone with the zone named.
const zone = Intl.DateTimeFormat().resolvedOptions().timeZone;
const timeFormat = new Intl.DateTimeFormat(undefined, {
  weekday: 'short', year: 'numeric', month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit',
  timeZoneName: 'short',
});

export function localTime(iso) {
  if (!iso) return '—';
  const text = timeFormat.format(new Date(iso));
  // The short zone name ("CET", "GMT+2") with the place when it adds anything ("Europe/Oslo").
  return text.endsWith(zone) ? text : `${text} (${zone})`;
}

// An element with text children, without ever parsing HTML.
export { el } from './api.js';
