// Entry names as the student's client shows them: component, element number and, where the
// component has several sections, the section's label ("Lab 1 Monday", "Assignment 1").
// The courses API gives each entry's component and label in order, component-major, element by
// element; a component's section count is where its first label comes round again (one section
// when no label repeats).
export function entryNames(entries) {
  const names = new Map();
  let at = 0;
  while (at < entries.length) {
    let end = at;
    while (end < entries.length && entries[end].component === entries[at].component) end++;
    const run = entries.slice(at, end);
    const repeat = run.findIndex((e, i) => i > 0 && e.label === run[0].label);
    const sections = repeat > 0 ? repeat : 1;
    run.forEach((e, i) => {
      const element = Math.floor(i / sections) + 1;
      const section = sections > 1 && e.label ? ` ${e.label}` : '';
      names.set(e.entry, `${e.component} ${element}${section}`);
    });
    at = end;
  }
  return names;
}
