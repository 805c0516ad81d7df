'use strict'
// The npm package hostile doing qh_runner's work, for bench/compare/compare.py:
//   node hostile_runner.js list FILE   read FILE, make each entry's JSON text, print the count
//   node hostile_runner.js edit FILE   read FILE with its other lines, add an entry, remove it, write FILE
//
// hostile 1.4.0 reads any path with getFile(path, ...), but writeFile(lines)
// always writes hostile.HOSTS, the system hosts file unless changed. So
// HOSTS is pointed at FILE, and every file call hostile can make is wrapped
// to refuse any other path: the system hosts file is neither read nor written.
const fs = require('fs')
const net = require('net')
const path = require('path')
const hostile = require('hostile')

const [command, file] = process.argv.slice(2)
if (!file || (command !== 'list' && command !== 'edit')) {
  console.error('usage: node hostile_runner.js list|edit FILE')
  process.exit(2)
}

const target = path.resolve(file)
const system = path.resolve(hostile.HOSTS)

function samePlace (a, b) {
  try {
    return fs.realpathSync(a) === fs.realpathSync(b)
  } catch (err) {
    return a === b
  }
}

if (samePlace(target, system)) {
  console.error(`hostile_runner: refusing to touch ${system}`)
  process.exit(2)
}

for (const name of ['readFileSync', 'writeFileSync', 'statSync', 'createReadStream', 'createWriteStream']) {
  const original = fs[name]
  fs[name] = function (where, ...rest) {
    if (path.resolve(String(where)) !== target) {
      throw new Error(`hostile_runner: refused ${name}(${where})`)
    }
    return original.call(fs, where, ...rest)
  }
}
hostile.HOSTS = target

if (command === 'list') {
  const entries = hostile.getFile(target, false)
  let bytes = 0
  for (const [ip, host] of entries) {
    bytes += JSON.stringify({ ip, name: host }).length
  }
  if (entries.length > 0 && bytes === 0) {
    throw new Error('hostile_runner: empty entries')
  }
  console.log(entries.length)
} else {
  const ip = '10.11.12.13'
  const host = 'qh-runner-edit.invalid'
  let lines = hostile.getFile(target, true)
  // What hostile.set and hostile.remove do to the lines between their own
  // reads and writes, done once here so that the file is read and written once.
  let updated = false
  lines = lines.map((line) => {
    if (Array.isArray(line) && line[1] === host && net.isIP(line[0]) === net.isIP(ip)) {
      line[0] = ip
      updated = true
    }
    return line
  })
  if (!updated) {
    lines.push([ip, host])
  }
  lines = lines.filter((line) => !(Array.isArray(line) && line[0] === ip && line[1] === host))
  hostile.writeFile(lines)
}
