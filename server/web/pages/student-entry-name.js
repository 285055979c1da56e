// Entry names as the student's client shows them: component and element number and, only where
// the component has several sections, the section's label ("Lab 1 Monday", "Assignment 1"). The
// course gives every entry its label; a component has sections when two of its entries share an
// element number.
export function entryNames(entries) {
  const count = new Map();
  for (const e of entries) count.set(`${e.component}\n${e.element}`, (count.get(`${e.component}\n${e.element}`) || 0) + 1);
  const names = new Map();
  for (const e of entries) {
    const sections = count.get(`${e.component}\n${e.element}`) > 1 && e.section ? ` ${e.section}` : '';
    names.set(e.key, `${e.component} ${e.element}${sections}`);
  }
  return names;
}
