// Decodes an osu! beatmap with the osu-parsers package installed in FOLDER and
// prints what the checks need as JSON: the file's names and its timing points
// as [time in ms, ms per beat, beats per measure].
// Usage: node read_osu.cjs FOLDER FILE
const { createRequire } = require('node:module');
const fs = require('node:fs');

const [folder, file] = process.argv.slice(2);
const { BeatmapDecoder } = createRequire(folder + '/')('osu-parsers');
const beatmap = new BeatmapDecoder().decodeFromString(fs.readFileSync(file, 'utf8'));
console.log(JSON.stringify({
  version: beatmap.fileFormat,
  audio: beatmap.general.audioFilename,
  title: beatmap.metadata.title,
  hitObjects: beatmap.hitObjects.length,
  timingPoints: beatmap.controlPoints.timingPoints.map(
      (point) => [point.startTime, point.beatLength, point.timeSignature]),
}));
