// Every state of a marking since the page opened, for undo and redo. States are plain objects,
// never changed once pushed.
export class History {
  constructor(initial) {
    this.states = [initial];
    this.at = 0;
  }

  get current() {
    return this.states[this.at];
  }

  get canUndo() {
    return this.at > 0;
  }

  get canRedo() {
    return this.at + 1 < this.states.length;
  }

  push(state) {
    this.states.length = this.at + 1; // a change after undo drops what was undone
    this.states.push(state);
    this.at++;
  }

  undo() {
    if (!this.canUndo) return false;
    this.at--;
    return true;
  }

  redo() {
    if (!this.canRedo) return false;
    this.at++;
    return true;
  }

  // The current state becomes `state` (a save's answer) without a step of its own.
  replaceCurrent(state) {
    this.states[this.at] = state;
  }

  // `state` goes one step below the current one, so undo brings it back.
  pushUnder(state) {
    this.states.splice(this.at, 0, state);
    this.at++;
  }
}
