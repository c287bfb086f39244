// The colours of a screenshot: the set of 'r,g,b' of its pixels, from the
// PNG the browser gives (8-bit RGB or RGBA, not interlaced: what Chromium's
// and Firefox's screenshots are).
import zlib from 'node:zlib';

export function pngColours(png) {
  let width = 0, height = 0, channels = 0;
  const data = [];
  for (let at = 8; at < png.length;) {
    const length = png.readUInt32BE(at);
    const type = png.toString('ascii', at + 4, at + 8);
    if (type === 'IHDR') {
      width = png.readUInt32BE(at + 8);
      height = png.readUInt32BE(at + 12);
      channels = {2: 3, 6: 4}[png[at + 17]];
      if (png[at + 16] !== 8 || !channels || png[at + 20] !== 0) throw new Error('pngColours: not 8-bit RGB(A)');
    }
    if (type === 'IDAT') data.push(png.subarray(at + 8, at + 8 + length));
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const colours = new Set();
  let previous = Buffer.alloc(stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let i = 0; i < stride; ++i) {
      const left = i >= channels ? line[i - channels] : 0, up = previous[i];
      const upLeft = i >= channels ? previous[i - channels] : 0;
      let predicted = 0;
      if (filter === 1) predicted = left;
      else if (filter === 2) predicted = up;
      else if (filter === 3) predicted = (left + up) >> 1;
      else if (filter === 4) {
        const p = left + up - upLeft;
        const [a, b, c] = [Math.abs(p - left), Math.abs(p - up), Math.abs(p - upLeft)];
        predicted = a <= b && a <= c ? left : b <= c ? up : upLeft;
      }
      line[i] = (line[i] + predicted) & 255;
    }
    for (let x = 0; x < width; ++x) colours.add(line.subarray(x * channels, x * channels + 3).join(','));
    previous = line;
  }
  return colours;
}
