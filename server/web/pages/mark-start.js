// The marking page's requests, started as soon as this small module (and api.js) arrive rather
// than after every module of the page: the submission is the page's biggest wait, and nothing
// of it depends on the rest of the page's code.
import { api, session } from '/api.js';

const serial = Number(new URLSearchParams(location.search).get('serial'));

function started(promise) {
  promise.catch(() => {}); // the page reports a failure when it takes the reply, not before
  return promise;
}

export const early = {
  marker: started(session()),
  submission: started(api('GET', `/api/submissions/${serial}`)),
  courses: started(api('GET', '/api/courses')),
};
