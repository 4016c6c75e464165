// The gateway's Ember+ provider driven by two independent consumers, node-emberplus and
// emberplus-connection (on which control surfaces' generic Ember+ modules are built), against
// simulated units. Prints one line per case and "N passed, N failed".
'use strict';
const path = require('path');
const fs = require('fs');
const net = require('net');
const os = require('os');
const {spawn} = require('child_process');
const {EmberClient} = require('node-emberplus');
const {QualifiedFunction} = require('node-emberplus/lib/common/function/qualified-function');
const connection = require('emberplus-connection');
const http = require('http');

const BUILD = process.env.VANTREL_BUILD;
const SIM = path.join(BUILD, 'sim', 'vantrel-sim');
const GATEWAY = path.join(BUILD, 'gateway', 'vantrel-gateway');
const WORK = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-ember-'));
const UNITS = ['127.0.0.61', '127.0.0.62'];
const EMBER_PORT = 9000;
const POLL_MS = 1000;
const PARAMETERS = ['online', 'volume', 'lcd-brightness', 'lcd-contrast', 'lcd-saturation',
    'input', 'meter-mode', 'solo-left', 'solo-right', 'mix-down', 'ip', 'mask', 'gateway', 'mac'];
// The parameter types of the Glow schema.
const INTEGER = 1, STRING = 3, BOOLEAN = 4, ENUM = 6;

const HTTP_PORT = 18023;
// What the unit's console takes as a press or a level's step; everything else it is sent reads.
const MOVES = /^(BTN|ROT)/;

const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// The audit log's Ember+ commands: each writes a "begun" entry before it sends anything.
function emberAudit() {
    return new Promise((resolve, reject) => {
        http.get(`http://127.0.0.1:${HTTP_PORT}/api/audit?who=ember`, response => {
            let body = '';
            response.on('data', data => { body += data; });
            response.on('end', () => resolve(JSON.parse(body).entries.filter(e => e.phase === 'begun')));
        }).on('error', reject);
    });
}

async function until(what, check, ms) {
    const end = Date.now() + ms;
    for (;;) {
        const value = await check();
        if (value) return value;
        if (Date.now() > end) throw new Error(`${what}: not within ${ms} ms`);
        await sleep(50);
    }
}

function assert(holds, what) {
    if (!holds) throw new Error(what);
}

class Sim {
    constructor(address) {
        this.address = address;
        this.log = path.join(WORK, `traffic-${address}.log`);
        this.socket = path.join(WORK, `control-${address}.sock`);
    }
    async start() {
        this.process = spawn(SIM, ['--address', this.address, '--log', this.log,
            '--control', this.socket], {stdio: ['ignore', 'pipe', 'inherit']});
        let printed = '';
        await until(`simulated unit ${this.address} starts`, () => {
            const chunk = this.process.stdout.read();
            if (chunk) printed += chunk;
            return printed.includes('control on');
        }, 10000);
    }
    stop() {
        this.process.kill('SIGTERM');
        return new Promise(resolve => this.process.once('exit', resolve));
    }
    control(command) {
        return new Promise((resolve, reject) => {
            const s = net.createConnection(this.socket);
            let reply = '';
            s.on('data', data => { reply += data; if (reply.endsWith('\n')) s.end(); });
            s.on('end', () => reply.startsWith('error') ? reject(new Error(reply)) : resolve(reply.trim()));
            s.on('error', reject);
            s.write(command + '\n');
        });
    }
    async state() { return JSON.parse(await this.control('state')); }
    lines() {
        return fs.readFileSync(this.log, 'utf8').split('\n').filter(l => l.trim())
            .map(l => JSON.parse(l)).filter(i => i.link === 'tcp').map(i => i.text.trim());
    }
}

function identifier(unit) { return unit.replace(/[.\/:]/g, '_'); }

// The value a parameter holds as the simulated unit's state has it.
function expected(state, name) {
    switch (name) {
        case 'online': return true;
        case 'volume': return state.levels[0];
        case 'lcd-brightness': return state.levels[1];
        case 'lcd-contrast': return state.levels[2];
        case 'lcd-saturation': return state.levels[3];
        case 'input': return state.input;
        case 'meter-mode': return state.meterMode ? 1 : 0;
        case 'solo-left': return !!state.soloLeft;
        case 'solo-right': return !!state.soloRight;
        case 'mix-down': return !!state.mixDown;
        case 'mac': return state.mac;
        default: return state[name];
    }
}

function typeOf(name) {
    if (['online', 'solo-left', 'solo-right', 'mix-down'].includes(name)) return BOOLEAN;
    if (['input', 'meter-mode'].includes(name)) return ENUM;
    if (['ip', 'mask', 'gateway', 'mac'].includes(name)) return STRING;
    return INTEGER;
}

async function main() {
    const sims = {};
    for (const unit of UNITS) {
        sims[unit] = new Sim(unit);
        await sims[unit].start();
    }
    const args = ['--poll', '1', '--listen', `127.0.0.1:${HTTP_PORT}`, '--ember', `127.0.0.1:${EMBER_PORT}`];
    for (const unit of UNITS) args.push('--unit', unit);
    const gatewayLog = fs.openSync(path.join(WORK, 'gateway.log'), 'w');
    const gateway = spawn(GATEWAY, args, {stdio: ['ignore', gatewayLog, gatewayLog]});
    // node-emberplus takes whatever message comes next as the answer to its request, so each
    // case has a client of its own, and one that awaits an answer holds no pushes.
    const clients = [];
    const connect = async () => {
        const c = new EmberClient({host: '127.0.0.1', port: EMBER_PORT, timeoutValue: 5000});
        c.on('error', () => {});
        await c.connectAsync();
        clients.push(c);
        return c;
    };
    let client;
    await until('the gateway listens', async () => {
        try { client = await connect(); return true; } catch (e) { return false; }
    }, 10000);
    // Both units up before the cases begin.
    await until('both units online', async () => {
        const units = await client.getElementByPathAsync('vantrel/units');
        await client.getDirectoryAsync(units);
        return UNITS.every(u => units.getElementByIdentifier(identifier(u))?.isOnline !== false)
            && (await Promise.all(UNITS.map(async u => (await client.getElementByPathAsync(
                `vantrel/units/${identifier(u)}/online`)).value === true))).every(x => x);
    }, 10000);

    const unit = UNITS[0];
    const unitPath = `vantrel/units/${identifier(unit)}`;
    const unitNumbers = `1.1.1`;
    const parameter = name => client.getElementByPathAsync(`${unitPath}/${name}`);
    // What the client's tree holds now, as answers and pushes left it; asks nothing.
    const held = number => client.root.getElementByPath(`${unitNumbers}.${number}`);
    const cases = [];
    const test = (name, body) => cases.push([name, body]);

    test('the whole tree expands, with its exact identifiers and numbers', async () => {
        await client.expandAsync();
        const root = client.root.getElementByNumber(1);
        assert(root.identifier === 'vantrel' && root.description === 'Vantrel units', 'vantrel node');
        const units = root.getElementByNumber(1);
        assert(units.identifier === 'units', 'units node');
        UNITS.forEach((u, i) => {
            const node = units.getElementByNumber(i + 1);
            assert(node.identifier === identifier(u), `unit ${i + 1} is ${node.identifier}`);
            assert(node.description === u, `unit ${i + 1} described as ${node.description}`);
            PARAMETERS.forEach((name, j) => {
                const p = node.getElementByNumber(j + 1);
                assert(p && p.identifier === name, `${u} parameter ${j + 1} is ${p && p.identifier}`);
            });
            const buttons = node.getElementByNumber(15);
            assert(buttons.identifier === 'buttons', 'buttons node');
            assert(buttons.getChildren().length === 22, `${buttons.getChildren().length} buttons`);
            const mute = buttons.getElementByIdentifier('mute');
            assert(mute && mute.result && mute.result[0].name === 'confirmed', 'mute function');
        });
    });

    test('every parameter has the unit\'s value, its type and its access', async () => {
        await client.getDirectoryAsync(await client.getElementByPathAsync(unitPath));
        const state = await sims[unit].state();
        for (const name of PARAMETERS) {
            const p = await parameter(name);
            assert(p.value === expected(state, name), `${name} is ${p.value}, not ${expected(state, name)}`);
            assert(p.type === typeOf(name) || (p.type === undefined && typeOf(name) === INTEGER),
                `${name} has type ${p.type}`);
            const writable = !['online', 'ip', 'mask', 'gateway', 'mac'].includes(name);
            assert(p.access === (writable ? 3 : 1), `${name} has access ${p.access}`);
        }
        const volume = await parameter('volume');
        assert(volume.minimum === 0 && volume.maximum === 40, 'volume range 0..40');
        const input = await parameter('input');
        assert(input.enumeration === 'HDMI\nSDI\nBalanced\nUnbalanced', 'input enumeration');
    });

    test('setting volume and input changes the unit, through its lines', async () => {
        client = await connect();
        const before = sims[unit].lines().length;
        const state = await sims[unit].state();
        const volumeTo = state.levels[0] === 25 ? 26 : 25;
        const inputTo = state.input === 1 ? 2 : 1;
        const volume = await parameter('volume');
        const input = await parameter('input');
        await client.setValueAsync(volume, volumeTo);
        await until('volume answered', () => held(2).value === volumeTo, 3000);
        await client.setValueAsync(input, inputTo);
        await until('input answered', () => held(6).value === inputTo, 3000);
        const after = await sims[unit].state();
        assert(after.levels[0] === volumeTo, `the unit's volume is ${after.levels[0]}`);
        assert(after.input === inputTo, `the unit's input is ${after.input}`);
        assert(sims[unit].lines().length > before, 'no command reached the unit');
    });

    test('a change made at the unit is pushed within the poll period plus 1 s', async () => {
        client = await connect();
        const p = await parameter('lcd-contrast');
        const to = p.value === 77 ? 78 : 77;
        let pushedAt = 0;
        await client.getDirectoryAsync(await client.getElementByPathAsync(unitPath), node => {
            if (node.identifier === 'lcd-contrast' && node.value === to && !pushedAt) pushedAt = Date.now();
        });
        const changedAt = Date.now();
        await sims[unit].control(`set contrast=${to}`);
        await until('the change pushed', () => pushedAt || (p.value === to && Date.now()), POLL_MS + 1000);
        assert((pushedAt || Date.now()) - changedAt <= POLL_MS + 1000, 'pushed too late');
    });

    test('invoking mute sends ROT3; confirmed only where the unit reports the button', async () => {
        const before = sims[unit].lines().filter(l => l === 'ROT3').length;
        client = await connect();
        // Named by path (mute is 13, solo-left 1, as the tree case saw): no directory asked, no
        // pushes to come before the result.
        let result = await client.invokeFunctionAsync(new QualifiedFunction(`${unitNumbers}.15.13`), []);
        assert(result.success === true, 'the invocation failed');
        // The status block does not show mute, so the unit cannot confirm it.
        assert(result.result && result.result[0].value === false, 'mute said confirmed');
        assert(sims[unit].lines().filter(l => l === 'ROT3').length === before + 1, 'no ROT3 at the unit');
        const soloBefore = (await sims[unit].state()).soloLeft;
        result = await client.invokeFunctionAsync(new QualifiedFunction(`${unitNumbers}.15.1`), []);
        assert(result.success === true && result.result[0].value === true, 'solo-left not confirmed');
        assert((await sims[unit].state()).soloLeft !== soloBefore, 'solo-left did not flip');
    });

    test('a stopped unit goes offline and comes back online', async () => {
        client = await connect();
        const other = UNITS[1];
        await client.getDirectoryAsync(await client.getElementByPathAsync('vantrel/units'));
        await client.getDirectoryAsync(await client.getElementByPathAsync(`vantrel/units/${identifier(other)}`));
        // From here on, only pushes change what the client holds.
        const node = () => client.root.getElementByPath('1.1.2');
        const online = () => client.root.getElementByPath('1.1.2.1').value;
        assert(node().isOnline !== false && online() === true, 'online before the stop');
        await sims[other].stop();
        await until('offline', () => node().isOnline === false && online() === false, 8000);
        await sims[other].start();
        await until('online again', () => node().isOnline === true && online() === true, 15000);
    });

    // emberplus-connection sends what it holds of an element with every request for it, value
    // included, and matches answers to requests by path. A client each case, as above, the one
    // before closed: the gateway takes 8 from one address.
    const connected = [];
    const connectEpc = async () => {
        while (connected.length) await connected.pop().disconnect().catch(() => {});
        const c = new connection.EmberClient('127.0.0.1', EMBER_PORT, 5000);
        c.on('error', () => {});
        const failure = await c.connect();
        if (failure) throw failure;
        connected.push(c);
        await (await c.getDirectory(c.tree)).response;
        return c;
    };
    const epcPath = (u, name) => `vantrel.units.${identifier(u)}` + (name ? `.${name}` : '');
    const answered = async request => (await request).response;
    // The presses and steps each unit's console was sent since `lines`, a count for each unit.
    const lineCounts = () => Object.fromEntries(UNITS.map(u => [u, sims[u].lines().length]));
    const movesSince = (counts, u) => sims[u].lines().slice(counts[u]).filter(l => MOVES.test(l));
    // Brings the unit's volume to `to` at the unit itself, and waits for the gateway to see it.
    const volumeAtUnit = async (u, to) => {
        await sims[u].control(`set volume=${to}`);
        const c = await connectEpc();
        await until(`volume ${to} seen`, async () =>
            (await c.getElementByPath(epcPath(u, 'volume'))).contents.value === to, POLL_MS + 3000);
    };

    test('emberplus-connection: looking up and subscribing to every parameter only reads', async () => {
        const counts = lineCounts();
        const audited = (await emberAudit()).length;
        const states = Object.fromEntries(await Promise.all(UNITS.map(async u => [u, await sims[u].state()])));
        const c = await connectEpc();
        for (const u of UNITS) {
            for (const name of PARAMETERS) {
                const p = await c.getElementByPath(epcPath(u, name));
                assert(p && p.contents.identifier === name, `${u} ${name} not found`);
                assert(p.contents.value === expected(states[u], name), `${u} ${name} is ${p.contents.value}`);
                await c.subscribe(p);
                await c.subscribe(p);
            }
        }
        // A set after them all, one step at each unit: anything the lookups or subscriptions had
        // set would have been queued at the unit before it, and answered before it.
        for (const u of UNITS) {
            const volume = await c.getElementByPath(epcPath(u, 'volume'));
            const to = states[u].levels[0] === 40 ? 39 : states[u].levels[0] + 1;
            const answer = await answered(c.setValue(volume, to));
            assert(answer.contents.value === to, `${u}: the set answered ${answer.contents.value}, not ${to}`);
        }
        for (const u of UNITS) {
            const moves = movesSince(counts, u);
            assert(moves.length === 1 && /^ROT[12]$/.test(moves[0]), `${u} was sent ${moves.join(' ')}`);
            const now = await sims[u].state();
            assert(now.input === states[u].input && now.meterMode === states[u].meterMode &&
                now.levels.slice(1).join() === states[u].levels.slice(1).join(), `${u} moved`);
        }
        const entries = await emberAudit();
        assert(entries.length === audited + UNITS.length, `${entries.length - audited} Ember+ sets audited`);
    });

    test('emberplus-connection: setValue(volume, 30) is answered 30; a set to it again sends nothing', async () => {
        await volumeAtUnit(unit, 29);
        const c = await connectEpc();
        const counts = lineCounts();
        const audited = (await emberAudit()).length;
        const volume = await c.getElementByPath(epcPath(unit, 'volume'));
        let answer = await answered(c.setValue(volume, 30));
        assert(answer.contents.value === 30, `answered ${answer.contents.value}`);
        answer = await answered(c.setValue(volume, 30));
        assert(answer.contents.value === 30, `answered ${answer.contents.value} the second time`);
        const moves = movesSince(counts, unit);
        assert(moves.join() === 'ROT1', `the unit was sent ${moves.join(' ')}`);
        assert((await emberAudit()).length === audited + 1, 'the second set was audited');
        assert((await sims[unit].state()).levels[0] === 30, 'the unit is not at 30');
    });

    test('emberplus-connection: a directory asked again completes', async () => {
        const c = await connectEpc();
        for (const path of [epcPath(unit), 'vantrel.units']) {
            const node = await c.getElementByPath(path);
            for (let i = 0; i < 3; i++) {
                const answer = await answered(c.getDirectory(node));
                const count = Object.keys(answer.children || {}).length;
                assert(count === (path === 'vantrel.units' ? UNITS.length : 15), `${path}: ${count} children`);
            }
        }
    });

    let passed = 0, failed = 0;
    for (const [name, body] of cases) {
        try {
            await body();
            console.log(`ember ${name}: ok`);
            passed++;
        } catch (e) {
            console.log(`ember ${name}: FAILED: ${e.message}`);
            failed++;
        }
    }
    for (const c of clients) await c.disconnectAsync().catch(() => {});
    for (const c of connected) await c.disconnect().catch(() => {});
    gateway.kill('SIGTERM');
    for (const unit of UNITS) if (sims[unit].process.exitCode === null) await sims[unit].stop();
    if (failed) console.log(`ember: logs in ${WORK}`);
    else fs.rmSync(WORK, {recursive: true, force: true});
    console.log(`${passed} passed, ${failed} failed`);
    process.exit(failed ? 1 : 0);
}

main().catch(e => {
    console.log(`ember: ${e.stack}`);
    console.log('0 passed, 1 failed');
    process.exit(1);
});
