// The baseline of student_page_bench.py: the same marked file fetched from the same student
// route and shown as plain text in a <pre>, nothing else.
const entry = new URLSearchParams(location.search).get('entry');
const reply = await (await fetch(`/api/student/entries/${entry}/marked`)).json();
const bytes = Uint8Array.from(atob(reply.files[0].content), (c) => c.charCodeAt(0));
document.getElementById('text').textContent = new TextDecoder('windows-1252').decode(bytes);
requestAnimationFrame(() => setTimeout(() => performance.mark('page-drawn'), 0));
