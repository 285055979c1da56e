// Entry names as the student's client shows them: component, element number and, where the
// component has several sections, the section's label ("Lab 1 Monday", "Assignment 1").
export function entryNames(entries) {
  const names = new Map();
  for (const e of entries) {
    const section = e.sections > 1 && e.label ? ` ${e.label}` : '';
    names.set(e.entry, `${e.component} ${e.element}${section}`);
  }
  return names;
}
