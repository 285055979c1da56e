// A marking as the page keeps it ({mark, detail, files: [{name, annotations}]}), read from the
// API's answer and written as the body of a save.
export function markingFromApi(reply) {
  return {
    mark: reply.marking.mark,
    detail: reply.marking.detail || '',
    files: reply.files.map((f) => ({ name: f.name, annotations: f.annotations || [] })),
  };
}

// Comments send only their place and text: the server measures them as the client does.
export function saveBody(marking, basedOn) {
  return {
    version: basedOn,
    mark: marking.mark,
    detail: marking.detail,
    // Files by their place in the submission: two files may share a name.
    files: marking.files.map((f, index) => ({
      index,
      name: f.name,
      annotations: f.annotations.map((a) => (a.type === 'comment'
        ? { type: 'comment', x: a.x, y: a.y, text: a.text }
        : { type: 'stroke', x: a.x, y: a.y, width: a.width, height: a.height, points: a.points })),
    })),
  };
}
