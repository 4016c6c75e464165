// A connection given a backup gateway, against two real vantrel-gateways serving one unit: it
// follows the backup when the first is not there, and goes back to the first when the backup
// stops. Run inside a network namespace that has only lo (see ./test-in-namespace).
import { mkdirSync } from 'node:fs'
import { afterAll, beforeAll, expect, test } from 'vitest'
import { Rack } from '../src/rack.js'
import { FakeHost } from './fake_host.js'
import { GatewayProcess, Sim, WORK } from './processes.js'
import { waitFor } from './wait.js'

const UNIT = '127.0.80.11'
const sim = new Sim(UNIT)
const first = new GatewayProcess(8098, [UNIT])
const backup = new GatewayProcess(8099, [UNIT])
const host = new FakeHost()
const rack = new Rack(host)

beforeAll(async () => {
	mkdirSync(WORK, { recursive: true })
	await sim.start()
	await backup.start()
})

afterAll(async () => {
	await rack.stop()
	await Promise.all([first.stop(), backup.stop()])
	await sim.stop()
})

test('the backup is followed while the first gateway does not answer, and the first once the backup stops', async () => {
	const mutes = () => sim.received().filter((text) => text === 'ROT3').length
	const followed = (gateway: GatewayProcess) =>
		host.logs.some((entry) => entry.message === `following the gateway at ${gateway.url}`)
	await rack.configure({ url: first.url, backupUrl: backup.url }, undefined)
	await waitFor('the unit up through the backup', () => host.status?.status === 'ok' && rack.isUp(UNIT), 10000)
	expect(followed(backup)).toBe(true)
	// The first gateway's failure is shown naming it, before the backup answered.
	expect(host.statuses.some((s) => s.status === 'connection_failure' && s.message.startsWith(first.url))).toBe(true)
	const before = mutes()
	await host.runAction('press', { units: [UNIT], button: 'mute' })
	expect(mutes()).toBe(before + 1)

	await backup.stop()
	await first.start()
	await waitFor('the unit up through the first', () => followed(first) && rack.isUp(UNIT), 10000)
	await host.runAction('press', { units: [UNIT], button: 'mute' })
	expect(mutes()).toBe(before + 2)
})
