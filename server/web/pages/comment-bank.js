// The comment bank: the comments a marker wrote in one entry, newest first, kept in the browser
// (at most 200), shown as buttons that place a comment again.
import { el } from '/api.js';

const LIMIT = 200;

export class CommentBank {
  // `list`: the <ul> to fill; `place(text)`: what a click on a text does.
  constructor(list, storageKey, place) {
    this.list = list;
    this.key = storageKey;
    this.place = place;
    this.items = new Map(); // text -> its list item
  }

  texts() {
    try {
      return JSON.parse(localStorage.getItem(this.key) || '[]');
    } catch {
      return [];
    }
  }

  item(text) {
    let item = this.items.get(text);
    if (!item) {
      item = el('li', {}, el('button', {
        type: 'button', title: 'Place at the cell cursor', onclick: () => this.place(text),
      }, text));
      this.items.set(text, item);
    }
    return item;
  }

  // The text goes to the top, here and on the page; nothing else is drawn again.
  remember(text) {
    const texts = this.texts();
    if (texts[0] === text) return;
    const kept = [text, ...texts.filter((t) => t !== text)];
    for (const dropped of kept.splice(LIMIT)) {
      this.items.get(dropped)?.remove();
      this.items.delete(dropped);
    }
    localStorage.setItem(this.key, JSON.stringify(kept));
    this.list.prepend(this.item(text));
  }

  draw() {
    this.items.clear();
    this.list.replaceChildren(...this.texts().map((text) => this.item(text)));
  }
}
