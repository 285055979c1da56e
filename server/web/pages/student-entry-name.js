// An entry's name as the student's client shows it: component, element and, for a component
// with sections, the section's label ("Lab 1 Monday", "Assignment 1").
export function entryName(entry) {
  return [entry.component, entry.element, entry.section].filter((part) => part !== undefined && part !== null && part !== '').join(' ');
}
