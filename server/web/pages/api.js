// Requests to the staff API of the server that served this page. State-changing requests carry
// the session's CSRF token; a request without a session sends the browser to the login page.
let csrfToken = sessionStorage.getItem('csrfToken') || '';

export class ApiError extends Error {
  constructor(status, body) {
    super(body && body.error ? body.error : `HTTP ${status}`);
    this.status = status;
    this.body = body;
  }
}

export function rememberToken(token) {
  csrfToken = token;
  sessionStorage.setItem('csrfToken', token);
}

export async function api(method, path, body) {
  const headers = { Accept: 'application/json' };
  if (method !== 'GET') headers['X-CSRF-Token'] = csrfToken;
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const response = await fetch(path, {
    method,
    headers,
    credentials: 'same-origin',
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  let reply = null;
  try {
    reply = await response.json();
  } catch {
    reply = null;
  }
  if (response.status === 401 && path !== '/api/login') {
    location.href = '/?next=' + encodeURIComponent(location.pathname + location.search);
    throw new ApiError(401, reply);
  }
  if (!response.ok) throw new ApiError(response.status, reply);
  return reply;
}

// The logged-in marker ({id, name, admin, courses}); refreshes the CSRF token after a reload.
export async function session() {
  const reply = await api('GET', '/api/session');
  rememberToken(reply.csrfToken);
  return reply.marker;
}

export async function logout() {
  try {
    await api('POST', '/api/logout', {});
  } finally {
    sessionStorage.removeItem('csrfToken');
    location.href = '/';
  }
}

// Student numbers are hidden while the marker has chosen to mark anonymously.
export function anonymous() {
  return sessionStorage.getItem('anonymous') === '1';
}

export function setAnonymous(on) {
  sessionStorage.setItem('anonymous', on ? '1' : '0');
}

export function studentLabel(submission) {
  return anonymous() ? `Submission ${submission.serial}` : `Student ${submission.student}`;
}

// An element with text children, without ever parsing HTML.
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children.flat())
    if (child !== null && child !== undefined)
      node.append(child instanceof Node ? child : String(child));
  return node;
}

export function showError(where, error) {
  where.textContent = error instanceof Error ? error.message : String(error);
  where.hidden = false;
}
