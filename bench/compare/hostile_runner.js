'use strict'
// The npm package hostile doing qh_runner's work, for bench/compare/compare.py:
//   node hostile_runner.js list FILE   read FILE, make each entry's JSON text, print the count
//   node hostile_runner.js edit FILE   read FILE with its other lines, add an entry, remove it, write FILE
//   node hostile_runner.js load LIST FILE
//                                      what hostile's own CLI does for `hostile load LIST`:
//                                      read LIST, then hostile.set every entry into FILE
//
// hostile 1.4.0 reads any path with getFile(path, ...), but writeFile(lines)
// always writes hostile.HOSTS, the system hosts file unless changed. So
// HOSTS is pointed at FILE, and every file call hostile can make is wrapped
// to refuse any other path (load may also read LIST): the system hosts file
// is neither read nor written. HOSTILE_RUNNER_PROTECT names one more file to
// refuse like it, so that a test can try the refusal on a scratch file.
const fs = require('fs')
const net = require('net')
const path = require('path')
const hostile = require('hostile')

const args = process.argv.slice(2)
const command = args[0]
const [source, file] = command === 'load' ? args.slice(1) : [undefined, args[1]]
if (!file || !['list', 'edit', 'load'].includes(command) || (command === 'load' && !source)) {
  console.error('usage: node hostile_runner.js list|edit FILE | load LIST FILE')
  process.exit(2)
}

const target = path.resolve(file)
const list = source === undefined ? undefined : path.resolve(source)
const untouchable = [hostile.HOSTS, process.env.HOSTILE_RUNNER_PROTECT]
  .filter(Boolean).map((p) => path.resolve(p))

function samePlace (a, b) {
  try {
    return fs.realpathSync(a) === fs.realpathSync(b)
  } catch (err) {
    return a === b
  }
}

for (const given of [target, list].filter(Boolean)) {
  for (const system of untouchable) {
    if (samePlace(given, system)) {
      console.error(`hostile_runner: refusing to touch ${system}`)
      process.exit(2)
    }
  }
}

for (const name of ['readFileSync', 'writeFileSync', 'statSync', 'createReadStream', 'createWriteStream']) {
  const original = fs[name]
  fs[name] = function (where, ...rest) {
    const resolved = path.resolve(String(where))
    if (resolved !== target && !(name === 'readFileSync' && resolved === list)) {
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
} else if (command === 'load') {
  // hostile's bin/cmd.js load: parseFile, then its set(ip, host) for each
  // entry, which checks the address, calls hostile.set (a whole read and
  // write of FILE every time) and prints a line. Its first error ends it.
  const entries = hostile.getFile(list, false)
  for (let [ip, host] of entries) {
    if (ip === 'local' || ip === 'localhost') {
      ip = '127.0.0.1'
    } else if (!net.isIP(ip)) {
      console.error('Invalid IP address')
      process.exit(255)
    }
    hostile.set(ip, host)
    console.log('Added ' + host)
  }
  console.log('\nAdded %d hosts!', entries.length)
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
