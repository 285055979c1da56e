// The marked page's requests, started as soon as this small module (and student-api.js) arrive
// rather than after every module of the page, and side by side rather than one after another:
// the marked file is the page's biggest wait, and nothing of it depends on the rest of the page.
import { hasToken, requireStudent, studentApi } from './student-api.js';

const key = new URLSearchParams(location.search).get('entry') || '';

function started(promise) {
  promise.catch(() => {}); // the page reports a failure when it takes the reply, not before
  return promise;
}

const student = started(requireStudent());
// Without a token the page goes to the login page: ask for nothing else until a session exists.
const signedIn = hasToken() ? Promise.resolve() : student;

export const early = {
  student,
  submission: started(signedIn.then(() => studentApi('GET', `/api/student/entries/${encodeURIComponent(key)}/marked`))),
  course: started(signedIn.then(() => studentApi('GET', '/api/student/course'))),
};
