// The students' front page: log in with course, student number and password; register with the
// desktop client's field rules and texts; update password, name and e-mail.
import { StudentApiError, currentStudent, el, logOut, rememberToken, studentApi } from './student-api.js';
import {
  EXPECTATION, EXPERIENCE, QUESTIONNAIRE_COURSE, checkAccount, checkLoginPassword, checkQuestionnaire, checkStudentNumber,
} from './student-fields.js';

const $ = (id) => document.getElementById(id);
const sections = ['login-section', 'register-section', 'account-section'];

function show(section) {
  for (const id of sections) $(id).hidden = id !== section;
}

function nextPage() {
  const target = new URLSearchParams(location.search).get('next') || '';
  return /^\/student-[a-z-]*\.html(\?[^#]*)?$/.test(target) ? target : '/student-course.html';
}

// A refusal shown under its form, the field it concerns marked and focused with its text selected.
function refuse(form, message, fieldId) {
  const box = $(`${form}-error`);
  box.textContent = message;
  box.hidden = false;
  for (const input of $(form).querySelectorAll('[aria-invalid]')) input.removeAttribute('aria-invalid');
  const field = fieldId && $(fieldId);
  if (field) {
    // Beside the field, so that it is in sight on a small screen when the field gets the focus.
    field.after(box);
    field.setAttribute('aria-invalid', 'true');
    field.setAttribute('aria-describedby', `${form}-error`);
    field.focus();
    if (field.select) field.select();
  }
}

function clear(form) {
  $(`${form}-error`).hidden = true;
  for (const input of $(form).querySelectorAll('[aria-invalid]')) input.removeAttribute('aria-invalid');
}

async function fillCourses() {
  const { courses } = await studentApi('GET', '/api/student/courses');
  const remembered = localStorage.getItem('studentCourse');
  for (const select of document.querySelectorAll('.course-select')) {
    select.replaceChildren(...courses.map((c) => el('option', { value: c.number }, `${c.number} ${c.name}`)));
    if (remembered && courses.some((c) => String(c.number) === remembered)) select.value = remembered;
  }
  $('register-experience').replaceChildren(...EXPERIENCE.map((text, i) => el('option', { value: i }, text)));
  $('register-expectation').replaceChildren(...EXPECTATION.map((text, i) => el('option', { value: i }, text)));
  $('register-expectation').value = '2';
  showQuestionnaire();
}

function showQuestionnaire() {
  $('questionnaire').hidden = Number($('register-course').value) !== QUESTIONNAIRE_COURSE;
}

async function logIn(course, student, password) {
  const reply = await studentApi('POST', '/api/student/login', { course, student: String(student), password });
  rememberToken(reply.csrfToken);
  localStorage.setItem('studentCourse', String(course));
  location.href = nextPage();
}

$('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  clear('login');
  const number = checkStudentNumber($('login-student').value);
  if (number.message) return refuse('login', number.message, 'login-student');
  const tooLong = checkLoginPassword($('login-password').value);
  if (tooLong) return refuse('login', tooLong, 'login-password');
  $('login-button').disabled = true;
  try {
    await logIn(Number($('login-course').value), number.number, $('login-password').value);
  } catch (failure) {
    refuse('login', failure.status === 401
      ? 'Wrong student number or password. Check both and try again; if you have forgotten your password, ask your instructor for a new one.'
      : failure.message, failure.status === 401 ? 'login-password' : null);
  } finally {
    $('login-button').disabled = false;
  }
});

$('register').addEventListener('submit', async (event) => {
  event.preventDefault();
  clear('register');
  const course = Number($('register-course').value);
  const number = checkStudentNumber($('register-student').value);
  if (number.message) return refuse('register', number.message, 'register-student');
  const account = checkAccount({
    password: $('register-password').value, retype: $('register-retype').value,
    name: $('register-name').value, email: $('register-email').value,
  });
  if (account.message) return refuse('register', account.message, `register-${account.field}`);
  const questions = checkQuestionnaire(course, {
    attempts: $('register-attempts').value,
    experience: Number($('register-experience').value), expectation: Number($('register-expectation').value),
  });
  if (questions.message) return refuse('register', questions.message, `register-${questions.field}`);
  $('register-button').disabled = true;
  try {
    await studentApi('POST', '/api/student/register', {
      course, student: String(number.number), ...account.values, questionnaire: questions.code,
    });
    await logIn(course, number.number, account.values.password);
  } catch (failure) {
    const field = failure.field ? `register-${failure.field}` : null;
    refuse('register', failure.message, field);
  } finally {
    $('register-button').disabled = false;
  }
});

$('update').addEventListener('submit', async (event) => {
  event.preventDefault();
  clear('update');
  const account = checkAccount({
    password: $('update-password').value, retype: $('update-retype').value,
    name: $('update-name').value, email: $('update-email').value,
  });
  if (account.message) return refuse('update', account.message, `update-${account.field}`);
  $('update-button').disabled = true;
  try {
    const reply = await studentApi('PUT', '/api/student/account', { currentPassword: $('update-current').value, ...account.values });
    if (reply.csrfToken) rememberToken(reply.csrfToken);
    for (const id of ['update-current', 'update-password', 'update-retype']) $(id).value = '';
    showAccount(reply.student);
    $('status').textContent = 'Your details are saved. Use the new password from now on, here and in the desktop client.';
  } catch (failure) {
    const field = failure.status === 401 || failure.field === 'currentPassword' ? 'update-current'
      : failure.field ? `update-${failure.field}` : null;
    refuse('update', failure.status === 401 ? `${failure.message} Type your current password again.` : failure.message, field);
  } finally {
    $('update-button').disabled = false;
  }
});

function showAccount(student) {
  $('who').textContent = `Logged in as ${student.name} (${student.number}), course ${student.course}. E-mail: ${student.email}`;
  $('update-username').value = String(student.number);
  $('update-name').value = student.name;
  $('update-email').value = student.email;
  show('account-section');
}

$('show-register').addEventListener('click', () => {
  $('register-course').value = $('login-course').value;
  $('register-student').value = $('login-student').value;
  showQuestionnaire();
  show('register-section');
  $('register-student').focus();
});
$('cancel-register').addEventListener('click', () => {
  show('login-section');
  $('login-student').focus();
});
$('register-course').addEventListener('change', showQuestionnaire);
$('logout').addEventListener('click', logOut);

async function start() {
  try {
    const student = await currentStudent();
    if (student) {
      showAccount(student);
    } else {
      await fillCourses();
      show(location.hash === '#register' ? 'register-section' : 'login-section');
    }
    document.body.dataset.ready = '1';
  } catch (failure) {
    $('status').textContent = failure instanceof StudentApiError ? failure.message : String(failure);
  }
}

start();
