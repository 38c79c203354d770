// The peer's actions: the native plug-in's action catalogue as the benchmark
// probe writes it for each run (bench/PeerActions.cpp), checked and turned into
// rows. No SDK here, so that a test reads the file as the peer does:
// `node actions.js FILE` prints the rows.
import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";

const KINDS = new Set(["single", "multi", "pump", "dynamic"]);
const DATA = { single: ["none", "volumeStep"], multi: ["none"], pump: ["pumpLevel"], dynamic: ["volumeLevel"] };

function isText(value) {
  return typeof value === "string";
}

function validState(state) {
  return isText(state?.name) && isText(state?.image) && state.image.length > 0 && isText(state?.command);
}

// Each row: { shortName, kind, data, defaults, states: [[reported state, image, command]] }.
// A row the peer cannot build stops it: a peer short of keys would measure something else.
export function readActions(file) {
  const rows = JSON.parse(readFileSync(file, "utf8"));
  if (!Array.isArray(rows) || rows.length === 0) throw new Error(`${file}: no actions`);
  return rows.map((row) => {
    const buildable =
      isText(row?.shortName) &&
      KINDS.has(row.kind) &&
      DATA[row.kind].includes(row.data) &&
      Array.isArray(row.states) &&
      row.states.length > (row.kind === "multi" || row.kind === "pump" ? 1 : 0) &&
      row.states.every(validState);
    if (!buildable) throw new Error(`${file}: an action the peer cannot build: ${JSON.stringify(row)}`);
    const states = row.states.map((state) => [state.name, state.image, state.command]);
    return { shortName: row.shortName, kind: row.kind, data: row.data, defaults: row.defaults ?? {}, states };
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  console.log(JSON.stringify(readActions(process.argv[2])));
}
