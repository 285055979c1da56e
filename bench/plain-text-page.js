// The baseline of marking_page_bench.py: the same submission fetched from the same API and
// shown as plain text in a <pre>, nothing else.
const serial = new URLSearchParams(location.search).get('serial');
const reply = await (await fetch(`/api/submissions/${serial}`)).json();
const bytes = Uint8Array.from(atob(reply.files[0].content), (c) => c.charCodeAt(0));
document.getElementById('text').textContent = new TextDecoder('windows-1252').decode(bytes);
requestAnimationFrame(() => setTimeout(() => performance.mark('page-drawn'), 0));
