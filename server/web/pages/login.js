import { api, rememberToken, showError } from '/api.js';

const form = document.getElementById('login');
const error = document.getElementById('error');

function next() {
  const target = new URLSearchParams(location.search).get('next') || '';
  // Only a path of this server: never a redirect elsewhere.
  return /^\/[a-z0-9-]*\.html(\?[^#]*)?$/.test(target) ? target : '/courses.html';
}

form.addEventListener('submit', async (event) => {
  event.preventDefault();
  error.hidden = true;
  try {
    const reply = await api('POST', '/api/login', {
      id: document.getElementById('marker-id').value,
      password: document.getElementById('password').value,
    });
    rememberToken(reply.csrfToken);
    location.href = next();
  } catch (failure) {
    showError(error, failure.status === 401 ? 'Wrong marker id or password.' : failure);
  }
});
