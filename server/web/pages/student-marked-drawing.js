// One marked file drawn as the student's desktop View draws it, with the marking page's own
// drawing modules: the text in its cells from the page's top left, the margin line between
// columns 79 and 80 over the whole height, the strokes in red and the comments in red on top; a
// non-ASCII file shows only its notice. The page is as large as the View's: the text's extent
// and every annotation's. Only the lines and annotations in view are in the document until the
// page is printed.
import { FilePage, UNIT, commentSize } from './cells.js';
import { SX, SY, TEXT_RATIO, annotationNode, noticeNode, reconcile, svgNode, textNode } from './svg-drawing.js';

const MARGIN_COLUMN = 80;
export const NON_ASCII_NOTICE = 'This is a non-ASCII file and cannot be viewed.';
const OVERSCAN = 10;

export function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// An annotation's rows in page units, top and bottom: a comment's lines, a stroke's points.
function annotationRows(a) {
  if (a.type === 'comment') {
    const height = a.height >= 0 && a.width >= 0 ? a.height : commentSize(a.text).height;
    return [a.y, a.y + height];
  }
  let [top, bottom] = [a.y, a.y + (a.height || 0)];
  for (const [, dy] of a.points || []) [top, bottom] = [Math.min(top, a.y + dy), Math.max(bottom, a.y + dy)];
  return [top, bottom];
}

// The View's page size in page units: the text's (widest line, lines) and every annotation's.
function pageExtent(file, page) {
  let width = file.kind === 'B' ? NON_ASCII_NOTICE.length * UNIT : page.widest * UNIT;
  let height = file.kind === 'B' ? 10 * UNIT : page.lineCount * UNIT;
  for (const a of file.annotations || []) {
    const size = a.type === 'comment' && !(a.width >= 0 && a.height >= 0) ? commentSize(a.text) : a;
    width = Math.max(width, a.x + size.width);
    height = Math.max(height, a.y + size.height);
  }
  return { width, height };
}

export class MarkedFileDrawing {
  // `svg` is drawn into; `scroller` is the element it scrolls in (its visible height sets how
  // many lines are drawn and how far the margin line runs).
  constructor(svg, scroller, file) {
    this.svg = svg;
    this.scroller = scroller;
    this.file = file;
    this.bytes = decodeBase64(file.content || '');
    this.page = new FilePage(this.bytes, file.tabWidth);
    this.extent = pageExtent(file, this.page);
    this.drawn = new Map();
    // Annotations too are drawn only near the view; each keeps its node once made.
    this.annotations = (file.annotations || []).map((a) => ({ a, rows: annotationRows(a), node: null }));
    this.all = false;
    this.draw();
    scroller.addEventListener('scroll', () => this.drawVisibleLines(), { passive: true });
  }

  draw() {
    const { svg, file } = this;
    svg.replaceChildren();
    const textGroup = svgNode('g', { transform: `scale(1 ${TEXT_RATIO})` }, svg);
    this.textLayer = svgNode('g', {}, textGroup);
    if (file.kind === 'B') {
      noticeNode(NON_ASCII_NOTICE, this.textLayer);
      this.size(this.extent.height);
      return;
    }
    this.margin = svgNode('line', {
      class: 'margin', x1: MARGIN_COLUMN * UNIT, x2: MARGIN_COLUMN * UNIT, y1: 0, y2: 0,
      'vector-effect': 'non-scaling-stroke',
    }, svg);
    this.strokes = svgNode('g', {}, svg);
    this.comments = svgNode('g', { transform: `scale(1 ${TEXT_RATIO})` }, svg);
    this.size(Math.max(this.extent.height, Math.ceil(this.scroller.clientHeight / SY)));
    this.drawVisibleLines();
  }

  size(height) {
    const width = Math.max(this.extent.width, MARGIN_COLUMN * UNIT + UNIT);
    this.svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    this.svg.setAttribute('width', (width * SX).toFixed(1));
    this.svg.setAttribute('height', (height * SY).toFixed(1));
    if (this.margin) this.margin.setAttribute('y2', height);
  }

  // The lines and annotations in view and a few lines beyond; everything when `all` (for printing).
  drawVisibleLines() {
    if (this.file.kind === 'B') return;
    const page = this.page;
    const linePixels = UNIT * SY;
    const top = this.scroller.scrollTop;
    const first = this.all ? 0 : Math.max(0, Math.floor(top / linePixels) - OVERSCAN);
    const last = this.all ? page.lineCount - 1
      : Math.min(page.lineCount - 1, Math.ceil((top + this.scroller.clientHeight) / linePixels) + OVERSCAN);
    this.drawVisibleAnnotations(first * UNIT, (last + 1) * UNIT);
    for (const [n, node] of this.drawn)
      if (n < first || n > last) {
        node.remove();
        this.drawn.delete(n);
      }
    const fragment = document.createDocumentFragment();
    for (let n = first; n <= last; n++) {
      if (this.drawn.has(n)) continue;
      const laid = page.line(n);
      if (!laid.text) continue;
      this.drawn.set(n, textNode(laid, 0, n * UNIT, 'source', fragment));
    }
    this.textLayer.append(fragment);
  }

  // Annotations whose rows meet [from, to) in page units (all of them when `all`), in their
  // order, strokes under comments.
  drawVisibleAnnotations(from, to) {
    const strokes = [];
    const comments = [];
    for (const item of this.annotations) {
      if (!this.all && (item.rows[1] < from || item.rows[0] >= to)) continue;
      item.node ||= annotationNode(item.a, false);
      (item.a.type === 'comment' ? comments : strokes).push(item.node);
    }
    reconcile(this.strokes, strokes);
    reconcile(this.comments, comments);
  }

  drawEverything(all) {
    this.all = all;
    this.drawVisibleLines();
  }
}
