// The page's drawing in SVG: page units (10 per column and per line) in the viewBox, stretched to
// the student's view's pixels (a column 0.93 px, a line 1.6 px, as at 96 dpi). Text goes in a group
// scaled back to square units so that glyphs keep their shape; each glyph sits at its own cell.
import { UNIT, layOutComment } from '/cells.js';

export const SX = 0.93; // pixels per page unit across
export const SY = 1.6; // pixels per page unit down
export const TEXT_RATIO = SX / SY; // the text group's units down, in page units
const FONT = 16 / SX; // one line pitch, in the text group's units
const BASELINE = 0.8 * FONT;
const SVG = 'http://www.w3.org/2000/svg';

export function svgNode(tag, attributes, parent) {
  const node = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, v);
  if (parent) parent.append(node);
  return node;
}

// A text line at page (x, y) with the glyph of each cell at its column, in a text group.
export function textNode(laid, x, y, className, parent) {
  const node = svgNode('text', {
    class: className,
    x: laid.columns.map((c) => x + c * UNIT).join(' '),
    y: (y / TEXT_RATIO + BASELINE).toFixed(2),
    'font-size': FONT.toFixed(2),
  }, parent);
  node.textContent = laid.text;
  return node;
}

// A one-line notice in the page font at the top left, drawn as one piece of text.
export function noticeNode(text, parent) {
  const node = svgNode('text', { class: 'notice', x: 0, y: BASELINE.toFixed(2), 'font-size': FONT.toFixed(2) }, parent);
  node.textContent = text;
  return node;
}

// A comment (a group of text lines, for a text group) or a stroke (a polyline).
export function annotationNode(a, selected) {
  const className = selected ? ' selected' : '';
  if (a.type === 'comment') {
    const group = svgNode('g', { class: 'comment' + className });
    layOutComment(a.text).forEach((laid, line) => {
      if (laid.text) textNode(laid, a.x, a.y + line * UNIT, 'comment' + className, group);
    });
    return group;
  }
  return svgNode('polyline', {
    class: 'stroke' + className,
    points: a.points.map(([dx, dy]) => `${a.x + dx},${a.y + dy}`).join(' '),
    'vector-effect': 'non-scaling-stroke',
  });
}

// Puts `nodes` into `layer` in order, moving only what is out of place.
export function reconcile(layer, nodes) {
  let at = layer.firstChild;
  for (const node of nodes) {
    if (node !== at) layer.insertBefore(node, at);
    else at = at.nextSibling;
  }
  while (at) {
    const next = at.nextSibling;
    at.remove();
    at = next;
  }
}
