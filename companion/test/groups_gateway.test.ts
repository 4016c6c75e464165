// Groups through the real vantrel-gateway, its units named and labelled by its units file:
// a group action reaches the units its selector picks, the gateway's limit holds unless the
// settings confirm the count, and a group feedback shows the units the gateway picks. Run
// inside a network namespace that has only lo.
import { mkdirSync, writeFileSync } from 'node:fs'
import path from 'node:path'
import { afterAll, beforeAll, expect, test } from 'vitest'
import { Rack } from '../src/rack.js'
import { FakeHost } from './fake_host.js'
import { GatewayProcess, Sim, WORK } from './processes.js'
import { waitFor } from './wait.js'

const UNITS = ['127.0.80.8', '127.0.80.9', '127.0.80.10']
const UNITS_FILE = path.join(WORK, 'groups-units')
const sims = UNITS.map((address) => new Sim(address))
const gateway = new GatewayProcess(8095, [], [], undefined, ['--units-file', UNITS_FILE, '--group-limit', '2'])
const host = new FakeHost()
const rack = new Rack(host)

async function connect(confirmUpTo: number): Promise<void> {
	await rack.configure({ url: gateway.url, confirmUpTo }, undefined)
	await waitFor('every unit up', () => host.status?.status === 'ok' && UNITS.every((unit) => rack.isUp(unit)))
}

beforeAll(async () => {
	const lines = [
		`${UNITS[0]} name=qc-1 site=studio-a role=qc`,
		`${UNITS[1]} name=qc-2 site=studio-a role=qc`,
		`${UNITS[2]} name=spare site=studio-b role=spare`,
	]
	mkdirSync(WORK, { recursive: true })
	writeFileSync(UNITS_FILE, lines.join('\n') + '\n')
	await Promise.all(sims.map((sim) => sim.start()))
	await gateway.start()
	await connect(0)
})

afterAll(async () => {
	await rack.stop()
	await gateway.stop()
	await Promise.all(sims.map((sim) => sim.stop()))
})

// The mutes each unit has received since the test began.
const count = () => sims.map((sim) => sim.received().filter((text) => text === 'ROT3').length)
let before: number[] = []
const mutes = () => count().map((total, at) => total - before[at])
const mute = (select: string) =>
	host.runAction('press', { target: 'group', select, stopOnFailure: false, button: 'mute' })

test("a group action reaches the units its labels pick; past the gateway's limit only with the count confirmed", async () => {
	before = count()
	await mute('site=studio-a')
	expect(mutes()).toEqual([1, 1, 0])

	await expect(mute('all')).rejects.toThrow(
		'group all: Mute failed: the selector matches 3 units; confirm 3 to act on them',
	)
	expect(mutes()).toEqual([1, 1, 0])
	await connect(3)
	await mute('all')
	expect(mutes()).toEqual([2, 2, 1])
})

test("a group feedback shows the units the gateway's labels and names pick, and presets offer each label's group", async () => {
	const lit = (select: string, match: string) =>
		host.feedback('lamp', { target: 'group', select, match, lamp: 'soloLeft' })
	await sims[1].control('set solo-left=1')
	await waitFor('qc-2 lit', async () => (await lit('name=qc-2', 'all')) === true, 3000)
	expect([await lit('role=qc', 'all'), await lit('role=qc', 'mixed'), await lit('qc-1,spare', 'any')]).toEqual([
		false,
		true,
		false,
	])
	const categories = new Set(Object.values(host.presets).map((preset) => preset!.category))
	for (const label of ['site=studio-a', 'site=studio-b', 'role=qc', 'role=spare']) {
		expect(categories).toContain(`Group ${label}`)
	}
})
